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
#include "tool/mailbox_checks.h"
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
  const host::FileStamp stamp = channel_file_stamp(input_channel);
  failed = scope.take();
  return stamp;
}

// A mailbox read to its end by the rules, but whose end probably is not
// what the user expects: a Ctrl-Z with more after it, or lines that end in
// LF alone.
void warn_about_the_end(Run& run, const std::string& path, int32_t messages_read, int64_t size) {
  if (!channel_is_open(input_channel)) return;
  const uint64_t stop = channel_position(input_channel);
  warn_if_ctrl_z_inside(run.outcome, path, stop, size, messages_read + 1);
  if (lines_end_in_lf(input_channel)) warn_read_as_lf_ended(run.outcome, path, false);
}

// How the split of one mailbox stands. It starts at `reading`; the step
// that ends the reading sets it, and only running out of memory for the
// last message changes it after that.
enum class SplitState {
  reading,
  not_opened,   // reported: nothing was read
  refused,      // this run's own output, no mailbox, or a base name taken: nothing read
  read_to_end,  // the end of the file (or a Ctrl-Z) was reached
  read_failed,  // reported: what was read up to the error is kept
  too_large,    // a message did not fit in memory: the rest is skipped
  stopped,      // a stop signal came after a message
};

// The split of one mailbox into messages: open it, read and write its
// messages, check its end, finish with the count.
class MailboxSplit {
 public:
  MailboxSplit(Run& run, const std::string& folder, const std::string& mailbox_name)
      : run_(run),
        mailbox_name_(mailbox_name),
        folder_(folder),
        path_(folder + mailbox_name),
        base_name_(base_name_of(mailbox_name)) {
    run_.numbered_written = 0;
  }

  // `own`: the mailbox is a file this run writes. `matched`: a wildcard
  // matched its name, so it may be no mailbox at all.
  void split(bool own, bool matched) {
    print_line(concat(std::string("Processing: "), screen_name(mailbox_name_)));
    // Reading it would wait on this run's own lock, or feed its output back in.
    if (own) {
      report(run_.outcome, "skipped " + shown_name(path_) +
                               ": it is a file this run writes its output to; name mailboxes "
                               "outside brevlithoutput, or move it out first");
      state_ = SplitState::refused;
    } else if (open() && !refused(matched)) {
      try {
        read_and_write_messages();
        if (state_ == SplitState::read_to_end || state_ == SplitState::read_failed) check_the_end();
      } catch (const std::bad_alloc&) {
        state_ = SplitState::too_large;
      }
    } else {
      run_.not_opened.insert(path_);
    }
    finish();
  }

 private:
  bool open() {
    // Where the host allows a backslash in a name, the tool's paths still
    // read it as a folder separator: opening it would read another file.
    if (mailbox_name_.find('\\') != std::string::npos) {
      report(run_.outcome, "cannot open mailbox " + shown_name(folder_) +
                               shown_found_name(mailbox_name_) +
                               ": a name holding a backslash cannot be opened");
      state_ = SplitState::not_opened;
      return false;
    }
    if (!run_step(run_.outcome, "cannot open mailbox " + shown_name(path_), [&] {
          open_channel(path_, input_channel, Mode::input, 128,
                       {.literal = true});  // a name found, not a pattern
        })) {
      state_ = SplitState::not_opened;
      return false;
    }
    // Another program that does not lock can cut, grow or rewrite the
    // mailbox while it is read; its size and times at open and at the end tell.
    run_.output_permissions = new_file_permissions(input_channel);
    sized_ = channel_on_disk(input_channel);
    at_open_ = sized_ ? current_stamp(size_failure_) : host::FileStamp{};
    return true;
  }

  // Checked once open, before anything is read by lines or written.
  bool refused(bool matched) {
    if (const std::string why = matched ? why_not_a_mailbox(input_channel) : ""; !why.empty())
      warn(run_.outcome, "not a mailbox", path_,
           shown_name(path_) + " is not a mailbox: " + why +
               "; nothing was written for it. To split it anyway, name it alone, without a "
               "wildcard");
    else if (!base_name_taken(run_, base_name_, path_))
      return false;
    state_ = SplitState::refused;
    return true;
  }

