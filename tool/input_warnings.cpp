#include "tool/input_warnings.h"

#include <cctype>
#include <unordered_map>

#include "files/directories.h"
#include "host/host.h"
#include "text/encodings.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

std::string grouped(uint64_t n) { return format_number(static_cast<double>(n), "0,"); }

// A term as typed: its backslashes are no folder separators.
std::string quoted(std::string_view text) {
  std::string q(1, '"');
  return q.append(shown_found_name(text)).append(1, '"');
}

// Two lines' terms, as "lines 3 and 7 (\"a\" and \"A\")".
std::string two_terms(const std::vector<std::string>& terms, size_t a, size_t b) {
  return "lines " + grouped(a + 1) + " and " + grouped(b + 1) + " (" + quoted(terms[a]) + " and " +
         quoted(terms[b]) + ")";
}

// Terms whose hits are written twice: the same file stem (on Windows also
// in another case), or the same once folded as the search folds them.
void warn_about_same_terms(Outcome& outcome, const std::string& file,
                           const std::vector<std::string>& terms) {
  std::unordered_map<std::string, size_t> stems, folded;
  const TermText text = text_of_terms(terms, true);
  for (size_t i = 0; i < terms.size(); ++i) {
    if (terms[i].empty()) continue;  // an empty term writes numbered files
    std::string stem = file_stem(terms[i]);
    if constexpr (host::windows_names) stem = fold_lower(stem);
    const auto [same_stem, new_stem] = stems.try_emplace(stem, i);
    if (!new_stem) {
      warn(outcome, "same term mailbox", file,
           shown_name(file) + ": the terms on " + two_terms(terms, same_stem->second, i) +
               " both go to the term mailbox " + shown_name(file_stem(terms[i])) +
               ".mbx, so each message that holds them is written there once for each; keep "
               "one of them");
      return;
    }
    const auto [same_fold, new_fold] = folded.try_emplace(folded_key(terms[i], text), i);
    if (!new_fold) {
      warn(outcome, "same term mailbox", file,
           shown_name(file) + ": the terms on " + two_terms(terms, same_fold->second, i) +
               " are the same once folded to small letters, so each message that holds one "
               "is written to both " +
               shown_name(file_stem(terms[same_fold->second])) + ".mbx and " +
               shown_name(file_stem(terms[i])) + ".mbx; keep one of them");
      return;
    }
  }
}

// The term without the double quotes at its ends that were probably meant
// as quoting, blanks trimmed; "" when it has none, or nothing inside them.
// `end_alone`: a quote at the end alone counts too.
std::string unquoted(std::string_view term, bool end_alone) {
  if (term.size() < 2 || term.back() != '"' || (!end_alone && term.front() != '"')) return {};
  term.remove_suffix(1);
  if (term.front() == '"') term.remove_prefix(1);
  const size_t first = term.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(term.substr(first, term.find_last_not_of(' ') + 1 - first));
}

// A term-file line in double quotes, as a spreadsheet saves a cell.
void warn_if_line_quoted(Outcome& outcome, const std::string& file, const std::string& term,
                         size_t line) {
  const std::string inside = unquoted(term, false);
  if (inside.empty()) return;
  warn(outcome, "quoted term", file,
       shown_name(file) + ": the term on line " + grouped(line + 1) + ", " + shown_name(term) +
           ", keeps its double quotes, which must match too; to search for " + shown_name(inside) +
           ", remove them");
}

}  // namespace

void warn_if_term_quoted(Outcome& outcome, const std::string& term) {
  const std::string inside = unquoted(term, true);
  if (inside.empty()) return;
  // Windows hands over the command line as typed: a blank inside the term
  // needs no quotes there. A POSIX shell needs them round the whole option.
  const std::string typed = host::windows_names ? "/s=" + shown_name(inside) + " without quotes"
                            : inside.find('\'') == std::string::npos
                                ? "'/s=" + shown_name(inside) + "'"
                                : "\"/s=" + shown_name(inside) + "\"";
  warn(outcome, "quoted term", term,
       "the search term " + shown_name(term) +
           (term.front() == '"' ? " keeps its double quotes, which"
                                : " ends in a double quote, which") +
           " must match too; to search for " + shown_name(inside) + ", type " + typed);
}

