#include "text/numbers.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace brevlith {
namespace {

TEST(NumberText, WholeNumbersHaveNoBlanksAndNoGrouping) {
  const struct {
    long double value;
    const char* text;
  } rows[] = {
      {0, "0"},
      {-0.0L, "0"},
      {3, "3"},
      {5, "5"},
      {1000, "1000"},
      {2147483647, "2147483647"},
      {-5, "-5"},
      {-2147483648.0L, "-2147483648"},
      {999999999999999, "999999999999999"},
  };
  for (const auto& r : rows) EXPECT_EQ(number_text(r.value), r.text) << r.text;
}

TEST(NumberText, FractionsAndLargeValuesKeepFifteenSignificantDigits) {
  EXPECT_EQ(number_text(0.5L), ".5");
  EXPECT_EQ(number_text(-0.5L), "-.5");
  EXPECT_EQ(number_text(0.25L), ".25");
  EXPECT_EQ(number_text(1.5L), "1.5");
  EXPECT_EQ(number_text(1.0L / 3), ".333333333333333");
  EXPECT_EQ(number_text(2.0L / 3), ".666666666666667");
  EXPECT_EQ(number_text(1e15L), "1E+15");
  EXPECT_EQ(number_text(1e20L), "1E+20");
  EXPECT_EQ(number_text(123456789012345678.0L), "1.23456789012346E+17");
  EXPECT_EQ(number_text(-1.5e20L), "-1.5E+20");
  // The extremes at least give a mantissa and an exponent, no blanks.
  for (long double v : {LDBL_MAX, -LDBL_MAX, LDBL_MIN, LDBL_TRUE_MIN}) {
    const std::string t = number_text(v);
    EXPECT_NE(t.find('E'), std::string::npos) << t;
    EXPECT_EQ(t.find(' '), std::string::npos) << t;
  }
}

TEST(FormatNumber, TheToolsTwoMasks) {
  const struct {
    long double value;
    const char* four_zeros;  // "0000"
    const char* grouped;     // "0,"
  } rows[] = {
      {0, "0000", "0"},
      {1, "0001", "1"},
      {7, "0007", "7"},
      {42, "0042", "42"},
      {999, "0999", "999"},
      {1000, "1000", "1,000"},
      {9999, "9999", "9,999"},
      {10000, "10000", "10,000"},
      {123456, "123456", "123,456"},
      {1234567, "1234567", "1,234,567"},
      {2147483647, "2147483647", "2,147,483,647"},
      {-5, "-0005", "-5"},
      {-1000, "-1000", "-1,000"},
      {-0.0L, "0000", "0"},
      // Rounded to a whole number, ties to even; a rounded zero has no sign.
      {2.5L, "0002", "2"},
      {3.5L, "0004", "4"},
      {0.5L, "0000", "0"},
      {1.5L, "0002", "2"},
      {-2.5L, "-0002", "-2"},
      {-0.4L, "0000", "0"},
      {999.6L, "1000", "1,000"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(format_number(r.value, "0000"), r.four_zeros) << r.four_zeros;
    EXPECT_EQ(format_number(r.value, "0,"), r.grouped) << r.grouped;
  }
}

TEST(FormatNumber, LargeValuesAreWrittenInFull) {
  // 10^20 is exact in a 64-bit significand; LDBL_MAX has 4933 digits.
  EXPECT_EQ(format_number(1e20L, "0000"), "100000000000000000000");
  EXPECT_EQ(format_number(1e20L, "0,"), "100,000,000,000,000,000,000");
  for (long double v : {1e300L, LDBL_MAX}) {
    const std::string plain = format_number(v, "0000");
    const std::string grouped = format_number(v, "0,");
    EXPECT_GT(plain.size(), 300u);
    EXPECT_EQ(plain.find_first_not_of("0123456789"), std::string::npos);
    ASSERT_EQ(grouped.size(), plain.size() + (plain.size() - 1) / 3);
    std::string digits;
    for (size_t i = 0; i < grouped.size(); ++i) {
      if ((grouped.size() - i) % 4 == 0)
        EXPECT_EQ(grouped[i], ',') << i;
      else
        digits += grouped[i];
    }
    EXPECT_EQ(digits, plain);
    EXPECT_EQ(format_number(-v, "0000"), "-" + plain);
  }
  EXPECT_EQ(format_number(LDBL_MAX, "0000").size(), 4933u);
}

TEST(FormatNumber, OtherMasksGiveThePlainForm) {
  EXPECT_EQ(format_number(1234, ""), "1234");
  EXPECT_EQ(format_number(0.5L, ""), ".5");
  EXPECT_EQ(format_number(1234, "#"), "1234");
}

}  // namespace
}  // namespace brevlith
