// The UTF-8 <-> UTF-16 conversion against a decoder written from the table
// of well-formed UTF-8 byte sequences: every byte string survives the round
// trip, and so does every UTF-16 string without a lone surrogate.
#include <cstdint>
#include <string>

#include "check.h"
#include "host/utf8.h"

namespace {

// Well-formed sequences: the lead byte fixes the range of the second byte;
// every later byte is 80..BF.
size_t well_formed_length(const std::string& s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = at(0);
  struct Row {
    unsigned char first, last, second_low, second_high;
    size_t length;
  };
  static const Row rows[] = {
      {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
      {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
      {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  for (const Row& row : rows) {
    if (lead < row.first || lead > row.last) continue;
    if (i + row.length > s.size()) return 0;
    if (at(1) < row.second_low || at(1) > row.second_high) return 0;
    for (size_t k = 2; k < row.length; ++k)
      if (at(k) < 0x80 || at(k) > 0xBF) return 0;
    return row.length;
  }
  return 0;
}

std::u16string model_to_wide(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    const size_t n = well_formed_length(s, i);
    if (n == 0) {  // the escape of a stray byte
      out += static_cast<char16_t>(0xDC00 + lead);
      ++i;
      continue;
    }
    char32_t cp = lead & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

bool is_well_formed(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
    } else if (const size_t n = well_formed_length(s, i)) {
      i += n;
    } else {
      return false;
    }
  }
  return true;
}

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = host::utf8_to_wide(bytes);
  FUZZ_CHECK(wide == model_to_wide(bytes));
  FUZZ_CHECK(host::wide_to_utf8(wide) == bytes);

  // The same bytes read as UTF-16 units, lone surrogates made '?'.
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2)
    units += static_cast<char16_t>(data[i] << 8 | data[i + 1]);
  for (size_t i = 0; i < units.size(); ++i) {
    if (is_high(units[i]) && i + 1 < units.size() && is_low(units[i + 1]))
      ++i;
    else if (is_high(units[i]) || is_low(units[i]))
      units[i] = u'?';
  }
  const std::string text = host::wide_to_utf8(units);
  FUZZ_CHECK(is_well_formed(text));
  FUZZ_CHECK(host::utf8_to_wide(text) == units);
  return 0;
}
