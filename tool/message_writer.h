// Writes one message into the output folder: in normal mode (term "") to a
// new numbered file <base>-0001.txt, in search mode appended as a record
// (CR LF, then the message) to <term stem>.mbx when the folded message holds
// the term. A failure is reported on standard error and the walk goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tool/run.h"

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

// Writes one message that the term selects (or every message, for ""):
// counts it, writes it, marks a term's hit with "X".
void write_selected_message(int32_t& message_number, const std::string& base_name,
                            std::string_view message, const std::string& term, Run& run);

}  // namespace brevlith
