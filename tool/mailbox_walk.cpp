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
void warn_about_the_end(Outcome& outcome, const std::string& path, int32_t messages_read,
                        int64_t size) {
  if (!channel_is_open(input_channel)) return;
  const uint64_t stop = channel_position(input_channel);
  warn_if_ctrl_z_inside(outcome, path, stop, size, messages_read + 1);
  if (lines_end_in_lf(input_channel)) warn_read_as_lf_ended(outcome, path, false);
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
  MailboxSplit(const MailboxWalk::Parts& parts, const std::string& folder,
               const std::string& mailbox_name, const std::string& below = "")
      : plan_(parts.plan),
        search_(parts.search),
        writer_(parts.writer),
        outcome_(parts.outcome),
        memory_(parts.memory),
        mailbox_name_(mailbox_name),
        folder_(folder),
        below_(below),
        shown_(host::native_name(below) + mailbox_name),
        path_(folder + mailbox_name),
        base_name_(below + base_name_of(mailbox_name)) {}

  // `own`: the mailbox is a file this run writes. `matched`: a wildcard
  // matched its name, so it may be no mailbox at all.
  void split(bool own, bool matched) {
    print_line(concat(std::string("Processing: "), screen_name(shown_)));
    // Reading it would wait on this run's own lock, or feed its output back in.
    if (own) {
      report(outcome_, "skipped " + shown_name(path_) +
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
      memory_.not_opened.insert(path_);
    }
    finish();
  }

 private:
  bool open() {
    // Where the host allows a backslash in a name, the tool's paths still
    // read it as a folder separator: opening it would read another file.
    if (mailbox_name_.find('\\') != std::string::npos) {
      report(outcome_, "cannot open mailbox " + shown_name(folder_) +
                           shown_found_name(mailbox_name_) +
                           ": a name holding a backslash cannot be opened");
      state_ = SplitState::not_opened;
      return false;
    }
    if (!run_step(outcome_, "cannot open mailbox " + shown_name(path_), [&] {
          open_channel(path_, input_channel, Mode::input, 128,
                       {.literal = true});  // a name found, not a pattern
        })) {
      state_ = SplitState::not_opened;
      return false;
    }
    // Another program that does not lock can cut, grow or rewrite the
    // mailbox while it is read; its size and times at open and at the end tell.
    writer_.start_mailbox(input_channel);
    if (IndexFile* index = writer_.index()) index->start_mailbox(shown_);
    sized_ = channel_on_disk(input_channel);
    at_open_ = sized_ ? current_stamp(size_failure_) : host::FileStamp{};
    return true;
  }

  // Checked once open, before anything is read by lines or written.
  bool refused(bool matched) {
    if (const std::string why = matched ? why_not_a_mailbox(input_channel) : ""; !why.empty())
      warn(outcome_, "not a mailbox", path_,
           shown_name(path_) + " is not a mailbox: " + why +
               "; nothing was written for it. To split it anyway, name it alone, without a "
               "wildcard");
    else if (!base_name_taken(memory_, plan_, outcome_, base_name_, path_) &&
             writer_.enter_output_subfolder(below_))
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
      if (stopping(outcome_, [&] { return stopped_after_message(); })) state_ = SplitState::stopped;
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
      report(outcome_, "read error in mailbox " + shown_name(path_) + ": " + reason(failed));
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
    if (unchanged) warn_about_the_end(outcome_, path_, before_last, at_open_.size);
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
      report(outcome_, "cannot tell whether mailbox " + shown_name(path_) +
                           " changed while it was read: " + reason(failed));
    else if (changed)
      report(outcome_, "mailbox " + shown_name(path_) + " changed while it was read (" +
                           std::to_string(at_open_.size) + " bytes when opened, " +
                           std::to_string(now.size) +
                           " at the end): its last message may be cut off or messages "
                           "missing; run again when no other program writes to it");
    return changed || failed.code;
  }

  // Hands one complete message to the writer once for each term that
  // selects it: the terms it holds, and an empty term for every message.
  void search_and_write(std::string_view message) {
    search_.search(message);
    if (IndexFile* index = writer_.index()) index->set_place(messages_read_ + 1);
    for (const uint32_t i : search_.selected())
      writer_.write(files_written_, base_name_, message, plan_.terms[i]);
    ++messages_read_;
  }

  // In search mode a plain rerun would append the hits read so far again.
  std::string stopped_after_message() const {
    const std::string after = "after message " + std::to_string(messages_read_) + " of " +
                              shown_name(path_) +
                              ": the messages after it and any later mailboxes were not processed";
    if (!plan_.search_mode()) return after + "; run again for them";
    return after + "; the hits of messages 1 to " + std::to_string(messages_read_) + " of " +
           shown_name(path_) + (writer_.appended() ? " and of the mailboxes before it" : "") +
           hits_where(writer_) + ", and running again appends them again";
  }

  void finish() {
    if (state_ == SplitState::too_large) {
      report(outcome_, "message " + std::to_string(messages_read_ + 1) + " of " +
                           shown_name(path_) +
                           " is too large for memory; the rest of the mailbox is skipped");
      message_.release();
    }
    print_line(format_number(files_written_, "0,"));
    close_channel(input_channel);
    writer_.finish_mailbox(base_name_, files_written_);
    if (empty_ && writer_.numbered_written() > 0)
      warn(outcome_, "empty mailbox", path_,
           shown_name(path_) +
               " is empty, and was written as one empty message (a file of a lone line end)");
    if (state_ == SplitState::read_to_end && plan_.numbered_files)
      writer_.warn_if_earlier_numbered_files(path_, base_name_, files_written_);
  }

  const Plan& plan_;
  TermSearch& search_;
  MessageWriter& writer_;
  Outcome& outcome_;
  WalkMemory& memory_;
  const std::string& mailbox_name_;
  const std::string& folder_;
  const std::string& below_;  // the mailbox's folder from the pattern's, with /r
  const std::string shown_;   // its name as the Processing: line and the index show it
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

namespace {

void report_not_found(Outcome& outcome, const std::string& pattern, const ErrorStatus& failed) {
  print_line("FILE NOT FOUND");
  report(outcome, failed.code ? "cannot search for " + shown_name(pattern) + ": " + reason(failed)
                  : pattern.empty() ? "no mailbox named; " + std::string(usage_line)
                                    : "no mailbox matches " + shown_name(pattern));
}

// Names the listing skipped: their "?" would open another file.
void report_unconvertible(Outcome& outcome, DirListing& listing, const std::string& folder) {
  for (const std::string& name : listing.take_unconvertible_names())
    report(outcome, "skipped " + shown_name(folder + name) +
                        ": its name cannot be written in the ANSI code page " +
                        std::to_string(host::ansi_code_page()) + "; rename it to read it");
}

}  // namespace

bool MailboxWalk::split_already(const std::string& folder, const std::string& name, bool& own) {
  const std::string path = folder + name;
  ErrorScope scope;
  FileId id;
  own = false;
  if (!file_identity(path, id)) return false;
  own = writer_.is_own_file(id, name);
  const auto [first, added] = memory_.split_files.try_emplace(id, path);
  if (added) return false;
  const std::string as = first->second == path ? "" : " as " + shown_name(first->second);
  if (memory_.not_opened.contains(first->second))
    warn(outcome_, "named twice", path,
         "mailbox " + shown_name(path) + " was named before" + as +
             " and could not be opened then, so it is skipped: one file named twice is opened "
             "once; name each mailbox once");
  else
    warn(outcome_, "named twice", path,
         "mailbox " + shown_name(path) + " was already processed" + as +
             ": one file named twice is processed once; name each mailbox once");
  return true;
}

void note_stop(Outcome& outcome, const std::string& where) {
  if (outcome.stop_signal) return;
  outcome.stop_signal = host::stop_signal();
  report(outcome, "stopped by signal " + std::to_string(outcome.stop_signal) + " " + where);
}

std::string hits_where(const MessageWriter& writer) {
  const int64_t failed = writer.hits_not_written();
  if (failed == 0) return " are already in the term mailboxes";
  return " are in the term mailboxes, except the " + format_number(failed, "0,") +
         (failed == 1 ? " hit" : " hits") + " reported as not written";
}

std::string rerun_advice(const MessageWriter& writer) {
  if (!writer.appended()) return "; run again for them";
  return "; the hits of the mailboxes before it" + hits_where(writer) +
         ", and running again over those appends them again: name only the mailboxes that were "
         "not processed";
}

void MailboxWalk::walk_exact(const std::string& name) {
  ErrorScope scope;
  const uint32_t attributes = entry_attributes(name);
  const ErrorStatus failed = scope.take();
  if (attributes == ATTR_INVALID || (attributes & (ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY))) {
    const bool missing = attributes != ATTR_INVALID ||
                         failed.host_error == host::win32::file_not_found ||
                         failed.host_error == host::win32::path_not_found;
    report_not_found(outcome_, name, missing ? ErrorStatus{} : failed);
    return;
  }
  const std::string folder = folder_of(name);
  bool own = false;
  if (!split_already(folder, name.substr(folder.size()), own))
    MailboxSplit(parts(), folder, name.substr(folder.size())).split(own, false);
}

void MailboxWalk::walk_pattern(const std::string& pattern) {
  const std::string folder = folder_of(pattern);
  const bool matched = pattern.find_first_of("*?", folder.size()) != std::string::npos;
  ErrorScope scope;
  bool found = false;
  if (plan_.recurse && matched)
    walk_tree(folder, "", pattern.substr(folder.size()), found);
  else
    split_matches(pattern, "", matched, found);
  if (!found && !outcome_.stop_signal) report_not_found(outcome_, pattern, scope.take());
}

void MailboxWalk::split_matches(const std::string& pattern, const std::string& below, bool matched,
                                bool& found) {
  const std::string folder = folder_of(pattern);
  // The walk's own search: what splitting a mailbox looks up cannot drop it.
  DirListing listing;
  std::string mailbox_name = listing.first(pattern, 0);
  report_unconvertible(outcome_, listing, folder);
  found = found || !mailbox_name.empty();
  while (!mailbox_name.empty()) {
    if (stopping(outcome_, [&] {
          return "before mailbox " + shown_name(folder + mailbox_name) +
                 ": it and the mailboxes after it were not processed" + rerun_advice(writer_);
        }))
      return;
    bool own = false;
    if (!split_already(folder, mailbox_name, own))
      MailboxSplit(parts(), folder, mailbox_name, below).split(own, matched);
    if (outcome_.stop_signal) return;
    // A listing that breaks off must not pass for the last mailbox.
    const std::string what = "cannot list the mailboxes after " +
                             shown_name(folder + mailbox_name) + " matching " + shown_name(pattern);
    run_step(outcome_, what, [&] {
      mailbox_name = listing.next();
      report_unconvertible(outcome_, listing, folder);
    });
  }
}

bool MailboxWalk::is_output_folder(const std::string& folder) {
  ErrorScope scope;  // an output folder not there yet is none to pass by
  if (!output_id_known_) output_id_known_ = file_identity(std::string(output_folder), output_id_);
  FileId id;
  return output_id_known_ && file_identity(folder, id) && id == output_id_;
}

void MailboxWalk::walk_tree(const std::string& top, const std::string& below,
                            const std::string& last, bool& found) {
  const std::string folder = top + below;
  ErrorStatus failed;
  {
    ErrorScope scope;
    split_matches(folder + last, below, true, found);
    failed = scope.take();
  }
  if (failed.code && below.empty())
    current_error_status() = failed;  // the caller says no mailbox was found, and why
  else if (failed.code)
    report(outcome_, "cannot search for " + shown_name(folder + last) + ": " + reason(failed));
  // One listing per level on the way down: memory grows with the depth, not
  // with the number of folders.
  DirListing folders;
  std::string name;
  const std::string what =
      "cannot list the folders in " + shown_name(folder.empty() ? "." : folder);
  run_step(outcome_, what, [&] {
    name = folders.first(folder + "*", ATTR_DIRECTORY | ATTR_ONLY);
    report_unconvertible(outcome_, folders, folder);
  });
  while (!name.empty() && !outcome_.stop_signal) {
    if (!folders.last_is_link() && !is_output_folder(folder + name))
      walk_tree(top, below + name + "\\", last, found);
    if (outcome_.stop_signal) return;
    run_step(outcome_, what, [&] {
      name = folders.next();
      report_unconvertible(outcome_, folders, folder);
    });
  }
}

void MailboxWalk::walk_all() {
  for (const Walk& walk : plan_.walks) {
    if (stopping(outcome_, [&] {
          return "before " + shown_name(walk.pattern) +
                 ": it and the mailboxes after it were not processed" + rerun_advice(writer_);
        }))
      break;
    if (walk.exact)
      walk_exact(walk.pattern);
    else
      walk_pattern(walk.pattern);
  }
}

}  // namespace brevlith
