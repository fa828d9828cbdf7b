#include "text/strings.h"

#include <algorithm>
#include <vector>

#include "console/error_status.h"

namespace brevlith {

template <class S>
S concat(const S& a, const S& b) {
  S out;
  out.reserve(a.size() + b.size());
  return out.append(a).append(b);
}

template <class S>
S parse_field(const S& source, const S& delimiter, int32_t index) {
  if (source.empty() || delimiter.empty()) return {};
  std::vector<size_t> starts{0}, ends;
  for (size_t at = source.find(delimiter); at != S::npos;
       at = source.find(delimiter, at + delimiter.size())) {
    ends.push_back(at);
    starts.push_back(at + delimiter.size());
  }
  ends.push_back(source.size());
  const int64_t occurrences = static_cast<int64_t>(starts.size()) - 1;
  int64_t k = index;
  if (k < 0) k = occurrences + k + 2;
  if (k < 1 || k > occurrences + 1) return {};
  return source.substr(starts[k - 1], ends[k - 1] - starts[k - 1]);
}

template <class S>
S trim_left_any(const S& source, const S& set) {
  if (set.empty()) return source;
  const size_t first = source.find_first_not_of(set);
  return first == S::npos ? S{} : source.substr(first);
}

template <class S>
S trim_right_any(const S& source, const S& set) {
  if (set.empty()) return source;
  const size_t last = source.find_last_not_of(set);
  return last == S::npos ? S{} : source.substr(0, last + 1);
}

template <class S>
S trim_left(const S& source) {
  return trim_left_any(source, S(1, ' '));
}

template <class S>
S trim_right(const S& source) {
  return trim_right_any(source, S(1, ' '));
}

Text fold_lower(const Text& source) {
  Text out(source);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  return out;
}

template <class S>
int32_t find(int32_t start, const S& source, const S& pattern) {
  const int64_t n = static_cast<int64_t>(source.size());
  const int64_t m = static_cast<int64_t>(pattern.size());
  if (start == 0 || n == 0) return 0;
  if (m == 0) {
    if (start > 0) return start;
    const int64_t p = n + start + 1;
    return p >= 0 && p <= n ? static_cast<int32_t>(p) : 0;
  }
  if (start > 0) {
    if (start > n) return 0;
    const size_t at = source.find(pattern, static_cast<size_t>(start - 1));
    return at == S::npos ? 0 : static_cast<int32_t>(at + 1);
  }
  const int64_t window = n + start + 1;
  if (window < m) return 0;
  const size_t at = source.rfind(pattern, static_cast<size_t>(window - m));
  return at == S::npos ? 0 : static_cast<int32_t>(at + 1);
}

template <class S>
S substring(const S& source, int32_t start, int32_t length) {
  const int64_t n = static_cast<int64_t>(source.size());
  if (start == 0) return {};
  int64_t s = start;
  if (s < 0) {
    s = n + s + 1;
    if (s < 1) return {};
  }
  int64_t len = length;
  if (len < 0) {
    len = n + len;
    if (len < 0) len = n;  // unlimited
  }
  if (s > n || len == 0) return {};
  return source.substr(static_cast<size_t>(s - 1), static_cast<size_t>(std::min(len, n - s + 1)));
}

template <class S>
void replace_any(S& variable, const S& from_set, const S& to_set) {
  if (from_set.size() != to_set.size()) {
    variable.clear();
    raise_error(error_code::invalid_argument);
    return;
  }
  if (from_set.empty() || variable.empty()) return;
  for (auto& element : variable) {
    const size_t i = from_set.find(element);
    if (i != S::npos) element = to_set[i];
  }
}

Wide to_wide(const Text& text) {
  if (text.empty()) return {};
  try {
    return host::multi_byte_to_wide_char(text);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

Text to_text(const Wide& wide, bool* replaced) {
  if (replaced) *replaced = false;
  if (wide.empty()) return {};
  try {
    return host::wide_char_to_multi_byte(wide, replaced);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

#define BREVLITH_STRING_OPERATIONS(S)                  \
  template S concat(const S&, const S&);               \
  template S parse_field(const S&, const S&, int32_t); \
  template S trim_left_any(const S&, const S&);        \
  template S trim_right_any(const S&, const S&);       \
  template S trim_left(const S&);                      \
  template S trim_right(const S&);                     \
  template int32_t find(int32_t, const S&, const S&);  \
  template S substring(const S&, int32_t, int32_t);    \
  template void replace_any(S&, const S&, const S&);
BREVLITH_STRING_OPERATIONS(Text)
BREVLITH_STRING_OPERATIONS(Wide)

}  // namespace brevlith
