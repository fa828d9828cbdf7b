// String operations on text strings (bytes) and wide strings (UTF-16 code
// units). Positions are 1-based, 0 means none; out-of-range starts, indexes
// and lengths are never errors, they just give the results described here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/host.h"

namespace brevlith {

using host::Text;  // bytes in the ANSI code page
using host::Wide;  // UTF-16 code units

template <class S>
S concat(const S& a, const S& b);

// Field `index` (1-based; negative counts from the end) of `source` split at
// every non-overlapping occurrence of `delimiter`; "" when there is none.
template <class S>
S parse_field(const S& source, const S& delimiter, int32_t index);

template <class S>
S trim_left_any(const S& source, const S& set);
template <class S>
S trim_right_any(const S& source, const S& set);
// The same with the blank alone: tabs and quotes stay.
template <class S>
S trim_left(const S& source);
template <class S>
S trim_right(const S& source);

// A-Z to small letters, nothing else: how Windows names of the ANSI code
// page compare here. The search folds by each message's encoding instead
// (text/encodings.h).
Text fold_lower(const Text& source);

// Forward from `start` (> 0) or backward within the first n + start + 1
// elements (< 0); overlapping occurrences are found.
template <class S>
int32_t find(int32_t start, const S& source, const S& pattern);

template <class S>
S substring(const S& source, int32_t start, int32_t length);

// Replaces each element found in `from_set` (first index wins) by the element
// at that index of `to_set`. Sets of unequal length empty the variable and
// raise 5.
template <class S>
void replace_any(S& variable, const S& from_set, const S& to_set);

// Through the host's ANSI code page; "" on failure, no error raised.
// `replaced`, where given, tells whether a character the code page cannot
// hold became "?": a wildcard, so the text must not be used as a name.
Wide to_wide(const Text& text);
Text to_text(const Wide& wide, bool* replaced = nullptr);

}  // namespace brevlith
