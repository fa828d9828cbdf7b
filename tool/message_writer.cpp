#include "tool/message_writer.h"

#include "console/output.h"
#include "files/channels.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/run.h"

namespace brevlith {

std::string file_stem(const std::string& term) {
  std::string stem = term;
  replace_any(stem, std::string("\\/:*?\"<>|"), std::string("---------"));
  return stem;
}

void write_message(int32_t& message_number, const std::string& base_name, std::string_view message,
                   const std::string& term, Outcome& outcome) {
  if (!term.empty()) {
    const std::string folded = fold_lower(std::string(message), FoldMode::table_mode);
    if (find(1, folded, term) == 0) return;
  }
  write_selected_message(message_number, base_name, message, term, outcome);
}

void write_selected_message(int32_t& message_number, const std::string& base_name,
                            std::string_view message, const std::string& term, Outcome& outcome) {
  ErrorScope scope;
  const int32_t channel = next_free_channel();
  ++message_number;
  // Kept from message to message, so that building the name allocates nothing.
  thread_local std::string name;
  name.assign(output_prefix);
  if (term.empty())
    name.append(base_name).append("-").append(format_number(message_number, "0000")).append(".txt");
  else
    name.append(file_stem(term)).append(".mbx");
  // Another run may be adding to the same term mailbox: wait for its record
  // to end rather than lose this one. New files are no more readable than
  // the mailbox they come from. The name is built from a mailbox's own,
  // which may hold "?" on POSIX.
  open_channel(name, channel, term.empty() ? Mode::output : Mode::append, 128,
               {.wait = term.empty() ? LockWait::none : LockWait::bounded,
                .template_channel = mailbox_channel,
                .literal = true});
  const ErrorStatus opened = scope.take();
  const Channel* open = find_channel(channel);
  const uint64_t record_start = open ? open->file_position : 0;
  if (opened.code == 0) {
    if (!term.empty()) write_line_end(channel);
    if (scope.status().code == 0) write_text(channel, message);
  }
  const ErrorStatus written = scope.take();
  // A term mailbox keeps whole records only: later records must not follow
  // half of this one.
  if (written.code && !term.empty()) {
    cut_channel(channel, record_start);
    scope.take();
  }
  // A message file cut short would pass for the whole message; this run
  // created or cut it, so nothing of anyone else's goes with it. Its number
  // stays taken.
  if (written.code && term.empty()) {
    discard_channel_file(channel);
    scope.take();
  }
  if (!term.empty()) print_text("X");
  scope.take();  // standard output's own failures are not this message's
  close_channel(channel);
  const ErrorStatus closed = scope.take();
  const ErrorStatus& failure = opened.code ? opened : written.code ? written : closed;
  if (failure.code) report_output_failure(outcome, name, failure);
}

}  // namespace brevlith
