// The fast paths (block-wise line copying, the one-pass term search) against
// a plain model of the tool on random mailboxes: line by line, message by
// message, term by term, folding and finding afresh each time. The files
// left behind and standard output must be the same to the byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "text/encodings.h"

namespace brevlith::testing {
namespace {

// Lines as the line reader gives them while the file is not at its end:
// 0x1A ends the file; when its first CR or LF is an LF, LF ends a line and a
// CR before it belongs to the end; else CR or CR LF ends a line, a lone LF
// is a byte.
std::vector<std::string> lines_of(const std::string& bytes) {
  const std::string data = bytes.substr(0, bytes.find('\x1a'));
  const size_t first_end = data.find_first_of("\r\n");
  const bool lf_ended = first_end != std::string::npos && data[first_end] == '\n';
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < data.size()) {
    std::string line;
    while (at < data.size() && data[at] != (lf_ended ? '\n' : '\r')) line += data[at++];
    if (lf_ended && at < data.size() && !line.empty() && line.back() == '\r') line.pop_back();
    if (at < data.size()) {
      ++at;
      if (!lf_ended && at < data.size() && data[at] == '\n') ++at;
    }
    lines.push_back(line);
  }
  return lines;
}

// Small letters for the generator's pieces of text and for Windows names.
std::string fold(const std::string& text) {
  std::string out;
  fold_utf8(text, out);
  return out;
}

struct Expected {
  std::string out;  // after the banner
  std::map<std::string, std::string> files;
};

// The tool as its description reads, for one mailbox in.mbx.
Expected model(const std::string& mailbox, const std::vector<std::string>& terms) {
  Expected e;
  e.out = created + processing_line("in.mbx");
  int number = 0;
  const bool utf8 = text_of_terms(terms, true) == TermText::utf8;
  const auto write_message = [&](const std::string& message, const std::string& term, bool hit) {
    if (!term.empty() && !hit) return;
    ++number;
    if (term.empty()) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%04d", number);
      e.files["in-" + std::string(digits) + ".txt"] = message;
      return;
    }
    std::string stem = term;
    for (char& c : stem)
      if (std::string("\\/:*?\"<>|").find(c) != std::string::npos) c = '-';
    std::string name = stem + ".mbx";
    // Windows names that differ only in case are one file, named as first made.
    for (const auto& made : e.files)
      if (windows_host() && fold(made.first) == fold(name)) name = made.first;
    // A name holding NUL cannot be opened: the hit counts, nothing is written.
    if (stem.find('\0') == std::string::npos) e.files[name] += "\r\n" + message;
    e.out += "X";
  };
  const auto flush = [&](const std::string& message) {
    const std::vector<char> hits = plain_hits(message, terms, utf8);
    for (size_t i = 0; i < terms.size(); ++i) write_message(message, terms[i], hits[i]);
  };
  const std::vector<std::string> lines = lines_of(mailbox);
  std::string message = (lines.empty() ? "" : lines[0]) + "\r\n";
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].substr(0, 12) == "From ???@???") {
      flush(message);
      e.out += ".";
      message = lines[i] + "\r\n";
    } else {
      message += lines[i] + "\r\n";
    }
  }
  flush(message);
  e.out += with_commas(number);
  e.out += "\r\n";
  return e;
}

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}
  size_t below(size_t n) { return static_cast<size_t>(rng_() % n); }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

  std::string word() {
    using namespace std::string_literals;
    static const std::vector<std::string> words = {
        "invoice"s, "Invoice"s, "INVOICE"s,  "meeting"s,  "From"s,  "from"s,
        "F"s,       "Fr"s,      "ab"s,       "aba"s,      "abab"s,  "b"s,
        "caf\x80"s, "caf\x87"s, "\xa5\xa4"s, "\x9a\x81"s, "x\x8e"s, "\x99"s,
        "zq"s,      "a b"s,     "n\0l"s,     "\t"s,       "r\nl"s,  "M\xc3\x9cLLER \xce\xa3"s};
    return words[below(words.size())];
  }

  std::string line() {
    const size_t kind = below(100);
    if (kind < 8) return "From ???@??? Mon Jan 01 00:00:00 2024";
    if (kind < 10) return "From ???@???";
    if (kind < 12) return std::string(1, ' ') + "From ???@???";
    if (kind < 14) return "From ???@??";
    if (kind < 16) return "from ???@??? x";
    if (kind < 20) return "";
    std::string text;
    // Lengths around the 128-byte block and well past it.
    const size_t target = chance(20) ? 100 + below(300) : below(90);
    while (text.size() < target) {
      text += word();
      if (chance(70)) text += ' ';
      if (chance(3)) text += static_cast<char>(below(256));
    }
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '\x1a'), text.end());
    return text;
  }

  std::string line_end() {
    const size_t kind = below(100);
    return kind < 80 ? "\r\n" : kind < 90 ? "\r" : kind < 95 ? "\r\r\n" : "\n";
  }

  std::string mailbox() {
    std::string box;
    const size_t lines = below(4) == 0 ? below(5) : below(400);
    for (size_t i = 0; i < lines; ++i) box += line() + line_end();
    if (chance(30)) box += line();  // no line end at the end
    if (chance(8)) box.append("\x1a").append(line()).append("\r\n");
    return box;
  }

  std::vector<std::string> terms(const std::string& mailbox) {
    std::vector<std::string> terms;
    const size_t count = 1 + below(chance(50) ? 3 : 40);
    const std::string folded = fold(mailbox);
    for (size_t i = 0; i < count; ++i) {
      const size_t kind = below(100);
      if (kind < 40 && folded.size() > 2) {
        // A piece of the text, so that it hits; sometimes left in its case.
        const std::string& from = chance(80) ? folded : mailbox;
        std::string piece = from.substr(below(from.size()), 1 + below(12));
        piece = piece.substr(0, piece.find_first_of("\r\x1a"));
        if (!piece.empty()) terms.push_back(piece);
      } else if (kind < 55 && !terms.empty()) {
        const std::string& other = terms[below(terms.size())];
        terms.push_back(other.substr(0, 1 + below(other.size() + 1)));  // a prefix, or the same
      } else if (kind < 60) {
        terms.emplace_back();
      } else {
        std::string w = fold(word());
        if (chance(30)) w = word();
        terms.push_back(w);
      }
    }
    return terms;
  }

 private:
  std::mt19937 rng_;
};

