// The screen path: characters placed straight into the console's cells at
// its cursor, in light grey on black, never into standard output. With no
// console behind the screen handle every operation does nothing.
#pragma once

#include <string_view>

namespace brevlith {

inline constexpr unsigned text_attribute = 0x07;  // light grey on black

// Writes `text` at the cursor, wrapping at the right edge and scrolling at
// the bottom; control characters show as glyphs. Never reports a failure.
void screen_write_text(std::string_view text);
// Moves to column 1 of the next row, scrolling on the bottom row.
void screen_line_end();
// 1-based; an out-of-range column or row keeps the cursor's own.
void set_cursor(int column, int row);
// Scrolls the whole screen up one row; the new bottom row is blank.
void scroll_up();

// Start-up: make the cursor visible when the console reports it hidden.
void prepare_cursor();

}  // namespace brevlith