  // Every message but the last, each written when the separator after it is
  // read. The first line starts the first message, whatever it holds; an
  // empty mailbox is one message of a lone CR LF.
  void read_and_write_messages() {
    read("");
    if (state_ == SplitState::read_to_end) {
      empty_ = message_.size() == 0;
      message_.append("\r\n");
    }
    while (state_ == SplitState::reading) {
      if (read(separator) != LinesStop::marker) return;
      search_and_write(message_.view().substr(0, line_start_));
      print_mark('.');
      message_.erase_front(line_start_);
      if (stopping(run_, [&] { return stopped_after_message(); })) state_ = SplitState::stopped;
    }
  }

  // One read step, judged by its own status, so that a failing standard
  // output in between is never taken for a read error. A read error ends
  // the mailbox: nothing after it is taken for the rest of a line.
  LinesStop read(std::string_view marker) {
    scope_.take();
    const LinesStop stop = read_lines(input_channel, message_, marker, line_start_);
    const ErrorStatus failed = scope_.take();
    if (failed.code == error_code::out_of_memory) {
      state_ = SplitState::too_large;
    } else if (failed.code != 0 && failed.code != error_code::past_end) {
      state_ = SplitState::read_failed;
      report(run_.outcome, "read error in mailbox " + shown_name(path_) + ": " + reason(failed));
    } else if (stop == LinesStop::end_of_file) {
      state_ = SplitState::read_to_end;
    } else if (stop == LinesStop::failed_line) {
      state_ = SplitState::read_failed;
    }
    return stop;
  }

  // The mailbox's size against its size at open, then the last message,
  // which is kept even when the mailbox changed: the report says it may be
  // cut off, and nothing read is thrown away. The end is judged only in a
  // mailbox known unchanged: in another, the offset it names may be gone.
  void check_the_end() {
    const bool read_whole = state_ == SplitState::read_to_end;
    const bool unchanged = sized_ && read_whole && !changed_while_read();
    const int32_t before_last = messages_read_;
    if (message_.size() > 0) search_and_write(message_.view());
    if (unchanged) warn_about_the_end(run_, path_, before_last, at_open_.size);
  }

  // True (reported) when another program changed the mailbox, or when that
  // cannot be told. A new size or write time is a change. The change time
  // alone moves for chmod, a new link or an extended attribute, and for a
  // rewrite whose write time was put back: the bytes read tell them apart.
  bool changed_while_read() {
    ErrorStatus failed = size_failure_;
    const host::FileStamp now = failed.code ? at_open_ : current_stamp(failed);
    bool changed = false;
    if (!failed.code) changed = now.size != at_open_.size || now.written != at_open_.written;
    if (!failed.code && !changed && now.changed != at_open_.changed) {
      ErrorScope scope;
      bool same = false;
      if (channel_read_unchanged(input_channel, same))
        changed = !same;
      else
        failed = scope.take();
    }
    if (failed.code)
      report(run_.outcome, "cannot tell whether mailbox " + shown_name(path_) +
                               " changed while it was read: " + reason(failed));
    else if (changed)
      report(run_.outcome, "mailbox " + shown_name(path_) + " changed while it was read (" +
                               std::to_string(at_open_.size) + " bytes when opened, " +
                               std::to_string(now.size) +
                               " at the end): its last message may be cut off or messages "
                               "missing; run again when no other program writes to it");
    return changed || failed.code;
  }

