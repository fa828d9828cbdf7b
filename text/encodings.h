// The encodings mail is stored in, and folding text to small letters in
// each of them, for a search that ignores case whatever the message's
// encoding: a term is written in each encoding and folded the same way as a
// message in it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevlith {

enum class Encoding : uint8_t { utf8, windows_1252, latin_1, latin_9, cp437, mac_roman };
inline constexpr size_t encoding_count = 6;

// A message's encoding: the charset its head's first Content-Type field
// names, when it is one of ours; otherwise UTF-8 when the message is valid
// UTF-8, otherwise Windows-1252.
Encoding message_encoding(std::string_view message);
bool valid_utf8(std::string_view text);
// The encoding a charset name (as in Content-Type or an encoded word) names,
// when it is one of ours.
std::optional<Encoding> encoding_named(std::string_view name);
// Text in `e` appended to `out` as UTF-8; in UTF-8 text, a byte that starts
// no valid character is read as Windows-1252.
void append_as_utf8(std::string_view bytes, Encoding e, std::string& out);

// A character's simple case folding: A-Z and the letters of Latin-1
// Supplement, Latin Extended-A, Greek and Cyrillic; every other character
// is its own.
char32_t fold_character(char32_t c);

// Byte for byte, A-Z only: the fold of text in any of the encodings as far
// as ASCII goes.
inline constexpr std::array<unsigned char, 256> ascii_fold = [] {
  std::array<unsigned char, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
  return t;
}();

// The byte fold of a one-byte code page (not UTF-8): each capital to its
// small letter where the code page holds both.
const std::array<unsigned char, 256>& byte_fold(Encoding e);
// UTF-8 text folded into `out`, the same length: A-Z, and each valid
// two-byte character whose fold is another two-byte character. Invalid
// bytes stay as they are.
void fold_utf8(std::string_view text, std::string& out);

// What encoding the bytes of terms are in: UTF-8, or the ANSI code page
// (Windows-1252 where the host's is UTF-8).
enum class TermText : uint8_t { utf8, ansi };
// The lines of a term file are UTF-8 when all of them are valid UTF-8; a
// command-line term is when the host hands it over in UTF-8 and it is valid.
TermText text_of_terms(const std::vector<std::string>& terms, bool from_file);
// A term's characters; bytes that are no valid UTF-8 in UTF-8 text are read
// as Windows-1252.
std::u32string term_characters(std::string_view term, TermText text);
// The characters written in `e` and folded as a message in `e` is; false
// when `e` cannot write one of them.
bool folded_in(const std::u32string& characters, Encoding e, std::string& out);
// The term folded, as UTF-8: two terms with the same key find the same
// messages.
std::string folded_key(std::string_view term, TermText text);

}  // namespace brevlith
