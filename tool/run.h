// What the main procedure holds for its whole run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files/file_id.h"
#include "tool/diagnostics.h"
#include "tool/term_search.h"

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

struct Run {
  std::string mailbox_pattern;
  std::string search_term;
  std::vector<std::string> terms;  // from a term file
  int32_t term_count = 0;
  // The walks to make, in order.
  std::vector<Walk> walks;
  // Base names of the mailboxes that wrote numbered message files, with the
  // mailbox that did (a later one of the same base name replaces them).
  std::map<std::string, std::string> numbered_bases;
  // The files split so far, by identity (volume or device, file index or
  // inode), each with the name it was split under.
  std::map<FileId, std::string> split_files;
  // The names of those that could not be opened: named again, they are
  // skipped as not read, not as read already.
  std::set<std::string> not_opened;
  // Whether messages go to numbered files: normal mode, or an empty term.
  bool numbered_files = false;
  // The term mailboxes this run writes, by identity: those there were when
  // the run began, and each it has opened since.
  std::set<FileId> own_files;
  // By base name (as numbered_bases keys it), the numbers its numbered
  // files have taken in this run: 1 to this.
  std::map<std::string, int32_t> numbers_taken;
  // By base name (as numbered_bases keys it), the highest number of the
  // numbered files in the output folder before this run wrote any.
  std::map<std::string, int32_t> earlier_numbers;
  // The numbered files written for the mailbox being read.
  int32_t numbered_written = 0;
  // The terms that select messages (terms, or search_term alone), searched
  // in one pass over each message.
  std::unique_ptr<TermSearch> searcher;
  Outcome outcome;
  // Term mailboxes this run has appended to: the size its last record left
  // each at, and whether the file ends in a Ctrl-Z after that record. The
  // same size at the next open means no other run has appended since, and
  // the end need not be read again. An entry is made at the first look.
  struct TermEnd {
    uint64_t size = UINT64_MAX;
    bool end_mark = false;
  };
  std::map<std::string, TermEnd> term_ends;
  // Whether a term mailbox got a record from an earlier mailbox of this run.
  bool appended = false;
  // The hits that could not be written to their term mailbox (reported).
  int64_t hits_not_written = 0;
  // The output folder, held from the output-folder step on: every message
  // file of the run lands in that one folder, whatever its name leads to.
  host::Handle output_folder = host::invalid_handle;
  // The permission bits of the new files made from the mailbox being read.
  uint32_t output_permissions = host::default_permissions;
  // The signal the run stopped for, 0 while it goes on.
  int stop_signal = 0;
};

}  // namespace brevlith
