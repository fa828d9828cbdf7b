#include "tool/mailbox_walk.h"

#include <cctype>

#include "console/error_codes.h"
#include "console/output.h"
#include "console/process.h"
#include "files/channels.h"
#include "files/directories.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/input_warnings.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

// On a terminal a control byte in a name would act on it (set its title,
// clear it): each is shown as "?", as ls does. Redirected, the bytes stay.
std::string screen_name(const std::string& name) {
  return process_values().stdout_is_console ? masked_name(name, false, true) : name;
}

// The mailbox's size and change times now; `failed` holds why when the
// host cannot tell.
host::FileStamp current_stamp(ErrorStatus& failed) {
  ErrorScope scope;
  const host::FileStamp stamp = channel_file_stamp(mailbox_channel);
  failed = scope.take();
  return stamp;
}

// A mailbox read to its end by the rules, but whose end probably is not
// what the user expects: a Ctrl-Z with more after it, or no CR at all.
void warn_about_the_end(Run& run, const std::string& path, int32_t messages_read,
                        std::string_view last_message, int64_t size) {
  if (!find_channel(mailbox_channel)) return;
  const uint64_t stop = channel_position(mailbox_channel);
  warn_if_ctrl_z_inside(run.outcome, path, stop, size, messages_read + 1);
  if (messages_read == 0 && last_message.size() >= 2)
    warn_if_lone_line_feeds(run.outcome, path, false,
                            last_message.substr(0, last_message.size() - 2), stop);
}

// Numbered message files are named after the mailbox's base name alone: a
// second mailbox of that name in one run writes over the first's files.
void check_base_name(Run& run, const std::string& base_name, const std::string& path) {
  if (!run.numbered_files) return;
  std::string key = base_name;
  if constexpr (host::windows_names)
    for (char& ch : key)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  const auto [earlier, first] = run.numbered_bases.try_emplace(key, path);
  if (first || earlier->second == path) return;
  report(run.outcome, "the message files of " + shown_name(path) + " (" + shown_name(base_name) +
                          "-0001.txt and on) replace those of " + shown_name(earlier->second) +
                          ", which has the same base name; rename one of them, or split them in "
                          "separate runs from separate folders");
}

// Hands one complete message to the writer: once per term of a term file,
// once with the single term, or once in normal mode.
void flush(Run& run, int32_t& message_number, const std::string& base_name,
           std::string_view message) {
  if (!run.searcher) {
    write_selected_message(message_number, base_name, message, run.search_term, run);
    return;
  }
  const std::vector<char>& hits = run.searcher->search(message);
  if (run.term_count == 0) {
    if (hits[0]) write_selected_message(message_number, base_name, message, run.search_term, run);
    return;
  }
  for (const uint32_t i : run.searcher->selected())
    write_selected_message(message_number, base_name, message, run.terms[i], run);
}

