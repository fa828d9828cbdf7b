// What is checked about a mailbox before it is read: a run never splits a
// file that is no mailbox because a wildcard matched it, nor writes one
// mailbox's numbered files over another's. The walk's memory of the
// mailboxes it has met lives here.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "files/file_id.h"
#include "tool/diagnostics.h"
#include "tool/plan.h"

namespace brevlith {

inline constexpr std::string_view separator = "From ???@???";

// What the walk remembers of the mailboxes it has met in this run.
struct WalkMemory {
  // Base names (as base_key gives them) of the mailboxes that wrote
  // numbered message files, with the mailbox that did.
  std::map<std::string, std::string> numbered_bases;
  // The files split so far, by identity, each with the name it was split under.
  std::map<FileId, std::string> split_files;
  // The names of those that could not be opened: named again, they are
  // skipped as not read, not as read already.
  std::set<std::string> not_opened;
};

// Why the disk file open for input on `channel` is no mailbox (no line starts
// with the separator, or NUL bytes come before the first one that does);
// "" when it may be one, or cannot be told. A file that starts with the
// separator costs one short read.
std::string why_not_a_mailbox(int32_t channel);

// A mailbox whose base name an earlier mailbox of this run used for its
// numbered files would write over them: true, reported. Otherwise the base
// name is this mailbox's from now on.
bool base_name_taken(WalkMemory& memory, const Plan& plan, Outcome& outcome,
                     const std::string& base_name, const std::string& path);

}  // namespace brevlith
