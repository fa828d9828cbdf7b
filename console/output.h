// The standard-output path: exact bytes, one host write per call, nothing
// buffered in the process.
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

// The first failure of standard output in this run (code 0 when none), so
// that the tool can say once that its report was incomplete.
ErrorStatus first_stdout_failure();

// The same for standard error.
void error_print_text(std::string_view text);
ErrorStatus first_stderr_failure();

}  // namespace brevlith
