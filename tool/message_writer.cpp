#include "tool/message_writer.h"

#include "console/output.h"
#include "files/channels.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/mailbox_checks.h"
#include "tool/run.h"

namespace brevlith {

namespace {

// A term mailbox that does not end in CR LF (or CR LF and a Ctrl-Z) lost
// the end of its last record: the next record's CR LF would close the cut
// line, and the cut message would read as a whole one. A look that fails
// says nothing; only failing to get back to the end fails the record.
void check_last_record(int32_t channel, const std::string& name, Outcome& outcome) {
  std::string end;
  if (!read_channel_tail(channel, 3, end) || end.empty()) return;
  if (end.ends_with("\r\n") || end == "\r\n\x1a") return;
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
  const uint64_t record_start = channel_position(channel);
  const bool first_append = opened && !term.empty() && run.ends_checked.insert(name).second;
  const bool placed =
      !first_append || steps.run([&] { check_last_record(channel, name, run.outcome); });
  const bool written = opened && placed &&
                       (term.empty() || steps.run([&] { write_line_end(channel); })) &&
                       steps.run([&] { write_text(channel, message); });
  if (first_append) note_own_file(run, channel);
  if (written && term.empty()) ++run.numbered_written;
  // A term mailbox keeps whole records only: later records must not follow
  // half of this one. A message file cut short would pass for the whole
  // message; this run created or cut it, so nothing of anyone else's goes
  // with it. Its number stays taken.
  Steps take_back;
  if (opened && !written)
    take_back.run([&] {
      if (term.empty())
        discard_channel_file(channel);
      else
        cut_channel(channel, record_start);
    });
  // Standard output's own failures are not this message's.
  if (!term.empty()) steps.run_ignoring_failure([] { print_text("X"); });
  steps.run([&] { close_channel(channel); });
  if (steps.failure().code) report_output_failure(run.outcome, name, steps.failure());
  if (take_back.failure().code)
    report(run.outcome, "the incomplete message in " + shown_name(name) +
                            " could not be taken back: " + reason(take_back.failure()) +
                            "; remove it by hand");
}

}  // namespace brevlith
