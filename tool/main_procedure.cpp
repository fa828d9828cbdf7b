#include "tool/main_procedure.h"

#include <algorithm>
#include <new>

#include "console/command_tail.h"
#include "console/output.h"
#include "files/directories.h"
#include "host/host.h"
#include "text/strings.h"
#include "tool/input_warnings.h"
#include "tool/mailbox_walk.h"
#include "tool/term_loader.h"

namespace brevlith {
namespace {

// The searcher is built once for the whole run: for the term list, or for
// the single term; none in normal mode. False (reported) when it does not
// fit in memory: the run stops before any output is opened.
bool prepare_search(Run& run) {
  try {
    if (run.term_count > 0)
      run.searcher = std::make_unique<TermSearch>(run.terms);
    else if (!run.search_term.empty())
      run.searcher = std::make_unique<TermSearch>(std::vector<std::string>{run.search_term});
  } catch (const std::bad_alloc&) {
    run.searcher.reset();
    run.terms = {};
    report(run.outcome, run.term_count > 0
                            ? "the term file " + shown_name(run.search_term) +
                                  " is too large for memory; split it into smaller term files"
                            : std::string("the search term is too large for memory"));
    return false;
  }
  return true;
}

}  // namespace

void print_banner() {
  print_line("brevlith // by the brevlith developers // https://brevlith.example");
  print_line("create a gazillion text files with one email per file, from eudora mailbox(es)");
  print_line("--> usage: brevlith filename.ext [/s=searchterm]");
  print_line("     *wildcards are ok in filename");
  print_line("     *optional search term means that only emails matching search will be output");
  print_line("     *if searchterm is a file it can be a list of terms, one per line");
  print_line("     *search is case INsensitive");
  print_line("     *in search mode, new mbx files are created, in normal mode txt files per email");
  print_line_end();
}

void read_command_line(Run& run) {
  const Wide tail = command_tail();
  const Wide quote_blank = u"\" ";
  bool pattern_replaced = false, term_replaced = false;
  run.mailbox_pattern = to_text(
      trim_right_any(trim_left_any(parse_field(tail, Wide(u"/"), 1), quote_blank), quote_blank),
      &pattern_replaced);
  run.search_term =
      to_text(trim_right(trim_left(parse_field(tail, Wide(u"/s="), 2))), &term_replaced);
  // The "?" put in for such a character is a wildcard: it would widen the
  // match, or a term every message holds.
  const std::string code_page =
      ": it cannot be written in the ANSI code page " + std::to_string(host::ansi_code_page());
  if (pattern_replaced)
    report(run.outcome,
           "cannot use the mailbox pattern " + shown_name(run.mailbox_pattern) + code_page);
  if (term_replaced)
    report(run.outcome, "cannot search for the term " + shown_name(run.search_term) + code_page);
  warn_about_option_words(run.outcome, tail);
  std::vector<std::string> leading =
      leading_arguments(run_system_call([] { return host::arguments(); }).result);
  // -h or --help names no file: it is no part of the mailbox's name either.
  if (std::erase_if(leading,
                    [&](const std::string& w) { return is_stray_dash_word(run.outcome, w); })) {
    std::string joined;
    for (const std::string& word : leading) joined.append(joined.empty() ? "" : " ").append(word);
    run.mailbox_pattern =
        to_text(trim_right_any(trim_left_any(to_wide(joined), quote_blank), quote_blank));
  }
  run.walks = mailbox_walks(run.mailbox_pattern, leading);
}

std::vector<Walk> mailbox_walks(const std::string& mailbox_pattern,
                                const std::vector<std::string>& leading) {
  if (leading.size() < 2) return {{mailbox_pattern, false}};
  ErrorScope scope;  // looking is no failure: the walks report what they miss
  std::vector<Walk> walks;
  bool all_exist = true;
  for (const std::string& word : leading) {
    const bool exists = entry_exists(word);
    all_exist = all_exist && exists;
    walks.push_back({word, exists});
  }
  if (all_exist) return walks;
  const bool joined_names_one = !dir_first(mailbox_pattern, 0).empty();
  scope.take();
  if (joined_names_one) return {{mailbox_pattern, false}};
  return walks;
}

namespace {

// The steps of a run; false when it stops early. Each place that can need
// much memory reports running out itself; this is the last guard for the
// small allocations in between, so that no bad_alloc ends the process
// without a word.
bool run_steps(Run& run) try {
  print_banner();
  read_command_line(run);
  if (run.outcome.failed) return false;
  if (!load_terms(run)) return false;
  if (!prepare_search(run)) return false;
  run.numbered_files = !run.searcher || std::find(run.terms.begin(), run.terms.end(),
                                                  std::string()) != run.terms.end();
  if (!prepare_output_directory(run)) return false;
  for (const Walk& walk : run.walks) {
    if (stopping(run, [&] {
          return "before " + shown_name(walk.pattern) +
                 ": it and the mailboxes after it were not processed" + rerun_advice(run);
        }))
      break;
    if (walk.exact)
      walk_exact_mailbox(run, walk.pattern);
    else
      walk_mailboxes(run, walk.pattern);
  }
  report_unshown_failures(run.outcome);
  if (const ErrorStatus failed = first_stdout_failure(); failed.code)
    report(run.outcome, "cannot write to standard output: " + reason(failed));
  return !run.outcome.failed;
} catch (const std::bad_alloc&) {
  run.searcher.reset();
  run.terms = {};
  report(run.outcome, "not enough memory; the run stopped here");
  return false;
}

}  // namespace

int main_procedure() {
  ErrorScope scope;
  Run run;
  const bool passed = run_steps(run);
  // Exit code 1 alone would not say why: standard output's last line does.
  if (const ErrorStatus failed = first_stderr_failure(); failed.code)
    print_line("brevlith: cannot write to standard error: " + reason(failed) +
               "; this run's diagnostics are lost");
  if (run.stop_signal) return 128 + run.stop_signal;
  return passed ? 0 : 1;
}

}  // namespace brevlith
