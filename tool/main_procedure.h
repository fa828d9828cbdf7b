// The tool's main procedure: banner, command line, terms, output folder,
// the mailbox walk. Returns the exit code: 0 when every message of every
// matched mailbox was written, 1 when anything was reported.
#pragma once

#include <string>
#include <vector>

#include "tool/run.h"

namespace brevlith {

int main_procedure();

void print_banner();
// Sets mailbox_pattern, search_term and the walks to make.
void read_command_line(Run& run);

// A shell expands `brevlith *.mbx` into several names: when two or more
// arguments stand before the first option and each names an existing
// entry, each is its own pattern. Otherwise just the one pattern.
std::vector<std::string> mailbox_patterns(const std::string& mailbox_pattern,
                                          const std::vector<std::string>& leading_arguments);

}  // namespace brevlith
