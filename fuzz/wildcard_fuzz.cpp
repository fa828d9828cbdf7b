// The wildcard matcher against a plain recursive matcher. Input: pattern,
// a 0xFF byte, name; each byte is one code unit (so Latin-1 letters come
// in), and 0xFE followed by two bytes is one unit of any value.
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "host/wildcard.h"

namespace {

char16_t model_fold(char16_t u) {
  const bool ascii_capital = u >= u'A' && u <= u'Z';
  const bool latin1_capital = u >= 0xC0 && u <= 0xDE && u != 0xD7;  // not the multiplication sign
  return ascii_capital || latin1_capital ? static_cast<char16_t>(u + 0x20) : u;
}

struct Model {
  const std::u16string& p;
  const std::u16string& n;
  std::vector<signed char> memo;  // -1 unknown; only to keep it polynomial

  bool at(size_t i, size_t j) {
    signed char& m = memo[i * (n.size() + 1) + j];
    if (m < 0) m = compute(i, j);
    return m;
  }
  bool compute(size_t i, size_t j) {
    if (i == p.size()) return j == n.size();
    if (p[i] == u'*') return at(i + 1, j) || (j < n.size() && at(i, j + 1));
    if (j == n.size()) return false;
    if (p[i] == u'?' || model_fold(p[i]) == model_fold(n[j])) return at(i + 1, j + 1);
    return false;
  }
};

bool model_match(const std::u16string& p, const std::u16string& n) {
  if (p == u"*.*") return true;
  Model m{p, n, std::vector<signed char>((p.size() + 1) * (n.size() + 1), -1)};
  return m.at(0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 600) return 0;
  std::u16string parts[2];
  int part = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && part == 0) {
      part = 1;
    } else if (data[i] == 0xFE && i + 2 < size) {
      parts[part] += static_cast<char16_t>(data[i + 1] << 8 | data[i + 2]);
      i += 2;
    } else {
      parts[part] += static_cast<char16_t>(data[i]);
    }
  }
  const std::u16string& pattern = parts[0];
  const std::u16string& name = parts[1];
  FUZZ_CHECK(host::wildcard_match(pattern, name) == model_match(pattern, name));
  FUZZ_CHECK(host::has_wildcards(pattern) ==
             (pattern.find(u'*') != pattern.npos || pattern.find(u'?') != pattern.npos));
  for (char16_t u : name) FUZZ_CHECK(host::fold_case(u) == model_fold(u));
  return 0;
}
