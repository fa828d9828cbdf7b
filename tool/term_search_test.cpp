#include "tool/term_search.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "text/encodings.h"

namespace brevlith {
namespace {

std::vector<char> naive(const std::vector<std::string>& terms, const std::string& message) {
  return testing::plain_hits(message, terms, text_of_terms(terms, true) == TermText::utf8);
}

// Each of A-Z in the text turned to its capital.
std::string in_capitals(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  return text;
}

std::string shown(const std::vector<std::string>& terms) {
  std::string out;
  for (const std::string& t : terms) out += ::testing::PrintToString(t) + " ";
  return out;
}

void expect_like_naive(TermSearch& search, const std::vector<std::string>& terms,
                       const std::string& message) {
  const std::vector<char>& got = search.search(message);
  const std::vector<char> want = naive(terms, message);
  ASSERT_EQ(got, want) << "terms " << shown(terms) << "\nmessage "
                       << ::testing::PrintToString(message);
  std::vector<uint32_t> selected;
  for (uint32_t i = 0; i < terms.size(); ++i)
    if (want[i] || terms[i].empty()) selected.push_back(i);
  ASSERT_EQ(search.selected(), selected) << "terms " << shown(terms);
}

TEST(TermSearch, WorkedCases) {
  using V = std::vector<std::string>;
  using H = std::vector<char>;
  const std::string nul("a\0b", 3);
  const struct {
    V terms;
    std::string message;
    H hits;
  } rows[] = {
      {{"invoice"}, "An INVOICE for you", {1}},
      {{"Invoice", "INVOICE"}, "invoice", {1, 1}},  // a term is folded like the message
      {{"he", "she", "his", "hers"}, "ushers", {1, 1, 0, 1}},
      {{"abc", "bc", "c", "abcd"}, "xabcx", {1, 1, 1, 0}},
      {{"", "x"}, "x", {0, 1}},
      {{"x", "x", "y"}, "yx", {1, 1, 1}},  // equal terms each count
      {{nul, "b"}, std::string("A\0B", 3), {1, 1}},
      // Not UTF-8 and no charset: Windows-1252, where 0x80 is the euro sign.
      {{"\x87", "\x80"}, "\x80", {0, 1}},
      {{"\xe2\x82\xac"}, "\x80", {1}},
      {{"\xe0", "\xc0"}, "\xc0", {1, 1}},
      {{"m\xc3\xbcller", "M\xc3\xbcller"}, "M\xc3\x9cLLER", {1, 1}},  // UTF-8
      {{"m\xc3\xbcller", "invoice"}, "M\xdcLLER INVOICE", {1, 1}},    // Latin-1
      {{"m\xfcller"}, "M\xc3\x9cLLER", {1}},  // a Latin-1 term, found in UTF-8
      {{"m\xc3\xbcller"}, "Content-Type: text/plain; charset=IBM437\r\n\r\nM\x9aLLER", {1}},
      {{"m\xc3\xbcller"},
       "Content-type: text/plain;\r\n\tcharset=\"macintosh\"\r\n\r\nM\x86LLER",
       {1}},
      {{"m\xc3\xbcller"}, "Content-Type: text/plain; charset=iso-8859-1\r\n\r\nM\xc3\x9cLLER", {0}},
      {{"sp\xc3\xa4r"}, "sp\xc3\xa5r", {0}},  // no byte of a character folds alone
      {{"is"}, "i\xc5\xbf", {0}},             // long s is no s: ASCII terms find what they did
      {{"\xcf\x83\xce\xbf\xcf\x86\xce\xaf\xce\xb1"},
       "\xce\xa3\xce\x9f\xce\xa6\xce\x8a\xce\x91",
       {1}},
      {{"\xd0\xbf\xd1\x80\xd0\xb8"}, "\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92", {1}},
      {{"long term"}, "long ter", {0}},
      {{"a", "b"}, "", {0, 0}},
      {{"From ???@???", "from ???@???"}, "From ???@??? Mon\r\n", {1, 1}},
  };
  for (const auto& row : rows) {
    TermSearch search(row.terms, text_of_terms(row.terms, true));
    EXPECT_EQ(search.search(row.message), row.hits)
        << shown(row.terms) << ::testing::PrintToString(row.message);
    EXPECT_EQ(search.search(row.message), naive(row.terms, row.message));
  }
}

// A folded letter folds no further, and stays a two-byte UTF-8 character,
// so that a folded message keeps every offset.
TEST(TermSearch, FoldedLettersAreSmallAndKeepTheirLength) {
  for (uint32_t c = 0x80; c < 0x800; ++c) {
    const uint32_t f = fold_character(c);
    EXPECT_EQ(fold_character(f), f) << std::hex << c;
    EXPECT_TRUE(f >= 0x80 && f < 0x800) << std::hex << c;
  }
}

TEST(TermSearch, TheSameSearcherServesMessageAfterMessage) {
  const std::vector<std::string> terms = {"alpha", "beta", "gamma"};
  TermSearch search(terms, TermText::utf8);
  EXPECT_EQ(search.search("ALPHA gamma"), (std::vector<char>{1, 0, 1}));
  EXPECT_EQ(search.search("beta"), (std::vector<char>{0, 1, 0}));
  EXPECT_EQ(search.search("nothing"), (std::vector<char>{0, 0, 0}));
}

// Random texts over a small alphabet, so that terms overlap, nest and
// repeat; lengths cross the sizes at which the search splits the text.
TEST(TermSearch, AgreesWithThePlainReadingOnRandomInput) {
  // Letters in UTF-8 and in one-byte code pages, and heads that name one.
  const std::vector<std::string> alphabet = {
      "a",        "b",    "A",    "B",    "\xc3\xa4", "\xc3\x84", "\xce\xa3",           "\xcf\x83",
      "\xcf\x82", "\xc4", "\xe4", "\x80", "\x9a",     "\r\n",     std::string(1, '\0'), " "};
  const std::string heads[] = {"", "", "Content-Type: text/plain; charset=ibm437\r\n\r\n",
                               "Content-Type: text/plain; charset=macintosh\r\n\r\n",
                               "Content-Type: text/plain; charset=utf-8\r\n\r\n"};
  std::mt19937 rng(20240101);
  const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const auto text = [&](size_t pieces, size_t choices) {
    std::string t;
    for (size_t k = 0; k < pieces; ++k) t += alphabet[pick(choices)];
    return t;
  };
  for (int round = 0; round < 300; ++round) {
    // A third of the rounds keep to ASCII, the path that must stay as it was.
    const size_t choices = round % 3 == 1 ? 4 : alphabet.size();
    std::vector<std::string> terms(1 + pick(round % 3 == 0 ? 2 : 40));
    for (std::string& t : terms) t = text(pick(7), choices);
    if (round % 7 == 0) terms.push_back(std::string(200 + pick(300), 'a'));  // a long overlap
    TermSearch search(terms, text_of_terms(terms, true));
    for (int m = 0; m < 8; ++m) {
      const std::string message = heads[pick(5)] + text(pick(m < 4 ? 200 : 9000), choices);
      expect_like_naive(search, terms, message);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

// Enough different terms over a wide alphabet that only the states near the
// root get a full row, the rest their own edges.
TEST(TermSearch, ManyTermsOverManyBytes) {
  std::mt19937 rng(7);
  std::vector<std::string> terms(4000);
  for (std::string& t : terms) {
    t.resize(3 + rng() % 5);
    for (char& c : t) c = static_cast<char>(ascii_fold[rng() % 256]);
  }
  TermSearch search(terms, TermText::ansi);
  for (int m = 0; m < 40; ++m) {
    std::string message;
    while (message.size() < 6000) {
      const std::string& t = terms[rng() % terms.size()];
      message += rng() % 2 ? t : in_capitals(t);
      message += t.substr(0, rng() % t.size());
      message += static_cast<char>(rng() % 256);
    }
    expect_like_naive(search, terms, message);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace brevlith
