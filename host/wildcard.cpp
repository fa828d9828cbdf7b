#include "host/wildcard.h"

#include "host/host.h"

namespace host {

char16_t fold_case(char16_t u) {
  if (u >= u'A' && u <= u'Z') return u + 0x20;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return u + 0x20;  // Latin-1 capitals, not ×
  return u;
}

bool has_wildcards(std::u16string_view p) { return p.find_first_of(u"*?") != p.npos; }

bool has_wildcards_in_name(std::u16string_view name) {
  if (windows_names && name.starts_with(u"\\\\?\\")) name.remove_prefix(4);
  return has_wildcards(name);
}

bool wildcard_match(std::u16string_view p, std::u16string_view n) {
  if (p == u"*.*") return true;
  // Iterative glob with one backtrack point: linear in practice, never
  // exponential on patterns such as "*a*a*a*b".
  size_t pi = 0, ni = 0, star = p.npos, resume = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == u'*') {
      star = pi++;
      resume = ni;
    } else if (pi < p.size() && (p[pi] == u'?' || fold_case(p[pi]) == fold_case(n[ni]))) {
      ++pi, ++ni;
    } else if (star != p.npos) {
      pi = star + 1;
      ni = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

}  // namespace host
