#include "tool/diagnostics.h"

#include "console/error_codes.h"
#include "console/output.h"
#include "console/process.h"
#include "host/host.h"
#include "host/utf8.h"

namespace brevlith {

namespace {

void print_diagnostic(std::string_view prefix, std::string_view line) {
  std::string text(prefix);
  text.append(line).append(host::diagnostic_line_end);
  ErrorScope scope;  // a failing standard error changes nothing else
  error_print_text(text);
}

}  // namespace

void print_line(std::string_view text) {
  print_text(text);
  print_line_end();
}

void report(Outcome& outcome, std::string_view line) {
  outcome.failed = true;
  print_diagnostic("brevlith: ", line);
}

void warn(Outcome& outcome, std::string_view kind, std::string_view file, std::string_view line) {
  std::string key(kind);
  key.append(1, '\0').append(file);
  if (outcome.warned.insert(std::move(key)).second) print_diagnostic("brevlith: warning: ", line);
}

void report_output_failure(Outcome& outcome, const std::string& name, const ErrorStatus& status) {
  if (++outcome.output_failures <= output_failures_shown)
    report(outcome, "cannot write " + shown_name(name) + ": " + reason(status));
  else if (name.ends_with(".mbx"))  // a term mailbox; message files end in .txt
    ++outcome.unshown_records;
  outcome.failed = true;
}

void report_unshown_failures(Outcome& outcome) {
  const int unshown = outcome.output_failures - output_failures_shown;
  if (unshown <= 0) return;
  const int files = unshown - outcome.unshown_records;
  std::string what = files ? std::to_string(files) + " more message files" : "";
  if (outcome.unshown_records)
    what += (files ? " and " : "") + std::to_string(outcome.unshown_records) +
            " more records of term mailboxes";
  report(outcome, what + " could not be written");
}

std::string reason(const ErrorStatus& status) {
  switch (status.host_error) {
    case host::win32::file_not_found:
      return "no such file";
    case host::win32::path_not_found:
      return "no such folder";
    case host::win32::too_many_open_files:
      return "too many open files";
    case host::win32::invalid_handle:
      return "not open";
    case host::win32::access_denied:
      return "permission denied";
    case host::win32::not_enough_memory:
      return "not enough memory";
    case host::win32::write_protect:
      return "read-only file system";
    case host::win32::bad_unit:
      return "no such device or address";
    case host::win32::broken_pipe:
    case host::win32::no_data:
      return "broken pipe: the reading end is closed";
    case host::win32::gen_failure:
      return "input/output error";
    case host::win32::sharing_violation:
      return "in use by another program";
    case host::win32::invalid_parameter:
      return "invalid argument";
    case host::win32::disk_full:
      return "disk full or file too large";
    case host::win32::invalid_name:
      return "invalid file name";
    case host::win32::busy:
      return "it is where this run's standard output or standard error goes";
    case host::win32::bad_file_type:
      return "not a regular file";
    case host::win32::stopped_on_symlink:
      return "a symbolic link, which output never follows";
    case host::win32::already_exists:
      return "a file of that name exists";
    case host::win32::filename_exced_range:
      return "name too long";
    case host::win32::bad_device:
      return "the name is a device";
    case host::win32::cant_resolve_filename:
      return "too many levels of symbolic links";
    case host::win32::too_many_links:
      return "it has other names (hard links), whose bytes output never changes; remove this "
             "name or the others";
    case host::win32::file_invalid:
      return "another file now stands at its name; both were left as they are";
    default:
      break;
  }
  if ((status.host_error & 0xFFFF0000u) == host::win32::host_own_error)
    return host::host_error_text(status.host_error);
  switch (status.code) {
    case error_code::out_of_memory:
      return "not enough memory";
    case error_code::bad_file_mode:
      return "not a regular file";
    case error_code::disk_full:
      return "disk full";
    case error_code::bad_file_name:
      return "invalid file name";
    default:
      break;
  }
  std::string text = "error " + std::to_string(status.code);
  if (status.host_error != 0) text += " (system error " + std::to_string(status.host_error) + ")";
  return text;
}

std::string masked_name(std::string_view name, bool c0_as_hex, bool c1_masked) {
  std::string shown;
  shown.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x20 || b == 0x7F) {
      static const char hex[] = "0123456789abcdef";
      shown += c0_as_hex ? std::string{'\\', 'x', hex[b >> 4], hex[b & 15]} : std::string("?");
      ++i;
      continue;
    }
    // C1 controls (CSI, OSC, ...) act on a terminal as their ESC forms do,
    // as a UTF-8 character and as a raw byte. A Windows console takes
    // neither, and shows those bytes as letters of its code page.
    const size_t n = b < 0x80 ? 1 : host::utf8_sequence_length(name, i);
    const bool c1 =
        n == 2 ? b == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0 : n == 0 && b < 0xA0;
    if (c1 && c1_masked && !host::windows_names)
      shown += '?';
    else
      shown.append(name.substr(i, n == 0 ? 1 : n));
    i += n == 0 ? 1 : n;
  }
  return shown;
}

std::string shown_name(std::string_view name) {
  // Control bytes (a NUL from a term file, say) would vanish or act on a
  // terminal; show them as \xNN so the line says which name it was.
  return masked_name(host::native_name(name), true, process_values().stderr_is_console);
}

std::string shown_found_name(std::string_view name) {
  return masked_name(name, true, process_values().stderr_is_console);
}

}  // namespace brevlith
