// Console screen operations on a Linux terminal. A terminal has no cell
// buffer to write into, so each cell request becomes a cursor move, a colour
// and the text; the size comes from the window size, and the cursor from the
// terminal's own position report.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "host/posix/posix.h"

namespace host {

using posix::fail;

namespace {

// Long enough for any local or remote terminal that answers at all, short
// enough that a terminal that never does costs no more than a blink.
int reply_wait_ms = 100;

// Once a query has gone unanswered the terminal is not asked again: a
// second wait would only add delay, and a late answer to the first query
// would be taken for the answer to the second.
bool terminal_silent = false;

// A slow link may still deliver the answer after the wait: it is read away
// before the run ends, awaited until this long after the query, so that it
// never lands in the shell's input.
constexpr int late_answer_ms = 500;
bool answer_owed = false;
std::chrono::steady_clock::time_point asked_at;

int terminal_descriptor(Handle h) {
  const int fd = posix::descriptor(h);
  return fd >= 0 && ::isatty(fd) ? fd : -1;
}

bool put(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {  // someone made the terminal non-blocking
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, -1);
        continue;
      }
      return posix::fail_errno();
    }
    bytes.remove_prefix(static_cast<size_t>(done));
  }
  return true;
}

bool window_size(int fd, int& width, int& height) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
  width = ws.ws_col;
  height = ws.ws_row;
  return true;
}

bool set_attributes(int fd, const termios& t) {
  int r;
  do r = ::tcsetattr(fd, TCSANOW, &t);
  while (r != 0 && errno == EINTR);
  return r == 0;
}

// Reads "ESC [ row ; column R" one byte at a time, so that input typed after
// the report stays for whoever reads the terminal next.
enum class Report { answered, timed_out, failed };
Report read_report(int fd, int& row, int& column, int wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  int state = 0;  // 0 nothing, 1 ESC, 2 in the row, 3 in the column
  int numbers[2] = {0, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return Report::timed_out;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Report::failed;
    if (ready <= 0) continue;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return Report::failed;
    unsigned char c;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno != EINTR && errno != EAGAIN) return Report::failed;
    if (got != 1) continue;
    if (c == 0x1b) {
      state = 1;
    } else if (state == 1 && c == '[') {
      state = 2;
      numbers[0] = numbers[1] = 0;
    } else if (state >= 2 && c >= '0' && c <= '9') {
      int& n = numbers[state - 2];
      if (n < 100000) n = n * 10 + (c - '0');
    } else if (state == 2 && c == ';') {
      state = 3;
    } else if (state == 3 && c == 'R') {
      row = numbers[0];
      column = numbers[1];
      return Report::answered;
    } else {
      state = 0;  // typed ahead: not part of a report
    }
  }
}

// Runs `read` with the terminal's input set to deliver an answer unechoed and
// unbuffered, restored at once; signals that could stop or end the process
// meanwhile wait until then, so the terminal is never left changed. Nothing
// (failed) for a background job, which must neither change the settings nor
// read the terminal.
template <class Read>
Report with_quiet_input(int in, Read read) {
  sigset_t held, saved_mask;
  sigemptyset(&held);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&held, s);
  ::pthread_sigmask(SIG_BLOCK, &held, &saved_mask);
  Report report = Report::failed;
  termios saved;
  // A background job must not touch the terminal's settings nor read it.
  if (::tcgetpgrp(in) == ::getpgrp() && ::tcgetattr(in, &saved) == 0) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    if (set_attributes(in, quiet)) report = read();
    // Also after a failed set, which may have changed some of the settings.
    set_attributes(in, saved);
  }
  ::pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
  return report;
}

// Asks the terminal where its cursor stands (1-based).
bool read_cursor(int screen_fd, int& row, int& column) {
  if (terminal_silent) return false;
  const int in = posix::descriptor(posix::console_input());
  // The answer arrives on the controlling terminal only (/dev/tty): when the
  // screen is some other terminal there is nobody to listen for it. The
  // session query succeeds only on the process's controlling terminal.
  if (in < 0 || ::tcgetsid(screen_fd) < 0) return false;
  const Report report = with_quiet_input(in, [&] {
    // Keys typed ahead (the next command) are the user's: with any waiting,
    // the terminal is not asked, and the answer never read along with them.
    // Counted once the line is no longer held back for editing.
    int waiting = 0;
    if (::ioctl(in, FIONREAD, &waiting) != 0 || waiting != 0 || !put(screen_fd, "\x1b[6n"))
      return Report::failed;
    asked_at = std::chrono::steady_clock::now();
    return read_report(in, row, column, reply_wait_ms);
  });
  if (report == Report::timed_out) terminal_silent = answer_owed = true;
  return report == Report::answered;
}

