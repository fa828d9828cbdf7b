#include "tool/message_writer.h"

#include <utility>

#include "console/output.h"
#include "files/channels.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/mailbox_checks.h"
#include "tool/run.h"

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

}  // namespace

std::string file_stem(const std::string& term) {
  std::string stem = term;
  replace_any(stem, std::string("\\/:*?\"<>|"), std::string("---------"));
  return stem;
}

void append_numbered_name(std::string& name, std::string_view base_name, int32_t number) {
  name.append(base_name).append("-").append(format_number(number, "0000")).append(".txt");
}

void write_selected_message(int32_t& message_number, const std::string& base_name,
                            std::string_view message, const std::string& term, Run& run) {
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
    open_channel(name, channel, term.empty() ? Mode::output : Mode::append, 128,
                 {.wait = term.empty() ? LockWait::none : LockWait::bounded,
                  .permissions = run.output_permissions,
                  .literal = true,
                  .folder = run.output_folder});
  });
  uint64_t record_start = channel_position(channel);
  // A term mailbox that ends in a Ctrl-Z, the old end-of-file mark, keeps it
  // last: a reader that stops there would never see a record after it. The
  // lock holds from this look to the last write, so parallel runs take
  // turns. A look that fails fails the record: the mark may be there. A
  // mailbox still at the size this run's last record left ends as it did.
  Run::TermEnd* known = nullptr;
  bool end_mark = false, first_look = false;
  const bool placed = term.empty() || !opened || steps.run([&] {
    const auto [entry, first] = run.term_ends.try_emplace(name);
    first_look = first;
    known = &entry->second;
    const Run::TermEnd left = std::exchange(*known, {});  // until this record is whole
    if (left.size == record_start) {
      end_mark = left.end_mark;
    } else {
      std::string end;
      if (!read_channel_tail(channel, 3, end)) return;
      if (first) check_last_record(end, name, run.outcome);
      end_mark = end.ends_with('\x1a');
    }
    if (end_mark) place_channel(channel, --record_start);
  });
  const bool written = opened && placed && steps.run([&] {
    write_pieces(channel, {term.empty() ? "" : "\r\n", message, end_mark ? "\x1a" : ""});
  });
  if (written && known) *known = {channel_position(channel), end_mark};
  if (first_look) note_own_file(run, channel);
  if (written && term.empty()) ++run.numbered_written;
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
  if (steps.failure().code) report_output_failure(run.outcome, name, steps.failure());
  if (steps.failure().code && !term.empty()) ++run.hits_not_written;
  if (take_back.failure().code)
    report(run.outcome, "the incomplete message in " + shown_name(name) +
                            " could not be taken back: " + reason(take_back.failure()) +
                            "; remove it by hand");
}

}  // namespace brevlith
