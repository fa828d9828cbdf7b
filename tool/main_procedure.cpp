#include "tool/main_procedure.h"

#include <new>

#include "console/command_tail.h"
#include "console/output.h"
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
  const Wide tail = command_tail(0);
  const Wide quote_blank = u"\" ";
  run.mailbox_pattern = to_text(
      trim_right_any(trim_left_any(parse_field(tail, Wide(u"/"), 1), quote_blank), quote_blank));
  run.search_term = to_text(trim_right(trim_left(parse_field(tail, Wide(u"/s="), 2))));
  run.patterns = mailbox_patterns(run.mailbox_pattern, leading_arguments(host::arguments()));
  run.exact_names = run.patterns.size() > 1;  // only shell-expanded names come as several
}

std::vector<std::string> mailbox_patterns(const std::string& mailbox_pattern,
                                          const std::vector<std::string>& leading) {
  bool all_exist = leading.size() >= 2;
  for (size_t i = 0; all_exist && i < leading.size(); ++i)
    all_exist = host::get_file_attributes_w(to_wide(leading[i])) != host::invalid_file_attributes;
  return all_exist ? leading : std::vector<std::string>{mailbox_pattern};
}

int main_procedure() {
  ErrorScope scope;
  Run run;
  // Each place that can need much memory reports running out itself; this
  // is the last guard for the small allocations in between, so that no
  // bad_alloc ends the process without a word.
  try {
    print_banner();
    read_command_line(run);
    if (!load_terms(run)) return 1;
    if (!prepare_search(run)) return 1;
    if (!prepare_output_directory(run)) return 1;
    for (const std::string& pattern : run.patterns) {
      if (stopping(run, [&] {
            return "before " + shown_name(pattern) +
                   ": it and the mailboxes after it were not processed";
          }))
        break;
      if (run.exact_names)
        walk_exact_mailbox(run, pattern);
      else
        walk_mailboxes(run, pattern);
    }
  } catch (const std::bad_alloc&) {
    run.searcher.reset();
    run.terms = {};
    report(run.outcome, "not enough memory; the run stopped here");
    return 1;
  }
  report_unshown_failures(run.outcome);
  if (const ErrorStatus failed = first_stdout_failure(); failed.code)
    report(run.outcome, "cannot write to standard output: " + reason(failed));
  if (run.stop_signal) return 128 + run.stop_signal;
  return run.outcome.failed ? 1 : 0;
}

}  // namespace brevlith