// What a cell shows. Control characters would act on the terminal, so they
// show their code page 437 glyph; C1 controls and lone surrogates (the escape
// of a byte that is not UTF-8) cannot be shown and become U+FFFD.
char32_t glyph(char16_t unit) {
  static constexpr char16_t controls[32] = {
      u'\u2400', u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
      u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
      u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
      u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC'};
  if (unit < 0x20) return controls[unit];
  if (unit == 0x7F) return U'\u2302';
  if ((unit >= 0x80 && unit <= 0x9F) || (unit >= 0xD800 && unit <= 0xDFFF)) return U'\uFFFD';
  return unit;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The console's colour bits are blue, green, red, intensity; the terminal's
// colour numbers count red, green, blue.
void append_colour(std::string& out, uint16_t attribute) {
  auto terminal_colour = [](unsigned bits) {
    return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
  };
  const unsigned fg = attribute & 0x0F, bg = (attribute >> 4) & 0x0F;
  out += "\x1b[";
  out += std::to_string((fg & 8 ? 90 : 30) + terminal_colour(fg));
  out += ';';
  out += std::to_string((bg & 8 ? 100 : 40) + terminal_colour(bg));
  out += 'm';
}

void append_cells(std::string& out, const Cell* cells, int n) {
  for (int i = 0; i < n; ++i) {
    if (i == 0 || cells[i].attribute != cells[i - 1].attribute)
      append_colour(out, cells[i].attribute);
    append_utf8(out, glyph(cells[i].ch));
  }
  out += "\x1b[0m";
}

void append_move(std::string& out, int x, int y) {
  out += "\x1b[" + std::to_string(y + 1) + ';' + std::to_string(x + 1) + 'H';
}

}  // namespace

void posix::set_terminal_reply_wait(int milliseconds) { reply_wait_ms = milliseconds; }

void posix::read_away_late_answer() {
  const int in = posix::descriptor(posix::console_input());
  if (!answer_owed || in < 0) return;
  answer_owed = false;
  // What is already there takes a moment to read, even past the time.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      asked_at + std::chrono::milliseconds(late_answer_ms) - std::chrono::steady_clock::now());
  const int wait_ms = static_cast<int>(std::max<int64_t>(left.count(), 20));
  with_quiet_input(in, [&] {
    int row = 0, column = 0;
    return read_report(in, row, column, wait_ms);
  });
}

bool get_console_screen_buffer_info(Handle h, ScreenInfo& info) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  info = {};
  int row = 0, column = 0;
  if (!window_size(fd, info.width, info.height) || !read_cursor(fd, row, column)) {
    info.cursor_known = false;
    return true;
  }
  info.cursor_x = std::clamp(column, 1, info.width) - 1;
  info.cursor_y = std::clamp(row, 1, info.height) - 1;
  return true;
}

bool write_console_output_w(Handle h, const Cell* cells, int n, int x, int y) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  if (n <= 0 || x < 0 || y < 0) return fail(win32::invalid_parameter);
  std::string out;
  append_move(out, x, y);
  append_cells(out, cells, n);
  return put(fd, out);
}

bool scroll_console_screen_buffer_w(Handle h, Cell fill) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  int width, height;
  if (!window_size(fd, width, height)) return fail(win32::invalid_handle);
  // The scroll itself leaves the new row in whatever colour the terminal
  // likes; it is filled afterwards, the cursor saved and restored around.
  std::string out =
      "\x1b[S\x1b"
      "7";
  append_move(out, 0, height - 1);
  if (fill.ch == u' ') {
    append_colour(out, fill.attribute);
    out += "\x1b[2K\x1b[0m";
  } else {
    const std::vector<Cell> row(static_cast<size_t>(width), fill);
    append_cells(out, row.data(), width);
  }
  out +=
      "\x1b"
      "8";
  return put(fd, out);
}

bool set_console_cursor_position(Handle h, int x, int y) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  if (x < 0 || y < 0) return fail(win32::invalid_parameter);
  std::string out;
  append_move(out, x, y);
  return put(fd, out);
}

bool write_console_cells_at_cursor(Handle h, const Cell* cells, int n) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  if (n <= 0) return fail(win32::invalid_parameter);
  std::string out;
  append_cells(out, cells, n);
  return put(fd, out);
}

bool write_console_line_end(Handle h) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  return put(fd, "\r\n");
}

// A terminal cannot be asked whether its cursor shows; it is taken as shown.
bool get_console_cursor_info(Handle h, uint32_t& size, bool& visible) {
  if (terminal_descriptor(h) < 0) return fail(win32::invalid_handle);
  size = 25;
  visible = true;
  return true;
}

bool set_console_cursor_info(Handle h, uint32_t, bool visible) {
  const int fd = terminal_descriptor(h);
  if (fd < 0) return fail(win32::invalid_handle);
  return put(fd, visible ? "\x1b[?25h" : "\x1b[?25l");
}

}  // namespace host
