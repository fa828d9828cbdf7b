// Number forms: the plain form, and layout by a mask of "0" digit places
// with an optional "," for grouping in threes ("0000", "0,").
#pragma once

#include <string>

namespace brevlith {

// Decimal digits, "-" for negative values, no blanks: 2147483647. A fraction
// keeps 15 significant digits with no leading zero (.5); beyond 15 digits
// the exponent form (1.5E+20).
std::string number_text(long double value);

// Rounded to a whole number (ties to even), zero-filled to as many digits as
// the mask has "0"s, grouped with "," when the mask holds one. A mask with any
// other character gives the plain form.
std::string format_number(long double value, const std::string& mask);

}  // namespace brevlith
