// What the main procedure holds for its whole run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tool/diagnostics.h"
#include "tool/term_search.h"

namespace brevlith {

// The channel each mailbox is read on (the term file's before the walk); its
// file lends new output files their permission bits.
inline constexpr int32_t mailbox_channel = 1;

struct Run {
  std::string mailbox_pattern;
  std::string search_term;
  std::vector<std::string> terms;  // from a term file
  int32_t term_count = 0;
  // The walks to make: the pattern, or each name the shell expanded.
  std::vector<std::string> patterns;
  // The patterns are names the shell expanded: each is opened as it is.
  bool exact_names = false;
  // The terms that select messages (terms, or search_term alone), searched
  // in one pass over each message.
  std::unique_ptr<TermSearch> searcher;
  Outcome outcome;
  // The signal the run stopped for, 0 while it goes on.
  int stop_signal = 0;
};

}  // namespace brevlith
