#include "tool/diagnostics.h"

#include "console/error_codes.h"
#include "console/output.h"
#include "host/host.h"

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
  outcome.failed = true;
}

void report_unshown_failures(Outcome& outcome) {
  const int unshown = outcome.output_failures - output_failures_shown;
  if (unshown > 0)
    report(outcome, std::to_string(unshown) + " more message files could not be written");
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
    default:
      break;
  }
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

std::string shown_name(std::string_view name) {
  // Control bytes (a NUL from a term file, say) would vanish or act on a
  // terminal; show them as \xNN so the line says which name it was.
  std::string shown;
  for (char c : host::native_name(name)) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      static const char hex[] = "0123456789abcdef";
      shown += "\\x";
      shown += hex[b >> 4];
      shown += hex[b & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace brevlith
