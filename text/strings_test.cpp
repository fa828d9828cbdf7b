#include "text/strings.h"

#include <gtest/gtest.h>

#include <string_view>

#include "console/error_status.h"

namespace brevlith {
namespace {

// The same cases run on bytes and on UTF-16 units: each byte of `s` becomes
// one element of the same (unsigned) value.
template <class S>
S make(std::string_view s) {
  S out;
  for (char c : s)
    out.push_back(static_cast<typename S::value_type>(static_cast<unsigned char>(c)));
  return out;
}

template <class S>
class StringOperations : public ::testing::Test {};
using Kinds = ::testing::Types<Text, Wide>;
TYPED_TEST_SUITE(StringOperations, Kinds);

TYPED_TEST(StringOperations, ParseFieldCountsOccurrencesFromEitherEnd) {
  using S = TypeParam;
  const struct {
    std::string_view source, delimiter;
    int32_t index;
    std::string_view field;
  } rows[] = {
      {"abc/def/ghi", "/", 1, "abc"},
      {"abc/def/ghi", "/", 2, "def"},
      {"abc/def/ghi", "/", 3, "ghi"},
      {"abc/def/ghi", "/", 4, ""},
      {"abc/def/ghi", "/", 0, ""},
      {"abc/def/ghi", "/", -1, "ghi"},
      {"abc/def/ghi", "/", -3, "abc"},
      {"abc/def/ghi", "/", -4, ""},
      {"abc/def/ghi", "/", INT32_MIN, ""},
      {"abc/def/ghi", "/", INT32_MAX, ""},
      {"/x", "/", 1, ""},
      {"/x", "/", 2, "x"},
      {"a//b", "/", 2, ""},
      {"a//b", "/", 3, "b"},
      {"abc", "/", 1, "abc"},
      {"abc", "/", 2, ""},
      {"abc", "/", -1, "abc"},
      {"abc/", "/", -1, ""},
      {"", "/", 1, ""},
      {"", "/", -1, ""},
      {"in.mbx /s=term", "/s=", 2, "term"},
      {"in.mbx /s=term", "/s=", 1, "in.mbx "},
      {"in.mbx /S=term", "/s=", 2, ""},
      {"in.mbx /S=term", "/s=", 1, "in.mbx /S=term"},
      {"a/s=b/s=c", "/s=", 2, "b"},
      {"a/s=b/s=c", "/s=", -1, "c"},
      {"in.mbx /s=", "/s=", 2, ""},
      {"ab", "abc", 1, "ab"},  // a delimiter longer than the source never matches
      {"aaaa", "aa", 2, ""},   // occurrences never overlap: a a|a a -> "", "", ""
      {"aaaa", "aa", 3, ""},
      {"aaaa", "aa", 4, ""},
      {"aaaxaa", "aa", 2, "ax"},
      {std::string_view("a\0b\0c", 5), std::string_view("\0", 1), 3, "c"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(parse_field(make<S>(r.source), make<S>(r.delimiter), r.index), make<S>(r.field))
        << '"' << r.source << "\" / \"" << r.delimiter << "\" #" << r.index;
  }
}

TYPED_TEST(StringOperations, FindForwardAndBackwardWithOverlaps) {
  using S = TypeParam;
  const struct {
    int32_t start;
    std::string_view source, pattern;
    int32_t position;
  } rows[] = {
      {1, "aaaa", "aa", 1},
      {2, "aaaa", "aa", 2},
      {3, "aaaa", "aa", 3},
      {4, "aaaa", "aa", 0},  // would run past the end
      {-1, "aaaa", "aa", 3},
      {-2, "aaaa", "aa", 2},
      {-4, "aaaa", "aa", 0},  // window "a" is shorter than the pattern
      {1, "a.b.c", ".", 2},
      {-1, "a.b.c", ".", 4},
      {-1, ".mbx", ".", 1},
      {-1, "x.tar.gz", ".", 6},
      {1, "abcabc", "abc", 1},
      {2, "abcabc", "abc", 4},
      {3, "abcabc", "abc", 4},
      {4, "abcabc", "abc", 4},
      {5, "abcabc", "abc", 0},
      {-1, "abcabc", "abc", 4},
      {-2, "abcabc", "abc", 1},
      {-3, "abcabc", "abc", 1},
      {-4, "abcabc", "abc", 1},
      {-5, "abcabc", "abc", 0},
      {7, "abcabc", "a", 0},  // start beyond the end
      {INT32_MAX, "abc", "a", 0},
      {INT32_MIN, "abc", "a", 0},
      {1, "Hello", "hello", 0},
      {0, "abc", "a", 0},
      {1, "abc", "abcd", 0},
      {-1, "abc", "abcd", 0},
      // The empty pattern: start itself forward, n + start + 1 backward.
      {1, "abc", "", 1},
      {3, "abc", "", 3},
      {9, "abc", "", 9},
      {-1, "abc", "", 3},
      {-3, "abc", "", 1},
      {-4, "abc", "", 0},
      {-5, "abc", "", 0},
      {0, "abc", "", 0},
      // Any find in the empty string is 0.
      {1, "", "", 0},
      {-1, "", "", 0},
      {1, "", "a", 0},
      {-1, "", "a", 0},
      {2, std::string_view("a\0b", 3), std::string_view("\0", 1), 2},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(find(r.start, make<S>(r.source), make<S>(r.pattern)), r.position)
        << '"' << r.pattern << "\" in \"" << r.source << "\" from " << r.start;
  }
}

TYPED_TEST(StringOperations, SubstringWithNegativeStartAndLength) {
  using S = TypeParam;
  const struct {
    std::string_view source;
    int32_t start, length;
    std::string_view result;
  } rows[] = {
      {"ab", 1, 12, "ab"},
      {"ab", 1, 0, ""},
      {"ab", 2, 0, ""},
      {"abcdef", 7, 1, ""},
      {"abcdef", 7, 100, ""},
      {"abcdef", 6, 5, "f"},
      {"abcdef", -2, 1, "e"},
      {"abcdef", -1, 100, "f"},
      {"abcdef", -6, 2, "ab"},
      {"abcdef", -7, 2, ""},  // n + start + 1 below 1
      {"abcdef", INT32_MIN, 2, ""},
      {"abcdef", 0, 3, ""},
      {"abcdef", 2, -1, "bcdef"},  // length n - 1
      {"abcdef", 2, -3, "bcd"},
      {"abcdef", 1, -6, ""},      // length 0
      {"abcdef", 3, -7, "cdef"},  // still negative: unlimited
      {"abcdef", 3, INT32_MIN, "cdef"},
      {"abcdef", 3, INT32_MAX, "cdef"},
      {"abcdef", INT32_MAX, INT32_MAX, ""},
      {"", 1, 1, ""},
      {"", -1, -1, ""},
      {"From ???@??? x", 1, 12, "From ???@???"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(substring(make<S>(r.source), r.start, r.length), make<S>(r.result))
        << '"' << r.source << "\" from " << r.start << " length " << r.length;
  }
}

TYPED_TEST(StringOperations, TrimsRemoveOnlySetMembersAtTheEnds) {
  using S = TypeParam;
  const S set = make<S>("\" ");
  const auto both = [&](std::string_view s) {
    return trim_right_any(trim_left_any(make<S>(s), set), set);
  };
  EXPECT_EQ(both("\"my box.mbx\" "), make<S>("my box.mbx"));
  EXPECT_EQ(both("  \"two words\"  "), make<S>("two words"));
  EXPECT_EQ(both("\" \""), make<S>(""));
  EXPECT_EQ(both("\t\"x\"\t"), make<S>("\t\"x\"\t"));
  EXPECT_EQ(both(" \" a \" b \" "), make<S>("a \" b"));
  EXPECT_EQ(trim_left_any(make<S>("\"\"x\""), set), make<S>("x\""));
  EXPECT_EQ(trim_right_any(make<S>("\"x\"\""), set), make<S>("\"x"));
  EXPECT_EQ(trim_left_any(make<S>(" x "), S{}), make<S>(" x "));
  EXPECT_EQ(trim_right_any(make<S>(" x "), S{}), make<S>(" x "));
  EXPECT_EQ(trim_left_any(S{}, set), S{});
  // Repeated members and a NUL member work like any other.
  const S nul_set = make<S>(std::string_view("\0\0a", 3));
  EXPECT_EQ(trim_left_any(make<S>(std::string_view("\0a\0b\0", 5)), nul_set),
            make<S>(std::string_view("b\0", 2)));

  EXPECT_EQ(trim_left(make<S>("  \" x \"  ")), make<S>("\" x \"  "));
  EXPECT_EQ(trim_right(make<S>("  \" x \"  ")), make<S>("  \" x \""));
  EXPECT_EQ(trim_left(make<S>("\t x")), make<S>("\t x"));
  EXPECT_EQ(trim_right(make<S>("x \r\n")), make<S>("x \r\n"));
  EXPECT_EQ(trim_right(make<S>("x\xA0")), make<S>("x\xA0"));
  EXPECT_EQ(trim_left(make<S>("   ")), S{});
}

TYPED_TEST(StringOperations, ReplaceAnyFirstIndexWinsAndNeverReplacesTwice) {
  using S = TypeParam;
  const S unsafe = make<S>("\\/:*?\"<>|"), hyphens = make<S>("---------");
  S stem = make<S>("a|b");
  replace_any(stem, unsafe, hyphens);
  EXPECT_EQ(stem, make<S>("a-b"));
  stem = make<S>("\\/:*?\"<>|x y.");
  replace_any(stem, unsafe, hyphens);
  EXPECT_EQ(stem, make<S>("---------x y."));

  S v = make<S>("aabbab");
  replace_any(v, make<S>("aab"), make<S>("xyz"));
  EXPECT_EQ(v, make<S>("xxzzxz"));
  v = make<S>("abc");  // a -> b -> c would chain if replaced twice
  replace_any(v, make<S>("ab"), make<S>("bc"));
  EXPECT_EQ(v, make<S>("bcc"));

  ErrorScope scope;
  v = make<S>("abc");
  replace_any(v, S{}, S{});
  EXPECT_EQ(v, make<S>("abc"));
  v = S{};
  replace_any(v, make<S>("a"), make<S>("b"));
  EXPECT_EQ(v, S{});
  EXPECT_EQ(scope.status().code, 0);
}

TYPED_TEST(StringOperations, ReplaceAnyWithUnequalSetsEmptiesAndRaises5) {
  using S = TypeParam;
  ErrorScope outer;
  {
    ErrorScope scope;
    S v = make<S>("abc");
    replace_any(v, make<S>("ab"), make<S>("x"));
    EXPECT_EQ(v, S{});
    EXPECT_EQ(scope.status().code, 5);
    S empty_sets = make<S>("abc");
    replace_any(empty_sets, S{}, make<S>("x"));
    EXPECT_EQ(empty_sets, S{});
  }
  EXPECT_EQ(outer.status().code, 0);
}

TYPED_TEST(StringOperations, ConcatKeepsEveryElement) {
  using S = TypeParam;
  EXPECT_EQ(concat(S{}, make<S>("cd")), make<S>("cd"));
  EXPECT_EQ(concat(make<S>("ab"), S{}), make<S>("ab"));
  EXPECT_EQ(concat(S{}, S{}), S{});
  EXPECT_EQ(concat(make<S>(std::string_view("a\0", 2)), make<S>(std::string_view("\0b", 2))),
            make<S>(std::string_view("a\0\0b", 4)));
}

TEST(FoldLower, OnlyCapitalsAToZChange) {
  int changed = 0;
  for (int b = 0; b < 256; ++b) {
    const Text folded = fold_lower(Text(1, static_cast<char>(b)));
    ASSERT_EQ(folded.size(), 1u);
    const int expected = b >= 'A' && b <= 'Z' ? b + 0x20 : b;
    EXPECT_EQ(static_cast<unsigned char>(folded[0]), expected) << "byte " << b;
    changed += expected != b;
  }
  EXPECT_EQ(changed, 26);
}

TEST(FoldLower, WholeStringsByteByByte) {
  EXPECT_EQ(fold_lower("ABC xyZ"), "abc xyz");
  EXPECT_EQ(fold_lower(""), "");
  const Text kept("\xC4\xD6\xDC\x80\xC3\x80\r\n\0", 9);
  EXPECT_EQ(fold_lower(kept), kept);
}

TEST(Conversions, EmptyInEmptyOut) {
  EXPECT_EQ(to_wide(""), Wide{});
  EXPECT_EQ(to_text(Wide{}), "");
  EXPECT_EQ(to_wide("a\\b"), u"a\\b");
  if (to_wide("\xC3\xA9") == u"\u00e9") {  // an ANSI code page of UTF-8 (Linux)
    EXPECT_EQ(to_text(u"\u00e9"), "\xC3\xA9");
  }
}

}  // namespace
}  // namespace brevlith
