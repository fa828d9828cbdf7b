#include "tool/term_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "text/encodings.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define BREVLITH_SSE2 1
#endif

namespace brevlith {
namespace {

constexpr uint32_t none = UINT32_MAX;

// The full transition table stays within this many bytes. With more states
// only those nearest the root (where the text spends its time) get a full
// row; deeper ones keep their own edges and a failure link.
constexpr size_t dense_budget = size_t{8} << 20;

// For each folded value, the other byte that folds to it (itself if none):
// a message byte matches term byte t when it is t or partner[t]. The one
// term of this path is ASCII, which folds alike in every encoding.
constexpr std::array<unsigned char, 256> make_partners() {
  std::array<unsigned char, 256> p{};
  for (int b = 0; b < 256; ++b) p[b] = static_cast<unsigned char>(b);
  for (int b = 0; b < 256; ++b)
    if (ascii_fold[b] != b) p[ascii_fold[b]] = static_cast<unsigned char>(b);
  return p;
}
constexpr std::array<unsigned char, 256> partner = make_partners();

bool equal_folded(const unsigned char* text, const unsigned char* term, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (ascii_fold[text[i]] != term[i]) return false;
  return true;
}

// Whether the folded text holds the term (one that can occur), without a
// folded copy: candidates are where the first and the last byte match in
// either case, sixteen positions at a time, each then checked whole.
bool holds_folded(std::string_view message, std::string_view term) {
  const auto* text = reinterpret_cast<const unsigned char*>(message.data());
  const auto* t = reinterpret_cast<const unsigned char*>(term.data());
  const size_t n = message.size(), m = term.size();
  if (m > n) return false;
  size_t i = 0;
#ifdef BREVLITH_SSE2
  const auto splat = [](unsigned char b) { return _mm_set1_epi8(static_cast<char>(b)); };
  const __m128i first = splat(t[0]), first_other = splat(partner[t[0]]);
  const __m128i last = splat(t[m - 1]), last_other = splat(partner[t[m - 1]]);
  for (; i + m - 1 + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + m - 1));
    const __m128i at_first = _mm_or_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(a, first_other));
    const __m128i at_last = _mm_or_si128(_mm_cmpeq_epi8(b, last), _mm_cmpeq_epi8(b, last_other));
    unsigned candidates =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(at_first, at_last)));
    while (candidates) {
      const size_t at = i + static_cast<size_t>(std::countr_zero(candidates));
      if (m <= 2 || equal_folded(text + at + 1, t + 1, m - 2)) return true;
      candidates &= candidates - 1;
    }
  }
#endif
  for (; i + m <= n; ++i)
    if (ascii_fold[text[i]] == t[0] && equal_folded(text + i, t, m)) return true;
  return false;
}

}  // namespace

// An Aho-Corasick automaton over byte classes: each byte of the message is
// mapped through the fold and its class in one table look-up, so the
// message is folded as it is read. States are numbered breadth first, so
// failure links always lead to lower numbers and a state's children have
// consecutive numbers. "Loud" states are those where some term ends, there
// or down the failure chain; only they carry output.
struct TermSearch::Automaton {
  static constexpr uint32_t loud_bit = uint32_t{1} << 31;

  std::array<uint8_t, 256> cls{};  // message byte -> class of its folded value; 0: in no term
  unsigned shift = 0;              // a row holds 1 << shift classes
  size_t overlap = 0;              // longest term - 1
  uint32_t dense_count = 0;        // states with a full row
  bool dense_only = false;
  // Dense only: rows[(state << shift) + class] is the next state << shift;
  // the loud states are numbered from out_start on (shifted). Otherwise rows
  // hold plain state numbers for the states below dense_count.
  std::vector<uint32_t> rows;
  uint32_t out_start = 0;
  // Not dense only: the children of s are the states from child_begin[s] to
  // child_begin[s + 1], class_in the class of the edge into each state, link
  // each state's failure link with loud_bit set for loud states; `loud`
  // lists the loud states, ascending. Nine bytes a state in all.
  std::vector<uint32_t> child_begin, link, loud;
  std::vector<uint8_t> class_in;
  // Per loud state, in the order of their numbers: the list indexes of the
  // term ending there, and the next loud state on the failure chain where a
  // term ends.
  std::vector<uint32_t> terms_begin, term_list, dict;
  std::vector<uint32_t> mark;  // the message in which the loud state was last recorded
  uint32_t generation = 0;
  uint32_t groups = 0, found = 0;  // different terms; found in this message

