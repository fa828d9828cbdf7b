#include "tool/term_search.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <utility>

#include "text/strings.h"

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

// A folded message never holds a byte that the fold changes, so a term with
// one (an upper-case letter, one of the seven capitals) can never occur.
bool can_occur(std::string_view term) {
  for (const unsigned char b : term)
    if (fold_table[b] != b) return false;
  return !term.empty();
}

// For each folded value, the other byte that folds to it (itself if none):
// a message byte matches term byte t when it is t or partner[t].
constexpr std::array<unsigned char, 256> make_partners() {
  std::array<unsigned char, 256> p{};
  for (int b = 0; b < 256; ++b) p[b] = static_cast<unsigned char>(b);
  for (int b = 0; b < 256; ++b)
    if (fold_table[b] != b) p[fold_table[b]] = static_cast<unsigned char>(b);
  return p;
}
constexpr std::array<unsigned char, 256> partner = make_partners();

bool equal_folded(const unsigned char* text, const unsigned char* term, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (fold_table[text[i]] != term[i]) return false;
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
    if (fold_table[text[i]] == t[0] && equal_folded(text + i, t, m)) return true;
  return false;
}

}  // namespace

// An Aho-Corasick automaton over byte classes: each byte of the message is
// mapped through the fold and its class in one table look-up, so the
// message is folded as it is read. States are numbered breadth first, so
// failure links always lead to lower numbers.
struct TermSearch::Automaton {
  std::array<uint8_t, 256> cls{};  // message byte -> class of its folded value; 0: in no term
  unsigned shift = 0;              // a row holds 1 << shift classes
  size_t overlap = 0;              // longest term - 1
  uint32_t dense_count = 0;        // states with a full row
  bool dense_only = false;
  // Dense only: rows[(state << shift) + class] is the next state << shift;
  // states from out_start on (shifted) have output. Otherwise rows hold plain
  // state numbers for the states below dense_count.
  std::vector<uint32_t> rows;
  uint32_t out_start = 0;
  // Beyond the dense states: own edges sorted by class, and failure links.
  std::vector<uint32_t> fail, edge_begin, edge_target;
  std::vector<uint8_t> edge_class, has_output;
  // Per state: the list indexes of the term ending there, and the next
  // state on the failure chain where a term ends.
  std::vector<uint32_t> terms_begin, term_list, dict;
  std::vector<uint32_t> mark;  // the message in which the state was last recorded
  uint32_t generation = 0;
  uint32_t groups = 0, found = 0;  // different terms; found in this message

  void start_message() {
    if (++generation == 0) {
      std::fill(mark.begin(), mark.end(), 0);
      generation = 1;
    }
    found = 0;
  }

  // Marks the terms ending at `state` and along its dictionary chain; a
  // state recorded before in this message has had its whole chain done.
  void record(uint32_t state, std::vector<char>& hits) {
    for (uint32_t s = state; s != none && mark[s] != generation; s = dict[s]) {
      mark[s] = generation;
      if (terms_begin[s] == terms_begin[s + 1]) continue;
      ++found;
      for (uint32_t k = terms_begin[s]; k < terms_begin[s + 1]; ++k) {
        hits[term_list[k]] = 1;
        found_list->push_back(term_list[k]);
      }
    }
  }
  std::vector<uint32_t>* found_list = nullptr;
  bool all_found() const { return found == groups; }

  uint32_t step(uint32_t s, uint8_t c) const {
    while (s >= dense_count) {
      for (uint32_t e = edge_begin[s]; e < edge_begin[s + 1]; ++e)
        if (edge_class[e] == c) return edge_target[e];
      s = fail[s];
    }
    return rows[(size_t{s} << shift) + c];
  }

  void scan(const unsigned char* text, size_t n, std::vector<char>& hits);
  void scan_dense(const unsigned char* text, size_t n, std::vector<char>& hits);
};

