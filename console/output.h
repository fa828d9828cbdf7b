// The standard-output path: exact bytes, one host write per call; only
// progress marks sent to a file or pipe are held back, to be written in blocks.
#pragma once

#include <string_view>

#include "console/error_status.h"

namespace brevlith {

// Writes the bytes of `text` to standard output in one request; nothing for
// "". A failed write raises the gate's code, a short one 61. A pipe whose
// reader has closed it raises nothing, and takes no more writes.
void print_text(std::string_view text);
// Writes CR LF.
void print_line_end();

// A progress mark (`.`, `X`): written at once to a console; otherwise
// collected and written in blocks of 4 KiB, a write per block instead of per
// mark. Collected marks are written before any other output of the process
// (standard output, standard error, the screen), so the bytes and their order
// stay as if each had been written at once. Failures as for print_text, but
// raised nowhere: they count for first_stdout_failure alone.
void print_mark(char mark);
// Writes the collected marks now.
void flush_marks();

// The first failure of standard output in this run (code 0 when none), so
// that the tool can say once that its report was incomplete. Collected marks
// are written first: their failure counts too.
ErrorStatus first_stdout_failure();

// The same for standard error.
void error_print_text(std::string_view text);
ErrorStatus first_stderr_failure();

}  // namespace brevlith
