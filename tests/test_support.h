// Shared test helpers: a scoped temporary directory, whole-file reads and
// writes, and a runner for the built binary that captures everything.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brevlith::testing {

// Creates a fresh directory, makes it the current directory, and removes it
// (and returns to the previous directory) on destruction.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& path);

struct RunResult {
  int exit_code = -1;  // 128 + signal when killed
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string stdin_bytes;
  // Run in the child before exec, e.g. to set a resource limit or close a descriptor.
  std::function<void()> in_child;
  // Standard output goes to this file instead of the capture pipe.
  std::string stdout_path;
  int timeout_seconds = 60;
};

// Runs the built brevlith with these arguments in the current directory.
RunResult run_brevlith(const std::vector<std::string>& args, const RunOptions& options = {});
// Runs any program (argv[0] is looked up in PATH).
RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {});
// The program under test: the built binary, or, with BREVLITH_LAUNCHER set
// to a command such as "/usr/lib/wine/wine64 /path/brevlith.exe", that
// command's last word (run_brevlith runs the whole command).
const std::string& brevlith_binary();
// The Linux binary built beside the tests, whatever BREVLITH_LAUNCHER says.
const std::string& native_brevlith_binary();
// True when the program under test is the Windows build: it reads the raw
// command line (Wine quotes arguments holding blanks), "/" cuts the pattern,
// and names come back in the file system's order.
bool windows_host();

// The banner and the empty line after it, as every run prints them.
inline const std::string banner =
    "brevlith // by the brevlith developers // https://brevlith.example\r\n"
    "create a gazillion text files with one email per file, from eudora mailbox(es)\r\n"
    "--> usage: brevlith filename.ext [/s=searchterm]\r\n"
    "     *wildcards are ok in filename\r\n"
    "     *optional search term means that only emails matching search will be output\r\n"
    "     *if searchterm is a file it can be a list of terms, one per line\r\n"
    "     *search is case INsensitive\r\n"
    "     *in search mode, new mbx files are created, in normal mode txt files per email\r\n"
    "\r\n";
// The output-folder step's two lines.
inline const std::string created = "Created output subdirectory .\\brevlithoutput\r\n";
inline const std::string noted = "Note: Files will be written to .\\brevlithoutput\r\n";
// A mailbox's lines: "Processing: " and its name, then its marks and count
// (given n, a split's: a dot for each message but the last, then n); its first line.
std::string processing(const std::string& name, const std::string& marks);
std::string processing(const std::string& name, int n);
std::string processing_line(const std::string& name);

// Standard error as the program under test writes it, from the Linux
// build's text: the Windows build ends its lines in CR LF and shows names in
// the output folder with "\\", as it builds them ("brevlithoutput\\a.txt").
std::string host_stderr(const std::string& linux_text);

// For a test of behaviour that only the Linux build has by design.
#define BREVLITH_LINUX_ONLY(why) \
  if (::brevlith::testing::windows_host()) GTEST_SKIP() << "Linux build only: " << why

// Skips a test whose tool is missing, except under CI=true: there a test that
// never ran must not pass for one that did.
#define BREVLITH_REQUIRE_TOOL(present, why)                                       \
  if (!(present)) {                                                               \
    if (const char* ci = std::getenv("CI"); ci && std::string_view(ci) == "true") \
      FAIL() << why << " (CI=true: a missing tool fails the run)";                \
    GTEST_SKIP() << why;                                                          \
  }

// Sets up the process values (standard handles) for unit tests that print.
void init_test_process();

// Message i: a separator line "From ???@??? i" and a body of `word` and i,
// padded with x to about `size` bytes, CR LF ends.
std::string numbered_message(int i, size_t size = 40, const std::string& word = "needle");
// Messages from..to of numbered_message, joined into one mailbox.
std::string numbered_mailbox(int from, int to);
std::string joined(const std::vector<std::string>& parts);
// n with commas between groups of three digits, as the counts are printed.
std::string with_commas(int n);
// The search's plain reading: for each term (its bytes read as `terms_utf8`
// says), whether it occurs in the message, both taken as characters in the
// message's encoding and folded one by one; never where that encoding
// cannot write it.
std::vector<char> plain_hits(const std::string& message, const std::vector<std::string>& terms,
                             bool terms_utf8);

#ifndef _WIN32
// Runs `body` in a forked child, with standard output (and standard error,
// when `with_stderr`) on one captured pipe, or with standard output closed;
// the child's exit code is what `body` returns, unless `body` ends it first.
enum class ChildOutput { stdout_and_stderr, stdout_only, stdout_closed };
struct ChildResult {
  int exit_code = -1;  // 128 + signal when killed
  std::string out;
};
ChildResult run_in_child(const std::function<int()>& body, ChildOutput output);

struct LiveOptions {
  // Standard input on a pseudo-terminal, the run's controlling terminal;
  // else an empty pipe.
  bool stdin_on_terminal = false;
  // Standard output's pipe set O_NONBLOCK, as some parents hand it over.
  bool stdout_non_blocking = false;
  // Run in the child before exec, e.g. to set a resource limit.
  std::function<void()> in_child;
};

// A run of the built brevlith that the test steers while it goes on. Its
// standard output is a pipe with room for 1 KiB, read only by finish() (or
// wait_for_output): a run that prints more waits in a write, at a place the
// test knows. The stop signals start at their defaults,
// whatever the test runner ignores.
// Another process holding an exclusive lock on a file until destroyed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  int pid_ = -1;
  int release_[2] = {-1, -1};
};

class LiveRun {
 public:
  explicit LiveRun(const std::vector<std::string>& args, const LiveOptions& options = {});
  ~LiveRun();
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;
  // True once the run waits on standard output's full pipe, false after
  // `timeout_seconds`.
  bool wait_until_output_full(int timeout_seconds = 30);
  // Reads standard output until it holds `text`; false at its end.
  bool wait_for_output(const std::string& text, int timeout_seconds = 30);
  void send(int signal_number);
  // Reads both streams to their end and waits for the exit.
  RunResult finish(int timeout_seconds = 60);

 private:
  int pid_ = -1;
  int out_ = -1, err_ = -1, terminal_ = -1;
  size_t filling_ = 0;
  std::string out_read_;
};
#endif

}  // namespace brevlith::testing