  void start_message() {
    if (++generation == 0) {
      std::fill(mark.begin(), mark.end(), 0);
      generation = 1;
    }
    found = 0;
  }

  // Marks the terms ending at loud state `o` and along its dictionary chain;
  // a state recorded before in this message has had its whole chain done.
  void record(uint32_t o, std::vector<char>& hits) {
    for (; o != none && mark[o] != generation; o = dict[o]) {
      mark[o] = generation;
      if (terms_begin[o] == terms_begin[o + 1]) continue;
      ++found;
      for (uint32_t k = terms_begin[o]; k < terms_begin[o + 1]; ++k) {
        hits[term_list[k]] = 1;
        found_list->push_back(term_list[k]);
      }
    }
  }
  std::vector<uint32_t>* found_list = nullptr;
  bool all_found() const { return found == groups; }

  uint32_t failure(uint32_t s) const { return link[s] & ~loud_bit; }
  uint32_t loud_index(uint32_t s) const {
    return static_cast<uint32_t>(std::lower_bound(loud.begin(), loud.end(), s) - loud.begin());
  }

  uint32_t step(uint32_t s, uint8_t c) const {
    while (s >= dense_count) {
      for (uint32_t t = child_begin[s]; t < child_begin[s + 1]; ++t)
        if (class_in[t] == c) return t;
      s = failure(s);
    }
    return rows[(size_t{s} << shift) + c];
  }

  using Usable = std::vector<std::pair<std::string_view, uint32_t>>;
  // The phases of build, in order.
  unsigned assign_classes(const Usable& usable, std::array<uint8_t, 256>& class_of,
                          const std::array<unsigned char, 256>& fold);
  std::vector<uint32_t> group_terms(const Usable& usable, uint32_t& count);
  std::vector<std::pair<uint32_t, uint32_t>> build_trie(const Usable& usable,
                                                        const std::vector<uint32_t>& group_begin,
                                                        const std::array<uint8_t, 256>& class_of,
                                                        uint32_t count);
  std::vector<uint32_t> link_states(const std::vector<std::pair<uint32_t, uint32_t>>& ends,
                                    unsigned classes, uint32_t count);
  void list_terms(const Usable& usable, const std::vector<uint32_t>& group_begin,
                  const std::vector<uint32_t>& group_of_loud);
  void renumber_dense(uint32_t count);

  // `fold` is the message's byte fold in the terms' encoding.
  void build(const Usable& usable, const std::array<unsigned char, 256>& fold);
  void scan(const unsigned char* text, size_t n, std::vector<char>& hits);
  void scan_dense(const unsigned char* text, size_t n, std::vector<char>& hits);
};

void TermSearch::Automaton::scan(const unsigned char* text, size_t n, std::vector<char>& hits) {
  if (dense_only) return scan_dense(text, n, hits);
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) {
    s = step(s, cls[text[i]]);
    if (link[s] & loud_bit) {
      record(loud_index(s), hits);
      if (all_found()) return;
    }
  }
}

