// The command tail: the command line after the program's own name, as one
// UTF-16 string, the way the tool's command-line reader expects it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace brevlith {

// Skips the program name of a raw command line: a quoted name runs to the
// closing quote; an unquoted one to the first unit at or below U+0020. The
// blanks after it are skipped, a TAB never. No closing quote: empty tail.
host::Wide skip_program_name(std::u16string_view line);

// "/" followed by one ASCII letter and then "=" or the end: /s=term, /S=x, /x.
bool is_option_argument(std::string_view argument);

// Split arguments -> tail: joined with single blanks, every "/" of the
// arguments before the first option argument turned into "\", so that a
// Linux path reads as the Windows-style pattern the tool expects.
host::Wide rebuild_tail(const std::vector<host::Text>& arguments);

// The arguments before the first option argument, "/" turned into "\".
std::vector<host::Text> leading_arguments(const std::vector<host::Text>& arguments);

// Start-up: finds the tail once, from the raw command line or the arguments.
void locate_command_tail();

// The whole tail, unchanged.
const host::Wide& command_tail();

}  // namespace brevlith
