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

// The search is built once for the whole run, over the plan's terms. None
// (reported) when it does not fit in memory: the run stops before any
// output is opened.
std::unique_ptr<TermSearch> prepare_search(Plan& plan, Outcome& outcome) {
  try {
    return std::make_unique<TermSearch>(plan.terms, text_of_terms(plan.terms, plan.term_file));
  } catch (const std::bad_alloc&) {
    plan.terms = {};
    if (plan.term_file)
      report_term_file_too_large(outcome, plan.search_term);
    else
      report(outcome, "the search term is too large for memory");
    return nullptr;
  }
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

void read_command_line(Plan& plan, Outcome& outcome, const CommandLine& line) {
  plan.mailbox_pattern = line.mailbox_pattern;
  plan.search_term = line.search_term;
  // The "?" put in for such a character is a wildcard: it would widen the
  // match, or a term every message holds.
  const std::string code_page =
      ": it cannot be written in the ANSI code page " + std::to_string(host::ansi_code_page());
  if (line.pattern_replaced)
    report(outcome,
           "cannot use the mailbox pattern " + shown_name(plan.mailbox_pattern) + code_page);
  if (line.term_replaced)
    report(outcome, "cannot search for the term " + shown_name(plan.search_term) + code_page);
  warn_about_option_words(outcome, line.words);
  for (const Word& word : line.words) {
    plan.index = plan.index || word.kind == WordKind::index_option;
    plan.recurse = plan.recurse || word.kind == WordKind::recurse_option;
  }
  std::vector<std::string> leading = line.names;
  // -h or --help names no file: it is no part of the mailbox's name either.
  if (std::erase_if(leading,
                    [&](const std::string& w) { return is_stray_dash_word(outcome, w); })) {
    std::string joined;
    for (const std::string& word : leading) joined.append(joined.empty() ? "" : " ").append(word);
    const Wide quote_blank = u"\" ";
    plan.mailbox_pattern =
        to_text(trim_right_any(trim_left_any(to_wide(joined), quote_blank), quote_blank));
  }
  plan.walks = mailbox_walks(plan.mailbox_pattern, leading);
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
// without a word. What was asked is read once into the plan; the writer
// and the walk each own what they hold for the rest of the run.
bool run_steps(Outcome& outcome, const CommandLine& line) {
  Plan plan;
  std::unique_ptr<TermSearch> search;
  try {
    print_banner();
    read_command_line(plan, outcome, line);
    if (outcome.failed) return false;
    if (!load_terms(plan, outcome)) return false;
    if (!plan.term_file && plan.search_mode()) warn_if_term_quoted(outcome, plan.search_term);
    // A single term is a list of one; normal mode is the one empty term,
    // which selects every message for a numbered file.
    if (!plan.term_file) plan.terms = {plan.search_term};
    plan.numbered_files =
        std::find(plan.terms.begin(), plan.terms.end(), std::string()) != plan.terms.end();
    search = prepare_search(plan, outcome);
    if (!search) return false;
    MessageWriter writer(plan, outcome);
    if (!writer.prepare_output_folder() || !writer.survey_output_folder()) return false;
    MailboxWalk(plan, *search, writer, outcome).walk_all();
    report_unshown_failures(outcome);
    if (const ErrorStatus failed = first_stdout_failure(); failed.code)
      report(outcome, "cannot write to standard output: " + reason(failed));
    return !outcome.failed;
  } catch (const std::bad_alloc&) {
    search.reset();
    plan.terms = {};
    report(outcome, "not enough memory; the run stopped here");
    return false;
  }
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
  Outcome outcome;
  const bool passed = run_steps(outcome, line);
  // Exit code 1 alone would not say why: standard output's last line does.
  if (const ErrorStatus failed = first_stderr_failure(); failed.code)
    print_line("brevlith: cannot write to standard error: " + reason(failed) +
               "; this run's diagnostics are lost");
  if (outcome.stop_signal) return 128 + outcome.stop_signal;
  return passed ? 0 : 1;
}

}  // namespace brevlith
