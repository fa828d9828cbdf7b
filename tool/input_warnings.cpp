#include "tool/input_warnings.h"

#include <cctype>

#include "files/directories.h"
#include "text/numbers.h"
#include "text/strings.h"

namespace brevlith {
namespace {

std::string grouped(uint64_t n) { return format_number(static_cast<double>(n), "0,"); }

}  // namespace

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

void warn_if_lone_line_feeds(Outcome& outcome, const std::string& file, bool term_file,
                             std::string_view line, uint64_t consumed) {
  if (line.size() != consumed || line.find('\n') == std::string_view::npos ||
      line.find('\r') != std::string_view::npos)
    return;
  warn(outcome, "lone line feeds", file,
       shown_name(file) +
           ": its lines end in LF alone, and only CR or CR LF ends a line here, so " +
           (term_file ? "it is one term of " + grouped(line.size()) + " bytes"
                      : std::string("it is one line and one message")) +
           "; convert it to CR LF line ends (e.g. unix2dos " + shown_name(file) + ")");
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
  const size_t dot = term.find_last_of('.');
  bool extension = dot != std::string::npos && dot + 1 < term.size() && term.size() - dot - 1 <= 4;
  for (size_t i = dot + 1; extension && i < term.size(); ++i)
    extension = std::isalnum(static_cast<unsigned char>(term[i])) != 0;
  const bool path =
      term.find_first_of("/\\") != std::string::npos && term.find(' ') == std::string::npos;
  if (!extension && !path) return;
  warn(outcome, "term like a file", term,
       "no file " + shown_name(term) + " exists, so \"" + shown_name(term) +
           "\" is searched for as text; if it was meant as a term file, check its name");
}

}  // namespace brevlith
