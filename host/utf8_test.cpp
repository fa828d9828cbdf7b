#include "host/utf8.h"

#include <gtest/gtest.h>

#include <random>

#include "host/host.h"

namespace host {
namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

std::u16string units(std::initializer_list<int> list) {
  std::u16string s;
  for (int u : list) s.push_back(static_cast<char16_t>(u));
  return s;
}

TEST(Utf8, DecodesValidSequencesAndEscapesEveryOtherByte) {
  const struct {
    const char* what;
    std::string in;
    std::u16string out;
  } rows[] = {
      {"ascii and NUL", bytes({'a', 0, 0x7F}), units({'a', 0, 0x7F})},
      {"2 bytes", bytes({0xC3, 0xA9}), units({0xE9})},
      {"lowest 2-byte", bytes({0xC2, 0x80}), units({0x80})},
      {"highest 2-byte", bytes({0xDF, 0xBF}), units({0x7FF})},
      {"lowest 3-byte", bytes({0xE0, 0xA0, 0x80}), units({0x800})},
      {"U+FFFF", bytes({0xEF, 0xBF, 0xBF}), units({0xFFFF})},
      {"4 bytes -> pair", bytes({0xF0, 0x9F, 0x98, 0x80}), units({0xD83D, 0xDE00})},
      {"U+10000", bytes({0xF0, 0x90, 0x80, 0x80}), units({0xD800, 0xDC00})},
      {"U+10FFFF", bytes({0xF4, 0x8F, 0xBF, 0xBF}), units({0xDBFF, 0xDFFF})},
      {"above U+10FFFF", bytes({0xF4, 0x90, 0x80, 0x80}), units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
      {"overlong NUL", bytes({0xC0, 0x80}), units({0xDCC0, 0xDC80})},
      {"overlong C1", bytes({0xC1, 0xBF}), units({0xDCC1, 0xDCBF})},
      {"overlong 3-byte", bytes({0xE0, 0x9F, 0xBF}), units({0xDCE0, 0xDC9F, 0xDCBF})},
      {"overlong 4-byte", bytes({0xF0, 0x8F, 0xBF, 0xBF}), units({0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF})},
      {"surrogate in UTF-8", bytes({0xED, 0xA0, 0x80}), units({0xDCED, 0xDCA0, 0xDC80})},
      {"escape in UTF-8", bytes({0xED, 0xB2, 0x80}), units({0xDCED, 0xDCB2, 0xDC80})},
      {"last before surrogates", bytes({0xED, 0x9F, 0xBF}), units({0xD7FF})},
      {"truncated at end", bytes({0xE2, 0x82}), units({0xDCE2, 0xDC82})},
      {"truncated 4-byte", bytes({0xF0, 0x9F, 0x98}), units({0xDCF0, 0xDC9F, 0xDC98})},
      {"truncated before ascii", bytes({0xE2, 0x82, 'A'}), units({0xDCE2, 0xDC82, 'A'})},
      {"truncated before lead", bytes({0xC3, 0xC3, 0xA9}), units({0xDCC3, 0xE9})},
      {"lone continuation", bytes({0x80, 0xBF}), units({0xDC80, 0xDCBF})},
      {"F5 to FF leads", bytes({0xF5, 0x80, 0xFF}), units({0xDCF5, 0xDC80, 0xDCFF})},
      {"latin-1 name", bytes({'c', 'a', 'f', 0xE9}), units({'c', 'a', 'f', 0xDCE9})},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(utf8_to_wide(r.in), r.out) << r.what;
    EXPECT_EQ(wide_to_utf8(r.out), r.in) << r.what;
  }
}

TEST(Utf8, UnpairedSurrogatesOtherThanEscapesBecomeQuestionMarks) {
  const struct {
    const char* what;
    std::u16string in;
    std::string out;
  } rows[] = {
      {"lone high", units({0xD800}), "?"},
      {"high at the end", units({'a', 0xDBFF}), "a?"},
      {"high then ascii", units({0xD800, 'b'}), "?b"},
      {"two highs then low", units({0xD800, 0xD83D, 0xDE00}), bytes({'?', 0xF0, 0x9F, 0x98, 0x80})},
      {"low below escapes", units({0xDC00, 0xDC7F}), "??"},
      {"low above escapes", units({0xDD00, 0xDFFF}), "??"},
      {"escapes", units({0xDC80, 0xDCFF}), bytes({0x80, 0xFF})},
      {"escapes that spell UTF-8", units({0xDCC3, 0xDCA9}), bytes({0xC3, 0xA9})},
      // A high surrogate takes a following escape as its pair: decoding never
      // leaves a lone high one, so the byte round trip is not affected.
      {"high then escape", units({0xD800, 0xDC80}), bytes({0xF0, 0x90, 0x82, 0x80})},
  };
  for (const auto& r : rows) EXPECT_EQ(wide_to_utf8(r.in), r.out) << r.what;
}

TEST(Utf8, EveryByteStringSurvivesTheRoundTrip) {
  std::mt19937 random(20240611);
  // Pieces that make the interesting neighbours likely: leads, continuation
  // bytes, whole valid sequences, escapes spelled in UTF-8, plain ASCII.
  const std::string pieces[] = {
      bytes({0xC3, 0xA9}),
      bytes({0xE2, 0x82, 0xAC}),
      bytes({0xF0, 0x9F, 0x98, 0x80}),
      bytes({0xF4, 0x8F, 0xBF, 0xBF}),
      bytes({0xED, 0xA0, 0x80}),
      bytes({0xED, 0xB2, 0x80}),
      bytes({0xC0}),
      bytes({0xE0}),
      bytes({0xF0}),
      bytes({0xF4}),
      bytes({0x80}),
      bytes({0xBF}),
      bytes({0}),
      "a",
      "\\",
  };
  const bool ansi_is_utf8 = multi_byte_to_wide_char("\xC3\xA9") == u"\u00e9";
  std::uniform_int_distribution<int> byte(0, 255), piece(0, std::size(pieces) - 1), coin(0, 1);
  for (int round = 0; round < 4000; ++round) {
    const size_t length = round % 200;
    std::string s;
    while (s.size() < length)
      s += coin(random) ? std::string(1, static_cast<char>(byte(random))) : pieces[piece(random)];
    const std::u16string wide = utf8_to_wide(s);
    ASSERT_EQ(wide_to_utf8(wide), s) << "round " << round;
    if (!ansi_is_utf8) continue;  // Windows: the host's own code page instead
    EXPECT_EQ(multi_byte_to_wide_char(s), wide);
    EXPECT_EQ(wide_char_to_multi_byte(wide), s);
  }
  // Every byte pair and triple with a lead byte in front.
  for (int a = 0x80; a < 0x100; ++a)
    for (int b = 0; b < 0x100; ++b)
      for (int c : {0x00, 0x41, 0x80, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF}) {
        const std::string s = bytes({a, b, c});
        ASSERT_EQ(wide_to_utf8(utf8_to_wide(s)), s) << a << ' ' << b << ' ' << c;
      }
}

}  // namespace
}  // namespace host