void split_mailbox(Run& run, const std::string& folder, const std::string& mailbox_name) {
  const std::string base_name = base_name_of(mailbox_name);
  int32_t message_number = 0;
  print_line(concat(std::string("Processing: "), screen_name(mailbox_name)));
  const std::string path = folder + mailbox_name;
  // Where the host allows a backslash in a name, the tool's paths still
  // read it as a folder separator: opening it would read another file.
  if (mailbox_name.find('\\') != std::string::npos) {
    report(run.outcome, "cannot open mailbox " + shown_name(folder) + mailbox_name +
                            ": a name holding a backslash cannot be opened");
    print_line(format_number(message_number, "0,"));
    return;
  }

  if (!run_step(run.outcome, "cannot open mailbox " + shown_name(path), [&] {
        open_channel(path, mailbox_channel, Mode::input, 128,
                     {.literal = true});  // a name found, not a pattern
      })) {
    print_line(format_number(message_number, "0,"));
    return;
  }
  check_base_name(run, base_name, path);
  run.output_permissions = new_file_permissions(mailbox_channel);
  // Another program that does not lock can cut or grow the mailbox while it
  // is read; its size at open and at the end tells.
  const bool sized = channel_on_disk(mailbox_channel);
  ErrorStatus size_failure;
  const host::FileStamp at_open = sized ? current_stamp(size_failure) : host::FileStamp{};
  const int64_t size_at_open = sized ? at_open.size : -1;
  TextBuffer message;
  int32_t messages_read = 0;
  bool stopped = false;
  bool read_failed = false;
  bool too_large = false;
  // Each read step is judged by its own status, so that a failing standard
  // output in between is never taken for a read error.
  const auto note = [&](const ErrorStatus& failed) {
    if (failed.code == error_code::out_of_memory) {
      too_large = true;
    } else if (failed.code != 0 && failed.code != error_code::past_end && !read_failed) {
      read_failed = true;
      report(run.outcome, "read error in mailbox " + shown_name(path) + ": " + reason(failed));
    }
  };
  size_t line_start = 0;
  ErrorScope scope;
  const auto read = [&](std::string_view marker) {
    scope.take();
    const LinesStop stop = read_lines(mailbox_channel, message, marker, line_start);
    note(scope.take());
    return stop;
  };
  try {
    // The first line starts the first message, whatever it holds. An empty
    // mailbox is one message of a lone CR LF. A read error ends the mailbox:
    // what was read up to it is kept, and nothing after it is taken for the
    // rest of a line; an unreadable mailbox gives no message at all.
    const LinesStop first = read("");
    LinesStop last = first;
    if (first == LinesStop::end_of_file && !read_failed && !too_large) message.append("\r\n");
    while (first == LinesStop::marker && !too_large && !read_failed) {
      last = read(separator);
      if (last != LinesStop::marker) break;
      flush(run, message_number, base_name, message.view().substr(0, line_start));
      ++messages_read;
      print_text(".");
      message.erase_front(line_start);
      if (stopping(run, [&] {
            return "after message " + std::to_string(messages_read) + " of " + shown_name(path) +
                   ": the messages after it and any later mailboxes were not processed";
          })) {
        stopped = true;
        break;
      }
    }
    if (!too_large && !stopped) {
      // The last message is kept even when the mailbox changed: the report
      // says it may be cut off, and nothing read is thrown away.
      if (sized && !read_failed) {
        // A rewrite in place at the same size shows in the times alone.
        const host::FileStamp now = size_failure.code ? at_open : current_stamp(size_failure);
        if (size_failure.code)
          report(run.outcome, "cannot tell whether mailbox " + shown_name(path) +
                                  " changed while it was read: " + reason(size_failure));
        else if (now != at_open)
          report(run.outcome, "mailbox " + shown_name(path) + " changed while it was read (" +
                                  std::to_string(size_at_open) + " bytes when opened, " +
                                  std::to_string(now.size) +
                                  " at the end): its last message may be cut off or messages "
                                  "missing; run again when no other program writes to it");
      }
      // Inside the guard: searching or writing the last message may run out
      // of memory too.
      if (message.size() > 0) flush(run, message_number, base_name, message.view());
      if (last == LinesStop::end_of_file && !read_failed && sized)
        warn_about_the_end(run, path, messages_read, message.view(), size_at_open);
    }
  } catch (const std::bad_alloc&) {
    too_large = true;
  }
  if (too_large) {
    report(run.outcome, "message " + std::to_string(message_number + 1) + " of " +
                            shown_name(path) +
                            " is too large for memory; the rest of the mailbox is skipped");
    message.release();
  }
  print_line(format_number(message_number, "0,"));
  close_channel(mailbox_channel);
}

}  // namespace

std::string base_name_of(const std::string& name) {
  const std::string dot = ".";
  if (find(1, name, dot) > 0) return substring(name, 1, find(-1, name, dot) - 1);
  return name;
}

std::string folder_of(const std::string& pattern) {
  const size_t last = pattern.find_last_of("\\/");
  // "C:a.mbx" names drive C's current folder: the drive is the folder part.
  if (last == std::string::npos && host::windows_names && pattern.size() >= 2 &&
      pattern[1] == ':' && std::isalpha(static_cast<unsigned char>(pattern[0])))
    return pattern.substr(0, 2);
  return last == std::string::npos ? std::string() : pattern.substr(0, last + 1);
}

