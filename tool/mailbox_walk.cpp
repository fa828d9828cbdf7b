#include "tool/mailbox_walk.h"

#include <cctype>

#include "console/output.h"
#include "files/channels.h"
#include "files/directories.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

void print_line(std::string_view text) {
  print_text(text);
  print_line_end();
}

// Hands one complete message to the writer: once per term of a term file,
// once with the single term, or once in normal mode.
void flush(Run& run, int32_t& message_number, const std::string& base_name,
           std::string_view message) {
  if (!run.searcher) {
    write_selected_message(message_number, base_name, message, run.search_term, run.outcome);
    return;
  }
  const std::vector<char>& hits = run.searcher->search(message);
  if (run.term_count == 0) {
    if (hits[0])
      write_selected_message(message_number, base_name, message, run.search_term, run.outcome);
    return;
  }
  for (const uint32_t i : run.searcher->selected())
    write_selected_message(message_number, base_name, message, run.terms[i], run.outcome);
}

void split_mailbox(Run& run, const std::string& folder, const std::string& mailbox_name) {
  const std::string base_name = base_name_of(mailbox_name);
  int32_t message_number = 0;
  print_line(concat(std::string("Processing: "), mailbox_name));
  const std::string path = folder + mailbox_name;
  // Where the host allows a backslash in a name, the tool's paths still
  // read it as a folder separator: opening it would read another file.
  if (mailbox_name.find('\\') != std::string::npos) {
    report(run.outcome, "cannot open mailbox " + shown_name(folder) + mailbox_name +
                            ": a name holding a backslash cannot be opened");
    print_line(format_number(message_number, "0,"));
    return;
  }

  ErrorScope scope;
  open_channel(path, mailbox_channel, Mode::input, 128);
  if (const ErrorStatus failed = scope.take(); failed.code) {
    report(run.outcome, "cannot open mailbox " + shown_name(path) + ": " + reason(failed));
    print_line(format_number(message_number, "0,"));
    return;
  }
  TextBuffer message;
  bool read_failed = false;
  bool too_large = false;
  // Each read step is judged by its own status, so that a failing standard
  // output in between is never taken for a read error.
  const auto note = [&](const ErrorStatus& failed) {
    if (failed.code == 7) {
      too_large = true;
    } else if (failed.code != 0 && failed.code != 62 && !read_failed) {
      read_failed = true;
      report(run.outcome, "read error in mailbox " + shown_name(path) + ": " + reason(failed));
    }
  };
  size_t line_start = 0;
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
    if (first == LinesStop::end_of_file && !read_failed && !too_large) message.append("\r\n");
    while (first == LinesStop::marker && !too_large && !read_failed) {
      if (read(separator) != LinesStop::marker) break;
      flush(run, message_number, base_name, message.view().substr(0, line_start));
      print_text(".");
      message.erase_front(line_start);
    }
  } catch (const std::bad_alloc&) {
    too_large = true;
  }
  if (too_large) {
    report(run.outcome, "message " + std::to_string(message_number + 1) + " of " +
                            shown_name(path) +
                            " is too large for memory; the rest of the mailbox is skipped");
    message.release();
  } else if (message.size() > 0) {
    flush(run, message_number, base_name, message.view());
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
  ErrorScope scope;
  if (dir_first(folder, ATTR_DIRECTORY).empty()) {
    if (const ErrorStatus failed = scope.take(); failed.code) {
      report(run.outcome, "cannot use the output folder " + folder + ": " + reason(failed));
      return false;
    }
    make_dir(folder);
    if (const ErrorStatus failed = scope.take(); failed.code) {
      report(run.outcome, "cannot create the output folder " + folder + ": " + reason(failed));
      return false;
    }
    print_line("Created output subdirectory .\\brevlithoutput");
  } else if (dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty()) {
    report(run.outcome, "cannot use the output folder " + folder + ": a file of that name exists");
    return false;
  } else {
    print_line("Note: Files will be written to .\\brevlithoutput");
  }
  return true;
}

// Names the listing skipped: their "?" would open another file.
void report_unconvertible(Run& run, const std::string& folder) {
  for (const std::string& name : take_unconvertible_names())
    report(run.outcome, "skipped " + shown_name(folder + name) +
                            ": its name cannot be written in the ANSI code page " +
                            std::to_string(host::ansi_code_page()) + "; rename it to read it");
}

void walk_mailboxes(Run& run, const std::string& pattern) {
  const std::string folder = folder_of(pattern);
  ErrorScope scope;
  std::string mailbox_name = dir_first(pattern, 0);
  report_unconvertible(run, folder);
  if (mailbox_name.empty()) {
    print_line("FILE NOT FOUND");
    const ErrorStatus failed = scope.take();
    report(run.outcome,
           failed.code ? "cannot search for " + shown_name(pattern) + ": " + reason(failed)
           : pattern.empty()
               ? std::string("no mailbox named; usage: brevlith filename.ext [/s=searchterm]")
               : "no mailbox matches " + shown_name(pattern));
    return;
  }
  while (!mailbox_name.empty()) {
    split_mailbox(run, folder, mailbox_name);
    const std::string done = folder + mailbox_name;
    scope.take();
    mailbox_name = dir_next();
    report_unconvertible(run, folder);
    // A listing that breaks off must not pass for the last mailbox.
    if (const ErrorStatus failed = scope.take(); failed.code)
      report(run.outcome, "cannot list the mailboxes after " + shown_name(done) + " matching " +
                              shown_name(pattern) + ": " + reason(failed));
  }
}

}  // namespace brevlith