  // Hands one complete message to the writer: once per term of a term file
  // that it holds, once for the single term it holds, or once in normal mode.
  void search_and_write(std::string_view message) {
    if (!run_.searcher) {
      write_selected_message(files_written_, base_name_, message, run_.search_term, run_);
    } else {
      const std::vector<char>& hits = run_.searcher->search(message);
      if (run_.term_count == 0) {
        if (hits[0])
          write_selected_message(files_written_, base_name_, message, run_.search_term, run_);
      } else {
        for (const uint32_t i : run_.searcher->selected())
          write_selected_message(files_written_, base_name_, message, run_.terms[i], run_);
      }
    }
    ++messages_read_;
  }

  // In search mode a plain rerun would append the hits read so far again.
  std::string stopped_after_message() const {
    const std::string after = "after message " + std::to_string(messages_read_) + " of " +
                              shown_name(path_) +
                              ": the messages after it and any later mailboxes were not processed";
    if (!run_.searcher) return after + "; run again for them";
    return after + "; the hits of messages 1 to " + std::to_string(messages_read_) + " of " +
           shown_name(path_) + (run_.appended ? " and of the mailboxes before it" : "") +
           hits_where(run_) + ", and running again appends them again";
  }

  void finish() {
    if (state_ == SplitState::too_large) {
      report(run_.outcome, "message " + std::to_string(messages_read_ + 1) + " of " +
                               shown_name(path_) +
                               " is too large for memory; the rest of the mailbox is skipped");
      message_.release();
    }
    print_line(format_number(files_written_, "0,"));
    close_channel(input_channel);
    if (run_.searcher && files_written_ > 0) run_.appended = true;
    if (run_.numbered_files && files_written_ > 0) {
      int32_t& taken = run_.numbers_taken[base_key(base_name_)];
      taken = std::max(taken, files_written_);
    }
    if (empty_ && run_.numbered_written > 0)
      warn(run_.outcome, "empty mailbox", path_,
           shown_name(path_) +
               " is empty, and was written as one empty message (a file of a lone line end)");
    if (state_ == SplitState::read_to_end && run_.numbered_files)
      warn_if_earlier_numbered_files(run_, path_, base_name_, files_written_);
  }

  Run& run_;
  const std::string& mailbox_name_;
  const std::string& folder_;
  const std::string path_;
  const std::string base_name_;
  SplitState state_ = SplitState::reading;
  int32_t messages_read_ = 0;  // the messages handed to the writer: the next one's place - 1
  int32_t files_written_ = 0;  // the count shown: message files, or hits in search mode
  bool sized_ = false;         // a disk file, whose size can be compared
  bool empty_ = false;         // the mailbox held nothing to read
  ErrorStatus size_failure_;
  host::FileStamp at_open_;  // the mailbox's size and times at open, when sized_
  TextBuffer message_;
  size_t line_start_ = 0;
  ErrorScope scope_;
};

void split_mailbox(Run& run, const std::string& folder, const std::string& mailbox_name, bool own,
                   bool matched) {
  MailboxSplit(run, folder, mailbox_name).split(own, matched);
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
    print_line("Created output subdirectory .\\" + folder);
  } else if (dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty()) {
    report(run.outcome, "cannot use the output folder " + folder + ": a file of that name exists");
    return false;
  } else {
    print_line("Note: Files will be written to .\\" + folder);
  }
  return run_step(run.outcome, "cannot use the output folder " + folder,
                  [&] { run.output_folder = hold_folder(folder); });
}

