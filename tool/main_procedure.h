// The tool's main procedure: banner, command line, terms, output folder,
// the mailbox walk. Returns the exit code: 0 when every message of every
// matched mailbox was written, 1 when anything was reported.
#pragma once

#include <string>
#include <vector>

#include "tool/command_line.h"
#include "tool/diagnostics.h"
#include "tool/plan.h"

namespace brevlith {

int main_procedure();

void print_banner();
// Sets the plan's mailbox_pattern, search_term and the walks to make; warns
// about the words that look like options but are none.
void read_command_line(Plan& plan, Outcome& outcome, const CommandLine& line);

// The walks for the words before the options (where the host hands over
// split arguments) and the pattern cut from the tail. A shell expands
// `brevlith *.mbx` into several names: when each of two or more words names
// an existing entry, each is walked as that file. When not all do, the
// words joined are one pattern if that names a mailbox (a name with a
// blank); otherwise each word is its own walk, so that one missing name
// does not hide the others. One word: that file when it names one, else the
// pattern.
std::vector<Walk> mailbox_walks(const std::string& mailbox_pattern,
                                const std::vector<std::string>& leading_words);

}  // namespace brevlith
