// The screen path on real terminals: tmux as the terminal emulator for what
// the screen shows, and a pseudo-terminal that never answers for the
// fallback. Standard output redirected or not, the term-count line must reach
// the terminal, never the redirected file, and leave the terminal as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

using namespace std::chrono_literals;

const std::string term_line = "Searching for a total of 3 terms.";
const std::string grey_on_black = "\x1b[37m\x1b[40m";
// A function, not a constant: the banner is another file's global.
std::string other_output() { return banner + created + processing("in.mbx", "X1"); }

void write_search_inputs() {
  write_file("in.mbx", "From ???@??? x\r\nalpha here\r\n");
  write_file("terms.txt", "alpha\r\nbeta\r\ngamma\r\n");
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

bool have_tmux() { return std::system("command -v tmux >/dev/null 2>&1") == 0; }

// Polls `ready` until it holds or ten seconds pass; true when it held.
bool eventually(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A detached tmux session of a known size on a private server, running a
// shell script in the current directory. The script's last act is to create
// "done" and then wait, so that the pane stays as the run left it.
class Pane {
 public:
  Pane(int width, int height, const std::string& script) {
    static std::atomic<int> count{0};
    socket_ = "brevlith-" + std::to_string(::getpid()) + "-" + std::to_string(count++);
    write_file("run.sh", script + "\ntouch done\nexec sleep 600\n");
    const RunResult r = tmux({"new-session", "-d", "-x", std::to_string(width), "-y",
                              std::to_string(height), "-s", "t", "-c", ".", "sh run.sh"});
    started_ = r.exit_code == 0;
    EXPECT_TRUE(started_) << r.err;
    EXPECT_TRUE(started_ && eventually([] { return exists("done"); })) << "the script never ended";
  }
  ~Pane() { tmux({"kill-server"}); }
  Pane(const Pane&) = delete;
  Pane& operator=(const Pane&) = delete;

  std::vector<std::string> rows(bool escapes = false) const {
    std::vector<std::string> lines;
    std::vector<std::string> args{"capture-pane", "-p", "-t", "t"};
    if (escapes) args.push_back("-e");
    std::istringstream in(tmux(args).out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The cursor as "column,row", both 0-based.
  std::string cursor() const {
    std::string at = tmux({"display-message", "-p", "-t", "t", "#{cursor_x},#{cursor_y}"}).out;
    if (!at.empty() && at.back() == '\n') at.pop_back();
    return at;
  }
  void expect_cursor(const std::string& expected, const std::string& label = "") const {
    std::string seen;
    eventually([&] { return (seen = cursor()) == expected; });
    EXPECT_EQ(seen, expected) << label;
  }
  // The terminal may still be drawing what the run wrote: wait for the
  // expected rows, then report the difference if they never came.
  void expect_rows(std::vector<std::string> expected, const std::string& label = "") const {
    expected.resize(std::max(expected.size(), rows().size()));
    std::vector<std::string> seen;
    eventually([&] { return (seen = rows()) == expected; });
    EXPECT_EQ(seen, expected) << label;
  }

 private:
  RunResult tmux(std::vector<std::string> args) const {
    args.insert(args.begin(), {"tmux", "-L", socket_, "-f", "/dev/null"});
    RunOptions options;
    options.in_child = [] { ::unsetenv("TMUX"); };
    options.timeout_seconds = 20;
    return run_program(args, options);
  }
  std::string socket_;
  bool started_ = false;
};

#define REQUIRE_TMUX() \
  BREVLITH_REQUIRE_TOOL(have_tmux(), "tmux is not installed (apt-get install tmux)")

TEST(Screen, TermCountGoesToTheTerminalAndNotToRedirectedOutput) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  REQUIRE_TMUX();
  ScopedTempDir dir;
  write_search_inputs();
  Pane pane(80, 24,
            "stty -a > before.txt\n" + quoted(brevlith_binary()) +
                " in.mbx /s=terms.txt > out.txt\necho $? > status.txt\nstty -a > after.txt");
  pane.expect_rows({term_line});
  EXPECT_EQ(pane.rows(true).at(0).rfind(grey_on_black + term_line, 0), 0u) << pane.rows(true).at(0);
  pane.expect_cursor("0,1");
  EXPECT_EQ(read_file("out.txt"), other_output());
  EXPECT_EQ(read_file("status.txt"), "0\n");
  EXPECT_EQ(read_file("after.txt"), read_file("before.txt"));
}

TEST(Screen, StandardOutputAndScreenShareTheCursor) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  REQUIRE_TMUX();
  ScopedTempDir dir;
  write_search_inputs();
  Pane pane(100, 24, quoted(brevlith_binary()) + " in.mbx /s=terms.txt");
  std::vector<std::string> expected;
  std::istringstream lines(banner);
  for (std::string line; std::getline(lines, line);)
    expected.push_back(line.substr(0, line.size() - 1));
  for (std::string line : {term_line, std::string("Created output subdirectory .\\brevlithoutput"),
                           std::string("Processing: in.mbx"), std::string("X1")})
    expected.push_back(line);
  pane.expect_rows(expected);
}

TEST(Screen, TermCountWrapsInANarrowPane) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  REQUIRE_TMUX();
  ScopedTempDir dir;
  write_search_inputs();
  Pane pane(20, 6, quoted(brevlith_binary()) + " in.mbx /s=terms.txt > out.txt");
  pane.expect_rows({"Searching for a tota", "l of 3 terms."});
  pane.expect_cursor("0,2");
  EXPECT_EQ(read_file("out.txt"), other_output());
}

TEST(Screen, NoTerminalBehindEitherStreamShowsNothing) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  REQUIRE_TMUX();
  ScopedTempDir dir;
  write_search_inputs();
  Pane pane(80, 24,
            quoted(brevlith_binary()) +
                " in.mbx /s=terms.txt > out.txt 2> err.txt\necho $? > status.txt");
  EXPECT_EQ(pane.rows(), std::vector<std::string>(24, ""));
  pane.expect_cursor("0,0");
  EXPECT_EQ(read_file("out.txt"), other_output());
  EXPECT_EQ(read_file("err.txt"), "");
  EXPECT_EQ(read_file("status.txt"), "0\n");
}

