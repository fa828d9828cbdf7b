#include "tool/main_procedure.h"

#include "console/command_tail.h"
#include "console/output.h"
#include "host/host.h"
#include "text/strings.h"
#include "tool/mailbox_walk.h"
#include "tool/term_loader.h"

namespace brevlith {
namespace {

void print_line(std::string_view text) {
  print_text(text);
  print_line_end();
}

// The searcher is built once for the whole run: for the term list, or for
// the single term; none in normal mode.
void prepare_search(Run& run) {
  if (run.term_count > 0)
    run.searcher = std::make_unique<TermSearch>(run.terms);
  else if (!run.search_term.empty())
    run.searcher = std::make_unique<TermSearch>(std::vector<std::string>{run.search_term});
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
  const Wide tail = command_tail(0);
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
  run.patterns = mailbox_patterns(run.mailbox_pattern, leading_arguments(host::arguments()));
}

std::vector<std::string> mailbox_patterns(const std::string& mailbox_pattern,
                                          const std::vector<std::string>& leading) {
  bool all_exist = leading.size() >= 2;
  for (size_t i = 0; all_exist && i < leading.size(); ++i)
    all_exist = host::get_file_attributes_w(to_wide(leading[i])) != host::invalid_file_attributes;
  return all_exist ? leading : std::vector<std::string>{mailbox_pattern};
}

namespace {

bool run_steps(Run& run) {
  print_banner();
  read_command_line(run);
  if (run.outcome.failed) return false;
  if (!load_terms(run)) return false;
  prepare_search(run);
  if (!prepare_output_directory(run)) return false;
  for (const std::string& pattern : run.patterns) walk_mailboxes(run, pattern);
  report_unshown_failures(run.outcome);
  if (const ErrorStatus failed = first_stdout_failure(); failed.code)
    report(run.outcome, "cannot write to standard output: " + reason(failed));
  return !run.outcome.failed;
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
  return passed ? 0 : 1;
}

}  // namespace brevlith
