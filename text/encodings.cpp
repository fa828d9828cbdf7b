#include "text/encodings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "host/host.h"
#include "host/utf8.h"

namespace brevlith {
namespace {

// A one-byte code page: the character of each byte from 0x80 on (0 where
// the host does not know the code page), and its fold.
struct CodePage {
  std::array<char32_t, 128> high{};
  std::array<unsigned char, 256> fold = ascii_fold;

  // The byte that writes `c`, 0 when none does (ASCII is not asked for).
  unsigned char byte_of(char32_t c) const {
    const auto at = std::find(high.begin(), high.end(), c);
    return at == high.end() ? 0 : static_cast<unsigned char>(0x80 + (at - high.begin()));
  }
};

// Built once, from the host's converter, so that no table of the code
// pages is typed here; only the fold of characters is the tool's own.
const std::array<CodePage, encoding_count>& code_pages() {
  static const std::array<CodePage, encoding_count> pages = [] {
    std::array<CodePage, encoding_count> p{};
    const uint32_t numbers[encoding_count] = {0, 1252, 28591, 28605, 437, 10000};
    for (size_t e = 1; e < encoding_count; ++e) {
      CodePage& page = p[e];
      if (!host::code_page_high_half(numbers[e], page.high)) {
        page.high = {};
        continue;
      }
      // A byte the code page leaves undefined stands for the C1 control of
      // its number, as the Windows converter reads it, so it still round-trips.
      for (size_t b = 0; b < 128; ++b)
        if (page.high[b] == 0) page.high[b] = static_cast<char32_t>(0x80 + b);
      for (size_t b = 0; b < 128; ++b) {
        const char32_t c = page.high[b], f = fold_character(c);
        if (const unsigned char small = f != c ? page.byte_of(f) : 0) page.fold[0x80 + b] = small;
      }
    }
    return p;
  }();
  return pages;
}

const CodePage& page_of(Encoding e) { return code_pages()[static_cast<size_t>(e)]; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_fold[static_cast<unsigned char>(x)] ==
                  ascii_fold[static_cast<unsigned char>(y)];
         });
}

// The charset parameter of a Content-Type value, when it names one of ours.
// US-ASCII is left to the guess: a message that keeps to it reads the same
// in UTF-8 and Windows-1252, and one that does not is labelled wrongly.
std::optional<Encoding> charset_of(std::string_view value) {
  for (size_t at = 0; (at = value.find('=', at)) != value.npos; ++at) {
    size_t name_end = at;
    while (name_end > 0 && (value[name_end - 1] == ' ' || value[name_end - 1] == '\t')) --name_end;
    if (name_end < 7 || !same_ignoring_case(value.substr(name_end - 7, 7), "charset")) continue;
    if (name_end > 7 && !std::strchr("; \t\r\n", value[name_end - 8])) continue;
    size_t begin = at + 1;
    while (begin < value.size() && (value[begin] == ' ' || value[begin] == '\t')) ++begin;
    if (begin < value.size() && value[begin] == '"') ++begin;
    size_t end = begin;
    while (end < value.size() && !std::strchr("\"; \t\r\n", value[end])) ++end;
    return encoding_named(value.substr(begin, end - begin));
  }
  return std::nullopt;
}

// The first Content-Type field of the head (up to the first empty line),
// with its continuation lines.
std::optional<Encoding> declared_encoding(std::string_view m) {
  constexpr std::string_view field = "content-type:";
  for (size_t at = 0; at < m.size();) {
    size_t end = m.find('\n', at);
    if (end == m.npos) end = m.size();
    if (end - at <= 1 && (end == at || m[at] == '\r')) return std::nullopt;
    if (same_ignoring_case(m.substr(at, field.size()), field)) {
      while (end + 1 < m.size() && (m[end + 1] == ' ' || m[end + 1] == '\t')) {
        end = m.find('\n', end + 1);
        if (end == m.npos) end = m.size();
      }
      return charset_of(m.substr(at + field.size(), end - at - field.size()));
    }
    at = end + 1;
  }
  return std::nullopt;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t windows_1252_character(unsigned char b) {
  return b < 0x80 ? b : page_of(Encoding::windows_1252).high[b - 0x80];
}

}  // namespace

