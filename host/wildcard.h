// Name matching for directory searches: "*" any run, "?" exactly one code
// unit, letters regardless of case (ASCII and Latin-1), and "*.*" matching
// every name, with or without a dot.
#pragma once

#include <string_view>

namespace host {

bool has_wildcards(std::u16string_view pattern);
// The same for a name to open or create: where the host has the long-path
// prefix "\\?\", its "?" is no wildcard.
bool has_wildcards_in_name(std::u16string_view name);
bool wildcard_match(std::u16string_view pattern, std::u16string_view name);
// Case folding used for matching and for the order of names.
char16_t fold_case(char16_t unit);

}  // namespace host
