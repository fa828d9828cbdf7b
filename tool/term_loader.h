// The term loader: when the search term names an ordinary file, its lines
// become the list of terms, and the number of terms is shown on the screen.
#pragma once

#include "tool/diagnostics.h"
#include "tool/plan.h"

namespace brevlith {

// When plan.search_term names a term file: its lines into plan.terms, and
// plan.term_file set when it gave any. False (reported) when the run cannot
// go on: a term file that exists but cannot be opened, or a list too large
// for memory.
bool load_terms(Plan& plan, Outcome& outcome);

// The report for a term file whose terms do not fit in memory.
void report_term_file_too_large(Outcome& outcome, const std::string& file);

}  // namespace brevlith
