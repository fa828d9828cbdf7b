// One-byte code pages through iconv, the C library's own converter.
#include <iconv.h>

#include "host/host.h"

namespace host {

bool code_page_high_half(uint32_t code_page, std::array<char32_t, 128>& characters) {
  const char* name = code_page == 1252    ? "CP1252"
                     : code_page == 28591 ? "ISO-8859-1"
                     : code_page == 28605 ? "ISO-8859-15"
                     : code_page == 437   ? "IBM437"
                     : code_page == 10000 ? "MACINTOSH"
                                          : nullptr;
  if (!name) return false;
  const iconv_t to_utf32 = ::iconv_open("UTF-32LE", name);
  if (to_utf32 == reinterpret_cast<iconv_t>(-1)) return false;
  for (int b = 0x80; b < 0x100; ++b) {
    char byte = static_cast<char>(b);
    unsigned char unit[8] = {};
    char* in = &byte;
    char* out = reinterpret_cast<char*>(unit);
    size_t in_left = 1, out_left = sizeof unit;
    ::iconv(to_utf32, nullptr, nullptr, nullptr, nullptr);  // a fresh state for each byte
    const bool one = ::iconv(to_utf32, &in, &in_left, &out, &out_left) != static_cast<size_t>(-1) &&
                     in_left == 0 && out_left == sizeof unit - 4;
    characters[b - 0x80] =
        one ? static_cast<char32_t>(unit[0] | unit[1] << 8 | unit[2] << 16 | unit[3] << 24) : 0;
  }
  ::iconv_close(to_utf32);
  return true;
}

}  // namespace host
