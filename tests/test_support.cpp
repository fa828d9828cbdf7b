// The shared test helpers that read the same on every host; the rest are
// in posix/ and win32/.
#include "tests/test_support.h"

#include <algorithm>

#include "console/process.h"
#include "host/host.h"
#include "host/utf8.h"
#include "text/encodings.h"

namespace brevlith::testing {

std::string host_stderr(const std::string& linux_text) {
  if (!windows_host()) return linux_text;
  std::string out;
  for (size_t i = 0; i < linux_text.size(); ++i) {
    if (linux_text[i] == '\n') out += '\r';
    out += linux_text[i];
    if (linux_text.compare(i + 1, 15, "brevlithoutput/") == 0) {
      out += "brevlithoutput\\";
      i += 15;
    }
  }
  return out;
}

void init_test_process() {
  ProcessValues& p = process_values();
  p.stdin_handle = host::get_std_handle(host::std_input);
  p.stdout_handle = host::get_std_handle(host::std_output);
  p.stderr_handle = p.screen_handle = host::get_std_handle(host::std_error);
}

std::string numbered_message(int i, size_t size, const std::string& word) {
  std::string m = "From ???@??? ";
  m.append(std::to_string(i)).append("\r\n").append(word).append(" ").append(std::to_string(i));
  if (m.size() + 3 < size) m.append(" ").append(size - m.size() - 3, 'x');
  return m.append("\r\n");
}

std::string numbered_mailbox(int from, int to) {
  std::string all;
  for (int i = from; i <= to; ++i) all += numbered_message(i);
  return all;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& p : parts) all += p;
  return all;
}

std::string with_commas(int n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(digits.begin() + i, ',');
  return digits;
}

std::string processing_line(const std::string& name) { return "Processing: " + name + "\r\n"; }
std::string processing(const std::string& name, const std::string& marks) {
  return processing_line(name) + marks + "\r\n";
}
std::string processing(const std::string& name, int n) {
  return processing(name, std::string(n - 1, '.') + with_commas(n));
}

std::vector<char> plain_hits(const std::string& message, const std::vector<std::string>& terms,
                             bool terms_utf8) {
  const Encoding e = message_encoding(message);
  std::array<char32_t, 128> high{};
  constexpr uint32_t numbers[encoding_count] = {65001, 1252, 28591, 28605, 437, 10000};
  if (e != Encoding::utf8) host::code_page_high_half(numbers[static_cast<size_t>(e)], high);
  const auto character = [&](unsigned char b) -> char32_t {
    return b < 0x80 || !high[b - 0x80] ? b : high[b - 0x80];
  };
  std::u32string text;
  for (size_t i = 0; i < message.size();) {
    const auto b = static_cast<unsigned char>(message[i]);
    const size_t n = b < 0x80 || e != Encoding::utf8 ? 1 : host::utf8_sequence_length(message, i);
    // A byte that is no character in UTF-8 matches no term's character.
    text += fold_character(n == 0  ? 0x110000 + b
                           : n > 1 ? term_characters(message.substr(i, n), TermText::utf8)[0]
                                   : character(b));
    i += n ? n : 1;
  }
  std::vector<char> hits;
  for (const std::string& term : terms) {
    std::u32string folded;
    bool writable = !term.empty();
    for (const char32_t c : term_characters(term, terms_utf8 ? TermText::utf8 : TermText::ansi)) {
      bool here = c < 0x80 || e == Encoding::utf8;
      for (int b = 0x80; b < 0x100 && !here; ++b)
        here = character(static_cast<unsigned char>(b)) == c;
      writable = writable && here;
      folded += fold_character(c);
    }
    hits.push_back(writable && text.find(folded) != text.npos);
  }
  return hits;
}

}  // namespace brevlith::testing
