#include "tool/term_loader.h"

#include "console/error_codes.h"
#include "console/screen.h"
#include "files/channels.h"
#include "files/directories.h"
#include "files/lines.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/input_warnings.h"

namespace brevlith {

bool load_terms(Plan& plan, Outcome& outcome) {
  ErrorScope scope;
  if (dir_first(plan.search_term, 0).empty()) {
    // Something of that name is there but could not be looked at: searching
    // for its name as text would be a quiet wrong answer.
    const ErrorStatus failed = scope.take();
    // A name too long or invalid for a file is a term like any other.
    if (failed.code && failed.host_error != host::win32::filename_exced_range &&
        failed.host_error != host::win32::invalid_name) {
      report(outcome,
             "cannot open term file " + shown_name(plan.search_term) + ": " + reason(failed));
      return false;
    }
    if (!failed.code && !plan.search_term.empty())
      warn_if_term_looks_like_a_file(outcome, plan.search_term);
    return true;
  }
  // Parallel runs given the same term file each hold it while they load it.
  open_channel(plan.search_term, input_channel, Mode::input, 128, {.wait = LockWait::bounded});
  const ErrorStatus opened = scope.take();
  // A wildcard term that happens to match a file is searched for as text,
  // and so is the name of a device or of anything else that is no disk file.
  const bool as_text = opened.code == error_code::bad_file_name ||
                       opened.host_error == host::win32::bad_device ||
                       opened.host_error == host::win32::bad_file_type;
  if (opened.code != 0 && !as_text) {
    report(outcome,
           "cannot open term file " + shown_name(plan.search_term) + ": " + reason(opened));
    return false;
  }
  try {
    // A refused wildcard name leaves the channel closed: no lines, 0 terms.
    for (bool end = opened.code != 0; !end;) {
      Steps steps;
      steps.run([&] { end = at_end_of_file(input_channel) != 0; });
      if (!end) {
        plan.terms.emplace_back();
        // The failed line is no term: an empty one would select every message.
        if (!steps.run([&] { read_line_append(input_channel, plan.terms.back()); }))
          plan.terms.pop_back();
      }
      const ErrorStatus& failed = steps.failure();
      if (failed.code == error_code::out_of_memory) throw std::bad_alloc();
      // The terms read before a read error are kept; nothing after it is read.
      if (failed.code && failed.code != error_code::past_end) {
        report(outcome,
               "read error in term file " + shown_name(plan.search_term) + ": " + reason(failed));
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    close_channel(input_channel);
    plan.terms = {};
    report_term_file_too_large(outcome, plan.search_term);
    return false;
  }
  const auto term_count = static_cast<int32_t>(plan.terms.size());
  plan.term_file = term_count > 0;
  if (lines_end_in_lf(input_channel)) warn_read_as_lf_ended(outcome, plan.search_term, true);
  close_channel(input_channel);
  try {
    if (opened.code == 0) warn_about_terms(outcome, plan.search_term, plan.terms);
  } catch (const std::bad_alloc&) {
    // The checks only help; the search needs the memory more.
  }
  try {
    screen_write_text(
        concat(concat(std::string("Searching for a total of "), number_text(term_count)),
               std::string(" terms.")));
  } catch (const std::bad_alloc&) {
    // Memory is short before the search is even built: stop, naming the file.
    plan.terms = {};
    report_term_file_too_large(outcome, plan.search_term);
    return false;
  }
  screen_line_end();
  return true;
}

void report_term_file_too_large(Outcome& outcome, const std::string& file) {
  report(outcome, "the term file " + shown_name(file) +
                      " is too large for memory; split it into smaller term files");
}

}  // namespace brevlith
