#include "console/screen.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "console/output.h"
#include "console/process.h"
#include "host/host.h"

namespace brevlith {
namespace {

bool scroll_pending = false;
constexpr int max_segment = 256;

bool geometry(host::ScreenInfo& info) {
  return host::get_console_screen_buffer_info(process_values().screen_handle, info);
}

// Does the scroll that a write filling the bottom row left for the next one.
void take_pending_scroll() {
  if (!scroll_pending) return;
  scroll_pending = false;
  scroll_up();
}

// `units` as cells in the screen path's one colour.
void fill_cells(std::vector<host::Cell>& cells, std::u16string_view units) {
  cells.clear();
  for (const char16_t u : units) cells.push_back({u, static_cast<uint16_t>(text_attribute)});
}

// With the cursor's place unknown (a terminal that does not answer; a
// Windows console always knows it) no cell can be placed or counted without
// risk of overwriting what is on the screen: the text goes where the cursor
// stands and the console wraps and scrolls it as its ordinary output.
void write_at_cursor(std::u16string_view units) {
  take_pending_scroll();
  std::vector<host::Cell> cells;
  for (size_t done = 0; done < units.size(); done += cells.size()) {
    fill_cells(cells, units.substr(done, max_segment));
    host::write_console_cells_at_cursor(process_values().screen_handle, cells.data(),
                                        static_cast<int>(cells.size()));
  }
}

}  // namespace

void set_cursor(int column, int row) {
  host::ScreenInfo g;
  if (!geometry(g) || !g.cursor_known) return;
  if (column < 1 || column > g.width) column = g.cursor_x + 1;
  if (row < 1 || row > g.height) row = g.cursor_y + 1;
  host::set_console_cursor_position(process_values().screen_handle, column - 1, row - 1);
  scroll_pending = false;
}

void scroll_up() {
  host::scroll_console_screen_buffer_w(process_values().screen_handle,
                                       {u' ', static_cast<uint16_t>(text_attribute)});
}

void screen_write_text(std::string_view text) {
  flush_marks();  // the screen may be standard error, after the marks
  const host::Wide units = host::multi_byte_to_wide_char(text);
  if (units.empty()) return;
  host::ScreenInfo g;
  if (!geometry(g)) return;
  if (!g.cursor_known) return write_at_cursor(units);
  if (g.width < 1 || g.height < 1) return;
  int x = g.cursor_x, y = g.cursor_y;
  std::vector<host::Cell> cells;
  for (size_t done = 0; done < units.size();) {
    take_pending_scroll();
    const int n = static_cast<int>(
        std::min<size_t>({units.size() - done, static_cast<size_t>(g.width - x), max_segment}));
    fill_cells(cells, std::u16string_view(units).substr(done, static_cast<size_t>(n)));
    host::write_console_output_w(process_values().screen_handle, cells.data(), n, x, y);
    done += n;
    x += n;
    if (x >= g.width) {
      x = 0;
      if (y + 1 == g.height)
        scroll_pending = true;
      else
        ++y;
    }
  }
  const bool pending = scroll_pending;
  set_cursor(x + 1, y + 1);
  scroll_pending = pending;
}

void screen_line_end() {
  flush_marks();
  host::ScreenInfo g;
  if (!geometry(g)) return;
  if (!g.cursor_known) {
    take_pending_scroll();
    host::write_console_line_end(process_values().screen_handle);
    return;
  }
  if (g.cursor_y + 1 != g.height) {
    set_cursor(1, g.cursor_y + 2);
    return;
  }
  take_pending_scroll();
  scroll_up();
  set_cursor(1, g.height);
}

void prepare_cursor() {
  const ProcessValues& p = process_values();
  uint32_t size = 0;
  bool visible = false;
  if (host::get_console_cursor_info(p.screen_handle, size, visible) && size != 0) return;
  if (host::get_console_cursor_info(p.stdout_handle, size, visible) && size != 0) return;
  host::set_console_cursor_info(p.screen_handle, 10, true);
}

}  // namespace brevlith
