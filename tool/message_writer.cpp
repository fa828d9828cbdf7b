#include "tool/message_writer.h"

#include <algorithm>
#include <utility>

#include "console/output.h"
#include "files/channels.h"
#include "files/directories.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"

namespace brevlith {

namespace {

// A term mailbox whose records (before a final Ctrl-Z) do not end in CR LF
// lost the end of its last record: the next record's CR LF would close the
// cut line, and the cut message would read as a whole one.
void check_last_record(std::string_view end, const std::string& name, Outcome& outcome) {
  if (end.ends_with('\x1a')) end.remove_suffix(1);
  if (end.empty() || end.ends_with("\r\n")) return;
  warn(outcome, "cut record", name,
       shown_name(name) +
           " does not end in CR LF, so its last record may be cut off (a run writing it was "
           "stopped); the new records follow it: check that last message");
}

// The number of a numbered file's name as this tool writes it (base-0001.txt;
// from 10,000 on without leading zeros), and its base name; 0 for any other.
int32_t number_of(std::string_view name, std::string_view& base_name) {
  if (name.size() < 4 || base_key(name.substr(name.size() - 4)) != ".txt") return 0;
  name.remove_suffix(4);
  const size_t dash = name.rfind('-');
  if (dash == std::string_view::npos) return 0;
  const std::string_view digits = name.substr(dash + 1);
  if (digits.size() < 4 || digits.size() > 9 || (digits.size() > 4 && digits[0] == '0')) return 0;
  int32_t number = 0;
  for (const char ch : digits) {
    if (ch < '0' || ch > '9') return 0;
    number = number * 10 + (ch - '0');
  }
  base_name = name.substr(0, dash);
  return number;
}

}  // namespace

std::string file_stem(const std::string& term) {
  std::string stem = term;
  replace_any(stem, std::string("\\/:*?\"<>|"), std::string("---------"));
  return stem;
}

void append_numbered_name(std::string& name, std::string_view base_name, int32_t number) {
  name.append(base_name).append("-").append(format_number(number, "0000")).append(".txt");
}

void MessageWriter::write(int32_t& message_number, const std::string& base_name,
                          std::string_view message, const std::string& term) {
  const int32_t channel = next_free_channel();
  ++message_number;
  // Kept from message to message, so that building the name allocates nothing.
  thread_local std::string name;
  name.assign(output_prefix);
  if (term.empty())
    append_numbered_name(name, base_name, message_number);
  else
    name.append(file_stem(term)).append(".mbx");
  Steps steps;
  // Another run may be adding to the same term mailbox: wait for its record
  // to end rather than lose this one. New files are no more readable than
  // the mailbox they come from. The name is built from a mailbox's own,
  // which may hold "?" on POSIX.
  const bool opened = steps.run([&] {
    open_channel(
        name, channel, term.empty() ? Mode::output : Mode::append, 128,
        {.wait = term.empty() ? LockWait::none : LockWait::bounded,
         .permissions = permissions_,
         .literal = true,
         .folder = term.empty() && numbered_folder_ != host::invalid_handle ? numbered_folder_
                                                                            : folder_});
  });
  uint64_t record_start = channel_position(channel);
  // A term mailbox that ends in a Ctrl-Z, the old end-of-file mark, keeps it
  // last: a reader that stops there would never see a record after it. The
  // lock holds from this look to the last write, so parallel runs take
  // turns. A look that fails fails the record: the mark may be there. A
  // mailbox still at the size this run's last record left ends as it did.
  TermEnd* known = nullptr;
  bool end_mark = false, first_look = false;
  const bool placed = term.empty() || !opened || steps.run([&] {
    const auto [entry, first] = term_ends_.try_emplace(name);
    first_look = first;
    known = &entry->second;
    const TermEnd left = std::exchange(*known, {});  // until this record is whole
    if (left.size == record_start) {
      end_mark = left.end_mark;
    } else {
      std::string end;
      if (!read_channel_tail(channel, 3, end)) return;
      if (first) check_last_record(end, name, outcome_);
      end_mark = end.ends_with('\x1a');
    }
    if (end_mark) place_channel(channel, --record_start);
  });
  const bool written = opened && placed && steps.run([&] {
    write_pieces(channel, {term.empty() ? "" : "\r\n", message, end_mark ? "\x1a" : ""});
  });
  if (written && known) *known = {channel_position(channel), end_mark};
  if (first_look) note_own_file(channel);
  if (written && term.empty()) ++numbered_written_;
  // A term mailbox keeps whole records only: later records must not follow
  // half of this one, and its end mark comes back. A message file cut short
  // would pass for the whole message; this run created or cut it, so
  // nothing of anyone else's goes with it. Its number stays taken.
  Steps take_back;
  if (opened && !written && term.empty())
    take_back.run([&] { discard_channel_file(channel); });
  else if (opened && !written && take_back.run([&] { cut_channel(channel, record_start); }) &&
           end_mark)
    take_back.run([&] { write_text(channel, "\x1a"); });
  // Standard output's own failures are not this message's.
  if (!term.empty()) steps.run_ignoring_failure([] { print_mark('X'); });
  steps.run([&] { close_channel(channel); });
  if (steps.failure().code) report_output_failure(outcome_, name, steps.failure());
  if (steps.failure().code && !term.empty()) ++hits_not_written_;
  // Its row only once the file or record is whole.
  if (index_ && written && !steps.failure().code)
    index_->add(host::native_name(std::string_view(name).substr(output_prefix.size())), message,
                message.size() + (term.empty() ? 0 : 2), permissions_);
  if (take_back.failure().code)
    report(outcome_, "the incomplete message in " + shown_name(name) +
                         " could not be taken back: " + reason(take_back.failure()) +
                         "; remove it by hand");
}

std::string base_key(std::string_view base_name) {
  std::string key(base_name);
  return host::windows_names ? fold_lower(key) : key;
}

bool MessageWriter::prepare_output_folder() {
  const std::string folder(output_folder);
  ErrorScope scope;  // the caller's status stays as it was
  std::string found;
  if (!run_step(outcome_, "cannot use the output folder " + folder,
                [&] { found = dir_first(folder, ATTR_DIRECTORY); }))
    return false;
  if (found.empty()) {
    // Another run started at the same moment may have made it in between:
    // then it is there to be used.
    Steps steps;
    if (!steps.run([&] { make_dir(folder); }) &&
        !(steps.failure().host_error == host::win32::already_exists &&
          !dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty())) {
      report(outcome_,
             "cannot create the output folder " + folder + ": " + reason(steps.failure()));
      return false;
    }
    print_line("Created output subdirectory .\\" + folder);
  } else if (dir_first(folder, ATTR_DIRECTORY | ATTR_ONLY).empty()) {
    report(outcome_, "cannot use the output folder " + folder + ": a file of that name exists");
    return false;
  } else {
    print_line("Note: Files will be written to .\\" + folder);
  }
  if (!run_step(outcome_, "cannot use the output folder " + folder,
                [&] { folder_ = hold_folder(folder); }))
    return false;
  if (plan_.index) index_ = std::make_unique<IndexFile>(folder_, outcome_);
  return true;
}

// The one listing of the output folder a run makes for its numbered files.
void MessageWriter::note_earlier_numbers(const std::string& below) {
  ErrorScope scope;  // a folder that cannot be listed only loses the warning
  DirListing listing;
  for (std::string name = listing.first(std::string(output_prefix) + below + "*.txt", 0);
       !name.empty(); name = listing.next()) {
    std::string_view base_name;
    if (const int32_t number = number_of(name, base_name)) {
      int32_t& highest = earlier_numbers_[base_key(below + std::string(base_name))];
      highest = std::max(highest, number);
    }
  }
}

bool MessageWriter::survey_output_folder() {
  if (plan_.numbered_files) note_earlier_numbers();
  if (!plan_.search_mode()) return true;
  ErrorScope scope;  // a term mailbox not there yet is no failure
  for (const std::string& term : plan_.terms) {
    if (term.empty()) continue;
    FileId id;
    if (file_identity(std::string(output_prefix) + file_stem(term) + ".mbx", id, folder_))
      own_files_.insert(id);
  }
  FileId id;
  if (!plan_.term_file || !file_identity(plan_.search_term, id) || !own_files_.contains(id))
    return true;
  report(outcome_, "the term file " + shown_name(plan_.search_term) +
                       " is also a term mailbox this run would add records to; copy it out of " +
                       std::string(output_folder) + " and name the copy");
  return false;
}

void MessageWriter::note_own_file(int32_t channel) {
  FileId id;
  ErrorScope scope;  // unknown, it is only not remembered
  if (channel_identity(channel, id)) own_files_.insert(id);
}

bool MessageWriter::is_own_file(const FileId& identity, const std::string& mailbox_name) const {
  if (own_files_.contains(identity)) return true;
  std::string_view base_name;
  const int32_t number = number_of(mailbox_name, base_name);
  const auto taken = numbers_taken_.find(base_key(base_name));
  if (number == 0 || taken == numbers_taken_.end() || number > taken->second) return false;
  ErrorScope scope;
  FileId there;
  return file_identity(std::string(output_prefix) + mailbox_name, there, folder_) &&
         there == identity;
}

bool MessageWriter::enter_output_subfolder(const std::string& below) {
  if (!plan_.recurse || !plan_.numbered_files) return true;
  bool made = false;
  const host::Handle held = output_tree_.enter(below, folder_, outcome_, made);
  if (held == host::invalid_handle) return false;
  // A folder this run did not make may hold an earlier run's numbered files.
  if (below != numbered_below_ && !made && !below.empty()) note_earlier_numbers(below);
  numbered_folder_ = held;
  numbered_below_ = below;
  return true;
}

void MessageWriter::start_mailbox(int32_t channel) {
  permissions_ = new_file_permissions(channel);
  numbered_written_ = 0;
}

void MessageWriter::finish_mailbox(const std::string& base_name, int32_t count) {
  if (plan_.search_mode() && count > 0) appended_ = true;
  if (plan_.numbered_files && count > 0) {
    int32_t& taken = numbers_taken_[base_key(base_name)];
    taken = std::max(taken, count);
  }
}

void MessageWriter::warn_if_earlier_numbered_files(const std::string& path,
                                                   const std::string& base_name,
                                                   int32_t numbers_taken) {
  const auto found = earlier_numbers_.find(base_key(base_name));
  if (found == earlier_numbers_.end() || found->second <= numbers_taken) return;
  std::string after(output_prefix), last(output_prefix);
  append_numbered_name(after, base_name, numbers_taken);
  append_numbered_name(last, base_name, found->second);
  warn(outcome_, "earlier numbered files", path,
       "numbered files after " + shown_name(after) + " up to " + shown_name(last) +
           " are left from an earlier run: this run wrote " +
           format_number(numbered_written_, "0,") + " for " + shown_name(path) +
           "; delete them so that they are not taken for its messages");
}

}  // namespace brevlith