std::map<std::string, std::string> files_left() {
  std::map<std::string, std::string> files;
  for (const std::string& name : list_dir("brevlithoutput"))
    files[name] = read_file("brevlithoutput/" + name);
  return files;
}

// The Windows build names a term's mailbox through its ANSI code page, and
// no Windows name holds a control character: there such terms are left out.
// CrossHost.FoldTableThroughATermFile compares their records by content.
void keep_portable_terms(std::vector<std::string>& terms) {
  if (!windows_host()) return;
  std::erase_if(terms, [](const std::string& t) {
    return std::any_of(t.begin(), t.end(), [](char c) { return c < 32 || c > 126; });
  });
}

std::string term_file(const std::vector<std::string>& terms) {
  std::string text;
  for (const std::string& t : terms) text += t + "\r\n";
  return text;
}

TEST(SearchEquivalence, RandomMailboxesInEveryMode) {
  Generator gen(1);
  int term_files = 0;
  for (int round = 0; round < 60; ++round) {
    const std::string box = gen.mailbox();
    std::vector<std::string> terms = gen.terms(box);
    // Terms taken as the term file's line reader gives them back.
    terms = lines_of(term_file(terms));
    keep_portable_terms(terms);
    const std::string single = "invoice";
    const struct {
      std::vector<std::string> args;
      std::vector<std::string> terms;
    } modes[] = {
        {{"in.mbx"}, {""}},
        {{"in.mbx", "/s=" + single}, {single}},
        {{"in.mbx", "/s=terms.txt"}, terms},
    };
    for (const auto& mode : modes) {
      if (mode.terms.empty()) continue;  // an empty term file is no term list
      ScopedTempDir dir;
      write_file("in.mbx", box);
      write_file("terms.txt", term_file(terms));
      const Expected expected = model(box, mode.terms);
      const RunResult r = run_brevlith(mode.args);
      const std::string where = "round " + std::to_string(round) + " args " + mode.args.back() +
                                " terms " + ::testing::PrintToString(mode.terms);
      ASSERT_EQ(r.out, banner + expected.out) << where;
      ASSERT_EQ(files_left(), expected.files) << where;
      for (const auto& [name, bytes] : expected.files) term_files += name.ends_with(".mbx");
    }
  }
  EXPECT_GT(term_files, 150) << "the terms should hit";
}

// Messages long enough for the search to cut them into pieces, and terms
// long enough that the pieces must overlap to see them.
TEST(SearchEquivalence, LongMessagesAndLongTerms) {
  Generator gen(2);
  for (int round = 0; round < 12; ++round) {
    std::string box;
    std::vector<std::string> terms;
    for (int m = 0; m < 6; ++m) {
      std::string body;
      while (body.size() < 2000 + gen.below(20000)) body += gen.line() + "\r\n";
      const std::string folded = fold(body);
      const size_t at = gen.below(folded.size());
      std::string term = folded.substr(at, 20 + gen.below(200));
      term = term.substr(0, term.find_first_of("\r\x1a"));
      if (!term.empty()) terms.push_back(term);
      box += "From ???@??? Mon\r\n" + body;
    }
    keep_portable_terms(terms);
    terms.push_back("zq never there");
    ScopedTempDir dir;
    write_file("in.mbx", box);
    write_file("terms.txt", term_file(terms));
    const Expected expected = model(box, lines_of(term_file(terms)));
    const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
    ASSERT_EQ(r.out, banner + expected.out) << "round " << round;
    ASSERT_EQ(files_left(), expected.files) << "round " << round;
  }
}

}  // namespace
}  // namespace brevlith::testing