bool valid_utf8(std::string_view text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    uint64_t eight;
    if (i + 8 <= n && (std::memcpy(&eight, text.data() + i, 8), !(eight & 0x8080808080808080u))) {
      i += 8;
    } else if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else {
      const size_t length = host::utf8_sequence_length(text, i);
      if (length == 0) return false;
      i += length;
    }
  }
  return true;
}

std::optional<Encoding> encoding_named(std::string_view name) {
  static constexpr std::pair<std::string_view, Encoding> names[] = {
      {"utf-8", Encoding::utf8},          {"iso-8859-1", Encoding::latin_1},
      {"iso-8859-15", Encoding::latin_9}, {"windows-1252", Encoding::windows_1252},
      {"ibm437", Encoding::cp437},        {"cp437", Encoding::cp437},
      {"macintosh", Encoding::mac_roman}, {"x-mac-roman", Encoding::mac_roman}};
  for (const auto& [known, e] : names)
    if (same_ignoring_case(name, known)) return e;
  return std::nullopt;
}

void append_as_utf8(std::string_view bytes, Encoding e, std::string& out) {
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out += bytes[i++];
      continue;
    }
    if (e == Encoding::utf8) {
      if (const size_t length = host::utf8_sequence_length(bytes, i); length > 1) {
        out.append(bytes.substr(i, length));
        i += length;
        continue;
      }
      append_utf8(out, windows_1252_character(b));  // no UTF-8: read as the usual code page
    } else {
      const char32_t c = page_of(e).high[b - 0x80];
      append_utf8(out, c ? c : windows_1252_character(b));
    }
    ++i;
  }
}

Encoding message_encoding(std::string_view message) {
  if (const std::optional<Encoding> declared = declared_encoding(message)) return *declared;
  return valid_utf8(message) ? Encoding::utf8 : Encoding::windows_1252;
}

char32_t fold_character(char32_t c) {
  const auto pair_even = [](char32_t x) { return x % 2 == 0 ? x + 1 : x; };  // capital even
  const auto pair_odd = [](char32_t x) { return x % 2 == 1 ? x + 1 : x; };   // capital odd
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x3BC;  // micro sign: Greek mu
    return c >= 0xC0 && c <= 0xDE && c != 0xD7 ? c + 0x20 : c;
  }
  if (c < 0x180) {  // Latin Extended-A: capitals paired with the small letter after them
    // Dotted I, dotless i, kra and n with apostrophe have no simple fold;
    // long s folds to s, which would let an ASCII term find more than before.
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || c >= 0x179) return pair_odd(c);
    return pair_even(c);
  }
  if (c >= 0x370 && c < 0x400) {  // Greek
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    // The rest of Greek's capitals and variant forms, one by one.
    static constexpr std::pair<char16_t, char16_t> single[] = {
        {0x370, 0x371}, {0x372, 0x373}, {0x376, 0x377}, {0x37F, 0x3F3}, {0x386, 0x3AC},
        {0x388, 0x3AD}, {0x389, 0x3AE}, {0x38A, 0x3AF}, {0x38C, 0x3CC}, {0x38E, 0x3CD},
        {0x38F, 0x3CE}, {0x3C2, 0x3C3}, {0x3CF, 0x3D7}, {0x3D0, 0x3B2}, {0x3D1, 0x3B8},
        {0x3D5, 0x3C6}, {0x3D6, 0x3C0}, {0x3F0, 0x3BA}, {0x3F1, 0x3C1}, {0x3F4, 0x3B8},
        {0x3F5, 0x3B5}, {0x3F7, 0x3F8}, {0x3F9, 0x3F2}, {0x3FA, 0x3FB}, {0x3FD, 0x37B},
        {0x3FE, 0x37C}, {0x3FF, 0x37D}};
    for (const auto& [from, to] : single)
      if (from == c) return to;
    return c >= 0x3D8 && c <= 0x3EF ? pair_even(c) : c;
  }
  if (c >= 0x400 && c < 0x530) {  // Cyrillic and its supplement
    if (c < 0x410) return c + 0x50;
    if (c < 0x430) return c + 0x20;
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return pair_odd(c);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0) return pair_even(c);
  }
  return c;
}

