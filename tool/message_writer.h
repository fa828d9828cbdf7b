// The message writer: it holds the output folder and owns everything the
// run knows about the files it writes there. A message goes in normal mode
// (term "") to a new numbered file <base>-0001.txt, in search mode as a
// record (CR LF, then the message) appended to <term stem>.mbx. A failure
// is reported on standard error and the walk goes on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "files/file_id.h"
#include "host/host.h"
#include "tool/diagnostics.h"
#include "tool/index_file.h"
#include "tool/output_tree.h"
#include "tool/plan.h"

namespace brevlith {

// The output folder's name, written once: the prefix of every output file
// (a "\\" separator, as the paths are built), and the folder alone.
inline constexpr std::string_view output_prefix = "brevlithoutput\\";
inline constexpr std::string_view output_folder = output_prefix.substr(0, output_prefix.size() - 1);

// The term with each of \ / : * ? " < > | made a hyphen.
std::string file_stem(const std::string& term);

// Appends the name of a mailbox's numbered message file: base-0001.txt,
// and from message 10,000 on as many digits as the number has.
void append_numbered_name(std::string& name, std::string_view base_name, int32_t number);

// The key under which numbered files of one base name are one set: where
// names ignore letter case, so does the key.
std::string base_key(std::string_view base_name);

class MessageWriter {
 public:
  MessageWriter(const Plan& plan, Outcome& outcome) : plan_(plan), outcome_(outcome) {}
  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // Makes sure brevlithoutput is a folder, and holds it: every file of the
  // run lands in that one folder, whatever its name leads to later. False
  // (reported) when it cannot be created or is something else.
  bool prepare_output_folder();
  // Once the folder is held, before anything is written: the term mailboxes
  // already there (by identity) and, per base name, the highest numbered
  // file already there. False (reported) when the term file is one of the
  // term mailboxes this run writes to.
  bool survey_output_folder();

  // Before a mailbox's messages: new files take the permission bits of the
  // mailbox open on `channel` (no more readable than it).
  void start_mailbox(int32_t channel);
  // Writes one message that `term` selected ("": every message, to the
  // next numbered file): counts it in `message_number`, writes it, marks a
  // term's hit with "X".
  void write(int32_t& message_number, const std::string& base_name, std::string_view message,
             const std::string& term);
  // With /r, before a mailbox is read: its numbered files go to the folder
  // `below` ("Work.fol\", as the walk found it; "" the output folder itself)
  // under the output folder, made and held as needed. False, reported, when
  // it cannot be. A base name given to write() then starts with `below`.
  bool enter_output_subfolder(const std::string& below);
  // After a mailbox: `count` messages were handed to write().
  void finish_mailbox(const std::string& base_name, int32_t count);

  // Whether the mailbox of this identity, found as `mailbox_name`, is a file
  // this run writes: a term mailbox, or a numbered file of this run under
  // its own name in the output folder. A numbered file has one name, given
  // when it is made; keeping every file's identity would cost memory per
  // message, and one reached through a link of another name is only read,
  // never waited for.
  bool is_own_file(const FileId& identity, const std::string& mailbox_name) const;
  // Numbered files past the last the mailbox took that the output folder
  // held before the run are left from an earlier run: warned.
  void warn_if_earlier_numbered_files(const std::string& path, const std::string& base_name,
                                      int32_t numbers_taken);

  // The index the run adds rows to; none without /i.
  IndexFile* index() { return index_.get(); }

  // The numbered files written for the mailbox being read.
  int32_t numbered_written() const { return numbered_written_; }
  // Whether a term mailbox got a record from an earlier mailbox of this run.
  bool appended() const { return appended_; }
  // The hits that could not be written to their term mailbox (reported).
  int64_t hits_not_written() const { return hits_not_written_; }

 private:
  // Term mailboxes this run has appended to: the size its last record left
  // each at, and whether the file ends in a Ctrl-Z after that record. The
  // same size at the next open means no other run has appended since, and
  // the end need not be read again. An entry is made at the first look.
  struct TermEnd {
    uint64_t size = UINT64_MAX;
    bool end_mark = false;
  };

  void note_earlier_numbers(const std::string& below = "");
  void note_own_file(int32_t channel);

  const Plan& plan_;
  Outcome& outcome_;
  host::Handle folder_ = host::invalid_handle;
  // Where numbered files go: the output folder, or with /r one below it.
  host::Handle numbered_folder_ = host::invalid_handle;
  std::string numbered_below_;
  OutputTree output_tree_;
  uint32_t permissions_ = host::default_permissions;
  std::map<std::string, TermEnd> term_ends_;
  bool appended_ = false;
  int64_t hits_not_written_ = 0;
  int32_t numbered_written_ = 0;
  // The term mailboxes this run writes, by identity: those there were when
  // the run began, and each it has opened since.
  std::set<FileId> own_files_;
  // By base key, the numbers its numbered files have taken in this run: 1
  // to this; and the highest number of the numbered files in the output
  // folder before this run wrote any.
  std::map<std::string, int32_t> numbers_taken_, earlier_numbers_;
  std::unique_ptr<IndexFile> index_;
};

}  // namespace brevlith
