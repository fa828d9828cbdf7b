#include "tool/main_procedure.h"

#include <algorithm>
#include <new>

#include "console/command_tail.h"
#include "console/output.h"
#include "files/directories.h"
#include "host/host.h"
#include "text/strings.h"
#include "tool/input_warnings.h"
#include "tool/mailbox_checks.h"
#include "tool/mailbox_walk.h"
#include "tool/term_loader.h"

namespace brevlith {
namespace {

// The searcher is built once for the whole run: for the term list, or for
// the single term; none in normal mode. False (reported) when it does not
// fit in memory: the run stops before any output is opened.
bool prepare_search(Run& run) {
  try {
    if (run.term_count > 0) {
      run.searcher = std::make_unique<TermSearch>(run.terms, text_of_terms(run.terms, true));
    } else if (!run.search_term.empty()) {
      const std::vector<std::string> term{run.search_term};
      run.searcher = std::make_unique<TermSearch>(term, text_of_terms(term, false));
    }
  } catch (const std::bad_alloc&) {
    run.searcher.reset();
    run.terms = {};
    if (run.term_count > 0)
      report_term_file_too_large(run.outcome, run.search_term);
    else
      report(run.outcome, "the search term is too large for memory");
    return false;
  }
  return true;
}

}  // namespace

void print_banner() {
  print_line("brevlith // by the brevlith developers // https://brevlith.example");
  print_line("create a gazillion text files with one email per file, from eudora mailbox(es)");
  print_line("--> " + std::string(usage_line));
  print_line("     *wildcards are ok in filename");
  print_line("     *optional search term means that only emails matching search will be output");
  print_line("     *if searchterm is a file it can be a list of terms, one per line");
  print_line("     *search is case INsensitive");
  print_line("     *in search mode, new mbx files are created, in normal mode txt files per email");
  print_line_end();
}

void read_command_line(Run& run, const CommandLine& line) {
  run.mailbox_pattern = line.mailbox_pattern;
  run.search_term = line.search_term;
  // The "?" put in for such a character is a wildcard: it would widen the
  // match, or a term every message holds.
  const std::string code_page =
      ": it cannot be written in the ANSI code page " + std::to_string(host::ansi_code_page());
  if (line.pattern_replaced)
    report(run.outcome,
           "cannot use the mailbox pattern " + shown_name(run.mailbox_pattern) + code_page);
  if (line.term_replaced)
    report(run.outcome, "cannot search for the term " + shown_name(run.search_term) + code_page);
  warn_about_option_words(run.outcome, line.words);
  std::vector<std::string> leading = line.names;
  // -h or --help names no file: it is no part of the mailbox's name either.
  if (std::erase_if(leading,
                    [&](const std::string& w) { return is_stray_dash_word(run.outcome, w); })) {
    std::string joined;
    for (const std::string& word : leading) joined.append(joined.empty() ? "" : " ").append(word);
    const Wide quote_blank = u"\" ";
    run.mailbox_pattern =
        to_text(trim_right_any(trim_left_any(to_wide(joined), quote_blank), quote_blank));
  }
  run.walks = mailbox_walks(run.mailbox_pattern, leading);
}

std::vector<Walk> mailbox_walks(const std::string& mailbox_pattern,
                                const std::vector<std::string>& leading) {
  // One word that names an existing entry is that file, byte for byte: the
  // shell handed it over exactly, so 'a.mbx ' is not trimmed to a.mbx.
  if (leading.size() == 1 && leading[0] != mailbox_pattern && entry_exists(leading[0]))
    return {{leading[0], true}};
  if (leading.size() < 2) return {{mailbox_pattern, false}};
  ErrorScope scope;  // looking is no failure: the walks report what they miss
  std::vector<Walk> walks;
  bool all_exist = true;
  for (const std::string& word : leading) {
    const bool exists = entry_exists(word);
    all_exist = all_exist && exists;
    // Windows looks each name up as a pattern, as it does a single name, so
    // that the file's own spelling is shown.
    walks.push_back({word, exists && !host::windows_names});
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
bool run_steps(Run& run, const CommandLine& line) try {
  print_banner();
  read_command_line(run, line);
  if (run.outcome.failed) return false;
  if (!load_terms(run)) return false;
  if (run.term_count == 0 && !run.search_term.empty())
    warn_if_term_quoted(run.outcome, run.search_term);
  if (!prepare_search(run)) return false;
  run.numbered_files = !run.searcher || std::find(run.terms.begin(), run.terms.end(),
                                                  std::string()) != run.terms.end();
  if (!prepare_output_directory(run) || !survey_output_folder(run)) return false;
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

// Help and version ask for nothing else: no folder is made, nothing is read.
int answer(Request request) {
  if (request == Request::help)
    print_banner();
  else  // the host's own line end: $(brevlith --version) is then just the text
    print_text(std::string("brevlith " BREVLITH_VERSION).append(host::diagnostic_line_end));
  if (const ErrorStatus failed = first_stdout_failure(); failed.code) {
    Outcome outcome;
    report(outcome, "cannot write to standard output: " + reason(failed));
    return 1;
  }
  return 0;
}

}  // namespace

int main_procedure() {
  ErrorScope scope;
  const CommandLine line =
      parse_command_line(command_tail(), run_system_call([] { return host::arguments(); }).result);
  if (line.request != Request::run) return answer(line.request);
  Run run;
  const bool passed = run_steps(run, line);
  // Exit code 1 alone would not say why: standard output's last line does.
  if (const ErrorStatus failed = first_stderr_failure(); failed.code)
    print_line("brevlith: cannot write to standard error: " + reason(failed) +
               "; this run's diagnostics are lost");
  if (run.stop_signal) return 128 + run.stop_signal;
  return passed ? 0 : 1;
}

}  // namespace brevlith