// Four pieces of the message at once, each started far enough before its
// part to see every term that ends in it: one piece alone would wait on
// each look-up before the next.
void TermSearch::Automaton::scan_dense(const unsigned char* text, size_t n,
                                       std::vector<char>& hits) {
  const uint32_t* table = rows.data();
  const uint8_t* c = cls.data();
  const uint32_t out = out_start;
  const auto hit = [&](size_t s) {
    record(static_cast<uint32_t>((s - out) >> shift), hits);
    return all_found();
  };
  constexpr size_t pieces = 4;
  size_t done = 0;
  if (n >= 1024 && n / pieces > 4 * overlap) {
    const size_t part = n / pieces;
    const unsigned char* p[pieces];
    size_t length[pieces];
    for (size_t k = 0; k < pieces; ++k) {
      const size_t begin = k == 0 ? 0 : k * part - overlap;
      const size_t end = k == pieces - 1 ? n : (k + 1) * part;
      p[k] = text + begin;
      length[k] = end - begin;
    }
    // Wide states index the table without a zero extension each step.
    size_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    const size_t common = length[0];  // the shortest
    const unsigned char *a0 = p[0], *a1 = p[1], *a2 = p[2], *a3 = p[3];
    const unsigned char* const end = a0 + common;
    while (a0 < end) {
      s0 = table[s0 + c[*a0++]];
      s1 = table[s1 + c[*a1++]];
      s2 = table[s2 + c[*a2++]];
      s3 = table[s3 + c[*a3++]];
      // Quiet states all lie below out, a power of two.
      if ((s0 | s1 | s2 | s3) >= out) {
        if (s0 >= out && hit(s0)) return;
        if (s1 >= out && hit(s1)) return;
        if (s2 >= out && hit(s2)) return;
        if (s3 >= out && hit(s3)) return;
      }
    }
    const size_t state[pieces] = {s0, s1, s2, s3};
    for (size_t k = 1; k < pieces; ++k) {
      size_t s = state[k];
      for (size_t i = common; i < length[k]; ++i) {
        s = table[s + c[p[k][i]]];
        if (s >= out && hit(s)) return;
      }
    }
    done = n;
  }
  size_t s = 0;
  for (size_t i = done; i < n; ++i) {
    s = table[s + c[text[i]]];
    if (s >= out && hit(s)) return;
  }
}

TermSearch::TermSearch(const std::vector<std::string>& terms, TermText text)
    : hits_(terms.size(), 0) {
  for (size_t i = 0; i < terms.size(); ++i)
    if (terms[i].empty()) empty_.push_back(static_cast<uint32_t>(i));
  selected_ = empty_;
  // Terms beyond ASCII are written in each encoding a message may come in;
  // ASCII is the same in all of them, so ASCII terms alone need no more
  // than one matcher and no look at the message's encoding.
  if (std::any_of(terms.begin(), terms.end(), [](const std::string& t) {
        return std::any_of(t.begin(), t.end(), [](char c) { return c & 0x80; });
      })) {
    build_per_encoding(terms, text);
    return;
  }
  // The message is folded as it is read, so each term is folded the same
  // way and matches its own text (Invoice finds Invoice). Only the terms the
  // fold changes are copied; equal folded terms share one end state.
  std::vector<std::string> folded(terms.size());
  std::vector<std::pair<std::string_view, uint32_t>> usable;
  for (size_t i = 0; i < terms.size(); ++i) {
    if (terms[i].empty()) continue;
    std::string f = terms[i];
    for (char& c : f) c = static_cast<char>(ascii_fold[static_cast<unsigned char>(c)]);
    if (f != terms[i]) folded[i] = std::move(f);
    usable.emplace_back(folded[i].empty() ? std::string_view(terms[i]) : folded[i],
                        static_cast<uint32_t>(i));
  }
  std::sort(usable.begin(), usable.end());
  if (usable.empty()) return;
  if (usable.front().first == usable.back().first) {
    single_ = usable.front().first;
    for (const auto& u : usable) single_indexes_.push_back(u.second);
    return;
  }
  auto a = std::make_unique<Automaton>();
  a->build(usable, ascii_fold);
  a->found_list = &found_;
  automaton_ = std::move(a);
}

