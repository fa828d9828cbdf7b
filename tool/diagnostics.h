// Diagnostics: one line each on standard error, "brevlith: " first, naming
// the file and the reason. An error makes the exit code 1; a warning (the
// run followed its rules, but probably not the user's intent) leaves it.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "console/error_status.h"

namespace brevlith {

struct Outcome {
  bool failed = false;
  int output_failures = 0;       // failures to write a message file or record, all of them
  int unshown_records = 0;       // records of term mailboxes among those not shown
  std::set<std::string> warned;  // kind and file of each warning shown
  int stop_signal = 0;           // the signal the run stopped for, 0 while it goes on
};

// After this many output failures further ones are only counted.
inline constexpr int output_failures_shown = 20;

void report(Outcome& outcome, std::string_view line);
// "brevlith: warning: <line>", at most once for each kind and file.
void warn(Outcome& outcome, std::string_view kind, std::string_view file, std::string_view line);
// "cannot write <name>: <reason>", or only counted past the limit.
void report_output_failure(Outcome& outcome, const std::string& name, const ErrorStatus& status);
// The closing count of output failures that were not shown.
void report_unshown_failures(Outcome& outcome);

// Plain words for a failure: from the host's error number when there is one.
std::string reason(const ErrorStatus& status);
// A file name as the user writes it.
std::string shown_name(std::string_view name);
// A name found on disk, shown with its backslashes as they are (shown_name
// would turn them into folder separators) and its control bytes masked.
std::string shown_found_name(std::string_view name);
// `name` with each control byte (C0, 0x7F) as "?", or as \xNN with
// `c0_as_hex`, and with `c1_masked` each C1 control, the UTF-8 form or a
// byte outside any UTF-8 character, as "?" (not on Windows).
std::string masked_name(std::string_view name, bool c0_as_hex, bool c1_masked);

// The steps of one piece of work, each judged by its own error status: the
// status is cleared after every step, so that a failure left by an earlier
// step (or by standard output in between) is never taken for a later one's.
// The first failure is kept for the one report the work makes.
class Steps {
 public:
  // Runs `step`; false when it failed.
  template <class F>
  bool run(F&& step) {
    step();
    const ErrorStatus failed = scope_.take();
    if (first_.code == 0) first_ = failed;
    return failed.code == 0;
  }
  // Runs a step whose failure is not this work's (a clean-up, standard output).
  template <class F>
  void run_ignoring_failure(F&& step) {
    step();
    scope_.take();
  }
  const ErrorStatus& failure() const { return first_; }

 private:
  ErrorScope scope_;
  ErrorStatus first_;
};

// Runs one step; when it fails, reports "<what>: <reason>" and returns false.
template <class F>
bool run_step(Outcome& outcome, std::string_view what, F&& step) {
  Steps steps;
  if (steps.run(step)) return true;
  report(outcome, std::string(what) + ": " + reason(steps.failure()));
  return false;
}

// A line on standard output, CR LF after it.
void print_line(std::string_view text);

}  // namespace brevlith