void warn_about_terms(Outcome& outcome, const std::string& file,
                      const std::vector<std::string>& terms) {
  const std::string name = shown_name(file);
  if (terms.empty()) {
    warn(outcome, "empty term file", file,
         name + " is empty, so it gives no term and its name " + quoted(file) +
             " is searched for as text; write one term on each line of it");
    return;
  }
  const std::string& first = terms.front();
  if (first.starts_with("\xFF\xFE") || first.starts_with("\xFE\xFF")) {
    warn(outcome, "encoding", file,
         name +
             " is saved as UTF-16 (Unicode), so every term holds NUL bytes and none "
             "matches; save it as ANSI or as UTF-8 without a byte order mark");
    return;
  }
  if (first.starts_with("\xEF\xBB\xBF"))
    warn(outcome, "encoding", file,
         name +
             " begins with a UTF-8 byte order mark, which sticks to the term on line 1, so "
             "that term never matches; save it as ANSI or as UTF-8 without a byte order mark");
  for (const std::string& term : terms) {
    if (term.find('\0') == std::string::npos) continue;
    warn(outcome, "not text", file,
         "the file " + name +
             " was read as a term file, since a file of that name is here, but "
             "it is not text (it holds NUL bytes): its " +
             grouped(terms.size()) + " lines were searched for as terms; to search for the word " +
             quoted(file) + ", run where no file of that name is");
    return;
  }
  for (size_t i = 0; i < terms.size(); ++i) {
    const std::string& term = terms[i];
    warn_if_line_quoted(outcome, file, term, i);
    if (term.empty())
      warn(outcome, "empty term", file,
           name + ": line " + grouped(i + 1) +
               " is empty, and an empty term writes every message as a numbered .txt file "
               "too; remove the empty line");
    else if (std::string_view(" \t").find(term.front()) != std::string_view::npos ||
             std::string_view(" \t").find(term.back()) != std::string_view::npos)
      warn(outcome, "blank ends", file,
           name + ": the term on line " + grouped(i + 1) + ", " + quoted(term) +
               ", has blanks or tabs at its start or end, which must match too; remove them");
  }
  warn_about_same_terms(outcome, file, terms);
}

void warn_about_option_words(Outcome& outcome, const std::vector<Word>& words) {
  bool searching = false;
  for (const auto& [word, kind] : words) {
    if (kind == WordKind::second_search) {
      warn(outcome, "second /s=", word,
           "only the first /s= is used: " + shown_name(word) +
               " and what follows it were ignored; " + std::string(usage_line));
    } else if (kind == WordKind::not_an_option) {
      const bool near_miss = word[1] == 's' || word[1] == 'S';
      warn(outcome, "not an option", word,
           shown_name(word) + " is not an option" +
               (searching ? ", and is read as part of the search term" : ", and was ignored") +
               (near_miss ? " (a search term is given as /s=term)" : "") + "; " +
               std::string(usage_line));
    }
    searching = searching || kind == WordKind::search_option;
  }
}

bool is_stray_dash_word(Outcome& outcome, const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return false;
  if (entry_exists(word)) return false;
  warn(outcome, "dash word", word,
       shown_name(word) +
           " is not an option and names no file, so it was not taken for a mailbox; " +
           std::string(usage_line));
  return true;
}

void warn_read_as_lf_ended(Outcome& outcome, const std::string& file, bool term_file) {
  const std::string lines = term_file ? "term" : "line";
  warn(outcome, "lone line feeds", file,
       shown_name(file) + ": its first line ends in LF alone, so it was read as LF-ended: LF or " +
           "CR LF ends each " + lines + ", a lone CR does not" +
           (term_file ? "" : ", and every line is written with CR LF") + "; if a lone CR was " +
           "meant to end a " + lines + " too, give the file one kind of line end");
}

void warn_if_ctrl_z_inside(Outcome& outcome, const std::string& file, uint64_t offset, int64_t size,
                           int32_t message) {
  if (size < 0 || offset + 1 >= static_cast<uint64_t>(size)) return;  // the old end-of-file mark
  warn(outcome, "ctrl-z", file,
       shown_name(file) + ": a Ctrl-Z byte (0x1A) at offset " + grouped(offset) + ", in message " +
           grouped(static_cast<uint64_t>(message)) + ", ends the mailbox; the " +
           grouped(static_cast<uint64_t>(size) - offset - 1) +
           " bytes after it were not read. Remove the byte to split the rest (e.g. tr -d '\\032')");
}

void warn_if_term_looks_like_a_file(Outcome& outcome, const std::string& term) {
  ErrorScope scope;  // a failed look-up only means that nothing is there
  const uint32_t attributes = entry_attributes(term);
  // A folder is no file, as the warning below says; anything else at the
  // name is there but not read, which "no file exists" would hide.
  if (attributes != ATTR_INVALID && !(attributes & ATTR_DIRECTORY)) {
    std::string what = " is not a regular file (a FIFO, socket or device)";
    if (attributes & ATTR_SYSTEM) {
      if (host::windows_names) what = " is a system file";
    } else if (attributes & ATTR_HIDDEN) {
      what = " is a hidden file";
    }
    warn(outcome, "term like a file", term,
         shown_name(term) + what + ", so it was not read as a term file and " + quoted(term) +
             " is searched for as text; to search for the lines of a file, name a regular, visible "
             "one");
    return;
  }
  const size_t dot = term.find_last_of('.');
  bool extension = dot != std::string::npos && dot + 1 < term.size() && term.size() - dot - 1 <= 4;
  for (size_t i = dot + 1; extension && i < term.size(); ++i)
    extension = std::isalnum(static_cast<unsigned char>(term[i])) != 0;
  const bool path =
      term.find_first_of("/\\") != std::string::npos && term.find(' ') == std::string::npos;
  if (!extension && !path) return;
  warn(outcome, "term like a file", term,
       "no file " + shown_name(term) + " exists, so " + quoted(term) +
           " is searched for as text; if it was meant as a term file, check its name");
}

}  // namespace brevlith