bool prepare_output_directory(Run& run) {
  const std::string folder(output_folder);
  ErrorScope scope;  // the caller's status stays as it was
  std::string found;
  if (!run_step(run.outcome, "cannot use the output folder " + folder,
                [&] { found = dir_first(folder, ATTR_DIRECTORY); }))
    return false;
  if (found.empty()) {
    // Another run started at the same moment may have made it in between:
    // then it is there to be used.
    Steps steps;
    if (!steps.run([&] { make_dir(folder); }) &&
        !(steps.failure().host_error == host::win32::already_exists &&
          !dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty())) {
      report(run.outcome,
             "cannot create the output folder " + folder + ": " + reason(steps.failure()));
      return false;
    }
    print_line("Created output subdirectory .\\brevlithoutput");
  } else if (dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty()) {
    report(run.outcome, "cannot use the output folder " + folder + ": a file of that name exists");
    return false;
  } else {
    print_line("Note: Files will be written to .\\brevlithoutput");
  }
  return run_step(run.outcome, "cannot use the output folder " + folder,
                  [&] { run.output_folder = hold_folder(folder); });
}

namespace {

void report_not_found(Run& run, const std::string& pattern, const ErrorStatus& failed) {
  print_line("FILE NOT FOUND");
  report(run.outcome,
         failed.code ? "cannot search for " + shown_name(pattern) + ": " + reason(failed)
         : pattern.empty()
             ? std::string("no mailbox named; usage: brevlith filename.ext [/s=searchterm]")
             : "no mailbox matches " + shown_name(pattern));
}

// Names the listing skipped: their "?" would open another file.
void report_unconvertible(Run& run, const std::string& folder) {
  for (const std::string& name : take_unconvertible_names())
    report(run.outcome, "skipped " + shown_name(folder + name) +
                            ": its name cannot be written in the ANSI code page " +
                            std::to_string(host::ansi_code_page()) + "; rename it to read it");
}

}  // namespace

void note_stop(Run& run, const std::string& where) {
  if (run.stop_signal) return;
  run.stop_signal = host::stop_signal();
  report(run.outcome, "stopped by signal " + std::to_string(run.stop_signal) + " " + where +
                          "; run again for them");
}

void walk_exact_mailbox(Run& run, const std::string& name) {
  ErrorScope scope;
  const auto got = run_system_call([&] { return host::get_file_attributes_w(to_wide(name)); });
  const uint32_t attributes = got.result;
  const uint32_t left_out =
      host::file_attribute_hidden | host::file_attribute_system | host::file_attribute_directory;
  if (attributes == host::invalid_file_attributes || (attributes & left_out)) {
    const bool missing = attributes != host::invalid_file_attributes ||
                         got.last_error == host::win32::file_not_found ||
                         got.last_error == host::win32::path_not_found;
    report_not_found(run, name, missing ? ErrorStatus{} : ErrorStatus{got.code, got.last_error});
    return;
  }
  const std::string folder = folder_of(name);
  split_mailbox(run, folder, name.substr(folder.size()));
}

void walk_mailboxes(Run& run, const std::string& pattern) {
  const std::string folder = folder_of(pattern);
  ErrorScope scope;
  std::string mailbox_name = dir_first(pattern, 0);
  report_unconvertible(run, folder);
  if (mailbox_name.empty()) {
    report_not_found(run, pattern, scope.take());
    return;
  }
  while (!mailbox_name.empty()) {
    if (stopping(run, [&] {
          return "before mailbox " + shown_name(folder + mailbox_name) +
                 ": it and the mailboxes after it were not processed";
        }))
      return;
    split_mailbox(run, folder, mailbox_name);
    if (run.stop_signal) return;
    // A listing that breaks off must not pass for the last mailbox.
    const std::string what = "cannot list the mailboxes after " +
                             shown_name(folder + mailbox_name) + " matching " + shown_name(pattern);
    run_step(run.outcome, what, [&] {
      mailbox_name = dir_next();
      report_unconvertible(run, folder);
    });
  }
}

}  // namespace brevlith
