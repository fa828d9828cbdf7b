// The rows of brevlithoutput/index.csv, built from a message's bytes alone:
// what its head says (Date, From, To, Subject, in UTF-8) and how many
// attachment lines it holds, written as one CSV row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/encodings.h"

namespace brevlith {

// The index's first line, written when the file is made.
inline constexpr std::string_view index_header =
    "file,mailbox,message,date,from,to,subject,attachments,bytes\r\n";

// What a row tells of one message; a field the head lacks is empty.
struct IndexHead {
  std::string date, from, to, subject;
  int32_t attachments = 0;
};

// The first Date, From, To and Subject fields of the head (up to its first
// empty line), each unfolded, its encoded words decoded, in UTF-8; and the
// number of the message's lines that name a file eudora took out of it.
IndexHead index_head(std::string_view message);

// A field's value in UTF-8: its own text read in `e`, each =?charset?B|Q?...?=
// word of a charset we know decoded from that charset, and the blanks
// between two such words dropped. A word that cannot be decoded stays as it is.
std::string decoded_field(std::string_view value, Encoding e);

// `field` appended as CSV: quoted, its quotes doubled, when it holds a
// comma, a quote, a CR or an LF.
void append_csv_field(std::string& row, std::string_view field);

// One row, CR LF at its end.
std::string index_row(std::string_view file, std::string_view mailbox, int32_t message,
                      const IndexHead& head, uint64_t bytes);

}  // namespace brevlith
