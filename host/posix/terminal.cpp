// Console screen operations on a Linux terminal.
#include "host/posix/posix.h"

namespace host {

using posix::fail;

bool get_console_screen_buffer_info(Handle, ScreenInfo&) { return fail(win32::invalid_handle); }
bool write_console_output_w(Handle, const Cell*, int, int, int) {
  return fail(win32::invalid_handle);
}
bool scroll_console_screen_buffer_w(Handle, Cell) { return fail(win32::invalid_handle); }
bool set_console_cursor_position(Handle, int, int) { return fail(win32::invalid_handle); }
bool get_console_cursor_info(Handle, uint32_t& size, bool& visible) {
  size = 25, visible = true;
  return true;
}
bool set_console_cursor_info(Handle, uint32_t, bool) { return true; }

}  // namespace host