const std::array<unsigned char, 256>& byte_fold(Encoding e) { return page_of(e).fold; }

void fold_utf8(std::string_view text, std::string& out) {
  const size_t n = text.size();
  out.resize(n);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  for (size_t i = 0; i < n;) {
    const unsigned char b = in[i];
    if (b < 0x80 || b < 0xC2 || b > 0xDF || i + 1 == n || (in[i + 1] & 0xC0) != 0x80) {
      to[i++] = ascii_fold[b];
      continue;
    }
    const char32_t c = static_cast<char32_t>((b & 0x1F) << 6 | (in[i + 1] & 0x3F));
    char32_t f = fold_character(c);
    if (f < 0x80 || f >= 0x800) f = c;  // the same length, whatever the table holds
    to[i] = static_cast<unsigned char>(0xC0 | f >> 6);
    to[i + 1] = static_cast<unsigned char>(0x80 | (f & 0x3F));
    i += 2;
  }
}

TermText text_of_terms(const std::vector<std::string>& terms, bool from_file) {
  if (!from_file && host::ansi_code_page() != 65001) return TermText::ansi;
  for (const std::string& t : terms)
    if (!valid_utf8(t)) return TermText::ansi;
  return TermText::utf8;
}

std::u32string term_characters(std::string_view term, TermText text) {
  std::u32string out;
  const auto bytes_1252 = [&] {
    out.clear();
    for (const char b : term) out += windows_1252_character(static_cast<unsigned char>(b));
  };
  if (text == TermText::utf8) {
    for (size_t i = 0; i < term.size();) {
      const auto b = static_cast<unsigned char>(term[i]);
      const size_t length = b < 0x80 ? 1 : host::utf8_sequence_length(term, i);
      if (length <= 1) {
        out += windows_1252_character(b);
        ++i;
        continue;
      }
      char32_t c = b & (0x7F >> length);
      for (size_t k = 1; k < length; ++k) c = c << 6 | (term[i + k] & 0x3F);
      out += c;
      i += length;
    }
  } else if (host::ansi_code_page() == 65001) {
    bytes_1252();  // a term file in no UTF-8 on a UTF-8 host: the usual ANSI code page
  } else {
    const std::u16string wide = host::multi_byte_to_wide_char(term);
    if (wide.empty() && !term.empty()) {
      bytes_1252();
      return out;
    }
    for (size_t i = 0; i < wide.size(); ++i) {
      const char16_t u = wide[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
          wide[i + 1] <= 0xDFFF) {
        out += static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (wide[++i] - 0xDC00));
      } else {
        out += u;
      }
    }
  }
  return out;
}

bool folded_in(const std::u32string& characters, Encoding e, std::string& out) {
  out.clear();
  if (e == Encoding::utf8) {
    std::string written;
    for (const char32_t c : characters) append_utf8(written, c);
    fold_utf8(written, out);
    return true;
  }
  const CodePage& page = page_of(e);
  for (const char32_t c : characters) {
    const unsigned char b = c < 0x80 ? static_cast<unsigned char>(c) : page.byte_of(c);
    if (b == 0 && c != 0) return false;
    out += static_cast<char>(page.fold[b]);
  }
  return true;
}

std::string folded_key(std::string_view term, TermText text) {
  std::string key;
  for (const char32_t c : term_characters(term, text)) append_utf8(key, fold_character(c));
  return key;
}

}  // namespace brevlith
