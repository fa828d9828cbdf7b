#include "tool/command_line.h"

#include "console/command_tail.h"
#include "text/strings.h"

namespace brevlith {
namespace {

// The blank-separated words of the tail, a quoted stretch staying whole.
std::vector<std::string> tail_words(std::u16string_view tail) {
  std::vector<std::string> words;
  Wide word;
  bool quoted = false, any = false;
  for (const char16_t unit : tail) {
    if (unit == u'"') quoted = !quoted;
    if (!quoted && (unit == u' ' || unit == u'\t')) {
      if (any) words.push_back(to_text(word));
      word.clear();
      any = false;
      continue;
    }
    word += unit;
    any = true;
  }
  if (any) words.push_back(to_text(word));
  return words;
}

// Where the host hands over a raw command line: the words of the text
// before the first "/", each a name to walk when there are two or more. A
// quoted stretch is one name, its quotes dropped (no file name holds one).
std::vector<std::string> raw_line_names(const Wide& tail) {
  std::vector<std::string> names;
  for (std::string word : tail_words(parse_field(tail, Wide(u"/"), 1))) {
    std::erase(word, '"');
    while (!word.empty() && word.back() == ' ') word.pop_back();
    while (!word.empty() && word.front() == ' ') word.erase(0, 1);
    if (!word.empty()) names.push_back(std::move(word));
  }
  if (names.size() < 2) names.clear();
  return names;
}

Request request_of(const std::vector<Word>& words) {
  if (words.size() != 1) return Request::run;
  const std::string& w = words[0].text;
  if (w == "--version") return Request::version;
  const bool help = w == "--help" || w == "-h" || w == "/?" || (host::windows_names && w == "-?");
  return help ? Request::help : Request::run;
}

}  // namespace

CommandLine parse_command_line(std::u16string_view tail_view,
                               const std::vector<host::Text>& arguments) {
  CommandLine line;
  const Wide tail(tail_view);
  const Wide quote_blank = u"\" ";
  line.mailbox_pattern = to_text(
      trim_right_any(trim_left_any(parse_field(tail, Wide(u"/"), 1), quote_blank), quote_blank),
      &line.pattern_replaced);
  line.search_term =
      to_text(trim_right(trim_left(parse_field(tail, Wide(u"/s="), 2))), &line.term_replaced);

  const bool split = !arguments.empty();
  bool past_options = false, searching = false;
  for (const std::string& text : split ? arguments : tail_words(tail)) {
    Word word{text, WordKind::name};
    if (word.text.starts_with("/s=")) {
      word.kind = searching ? WordKind::second_search : WordKind::search_option;
      searching = true;
    } else if (word.text == "/i" && !searching) {
      word.kind = WordKind::index_option;
    } else if (word.text == "/r" && !searching) {
      word.kind = WordKind::recurse_option;
    } else if (is_option_argument(word.text)) {
      word.kind = WordKind::not_an_option;
    } else if (past_options) {
      word.kind = WordKind::text;
    }
    past_options = past_options || word.kind != WordKind::name;
    // A /s= inside a word ("/s=/s=x", or '/s=a /s=b' quoted whole) is a
    // later one as much as a word of its own is.
    for (size_t at; searching && (at = word.text.find("/s=", 1)) != std::string::npos;) {
      const size_t end = word.text.find_last_not_of(" \t", at - 1);
      line.words.push_back({word.text.substr(0, end + 1), word.kind});
      word = {word.text.substr(at), WordKind::second_search};
    }
    line.words.push_back(std::move(word));
  }
  line.names = split ? leading_arguments(arguments) : raw_line_names(tail);
  line.request = request_of(line.words);
  return line;
}

}  // namespace brevlith