namespace {

void report_not_found(Run& run, const std::string& pattern, const ErrorStatus& failed) {
  print_line("FILE NOT FOUND");
  report(run.outcome, failed.code
                          ? "cannot search for " + shown_name(pattern) + ": " + reason(failed)
                      : pattern.empty() ? "no mailbox named; " + std::string(usage_line)
                                        : "no mailbox matches " + shown_name(pattern));
}

// Names the listing skipped: their "?" would open another file.
void report_unconvertible(Run& run, DirListing& listing, const std::string& folder) {
  for (const std::string& name : listing.take_unconvertible_names())
    report(run.outcome, "skipped " + shown_name(folder + name) +
                            ": its name cannot be written in the ANSI code page " +
                            std::to_string(host::ansi_code_page()) + "; rename it to read it");
}

// One file named twice (a.mbx a.mbx, a.mbx ./a.mbx, a link) is split once:
// again, it would append every hit a second time. A failed look-up decides
// nothing; the open reports what is wrong. `own` tells whether it is a
// file this run writes.
bool split_already(Run& run, const std::string& folder, const std::string& name, bool& own) {
  const std::string path = folder + name;
  ErrorScope scope;
  FileId id;
  own = false;
  if (!file_identity(path, id)) return false;
  own = is_own_file(run, id, name);
  const auto [first, added] = run.split_files.try_emplace(id, path);
  if (added) return false;
  const std::string as = first->second == path ? "" : " as " + shown_name(first->second);
  if (run.not_opened.contains(first->second))
    warn(run.outcome, "named twice", path,
         "mailbox " + shown_name(path) + " was named before" + as +
             " and could not be opened then, so it is skipped: one file named twice is opened "
             "once; name each mailbox once");
  else
    warn(run.outcome, "named twice", path,
         "mailbox " + shown_name(path) + " was already processed" + as +
             ": one file named twice is processed once; name each mailbox once");
  return true;
}

}  // namespace

void note_stop(Run& run, const std::string& where) {
  if (run.stop_signal) return;
  run.stop_signal = host::stop_signal();
  report(run.outcome, "stopped by signal " + std::to_string(run.stop_signal) + " " + where);
}

std::string hits_where(const Run& run) {
  if (run.hits_not_written == 0) return " are already in the term mailboxes";
  return " are in the term mailboxes, except the " + format_number(run.hits_not_written, "0,") +
         (run.hits_not_written == 1 ? " hit" : " hits") + " reported as not written";
}

std::string rerun_advice(const Run& run) {
  if (!run.appended) return "; run again for them";
  return "; the hits of the mailboxes before it" + hits_where(run) +
         ", and running again over those appends them again: name only the mailboxes that were "
         "not processed";
}

void walk_exact_mailbox(Run& run, const std::string& name) {
  ErrorScope scope;
  const uint32_t attributes = entry_attributes(name);
  const ErrorStatus failed = scope.take();
  if (attributes == ATTR_INVALID || (attributes & (ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY))) {
    const bool missing = attributes != ATTR_INVALID ||
                         failed.host_error == host::win32::file_not_found ||
                         failed.host_error == host::win32::path_not_found;
    report_not_found(run, name, missing ? ErrorStatus{} : failed);
    return;
  }
  const std::string folder = folder_of(name);
  bool own = false;
  if (!split_already(run, folder, name.substr(folder.size()), own))
    split_mailbox(run, folder, name.substr(folder.size()), own, false);
}

void walk_mailboxes(Run& run, const std::string& pattern) {
  const std::string folder = folder_of(pattern);
  const bool matched = pattern.find_first_of("*?", folder.size()) != std::string::npos;
  ErrorScope scope;
  // The walk's own search: what splitting a mailbox looks up cannot drop it.
  DirListing listing;
  std::string mailbox_name = listing.first(pattern, 0);
  report_unconvertible(run, listing, folder);
  if (mailbox_name.empty()) {
    report_not_found(run, pattern, scope.take());
    return;
  }
  while (!mailbox_name.empty()) {
    if (stopping(run, [&] {
          return "before mailbox " + shown_name(folder + mailbox_name) +
                 ": it and the mailboxes after it were not processed" + rerun_advice(run);
        }))
      return;
    bool own = false;
    if (!split_already(run, folder, mailbox_name, own))
      split_mailbox(run, folder, mailbox_name, own, matched);
    if (run.stop_signal) return;
    // A listing that breaks off must not pass for the last mailbox.
    const std::string what = "cannot list the mailboxes after " +
                             shown_name(folder + mailbox_name) + " matching " + shown_name(pattern);
    run_step(run.outcome, what, [&] {
      mailbox_name = listing.next();
      report_unconvertible(run, listing, folder);
    });
  }
}

}  // namespace brevlith
