#include "text/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace brevlith {
namespace {

// Decimal digits of a whole, non-negative value.
std::string whole_digits(long double magnitude) {
  // Every message file's name holds a number; printf's long double path
  // costs more than creating the file's name otherwise.
  if (magnitude < 1e19L) {
    char buffer[24];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<unsigned long long>(magnitude));
    return std::string(buffer, end.ptr);
  }
  // Sized by a first pass: the largest long double has 4933 digits, and a
  // fixed buffer would cut them off silently.
  const int size = std::snprintf(nullptr, 0, "%.0Lf", magnitude);
  if (size <= 0) return "0";
  std::string digits(static_cast<size_t>(size), '\0');
  std::snprintf(digits.data(), digits.size() + 1, "%.0Lf", magnitude);
  return digits;
}

}  // namespace

std::string number_text(long double value) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  const long double magnitude = std::fabs(value);
  const std::string sign = value < 0 ? "-" : "";
  if (magnitude == std::nearbyint(magnitude) && magnitude < 1e15L)
    return sign + whole_digits(magnitude);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15LG", magnitude);
  std::string text = buffer;
  if (text.size() > 1 && text[0] == '0' && text[1] == '.') text.erase(0, 1);
  return sign + text;
}

std::string format_number(long double value, const std::string& mask) {
  size_t places = 0;
  bool grouped = false;
  for (char c : mask) {
    if (c == '0')
      ++places;
    else if (c == ',')
      grouped = true;
    else
      return number_text(value);
  }
  if (places == 0 || std::isnan(value) || std::isinf(value)) return number_text(value);
  const long double rounded = std::nearbyint(value);
  std::string digits = whole_digits(std::fabs(rounded));
  if (digits.size() < places) digits.insert(0, places - digits.size(), '0');
  if (grouped) {
    for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, ',');
  }
  return rounded < 0 ? "-" + digits : digits;
}

}  // namespace brevlith