// Per encoding, the matcher of the terms it can write, each folded as a
// message in it is. All are built here, where running out of memory is
// still the term list's fault; encodings that write the same terms and fold
// those terms' bytes alike share one.
void TermSearch::build_per_encoding(const std::vector<std::string>& terms, TermText text) {
  per_encoding_ = true;
  std::vector<std::u32string> characters(terms.size());
  for (size_t i = 0; i < terms.size(); ++i) characters[i] = term_characters(terms[i], text);
  struct Made {
    std::vector<std::pair<std::string, uint32_t>> terms;
    std::array<int, 256> folds_to;  // each message byte's folded value where a term holds it
    Automaton* automaton;
  };
  std::vector<Made> made;
  for (size_t k = 0; k < encoding_count; ++k) {
    const auto e = static_cast<Encoding>(k);
    Made m{};
    std::string written;
    for (size_t i = 0; i < terms.size(); ++i)
      if (!terms[i].empty() && folded_in(characters[i], e, written))
        m.terms.emplace_back(written, static_cast<uint32_t>(i));
    if (m.terms.empty()) continue;
    std::sort(m.terms.begin(), m.terms.end());
    // A UTF-8 message is folded whole before the scan; A-Z alone is left.
    const std::array<unsigned char, 256>& fold = e == Encoding::utf8 ? ascii_fold : byte_fold(e);
    std::array<bool, 256> held{};
    for (const auto& t : m.terms)
      for (const unsigned char b : t.first) held[b] = true;
    for (int b = 0; b < 256; ++b) m.folds_to[b] = held[fold[b]] ? fold[b] : -1;
    for (const Made& other : made)
      if (other.terms == m.terms && other.folds_to == m.folds_to) m.automaton = other.automaton;
    if (!m.automaton) {
      Automaton::Usable usable;
      for (const auto& t : m.terms) usable.emplace_back(t.first, t.second);
      auto a = std::make_unique<Automaton>();
      a->build(usable, fold);
      a->found_list = &found_;
      m.automaton = automata_.emplace_back(std::move(a)).get();
    }
    by_encoding_[k] = m.automaton;
    made.push_back(std::move(m));
  }
}

// Built straight from the sorted terms, level by level, without a pointer
// trie: a term file of millions of bytes makes millions of states, and each
// byte kept per state during the build costs megabytes.
void TermSearch::Automaton::build(const Usable& usable,
                                  const std::array<unsigned char, 256>& fold) {
  std::array<uint8_t, 256> class_of{};
  const unsigned classes = assign_classes(usable, class_of, fold);
  uint32_t count = 0;
  const std::vector<uint32_t> group_begin = group_terms(usable, count);
  const std::vector<uint32_t> group_of_loud =
      link_states(build_trie(usable, group_begin, class_of, count), classes, count);
  list_terms(usable, group_begin, group_of_loud);
  if (dense_only) renumber_dense(count);
}

// Byte classes: one per folded byte value that some term holds. Terms are
// folded, so the order of classes is the order of bytes. Returns the number
// of classes, 0 (in no term) included.
unsigned TermSearch::Automaton::assign_classes(const Usable& usable,
                                               std::array<uint8_t, 256>& class_of,
                                               const std::array<unsigned char, 256>& fold) {
  for (const auto& u : usable)
    for (const unsigned char b : u.first) class_of[b] = 1;
  unsigned classes = 1;
  for (int v = 0; v < 256; ++v)
    if (class_of[v]) class_of[v] = static_cast<uint8_t>(classes++);
  for (int b = 0; b < 256; ++b) cls[b] = class_of[fold[b]];
  shift = static_cast<unsigned>(std::bit_width(classes - 1));
  return classes;
}

// The different terms (groups: where each begins in `usable`, and the end),
// and in `count` the number of states: one per byte that a term does not
// share with the term before it.
std::vector<uint32_t> TermSearch::Automaton::group_terms(const Usable& usable, uint32_t& count) {
  std::vector<uint32_t> group_begin;
  size_t states = 1;
  for (size_t i = 0; i < usable.size(); ++i) {
    const std::string_view t = usable[i].first;
    size_t shared = 0;
    if (i > 0) {
      const std::string_view p = usable[i - 1].first;
      if (t == p) continue;
      while (shared < p.size() && shared < t.size() && p[shared] == t[shared]) ++shared;
    }
    group_begin.push_back(static_cast<uint32_t>(i));
    states += t.size() - shared;
    overlap = std::max(overlap, t.size() - 1);
  }
  group_begin.push_back(static_cast<uint32_t>(usable.size()));
  groups = static_cast<uint32_t>(group_begin.size() - 1);
  if (states >= loud_bit) throw std::bad_alloc();  // no numbers for so many states
  count = static_cast<uint32_t>(states);
  return group_begin;
}

