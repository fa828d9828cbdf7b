#include "host/utf8.h"

namespace host {
namespace {

constexpr char16_t escape_base = 0xDC00;  // U+DC80..U+DCFF carry bytes 0x80..0xFF

// Length of the valid UTF-8 sequence at s[i], or 0 when the byte must be escaped.
// Overlong forms, surrogates and values above U+10FFFF are not valid.
size_t sequence_length(std::string_view s, size_t i, char32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  size_t n;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

size_t utf8_sequence_length(std::string_view bytes, size_t at) {
  char32_t cp = 0;
  return sequence_length(bytes, at, cp);
}

std::u16string utf8_to_wide(std::string_view s) {
  std::u16string out;
  // Names are nearly always ASCII, one unit per byte: every message file's
  // name passes through here.
  size_t ascii = 0;
  while (ascii < s.size() && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
  out.resize(ascii);
  char16_t* units = out.data();
  for (size_t i = 0; i < ascii; ++i) units[i] = static_cast<unsigned char>(s[i]);
  if (ascii == s.size()) return out;
  out.reserve(s.size());
  for (size_t i = ascii; i < s.size();) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    char32_t cp = 0;
    const size_t n = sequence_length(s, i, cp);
    if (n == 0) {
      out.push_back(static_cast<char16_t>(escape_base + lead));
      ++i;
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
      i += n;
    } else {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      i += n;
    }
  }
  return out;
}

std::string wide_to_utf8(std::u16string_view w) {
  std::string out;
  size_t ascii = 0;
  while (ascii < w.size() && w[ascii] < 0x80) ++ascii;
  out.resize(ascii);
  char* bytes = out.data();
  for (size_t i = 0; i < ascii; ++i) bytes[i] = static_cast<char>(w[i]);
  if (ascii == w.size()) return out;
  out.reserve(w.size());
  const auto put = [&](char32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  };
  for (size_t i = ascii; i < w.size(); ++i) {
    const char16_t u = w[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
        w[i + 1] <= 0xDFFF) {
      put(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(w[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out.push_back(static_cast<char>(u - escape_base));
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back('?');
    } else {
      put(u);
    }
  }
  return out;
}

}  // namespace host
