// The output-folder step and the walk over the mailboxes a pattern matches:
// each is read line by line, cut into messages at "From ???@???" lines, and
// every message handed to the message writer.
#pragma once

#include <string>
#include <string_view>

#include "host/host.h"
#include "tool/message_writer.h"
#include "tool/run.h"

namespace brevlith {

inline constexpr std::string_view separator = "From ???@???";

// Makes sure brevlithoutput is a folder. False (reported) when it cannot be
// created or is something else: then nothing could be written.
bool prepare_output_directory(Run& run);

// Splits every mailbox that `pattern` matches; "FILE NOT FOUND" for none.
void walk_mailboxes(Run& run, const std::string& pattern);

// Splits the one mailbox of that exact name (a name the shell expanded):
// never matched again as a pattern, and left out, as a match would be, when
// it is a folder, hidden or not a regular file.
void walk_exact_mailbox(Run& run, const std::string& name);

// Records the stop signal in the run and, the first time, reports where the
// run stopped ("stopped by signal N " + where, which ends in what to do).
void note_stop(Run& run, const std::string& where);

// Where the hits written so far are, for the lines that say what a stop
// left: in the term mailboxes, but for those that failed.
std::string hits_where(const Run& run);

// What to do after a stop before a mailbox: run again for the rest, or, when
// term mailboxes already hold hits of this run, name only the rest.
std::string rerun_advice(const Run& run);

// True once a stop signal has come; `where()` is built only then, since the
// walk asks after every message. Asked before each mailbox and after each
// message but the last: a run that has done everything says nothing.
template <class Where>
bool stopping(Run& run, Where&& where) {
  if (run.stop_signal == 0 && host::stop_signal() == 0) return false;
  note_stop(run, where());
  return true;
}

// The name before its last ".": in.mbx gives in, .mbx gives "".
std::string base_name_of(const std::string& mailbox_name);
// The pattern's folder part, up to and including its last "\" or "/".
std::string folder_of(const std::string& pattern);

}  // namespace brevlith