// The trie's edges (child_begin, class_in), level by level: the states at
// depth d + 1 are the different prefixes of d + 1 bytes, in sorted order,
// so a parent's children come out together and ascending. Returns the
// (state, group) pairs where a term ends, ascending.
std::vector<std::pair<uint32_t, uint32_t>> TermSearch::Automaton::build_trie(
    const Usable& usable, const std::vector<uint32_t>& group_begin,
    const std::array<uint8_t, 256>& class_of, uint32_t count) {
  const auto term = [&](uint32_t g) { return usable[group_begin[g]].first; };
  child_begin.assign(size_t{count} + 1, 0);
  class_in.assign(count, 0);
  // `node[j]` is the state of active term j's prefix.
  std::vector<uint32_t> active(groups), node(groups, 0);
  for (uint32_t g = 0; g < groups; ++g) active[g] = g;
  std::vector<std::pair<uint32_t, uint32_t>> ends;
  ends.reserve(groups);
  uint32_t next = 1, level_begin = 0, level_end = 1;
  for (size_t depth = 0; !active.empty(); ++depth) {
    uint32_t filled = level_begin, kept = 0;
    uint32_t last_parent = none, last_state = none;
    uint8_t last_class = 0;
    for (uint32_t j = 0; j < active.size(); ++j) {
      const uint32_t g = active[j], parent = node[j];
      const std::string_view t = term(g);
      const uint8_t c = class_of[static_cast<unsigned char>(t[depth])];
      while (filled <= parent) child_begin[filled++] = next;
      if (parent != last_parent || c != last_class) {
        class_in[next] = c;
        last_state = next++;
        last_parent = parent;
        last_class = c;
      }
      if (t.size() == depth + 1) {
        ends.emplace_back(last_state, g);
      } else {
        active[kept] = g;
        node[kept++] = last_state;
      }
    }
    while (filled < level_end) child_begin[filled++] = next;
    active.resize(kept);
    node.resize(kept);
    level_begin = level_end;
    level_end = next;
  }
  for (uint32_t s = level_begin; s <= count; ++s) child_begin[s] = next;
  return ends;
}

// The full rows of the states nearest the root, every state's failure link,
// and which states are loud with their dictionary links. Returns the group
// ending at each loud state (none where only a shorter term down the
// failure chain ends).
std::vector<uint32_t> TermSearch::Automaton::link_states(
    const std::vector<std::pair<uint32_t, uint32_t>>& ends, unsigned classes, uint32_t count) {
  const size_t row = size_t{1} << shift;
  const size_t rows_fit = dense_budget / (row * sizeof(uint32_t));
  dense_count = static_cast<uint32_t>(std::clamp<size_t>(rows_fit, 1, count));
  dense_only = size_t{2} * count <= rows_fit;  // room for the gap renumber_dense makes
  rows.assign(size_t{dense_count} << shift, 0);
  link.assign(count, 0);
  // In breadth-first order every state's failure target is done before it,
  // and so is whether that target is loud.
  std::vector<uint32_t> group_of_loud;
  size_t end_at = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t f = failure(k);
    const bool ends_here = end_at < ends.size() && ends[end_at].first == k;
    if (ends_here || (k > 0 && (link[f] & loud_bit))) {
      link[k] |= loud_bit;
      loud.push_back(k);
      group_of_loud.push_back(ends_here ? ends[end_at++].second : none);
      const uint32_t of = k > 0 && (link[f] & loud_bit) ? loud_index(f) : none;
      dict.push_back(of == none ? none : group_of_loud[of] != none ? of : dict[of]);
    }
    if (k < dense_count) {
      uint32_t* r = &rows[size_t{k} << shift];
      const uint32_t* fr = &rows[size_t{f} << shift];
      for (size_t c = 0; c < classes; ++c) r[c] = k == 0 ? 0 : fr[c];
      for (uint32_t t = child_begin[k]; t < child_begin[k + 1]; ++t) r[class_in[t]] = t;
    }
    for (uint32_t t = child_begin[k]; t < child_begin[k + 1]; ++t)
      link[t] = k == 0 ? 0 : step(f, class_in[t]);
  }
  return group_of_loud;
}

