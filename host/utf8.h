// UTF-8 <-> UTF-16 with a lossless byte escape: a byte that is not part of a
// valid UTF-8 sequence becomes the lone surrogate U+DC80 + (byte - 0x80) and
// comes back as the same byte, so arbitrary Linux names survive the trip.
#pragma once

#include <string>
#include <string_view>

namespace host {

std::u16string utf8_to_wide(std::string_view bytes);
// Escaped surrogates turn back into their byte; any other unpaired surrogate
// becomes "?".
std::string wide_to_utf8(std::u16string_view wide);
// The length of the valid UTF-8 sequence at `at`, 0 when none starts there
// (overlong forms, surrogates and values above U+10FFFF are not valid).
size_t utf8_sequence_length(std::string_view bytes, size_t at);

}  // namespace host