void TermSearch::Automaton::scan(const unsigned char* text, size_t n, std::vector<char>& hits) {
  if (dense_only) return scan_dense(text, n, hits);
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) {
    s = step(s, cls[text[i]]);
    if (has_output[s]) {
      record(s, hits);
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
    record(static_cast<uint32_t>(s >> shift), hits);
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

TermSearch::TermSearch(const std::vector<std::string>& terms) : hits_(terms.size(), 0) {
  for (size_t i = 0; i < terms.size(); ++i)
    if (terms[i].empty()) empty_.push_back(static_cast<uint32_t>(i));
  selected_ = empty_;
  // Equal terms share one end state; terms that can never occur are left out.
  std::vector<std::pair<std::string_view, uint32_t>> usable;
  for (size_t i = 0; i < terms.size(); ++i)
    if (can_occur(terms[i])) usable.emplace_back(terms[i], static_cast<uint32_t>(i));
  std::sort(usable.begin(), usable.end());
  if (usable.empty()) return;
  if (usable.front().first == usable.back().first) {
    single_ = usable.front().first;
    for (const auto& u : usable) single_indexes_.push_back(u.second);
    return;
  }

  auto a = std::make_unique<Automaton>();
  // Byte classes: one per folded byte value that some term holds.
  std::array<uint8_t, 256> class_of{};
  for (const auto& u : usable)
    for (const unsigned char b : u.first) class_of[b] = 1;
  unsigned classes = 1;
  for (int v = 0; v < 256; ++v)
    if (class_of[v]) class_of[v] = static_cast<uint8_t>(classes++);
  for (int b = 0; b < 256; ++b) a->cls[b] = class_of[fold_table[b]];
  a->shift = static_cast<unsigned>(std::bit_width(classes - 1));

  // The trie, as first-child and next-sibling lists while it is built.
  std::vector<uint32_t> first_child{none}, next_sibling{none}, group_of{none};
  std::vector<uint8_t> edge_of{0};
  std::vector<uint32_t> group_begin;  // into the sorted `usable`
  const auto child = [&](uint32_t node, uint8_t c) {
    for (uint32_t k = first_child[node]; k != none; k = next_sibling[k])
      if (edge_of[k] == c) return k;
    return none;
  };
  for (size_t i = 0; i < usable.size(); ++i) {
    if (i > 0 && usable[i].first == usable[i - 1].first) continue;
    uint32_t node = 0;
    for (const unsigned char b : usable[i].first) {
      const uint8_t c = class_of[b];
      uint32_t next = child(node, c);
      if (next == none) {
        next = static_cast<uint32_t>(first_child.size());
        first_child.push_back(none);
        next_sibling.push_back(first_child[node]);
        group_of.push_back(none);
        edge_of.push_back(c);
        first_child[node] = next;
      }
      node = next;
    }
    group_of[node] = static_cast<uint32_t>(group_begin.size());
    group_begin.push_back(static_cast<uint32_t>(i));
    a->overlap = std::max(a->overlap, usable[i].first.size() - 1);
  }
  group_begin.push_back(static_cast<uint32_t>(usable.size()));
  a->groups = static_cast<uint32_t>(group_begin.size() - 1);

  // Breadth-first numbering.
  const uint32_t count = static_cast<uint32_t>(first_child.size());
  std::vector<uint32_t> order, number(count);
  order.reserve(count);
  order.push_back(0);
  for (size_t k = 0; k < order.size(); ++k)
    for (uint32_t ch = first_child[order[k]]; ch != none; ch = next_sibling[ch])
      order.push_back(ch);
  for (uint32_t k = 0; k < count; ++k) number[order[k]] = k;

  const size_t row = size_t{1} << a->shift;
  const size_t rows_fit = dense_budget / (row * sizeof(uint32_t));
  a->dense_count = static_cast<uint32_t>(std::clamp<size_t>(rows_fit, 1, count));
  a->dense_only = size_t{2} * count <= rows_fit;  // room for the gap made below
  a->rows.assign(size_t{a->dense_count} << a->shift, 0);
  a->fail.assign(count, 0);
  a->edge_begin.assign(count + 1, 0);
  a->dict.assign(count, none);
  a->has_output.assign(count, 0);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t node = order[k];
    a->edge_begin[k + 1] = a->edge_begin[k];
    for (uint32_t ch = first_child[node]; ch != none; ch = next_sibling[ch]) {
      a->edge_class.push_back(edge_of[ch]);
      a->edge_target.push_back(number[ch]);
      ++a->edge_begin[k + 1];
    }
  }
  // In breadth-first order every state's failure target is done before it.
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t node = order[k];
    if (k < a->dense_count) {
      uint32_t* r = &a->rows[size_t{k} << a->shift];
      const uint32_t* fr = &a->rows[size_t{a->fail[k]} << a->shift];
      for (size_t c = 0; c < classes; ++c) r[c] = k == 0 ? 0 : fr[c];
      for (uint32_t ch = first_child[node]; ch != none; ch = next_sibling[ch])
        r[edge_of[ch]] = number[ch];
    }
    for (uint32_t ch = first_child[node]; ch != none; ch = next_sibling[ch]) {
      const uint32_t target = number[ch];
      a->fail[target] = k == 0 ? 0 : a->step(a->fail[k], edge_of[ch]);
    }
    if (k > 0) {
      const uint32_t f = a->fail[k];
      a->dict[k] = group_of[order[f]] != none ? f : a->dict[f];
    }
    a->has_output[k] = group_of[node] != none || a->dict[k] != none;
  }

  // With every state dense, those with output are numbered from a power of
  // two on, so that the scan tells a step into any of them by one test of
  // all its pieces' states together. The numbers in the gap stay unused.
  uint32_t numbers = count;
  std::vector<uint32_t> final_of(count);
  if (a->dense_only) {
    uint32_t quiet = 0;
    for (uint32_t k = 0; k < count; ++k) quiet += a->has_output[k] == 0;
    const uint32_t first_loud = std::bit_ceil(quiet);
    uint32_t next_quiet = 0, next_loud = first_loud;
    for (uint32_t k = 0; k < count; ++k)
      final_of[k] = a->has_output[k] ? next_loud++ : next_quiet++;
    numbers = next_loud;
    std::vector<uint32_t> table(size_t{numbers} << a->shift, 0);
    for (uint32_t k = 0; k < count; ++k)
      for (size_t c = 0; c < row; ++c)
        table[(size_t{final_of[k]} << a->shift) + c] =
            final_of[a->rows[(size_t{k} << a->shift) + c]] << a->shift;
    a->rows = std::move(table);
    a->out_start = first_loud << a->shift;
  } else {
    for (uint32_t k = 0; k < count; ++k) final_of[k] = k;
  }
  std::vector<uint32_t> dict(numbers, none), terms_count(numbers, 0);
  for (uint32_t k = 0; k < count; ++k) {
    dict[final_of[k]] = a->dict[k] == none ? none : final_of[a->dict[k]];
    const uint32_t g = group_of[order[k]];
    if (g != none) terms_count[final_of[k]] = group_begin[g + 1] - group_begin[g];
  }
  a->terms_begin.assign(size_t{numbers} + 1, 0);
  for (uint32_t s = 0; s < numbers; ++s) a->terms_begin[s + 1] = a->terms_begin[s] + terms_count[s];
  a->term_list.resize(usable.size());
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t g = group_of[order[k]];
    if (g == none) continue;
    uint32_t at = a->terms_begin[final_of[k]];
    for (uint32_t u = group_begin[g]; u < group_begin[g + 1]; ++u)
      a->term_list[at++] = usable[u].second;
  }
  a->dict = std::move(dict);
  if (a->dense_only) {
    // Only the table and the output lists are used.
    a->fail = {};
    a->edge_begin = {};
    a->edge_class = {};
    a->edge_target = {};
    a->has_output = {};
  }
  a->mark.assign(numbers, 0);
  a->found_list = &found_;
  automaton_ = std::move(a);
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