// Per loud state, the list indexes of the terms of the group ending there.
void TermSearch::Automaton::list_terms(const Usable& usable,
                                       const std::vector<uint32_t>& group_begin,
                                       const std::vector<uint32_t>& group_of_loud) {
  const auto loud_count = static_cast<uint32_t>(loud.size());
  terms_begin.assign(size_t{loud_count} + 1, 0);
  for (uint32_t o = 0; o < loud_count; ++o) {
    const uint32_t g = group_of_loud[o];
    terms_begin[o + 1] = terms_begin[o] + (g == none ? 0 : group_begin[g + 1] - group_begin[g]);
  }
  term_list.resize(usable.size());
  for (uint32_t o = 0; o < loud_count; ++o) {
    const uint32_t g = group_of_loud[o];
    if (g == none) continue;
    uint32_t at = terms_begin[o];
    for (uint32_t u = group_begin[g]; u < group_begin[g + 1]; ++u)
      term_list[at++] = usable[u].second;
  }
  mark.assign(loud_count, 0);
}

// With every state dense, the loud ones are numbered from a power of two
// on, in their order, so that the scan tells a step into any of them by one
// test of all its pieces' states together. The numbers in the gap stay
// unused.
void TermSearch::Automaton::renumber_dense(uint32_t count) {
  const size_t row = size_t{1} << shift;
  const auto loud_count = static_cast<uint32_t>(loud.size());
  const uint32_t first_loud = std::bit_ceil(count - loud_count);
  std::vector<uint32_t> final_of(count);
  uint32_t next_quiet = 0, next_loud = first_loud;
  for (uint32_t k = 0; k < count; ++k)
    final_of[k] = (link[k] & loud_bit) ? next_loud++ : next_quiet++;
  std::vector<uint32_t> table(size_t{next_loud} << shift, 0);
  for (uint32_t k = 0; k < count; ++k)
    for (size_t c = 0; c < row; ++c)
      table[(size_t{final_of[k]} << shift) + c] = final_of[rows[(size_t{k} << shift) + c]] << shift;
  rows = std::move(table);
  out_start = first_loud << shift;
  // Only the table and the output lists are used.
  child_begin = {};
  class_in = {};
  link = {};
  loud = {};
}

TermSearch::~TermSearch() = default;

const std::vector<char>& TermSearch::search(std::string_view message) {
  // Only what the last message set: a term file may hold many thousand terms.
  for (const uint32_t i : found_) hits_[i] = 0;
  found_.clear();
  if (!single_.empty()) {
    if (holds_folded(message, single_)) {
      for (const size_t i : single_indexes_) {
        hits_[i] = 1;
        found_.push_back(static_cast<uint32_t>(i));
      }
    }
  } else if (automaton_) {
    automaton_->start_message();
    automaton_->scan(reinterpret_cast<const unsigned char*>(message.data()), message.size(), hits_);
  } else if (per_encoding_) {
    const Encoding e = message_encoding(message);
    if (Automaton* a = by_encoding_[static_cast<size_t>(e)]) {
      if (e == Encoding::utf8) {
        fold_utf8(message, folded_);
        message = folded_;
      }
      a->start_message();
      a->scan(reinterpret_cast<const unsigned char*>(message.data()), message.size(), hits_);
    }
  }
  select();
  return hits_;
}

void TermSearch::select() {
  std::sort(found_.begin(), found_.end());
  selected_.clear();
  std::merge(found_.begin(), found_.end(), empty_.begin(), empty_.end(),
             std::back_inserter(selected_));
}

}  // namespace brevlith
