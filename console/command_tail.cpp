#include "console/command_tail.h"

namespace brevlith {
namespace {

host::Wide located_tail;

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

host::Wide skip_program_name(std::u16string_view line) {
  size_t pos = 0;
  const auto skip_blanks = [&] {
    while (pos < line.size() && line[pos] == u' ') ++pos;
  };
  if (line.empty()) return {};
  if (line[0] == u'"') {
    const size_t close = line.find(u'"', 1);
    if (close == line.npos) return {};
    pos = close + 1;
    skip_blanks();
  } else if (line[0] == u' ') {
    skip_blanks();
  } else {
    while (pos < line.size() && line[pos] > u' ') ++pos;
    if (pos < line.size() && line[pos] == u' ') skip_blanks();
  }
  return host::Wide(line.substr(pos));
}

bool is_option_argument(std::string_view a) {
  return a.size() >= 2 && a[0] == '/' && is_ascii_letter(a[1]) && (a.size() == 2 || a[2] == '=');
}

std::vector<host::Text> leading_arguments(const std::vector<host::Text>& arguments) {
  std::vector<host::Text> leading;
  for (const host::Text& a : arguments) {
    if (is_option_argument(a)) break;
    host::Text converted = a;
    for (char& c : converted)
      if (c == '/') c = '\\';
    leading.push_back(std::move(converted));
  }
  return leading;
}

host::Wide rebuild_tail(const std::vector<host::Text>& arguments) {
  const std::vector<host::Text> leading = leading_arguments(arguments);
  host::Text joined;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined += ' ';
    joined += i < leading.size() ? leading[i] : arguments[i];
  }
  return host::multi_byte_to_wide_char(joined);
}

void locate_command_tail() {
  host::Wide line;
  located_tail =
      host::command_line(line) ? skip_program_name(line) : rebuild_tail(host::arguments());
}

const host::Wide& command_tail() { return located_tail; }

}  // namespace brevlith