// The screen rules, step by step through the probe, in a 20 x 5 pane whose
// rows 1 to 4 are filled by standard output first.
TEST(Screen, WrapScrollAndLineEndRules) {
  REQUIRE_TMUX();
  struct Case {
    std::string label;
    std::vector<std::string> steps;
    std::vector<std::string> rows;
    std::string cursor;
  };
  const std::string fill = "p=row1\\r\\nrow2\\r\\nrow3\\r\\nrow4\\r\\n";
  const std::string twenty = "01234567890123456789";
  const std::vector<Case> cases = {
      {"a write longer than the row wraps to column 1 of the next row",
       {"c=15,2", "w=abcdefghij"},
       {"", std::string(14, ' ') + "abcdef", "ghij"},
       "4,2"},
      {"on the bottom row the screen scrolls before the rest is written",
       {fill, "w=ABCDEFGHIJKLMNOPQRSTUVWXY"},
       {"row2", "row3", "row4", "ABCDEFGHIJKLMNOPQRST", "UVWXY"},
       "5,4"},
      {"filling the bottom row leaves the cursor on it with a scroll pending",
       {fill, "w=" + twenty},
       {"row1", "row2", "row3", "row4", twenty},
       "0,4"},
      {"the line end after a filled bottom row leaves one empty row",
       {fill, "w=" + twenty, "e", "w=next"},
       {"row3", "row4", twenty, "", "next"},
       "4,4"},
      {"the line end after a filled row higher up leaves one empty row too",
       {"c=1,2", "w=" + twenty, "e", "w=next"},
       {"", twenty, "", "next"},
       "4,3"},
      {"a line end on the bottom row scrolls once",
       {fill, "w=last", "e"},
       {"row2", "row3", "row4", "last"},
       "0,4"},
      {"the next write after a filled bottom row scrolls first",
       {fill, "w=" + twenty, "w=more"},
       {"row2", "row3", "row4", twenty, "more"},
       "4,4"},
      {"an out-of-range cursor keeps the cursor's own column and row",
       {"c=3,2", "c=0,9", "w=x", "c=21,3", "w=y"},
       {"", "  x", "   y"},
       "4,2"},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::string command = quoted(SCREEN_PROBE);
    for (const std::string& step : c.steps) command.append(" ").append(quoted(step));
    Pane pane(20, 5, command);
    pane.expect_rows(c.rows, c.label);
    pane.expect_cursor(c.cursor, c.label);
  }
}

TEST(Screen, RowsWiderThanOneSegmentAreFilledToTheEnd) {
  REQUIRE_TMUX();
  ScopedTempDir dir;
  std::string text;
  for (int i = 0; i < 310; ++i) text += static_cast<char>('a' + i % 26);
  Pane pane(300, 3, quoted(SCREEN_PROBE) + " " + quoted("w=" + text));
  pane.expect_rows({text.substr(0, 300), text.substr(300)});
  pane.expect_cursor("10,1");
}

TEST(Screen, ControlCharactersShowAsGlyphsInGreyOnBlack) {
  REQUIRE_TMUX();
  ScopedTempDir dir;
  Pane pane(40, 4, quoted(SCREEN_PROBE) + " 'w=a\\rb\\nc\\td\\x7f\\x01\\x1b[31m\\xff!' e");
  // ESC shows as its glyph, so the colour sequence after it is only text.
  const std::string shown = "a♪b◙c○d⌂☺←[31m�!";
  pane.expect_rows({shown});
  EXPECT_EQ(pane.rows(true).at(0).rfind(grey_on_black + shown, 0), 0u) << pane.rows(true).at(0);
  pane.expect_cursor("0,1");
}

