// Text operations on an open channel. Only CR ends a line (CR LF is one
// terminator, also across a block refill); a lone LF is an ordinary byte;
// 0x1A ends the file and is never consumed. Writes are one host write each.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brevlith {

// -1 when every byte before the first 0x1A has been consumed or the file holds
// no more (also for a number that is not open: 53, or a read failure); 0 else.
// Output and append channels are never at their end.
int32_t at_end_of_file(int32_t number);

// The next line without its terminator. "" with 62 at the end of the data,
// 52 for a number that is not open, 54 on an output channel, the host's code
// on a read failure (the bytes collected are dropped), 7 when out of memory.
std::string read_line(int32_t number);
// The same, appending the line to `out` (which keeps its capacity): the
// mailbox walk collects messages without a copy per line. Returns false
// when nothing was appended because of a failure or the end of the data.
bool read_line_append(int32_t number, std::string& out);

// The bytes of `text` in one write; "" writes nothing and fails nowhere.
// 52 not open, 54 input channel, the host's code, 61 (57 off disk) when short.
void write_text(int32_t number, std::string_view text);
// CR LF in one write.
void write_line_end(int32_t number);

}  // namespace brevlith
