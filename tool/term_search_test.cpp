#include "tool/term_search.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "text/strings.h"

namespace brevlith {
namespace {

// The plain reading: fold the message, then look for each term in turn.
std::vector<char> naive(const std::vector<std::string>& terms, const std::string& message) {
  const std::string folded = fold_lower(message, FoldMode::table_mode);
  std::vector<char> hits;
  for (const std::string& t : terms)
    hits.push_back(!t.empty() && folded.find(fold_lower(t, FoldMode::table_mode)) != folded.npos);
  return hits;
}

// Each byte that a capital folds to, turned back into that capital.
std::string in_capitals(std::string text) {
  static const auto capital = [] {
    std::array<unsigned char, 256> up{};
    for (int b = 0; b < 256; ++b) up[b] = static_cast<unsigned char>(b);
    for (int b = 0; b < 256; ++b)
      if (fold_table[b] != b) up[fold_table[b]] = static_cast<unsigned char>(b);
    return up;
  }();
  for (char& c : text) c = static_cast<char>(capital[static_cast<unsigned char>(c)]);
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
      {{"\x87", "\x80"}, "\x80", {1, 1}},  // 0x80 folds to 0x87, in the message and the term
      {{"\xa4", "\x94\x81"}, "\xa5\x99\x9a", {1, 1}},
      {{"\xc0"}, "\xc0", {1}},  // accented ANSI capitals stay as they are
      {{"long term"}, "long ter", {0}},
      {{"a", "b"}, "", {0, 0}},
      {{"From ???@???", "from ???@???"}, "From ???@??? Mon\r\n", {1, 1}},
  };
  for (const auto& row : rows) {
    TermSearch search(row.terms);
    EXPECT_EQ(search.search(row.message), row.hits)
        << shown(row.terms) << ::testing::PrintToString(row.message);
    EXPECT_EQ(search.search(row.message), naive(row.terms, row.message));
  }
}

TEST(TermSearch, TheSameSearcherServesMessageAfterMessage) {
  const std::vector<std::string> terms = {"alpha", "beta", "gamma"};
  TermSearch search(terms);
  EXPECT_EQ(search.search("ALPHA gamma"), (std::vector<char>{1, 0, 1}));
  EXPECT_EQ(search.search("beta"), (std::vector<char>{0, 1, 0}));
  EXPECT_EQ(search.search("nothing"), (std::vector<char>{0, 0, 0}));
}

// Random texts over a small alphabet, so that terms overlap, nest and
// repeat; lengths cross the sizes at which the search splits the text.
TEST(TermSearch, AgreesWithThePlainReadingOnRandomInput) {
  const std::string alphabet("abAB\x80\x87\x8e\x84\r\n\0 ", 12);
  std::mt19937 rng(20240101);
  const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> terms(1 + pick(round % 3 == 0 ? 2 : 40));
    for (std::string& t : terms) {
      t.resize(pick(7));
      for (char& c : t) c = alphabet[pick(alphabet.size())];
    }
    if (round % 7 == 0) terms.push_back(std::string(200 + pick(300), 'a'));  // a long overlap
    TermSearch search(terms);
    for (int m = 0; m < 8; ++m) {
      std::string message(pick(m < 4 ? 200 : 9000), ' ');
      for (char& c : message) c = alphabet[pick(alphabet.size())];
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
    for (char& c : t) c = static_cast<char>(fold_table[rng() % 256]);
  }
  TermSearch search(terms);
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
