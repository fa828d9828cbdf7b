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
  const host::FileStamp stamp = channel_file_stamp(input_channel);
  failed = scope.take();
  return stamp;
}

// A mailbox read to its end by the rules, but whose end probably is not
// what the user expects: a Ctrl-Z with more after it, or no CR at all.
void warn_about_the_end(Run& run, const std::string& path, int32_t messages_read,
                        std::string_view last_message, int64_t size) {
  if (!channel_is_open(input_channel)) return;
  const uint64_t stop = channel_position(input_channel);
  warn_if_ctrl_z_inside(run.outcome, path, stop, size, messages_read + 1);
  if (messages_read == 0 && last_message.size() >= 2)
    warn_if_lone_line_feeds(run.outcome, path, false,
                            last_message.substr(0, last_message.size() - 2), stop);
}

// Numbered message files are named after the mailbox's base name alone: a
// second mailbox of that name in one run writes over the first's files.
// True (reported) for that second mailbox.
bool check_base_name(Run& run, const std::string& base_name, const std::string& path) {
  if (!run.numbered_files) return false;
  std::string key = base_name;
  if constexpr (host::windows_names)
    for (char& ch : key)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  const auto [earlier, first] = run.numbered_bases.try_emplace(key, path);
  if (first || earlier->second == path) return false;
  report(run.outcome, "the message files of " + shown_name(path) + " (" + shown_name(base_name) +
                          "-0001.txt and on) replace those of " + shown_name(earlier->second) +
                          ", which has the same base name; rename one of them, or split them in "
                          "separate runs from separate folders");
  return true;
}

// A numbered file just after the mailbox's last is left from an earlier
// run of a longer mailbox: it would pass for one of this mailbox's messages.
void warn_if_earlier_numbered_files(Run& run, const std::string& path, const std::string& base_name,
                                    int32_t files_written) {
  std::string next(output_prefix);
  append_numbered_name(next, base_name, files_written + 1);
  ErrorScope scope;  // a look that fails is no failure of the run
  if (!entry_exists(next)) return;
  warn(run.outcome, "earlier numbered files", path,
       shown_name(next) + " and any numbered files after it are left from an earlier run: " +
           "this run wrote " + format_number(files_written, "0,") + " for " + shown_name(path) +
           "; delete them so that they are not taken for its messages");
}

// How the split of one mailbox stands. It starts at `reading`; the step
// that ends the reading sets it, and only running out of memory for the
// last message changes it after that.
enum class SplitState {
  reading,
  not_opened,   // reported: nothing was read
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
        base_name_(base_name_of(mailbox_name)) {}

  void split() {
    print_line(concat(std::string("Processing: "), screen_name(mailbox_name_)));
    if (open()) {
      try {
        read_and_write_messages();
        if (state_ == SplitState::read_to_end || state_ == SplitState::read_failed) check_the_end();
      } catch (const std::bad_alloc&) {
        state_ = SplitState::too_large;
      }
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
    base_replaced_ = check_base_name(run_, base_name_, path_);
    // Another program that does not lock can cut, grow or rewrite the
    // mailbox while it is read; its size and times at open and at the end tell.
    run_.output_permissions = new_file_permissions(input_channel);
    sized_ = channel_on_disk(input_channel);
    at_open_ = sized_ ? current_stamp(size_failure_) : host::FileStamp{};
    return true;
  }

  // Every message but the last, each written when the separator after it is
  // read. The first line starts the first message, whatever it holds; an
  // empty mailbox is one message of a lone CR LF.
  void read_and_write_messages() {
    read("");
    if (state_ == SplitState::read_to_end) message_.append("\r\n");
    while (state_ == SplitState::reading) {
      if (read(separator) != LinesStop::marker) return;
      search_and_write(message_.view().substr(0, line_start_));
      print_text(".");
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
    if (unchanged) warn_about_the_end(run_, path_, before_last, message_.view(), at_open_.size);
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
    if (state_ == SplitState::read_to_end && run_.numbered_files && !base_replaced_)
      warn_if_earlier_numbered_files(run_, path_, base_name_, files_written_);
  }

  Run& run_;
  const std::string& mailbox_name_;
  const std::string& folder_;
  const std::string path_;
  const std::string base_name_;
  SplitState state_ = SplitState::reading;
  int32_t messages_read_ = 0;   // the messages handed to the writer: the next one's place - 1
  int32_t files_written_ = 0;   // the count shown: message files, or hits in search mode
  bool sized_ = false;          // a disk file, whose size can be compared
  bool base_replaced_ = false;  // an earlier mailbox of this run had the same base name
  ErrorStatus size_failure_;
  host::FileStamp at_open_;  // the mailbox's size and times at open, when sized_
  TextBuffer message_;
  size_t line_start_ = 0;
  ErrorScope scope_;
};

void split_mailbox(Run& run, const std::string& folder, const std::string& mailbox_name) {
  MailboxSplit(run, folder, mailbox_name).split();
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
void report_unconvertible(Run& run, DirListing& listing, const std::string& folder) {
  for (const std::string& name : listing.take_unconvertible_names())
    report(run.outcome, "skipped " + shown_name(folder + name) +
                            ": its name cannot be written in the ANSI code page " +
                            std::to_string(host::ansi_code_page()) + "; rename it to read it");
}

// One file named twice (a.mbx a.mbx, a.mbx ./a.mbx, a link) is split once:
// again, it would append every hit a second time. A failed look-up decides
// nothing; the open reports what is wrong.
bool split_already(Run& run, const std::string& path) {
  ErrorScope scope;
  host::FileIdentity id;
  const auto got = run_system_call([&] { return host::get_file_identity_w(to_wide(path), id); });
  if (!got.result || got.failed()) return false;
  const auto [first, added] = run.split_files.try_emplace({id.volume, id.index}, path);
  if (added) return false;
  warn(run.outcome, "named twice", path,
       "mailbox " + shown_name(path) + " was already processed" +
           (first->second == path ? "" : " as " + shown_name(first->second)) +
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
  if (!split_already(run, name)) split_mailbox(run, folder, name.substr(folder.size()));
}

void walk_mailboxes(Run& run, const std::string& pattern) {
  const std::string folder = folder_of(pattern);
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
    if (!split_already(run, folder + mailbox_name)) split_mailbox(run, folder, mailbox_name);
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