// A pseudo-terminal whose other end never answers the cursor query. The run
// has it as its controlling terminal and standard error, standard output
// goes to a file; `background` starts it as a background job. A run that
// still waits after ten seconds is killed: its exit code then says so.
struct SilentRun {
  int exit_code = -1;
  std::string terminal;  // everything the run wrote to the terminal
  bool settings_kept = false;
  int left_to_read = 0;  // bytes typed ahead that the terminal still holds
};

// `typed`: keys typed before the run starts; `late`: once it stopped waiting.
SilentRun run_on_silent_terminal(bool background, const std::string& typed = "",
                                 std::string late = "") {
  SilentRun run;
  int master = -1, slave = -1;
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 24;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) return run;
  termios before{}, after{};
  ::tcgetattr(slave, &before);
  if (!typed.empty()) {  // its echo shows that the terminal has taken it in
    char echo[64];
    pollfd p{master, POLLIN, 0};
    if (::write(master, typed.data(), typed.size()) < 0 || ::poll(&p, 1, 1000) <= 0 ||
        ::read(master, echo, sizeof echo) <= 0)
      return run;
  }
  const std::string binary = brevlith_binary();
  const char* argv[] = {binary.c_str(), "in.mbx", "/s=terms.txt", nullptr};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, 0);
    ::dup2(slave, 2);
    const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    for (int fd : {master, slave, out}) ::close(fd);
    if (!background) ::execv(argv[0], const_cast<char**>(argv));
    const pid_t job = ::fork();
    if (job == 0) {
      ::setpgid(0, 0);  // not the terminal's foreground group
      ::execv(argv[0], const_cast<char**>(argv));
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(job, &status, 0);  // a stopped job never returns here
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
  }
  int status = 0;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0) {
      char buffer[4096];
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) run.terminal.append(buffer, static_cast<size_t>(got));
    }
    if (!late.empty() && run.terminal.find(term_line) != std::string::npos &&
        ::write(master, late.data(), late.size()) > 0)
      late.clear();
    if (::waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() - start > 10s) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
  }
  if (!late.empty() && ::write(master, late.data(), late.size()) > 0) {  // the run ended first
    pollfd p{master, POLLIN, 0};
    ::poll(&p, 1, 1000);  // its echo shows that the terminal has taken it in
  }
  for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 0) > 0;) {
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    run.terminal.append(buffer, static_cast<size_t>(got));
  }
  ::tcgetattr(slave, &after);
  ::ioctl(slave, FIONREAD, &run.left_to_read);
  run.settings_kept = before.c_iflag == after.c_iflag && before.c_oflag == after.c_oflag &&
                      before.c_cflag == after.c_cflag && before.c_lflag == after.c_lflag &&
                      std::equal(std::begin(before.c_cc), std::end(before.c_cc), after.c_cc);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::close(master);
  ::close(slave);
  return run;
}

TEST(Screen, ATerminalThatNeverAnswersGetsTheLineAtItsCursor) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  ScopedTempDir dir;
  write_search_inputs();
  const SilentRun run = run_on_silent_terminal(false);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.settings_kept);
  // Asked once; from then on the text goes where the cursor is, ended by
  // CR LF (which the terminal's output processing turns into CR CR LF),
  // with no cursor moves and no scrolling.
  EXPECT_EQ(run.terminal, "\x1b[6n\x1b[37;40m" + term_line + "\x1b[0m\r\r\n");
  EXPECT_EQ(read_file("out.txt"), other_output());
}

// Keys typed ahead stay for the shell: the terminal is not asked, and the
// line goes where the cursor is.
TEST(Screen, TypedAheadInputIsNeitherReadNorAnsweredFor) {
  BREVLITH_LINUX_ONLY("the Linux build's terminal screen path");
  ScopedTempDir dir;
  write_search_inputs();
  const SilentRun run = run_on_silent_terminal(false, "ls -l\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.settings_kept);
  EXPECT_EQ(run.terminal, "\x1b[37;40m" + term_line + "\x1b[0m\r\r\n");
  EXPECT_EQ(run.left_to_read, 6);
}

// An answer after the wait is read away before the run ends, a key after it
// is not.
TEST(Screen, ALateAnswerNeverReachesTheShell) {
  BREVLITH_LINUX_ONLY("the Linux build's terminal screen path");
  ScopedTempDir dir;
  write_search_inputs();
  const SilentRun run = run_on_silent_terminal(false, "", "\x1b[5;1R\n");
  EXPECT_TRUE(run.exit_code == 0 && run.settings_kept);
  EXPECT_EQ(run.left_to_read, 1);
}

TEST(Screen, ABackgroundJobNeitherAsksNorStops) {
  BREVLITH_LINUX_ONLY(
      "the Linux build's terminal screen path; "
      "WindowsConsole.TermCountGoesToTheConsoleNotToStandardOutput runs the Windows one");
  ScopedTempDir dir;
  write_search_inputs();
  const SilentRun run = run_on_silent_terminal(true);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.settings_kept);
  EXPECT_EQ(run.terminal, "\x1b[37;40m" + term_line + "\x1b[0m\r\r\n");
  EXPECT_EQ(read_file("out.txt"), other_output());
}

}  // namespace
}  // namespace brevlith::testing
