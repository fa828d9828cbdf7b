// parse_field, find, substring, the trims and concat against naive
// models that walk the elements one by one, on text and wide strings made
// of a small alphabet so that delimiters and patterns do occur.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "check.h"
#include "text/strings.h"

namespace {

using namespace brevlith;

template <class S>
bool matches_at(const S& source, size_t at, const S& pattern) {  // 0-based
  if (at + pattern.size() > source.size()) return false;
  for (size_t k = 0; k < pattern.size(); ++k)
    if (source[at + k] != pattern[k]) return false;
  return true;
}

template <class S>
S model_parse_field(const S& source, const S& delimiter, int32_t index) {
  if (source.empty() || delimiter.empty()) return {};
  std::vector<S> fields(1);
  for (size_t i = 0; i < source.size();) {
    if (matches_at(source, i, delimiter)) {
      fields.emplace_back();
      i += delimiter.size();
    } else {
      fields.back() += source[i++];
    }
  }
  int64_t k = index;
  if (k < 0) k = static_cast<int64_t>(fields.size()) - 1 + k + 2;
  if (k < 1 || k > static_cast<int64_t>(fields.size())) return {};
  return fields[static_cast<size_t>(k - 1)];
}

// find as its definition reads, not as the code is built: the positions at
// which the whole pattern lies inside the source (an empty pattern lies at
// every position), the first from `start` on, or the last one that ends
// inside the window of the first n + start + 1 elements.
template <class S>
int32_t model_find(int32_t start, const S& source, const S& pattern) {
  const int64_t n = static_cast<int64_t>(source.size()), m = static_cast<int64_t>(pattern.size());
  const auto lies_at = [&](int64_t p) {  // 1-based
    return m == 0 ||
           (p >= 1 && p + m - 1 <= n && matches_at(source, static_cast<size_t>(p - 1), pattern));
  };
  if (start == 0 || n == 0) return 0;
  int64_t found = 0;
  if (start > 0) {
    for (int64_t p = std::max<int64_t>(n, start); p >= start; --p)
      if (lies_at(p)) found = p;
  } else {
    const int64_t window = n + start + 1;
    for (int64_t p = 1; p + std::max<int64_t>(m, 1) - 1 <= window; ++p)
      if (lies_at(p)) found = p;
  }
  return static_cast<int32_t>(found);
}

// The model itself against the worked examples of find.
bool model_find_agrees_with_the_examples() {
  const struct {
    int32_t start;
    const char* source;
    const char* pattern;
    int32_t position;
  } examples[] = {
      {1, "a.b.c", ".", 2},     {-1, "a.b.c", ".", 4},    {-1, ".mbx", ".", 1},
      {-1, "x.tar.gz", ".", 6}, {3, "abcabc", "abc", 4},  {5, "abcabc", "abc", 0},
      {-2, "abcabc", "abc", 1}, {1, "Hello", "hello", 0}, {1, "", "a", 0},
      {-1, "", "", 0},          {1, "aaaa", "aa", 1},     {-1, "aaaa", "aa", 3},
  };
  for (const auto& e : examples)
    if (model_find(e.start, Text(e.source), Text(e.pattern)) != e.position) return false;
  return true;
}

template <class S>
S model_substring(const S& source, int32_t start, int32_t length) {
  const int64_t n = static_cast<int64_t>(source.size());
  if (start == 0) return {};
  int64_t s = start < 0 ? n + start + 1 : start;
  if (s < 1) return {};
  int64_t len = length < 0 ? n + length : length;
  if (len < 0) len = std::numeric_limits<int64_t>::max();
  S out;
  for (int64_t p = s; p <= n && static_cast<int64_t>(out.size()) < len; ++p)
    out += source[static_cast<size_t>(p - 1)];
  return out;
}

template <class S>
bool member(const S& set, typename S::value_type e) {
  for (auto x : set)
    if (x == e) return true;
  return false;
}

template <class S>
S model_trim_left_any(const S& source, const S& set) {
  size_t i = 0;
  while (!set.empty() && i < source.size() && member(set, source[i])) ++i;
  return source.substr(i);
}

template <class S>
S model_trim_right_any(const S& source, const S& set) {
  size_t n = source.size();
  while (!set.empty() && n > 0 && member(set, source[n - 1])) --n;
  return source.substr(0, n);
}

int32_t some_position(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 9) == 0) return in.ConsumeIntegral<int32_t>();
  return in.ConsumeIntegralInRange<int32_t>(-30, 30);
}

template <class S>
S some_string(FuzzedDataProvider& in, const std::vector<typename S::value_type>& alphabet,
              size_t longest) {
  S s;
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, longest);
  for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
    s += alphabet[in.ConsumeIntegral<uint8_t>() % alphabet.size()];
  return s;
}

template <class S>
void check(FuzzedDataProvider& in, const std::vector<typename S::value_type>& alphabet) {
  const S source = some_string<S>(in, alphabet, 40);
  const S other = some_string<S>(in, alphabet, 4);
  const int32_t a = some_position(in), b = some_position(in);
  FUZZ_CHECK(parse_field(source, other, a) == model_parse_field(source, other, a));
  FUZZ_CHECK(find(a, source, other) == model_find(a, source, other));
  FUZZ_CHECK(substring(source, a, b) == model_substring(source, a, b));
  FUZZ_CHECK(trim_left_any(source, other) == model_trim_left_any(source, other));
  FUZZ_CHECK(trim_right_any(source, other) == model_trim_right_any(source, other));
  const S blank(1, ' ');
  FUZZ_CHECK(trim_left(source) == model_trim_left_any(source, blank));
  FUZZ_CHECK(trim_right(source) == model_trim_right_any(source, blank));
  S joined = source;
  for (auto e : other) joined += e;
  FUZZ_CHECK(concat(source, other) == joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool model_sound = model_find_agrees_with_the_examples();
  FUZZ_CHECK(model_sound);
  FuzzedDataProvider in(data, size);
  const std::vector<char> bytes = {'a', 'b', '/', 's', '=', ' ', '"', '\0', '\xff', 'A'};
  const std::vector<char16_t> units = {u'a', u'b', u'/',   u's',   u'=',   u' ',
                                       u'"', 0,    0xD800, 0xDC80, 0xFFFF, u'\t'};
  check<Text>(in, bytes);
  check<Wide>(in, units);
  return 0;
}
