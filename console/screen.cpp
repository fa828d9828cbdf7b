#include "console/screen.h"

#include <algorithm>
#include <vector>

#include "console/process.h"
#include "host/host.h"

namespace brevlith {
namespace {

bool scroll_pending = false;
constexpr int max_segment = 256;

bool geometry(host::ScreenInfo& info) {
  return host::get_console_screen_buffer_info(process_values().screen_handle, info);
}

}  // namespace

bool pending_scroll() { return scroll_pending; }

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

namespace {

// With the cursor's place unknown no cell can be placed or counted without
// risk of overwriting what is on the screen: the text goes where the cursor
// stands and the console wraps and scrolls it as its ordinary output.
void write_at_cursor(const host::Wide& units) {
  if (scroll_pending) {
    scroll_pending = false;
    scroll_up();
  }
  std::vector<host::Cell> cells;
  for (size_t done = 0; done < units.size();) {
    const size_t n = std::min<size_t>(units.size() - done, max_segment);
    cells.clear();
    for (size_t i = 0; i < n; ++i)
      cells.push_back({units[done + i], static_cast<uint16_t>(text_attribute)});
    host::write_console_cells_at_cursor(process_values().screen_handle, cells.data(),
                                        static_cast<int>(n));
    done += n;
  }
}

}  // namespace

void screen_write_text(std::string_view text) {
  const host::Wide units = host::multi_byte_to_wide_char(text);
  if (units.empty()) return;
  host::ScreenInfo g;
  if (!geometry(g)) return;
  if (!g.cursor_known) {
    write_at_cursor(units);
    return;
  }
  if (g.width < 1 || g.height < 1) return;
  int x = g.cursor_x, y = g.cursor_y;
  std::vector<host::Cell> cells;
  for (size_t done = 0; done < units.size();) {
    if (scroll_pending) {
      scroll_pending = false;
      scroll_up();
    }
    const int n = static_cast<int>(
        std::min<size_t>({units.size() - done, static_cast<size_t>(g.width - x), max_segment}));
    cells.clear();
    for (int i = 0; i < n; ++i)
      cells.push_back({units[done + i], static_cast<uint16_t>(text_attribute)});
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
  host::ScreenInfo g;
  if (!geometry(g)) return;
  if (!g.cursor_known) {
    const bool pending = scroll_pending;
    scroll_pending = false;
    if (pending) scroll_up();
    host::write_console_line_end(process_values().screen_handle);
    return;
  }
  if (g.cursor_y + 1 != g.height) {
    set_cursor(1, g.cursor_y + 2);
    return;
  }
  const bool pending = scroll_pending;
  scroll_pending = false;
  if (pending) scroll_up();
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
