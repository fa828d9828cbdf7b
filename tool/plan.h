// What was asked: read once from the command line and the term file, then
// never changed. Every later step reads it; none writes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevlith {

// The one channel input is read on: the term file, then each mailbox in turn.
inline constexpr int32_t input_channel = 1;

// One walk of the run: a pattern the tool matches, or (exact) a name the
// shell expanded, opened as it is.
struct Walk {
  std::string pattern;
  bool exact = false;
  bool operator==(const Walk&) const = default;
};

struct Plan {
  std::string mailbox_pattern;
  // The word after /s= as typed: the one term, or the term file's name; ""
  // in normal mode.
  std::string search_term;
  // Whether search_term named a term file whose lines are the terms.
  bool term_file = false;
  // The walks to make, in order.
  std::vector<Walk> walks;
  // What selects messages, all found in one pass over each message: the
  // term file's lines, else the one search term, and in normal mode the one
  // empty term. An empty term selects every message for a numbered file.
  std::vector<std::string> terms;
  // Whether an empty term is among them: messages go to numbered files.
  bool numbered_files = false;
  // /i: a row in brevlithoutput/index.csv for each file or record written.
  bool index = false;
  // /r: a pattern is matched in the folders below its own too, and their
  // numbered files go to the same folders below the output folder.
  bool recurse = false;

  // Whether /s= gave a term: hits are appended to term mailboxes.
  bool search_mode() const { return !search_term.empty(); }
};

}  // namespace brevlith
