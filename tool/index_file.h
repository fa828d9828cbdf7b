// brevlithoutput/index.csv: one row appended for each file or record the
// run writes, after it is whole. It is opened as a term mailbox is (in the
// held output folder, locked, waiting a while for another run's row), so
// that parallel runs append whole rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"
#include "tool/diagnostics.h"

namespace brevlith {

class IndexFile {
 public:
  IndexFile(host::Handle folder, Outcome& outcome) : folder_(folder), outcome_(outcome) {}

  // The mailbox being read, as its Processing: line shows it; kept by
  // reference for as long as the mailbox is read.
  void start_mailbox(const std::string& mailbox) { mailbox_ = &mailbox; }
  // The place in its mailbox of the message handed to the writer next.
  void set_place(int32_t place) { place_ = place; }

  // Appends the row of `message`, written whole as `file` (its name under
  // the output folder) in `bytes` bytes. A failure is reported as an output
  // failure, and no part of the row is left.
  void add(std::string_view file, std::string_view message, uint64_t bytes, uint32_t permissions);

 private:
  host::Handle folder_;
  Outcome& outcome_;
  const std::string* mailbox_ = nullptr;
  int32_t place_ = 0;
};

}  // namespace brevlith
