// The walk over the mailboxes the plan names: each is read line by line, cut
// into messages at "From ???@???" lines, and every message handed to the
// message writer once for each term that selects it.
#pragma once

#include <string>

#include "host/host.h"
#include "tool/diagnostics.h"
#include "tool/mailbox_checks.h"
#include "tool/message_writer.h"
#include "tool/plan.h"
#include "tool/term_search.h"

namespace brevlith {

class MailboxWalk {
 public:
  // What a split of one mailbox works with: the plan, the search and the
  // writer it uses, the outcome it reports to, the walk's memory.
  struct Parts {
    const Plan& plan;
    TermSearch& search;
    MessageWriter& writer;
    Outcome& outcome;
    WalkMemory& memory;
  };

  MailboxWalk(const Plan& plan, TermSearch& search, MessageWriter& writer, Outcome& outcome)
      : plan_(plan), search_(search), writer_(writer), outcome_(outcome) {}

  // Makes the plan's walks in order. A stop signal ends the walk after the
  // message it came in, or before the next mailbox, reported.
  void walk_all();

 private:
  // Splits every mailbox that `pattern` matches; "FILE NOT FOUND" for none.
  void walk_pattern(const std::string& pattern);
  // Splits the mailboxes `pattern` matches in its own folder, `below` the
  // pattern's first folder; `found` is set when any matched. A listing
  // that cannot start is left raised.
  void split_matches(const std::string& pattern, const std::string& below, bool matched,
                     bool& found);
  // With /r: the mailboxes in `top` + `below` that `last` matches, then each
  // folder in it, depth first, in sorted order. Links to folders, hidden
  // folders and the output folder are passed by.
  void walk_tree(const std::string& top, const std::string& below, const std::string& last,
                 bool& found);
  bool is_output_folder(const std::string& folder);
  // Splits the one mailbox of that exact name (a name the shell expanded):
  // never matched again as a pattern, and left out, as a match would be,
  // when it is a folder, hidden or not a regular file.
  void walk_exact(const std::string& name);
  // One file named twice (a.mbx a.mbx, a.mbx ./a.mbx, a link) is split
  // once: again, it would append every hit a second time. A failed look-up
  // decides nothing; the open reports what is wrong. `own` tells whether it
  // is a file this run writes.
  bool split_already(const std::string& folder, const std::string& name, bool& own);
  Parts parts() { return {plan_, search_, writer_, outcome_, memory_}; }

  const Plan& plan_;
  TermSearch& search_;
  MessageWriter& writer_;
  Outcome& outcome_;
  WalkMemory memory_;
  FileId output_id_;
  bool output_id_known_ = false;
};

// Records the stop signal in the outcome and, the first time, reports where
// the run stopped ("stopped by signal N " + where, which ends in what to do).
void note_stop(Outcome& outcome, const std::string& where);

// Where the hits written so far are, for the lines that say what a stop
// left: in the term mailboxes, but for those that failed.
std::string hits_where(const MessageWriter& writer);

// What to do after a stop before a mailbox: run again for the rest, or, when
// term mailboxes already hold hits of this run, name only the rest.
std::string rerun_advice(const MessageWriter& writer);

// True once a stop signal has come; `where()` is built only then, since the
// walk asks after every message. Asked before each mailbox and after each
// message but the last: a run that has done everything says nothing.
template <class Where>
bool stopping(Outcome& outcome, Where&& where) {
  if (outcome.stop_signal == 0 && host::stop_signal() == 0) return false;
  note_stop(outcome, where());
  return true;
}

// The name before its last ".": in.mbx gives in, .mbx gives "".
std::string base_name_of(const std::string& mailbox_name);
// The pattern's folder part, up to and including its last "\" or "/".
std::string folder_of(const std::string& pattern);

}  // namespace brevlith
