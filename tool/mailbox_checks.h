// What is checked about a mailbox before it is read, and about the numbered
// files it leaves: a run never reads its own output, splits a file that is
// no mailbox because a wildcard matched it, or writes over its own files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"
#include "tool/run.h"

namespace brevlith {

// The key under which numbered files of one base name are one set: where
// names ignore letter case, so does the key.
std::string base_key(std::string_view base_name);

// Once the output folder is held and before anything is written: the term
// mailboxes already there (by identity) and, per base name, the highest
// numbered file already there. False (reported) when the term file is one
// of the term mailboxes this run writes to.
bool survey_output_folder(Run& run);

// Remembers the term mailbox open on `channel` as one this run writes.
void note_own_file(Run& run, int32_t channel);
// Whether the mailbox of this identity, found as `mailbox_name`, is a file
// this run writes: a term mailbox, or a numbered file of this run under its
// own name in the output folder. A numbered file has one name, given when
// it is made; keeping every file's identity would cost memory per message,
// and one reached through a link of another name is only read, never
// waited for.
bool is_own_file(const Run& run, const FileId& identity, const std::string& mailbox_name);

// Why the disk file open for input on `channel` is no mailbox (no line starts
// with the separator, or NUL bytes come before the first one that does);
// "" when it may be one, or cannot be told. A file that starts with the
// separator costs nothing more.
std::string why_not_a_mailbox(int32_t channel);

// A mailbox whose base name an earlier mailbox of this run used for its
// numbered files would write over them: true, reported. Otherwise the base
// name is this mailbox's from now on.
bool base_name_taken(Run& run, const std::string& base_name, const std::string& path);

// Numbered files past the last this mailbox took (`numbers_taken`) that the
// output folder held before the run are left from an earlier run: warned.
void warn_if_earlier_numbered_files(Run& run, const std::string& path, const std::string& base_name,
                                    int32_t numbers_taken);

}  // namespace brevlith
