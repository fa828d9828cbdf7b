// Faults with real causes, through the real binary: resource limits, closed
// and full standard output, missing rights, locks held by another process,
// files that are not files, awkward names and offsets beyond 32 bits. Each
// case checks the exit code, the lines on standard error, and that every
// message the fault did not touch is in its file byte for byte.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

std::string numbered(const std::string& base, int i) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", i);
  return "brevlithoutput/" + base + "-" + digits + ".txt";
}

void set_limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  if (::setrlimit(resource, &limit) != 0) ::_exit(126);
}

// Descriptors the test process left open must not count against a limit,
// nor a terminal the tool would open for its screen.
void close_inherited() {
  for (int fd = 3; fd < 1024; ++fd) ::close(fd);
  ::setsid();
}

TEST(FileSizeLimit, AMessageLargerThanTheLimitFailsAndTheOthersAreWritten) {
  BREVLITH_LINUX_ONLY("Windows has no file-size limit like setrlimit's; Wine dies of SIGXFSZ");
  ScopedTempDir dir;
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2, 5000),
                                      numbered_message(3)};
  write_file("in.mbx", joined(m));
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_FSIZE, 2000); };
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", 3));
  EXPECT_EQ(r.err,
            "brevlith: cannot write brevlithoutput/in-0002.txt: disk full or file too large\n");
  EXPECT_EQ(read_file(numbered("in", 1)), m[0]);
  EXPECT_FALSE(exists(numbered("in", 2)));  // cut short, it would pass for the message
  EXPECT_EQ(read_file(numbered("in", 3)), m[2]);
}

TEST(FileSizeLimit, ATermMailboxThatReachesTheLimitKeepsWholeRecordsOnly) {
  BREVLITH_LINUX_ONLY("Windows has no file-size limit like setrlimit's; Wine dies of SIGXFSZ");
  ScopedTempDir dir;
  // Records are CR LF + message: three of 302 bytes fit under 1000, the
  // fourth crosses; a small one later still fits after them.
  std::vector<std::string> m;
  for (int i = 1; i <= 8; ++i) m.push_back(numbered_message(i, i == 6 ? 50 : 300));
  write_file("in.mbx", joined(m));
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_FSIZE, 1000); };
  const RunResult r = run_brevlith({"in.mbx", "/s=needle"}, options);
  EXPECT_EQ(r.exit_code, 1);
  std::string marks;
  for (int i = 1; i < 8; ++i) marks += "X.";
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", marks + "X8"));
  std::string lines;
  for (int i = 0; i < 4; ++i)
    lines += "brevlith: cannot write brevlithoutput/needle.mbx: disk full or file too large\n";
  EXPECT_EQ(r.err, lines);
  EXPECT_EQ(read_file("brevlithoutput/needle.mbx"),
            "\r\n" + m[0] + "\r\n" + m[1] + "\r\n" + m[2] + "\r\n" + m[5]);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

TEST(FileHandleLimit, MessageFilesFailAndTheFloodOfLinesIsCapped) {
  // The sanitizers' runtime opens pipes of its own to check memory, and
  // reports an error where none is when it cannot.
  if (sanitized) GTEST_SKIP() << "no spare descriptors for the sanitizer runtime";
  BREVLITH_LINUX_ONLY("a descriptor limit from setrlimit leaves Wine none of its own");
  ScopedTempDir dir;
  std::vector<std::string> m;
  for (int i = 1; i <= 25; ++i) m.push_back(numbered_message(i));
  write_file("in.mbx", joined(m));
  RunOptions options;
  // Standard streams, the output folder and the mailbox: no descriptor left
  // for a message file.
  options.in_child = [] {
    close_inherited();
    set_limit(RLIMIT_NOFILE, 5);
  };
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", 25));
  std::string lines;
  for (int i = 1; i <= 20; ++i)
    lines += "brevlith: cannot write " + numbered("in", i) + ": too many open files\n";
  lines += "brevlith: 5 more message files could not be written\n";
  EXPECT_EQ(r.err, lines);
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{});
  // In search mode what was not written are records.
  EXPECT_TRUE(run_brevlith({"in.mbx", "/s=needle"}, options)
                  .err.ends_with(
                      "files\nbrevlith: 5 more records of term mailboxes could not be written\n"));
}

// A pipe whose reader has gone, as with `brevlith in.mbx | head -1`.
void reader_closed_stdout() {
  int fds[2];
  if (::pipe(fds) != 0) ::_exit(126);
  ::dup2(fds[1], 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(StandardOutput, ClosedOrFullIsReportedOnceAndEveryMessageIsWritten) {
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::function<void()> in_child;
    std::string stdout_path;
    std::string err;
    int exit_code = 1;
  } cases[] = {
      {"closed",
       {"in.mbx"},
       [] { ::close(1); },
       "",
       "brevlith: cannot write to standard output: not open\n"},
      // With standard input closed too, the mailbox and the term mailbox
      // once took descriptors 0 and 1, and the X went into the term mailbox.
      {"input and output closed",
       {"in.mbx", "/s=needle"},
       [] {
         ::close(0);
         ::close(1);
       },
       "",
       "brevlith: cannot write to standard output: not open\n"},
      {"output and error closed",
       {"in.mbx", "/s=needle"},
       [] {
         ::close(1);
         ::close(2);
       },
       "",
       ""},
      {"/dev/full",
       {"in.mbx"},
       nullptr,
       "/dev/full",
       "brevlith: cannot write to standard output: disk full or file too large\n"},
      // A reader that left wants no more: no failure of the run.
      {"reader gone", {"in.mbx"}, reader_closed_stdout, "", "", 0},
      {"reader gone, term", {"in.mbx", "/s=needle"}, reader_closed_stdout, "", "", 0},
  };
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2),
                                      numbered_message(3)};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", joined(m));
    RunOptions options;
    options.in_child = c.in_child;
    options.stdout_path = c.stdout_path;
    // With descriptor 0 or 2 closed too, Wine's own files take the numbers
    // and become the standard handles.
    if (windows_host() && c.label != std::string("closed") && c.stdout_path.empty()) continue;
    if (windows_host() && c.exit_code == 0) continue;  // the reader is gone before Wine starts
    const RunResult r = run_brevlith(c.args, options);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.label;
    EXPECT_EQ(r.out, "") << c.label;
    EXPECT_EQ(r.err, host_stderr(c.err)) << c.label;
    if (c.args.size() == 1) {
      for (int i = 1; i <= 3; ++i) EXPECT_EQ(read_file(numbered("in", i)), m[i - 1]) << c.label;
    } else {
      EXPECT_EQ(read_file("brevlithoutput/needle.mbx"),
                "\r\n" + m[0] + "\r\n" + m[1] + "\r\n" + m[2])
          << c.label;
    }
  }
}

TEST(StandardOutput, AFullNonBlockingPipeIsWaitedForAndGetsEveryByte) {
  BREVLITH_LINUX_ONLY("a non-blocking pipe handed over by a POSIX parent");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"in.mbx"}, std::vector<std::string>{"in.mbx", "/s=needle"}}) {
    ScopedTempDir dir;
    std::vector<std::string> m;
    // More marks than one 4 KiB block, so that the run meets the full pipe.
    constexpr int n = 10000;
    for (int i = 1; i <= n; ++i) m.push_back(numbered_message(i));
    write_file("in.mbx", joined(m));
    LiveOptions options;
    options.stdout_non_blocking = true;
    LiveRun run(args, options);
    ASSERT_TRUE(run.wait_until_output_full()) << args.back();
    ::usleep(50000);  // the run meets EAGAIN while the pipe stays full
    const RunResult r = run.finish();
    EXPECT_EQ(r.exit_code, 0) << args.back() << r.err;
    EXPECT_EQ(r.err, "") << args.back();
    std::string marks;
    for (int i = 1; i < n; ++i) marks += args.size() == 1 ? "." : "X.";
    marks += args.size() == 1 ? "10,000" : "X10,000";
    EXPECT_EQ(r.out, banner + created + processing("in.mbx", marks)) << args.back();
  }
}

// A diagnostic that cannot be written leaves exit code 1 alone to say that
// the run failed: standard output's last line says why, once.
TEST(StandardError, LostDiagnosticsAreNamedOnceOnStandardOutput) {
  const std::function<void()> full = [] {
    const int fd = ::open("/dev/full", O_WRONLY);
    ::dup2(fd, 2);
  };
  const std::string lost = "; this run's diagnostics are lost\r\n";
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::function<void()> in_child;
    std::string out;  // after the banner
  } cases[] = {
      {"/dev/full, no mailbox",
       {"missing.mbx"},
       full,
       created +
           "FILE NOT FOUND\r\nbrevlith: cannot write to standard error: disk full or file "
           "too large" +
           lost},
      {"/dev/full, three output failures",
       {"in.mbx", "/s=needle"},
       full,
       noted + processing("in.mbx", "X.X.X3") +
           "brevlith: cannot write to standard error: disk full or file too large" + lost},
      {"closed",
       {"missing.mbx"},
       [] { ::close(2); },
       created + "FILE NOT FOUND\r\nbrevlith: cannot write to standard error: not open" + lost},
  };
  for (const auto& c : cases) {
    // With descriptor 2 closed, Wine's own files take the number.
    if (windows_host() && c.label == std::string("closed")) continue;
    ScopedTempDir dir;
    write_file("in.mbx", joined({numbered_message(1), numbered_message(2), numbered_message(3)}));
    if (c.args.size() == 2) {
      ::mkdir("brevlithoutput", 0755);
      ::mkdir("brevlithoutput/needle.mbx", 0755);  // every record fails
    }
    RunOptions options;
    options.in_child = c.in_child;
    const RunResult r = run_brevlith(c.args, options);
    EXPECT_EQ(r.exit_code, 1) << c.label;
    EXPECT_EQ(r.out, banner + c.out) << c.label;
    EXPECT_EQ(r.err, "") << c.label;
  }
}

// Permissions do not bind root: the child drops to nobody before exec.
std::function<void()> without_rights() {
  if (::geteuid() != 0) return nullptr;
  return [] {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
  };
}

TEST(NoRights, AReadOnlyOutputFolderFailsEachMessageAndNothingElse) {
  BREVLITH_LINUX_ONLY("runs the tool as the user nobody, who cannot use root's Wine prefix");
  ScopedTempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  write_file("in.mbx", joined(m));
  ::chmod("in.mbx", 0644);
  ::mkdir("brevlithoutput", 0555);
  RunOptions options;
  options.in_child = without_rights();
  const RunResult r = run_brevlith({"in.mbx"}, options);
  if (r.exit_code == 125 || r.exit_code == 127)
    GTEST_SKIP() << "cannot run the tool as the unprivileged user nobody (65534) here";
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + noted + processing("in.mbx", 2));
  EXPECT_EQ(r.err, "brevlith: cannot write " + numbered("in", 1) +
                       ": permission denied\n"
                       "brevlith: cannot write " +
                       numbered("in", 2) + ": permission denied\n");
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{});
}

TEST(NoRights, AnOutputFolderThatCannotBeCreatedStopsBeforeAnyMailbox) {
  BREVLITH_LINUX_ONLY("runs the tool as the user nobody, who cannot use root's Wine prefix");
  ScopedTempDir dir;
  write_file("in.mbx", joined({numbered_message(1)}));
  ::chmod("in.mbx", 0644);
  ::chmod(dir.path().c_str(), 0555);
  RunOptions options;
  options.in_child = without_rights();
  const RunResult r = run_brevlith({"in.mbx"}, options);
  ::chmod(dir.path().c_str(), 0755);
  if (r.exit_code == 125 || r.exit_code == 127)
    GTEST_SKIP() << "cannot run the tool as the unprivileged user nobody (65534) here";
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, "brevlith: cannot create the output folder brevlithoutput: permission denied\n");
}

TEST(HeldByAnotherProcess, ALockedMailboxIsSkippedWithCountZero) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  for (const char* name : {"a.mbx", "b.mbx", "c.mbx"}) write_file(name, joined(m));
  LockHolder lock("b.mbx");
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + processing("a.mbx", 2) + processing("b.mbx", "0") +
                       processing("c.mbx", 2));
  EXPECT_EQ(r.err, "brevlith: cannot open mailbox b.mbx: in use by another program\n");
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{"a-0001.txt", "a-0002.txt", "c-0001.txt", "c-0002.txt"}));
  EXPECT_EQ(read_file(numbered("c", 2)), m[1]);
  // Named again, it is said to be skipped, not to be read already.
  EXPECT_EQ(run_brevlith({"b.mbx", "./b.mbx"}).err,
            "brevlith: cannot open mailbox b.mbx: in use by another program\n"
            "brevlith: warning: mailbox ./b.mbx was named before as b.mbx and could not be "
            "opened then, so it is skipped: one file named twice is opened once; name each "
            "mailbox once\n");
}

TEST(HeldByAnotherProcess, ATermFileLockedForLongStopsTheRunAfterTheBanner) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  write_file("in.mbx", joined({numbered_message(1)}));
  write_file("terms.txt", "needle\r\n");
  LockHolder lock("terms.txt");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, "brevlith: cannot open term file terms.txt: in use by another program\n");
  EXPECT_FALSE(exists("brevlithoutput"));
}

TEST(HeldByAnotherProcess, LockedOutputFilesAreNeitherCutNorWritten) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2),
                                      numbered_message(3)};
  write_file("in.mbx", joined(m));
  ::mkdir("brevlithoutput", 0755);
  write_file(numbered("in", 2), "kept");
  write_file("brevlithoutput/needle.mbx", "earlier records");
  {
    LockHolder lock(numbered("in", 2));
    const RunResult r = run_brevlith({"in.mbx"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner + noted + processing("in.mbx", 3));
    EXPECT_EQ(r.err,
              "brevlith: cannot write " + numbered("in", 2) + ": in use by another program\n");
    EXPECT_EQ(read_file(numbered("in", 1)), m[0]);
    EXPECT_EQ(read_file(numbered("in", 2)), "kept");
    EXPECT_EQ(read_file(numbered("in", 3)), m[2]);
  }
  // A term mailbox held for good: each record is given up after its wait,
  // and none is half written.
  auto lock = std::make_unique<LockHolder>("brevlithoutput/needle.mbx");
  const RunResult r = run_brevlith({"in.mbx", "/s=needle"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + noted + processing("in.mbx", "X.X.X3"));
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += "brevlith: cannot write brevlithoutput/needle.mbx: in use by another program\n";
  EXPECT_EQ(r.err, lines);
  EXPECT_EQ(read_file("brevlithoutput/needle.mbx"), "earlier records");

  // Held for a moment, as another run adding a record holds it: nothing lost.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    lock.reset();
  });
  const RunResult later = run_brevlith({"in.mbx", "/s=needle"});
  release.join();
  EXPECT_EQ(later.exit_code, 0) << later.err;
  EXPECT_EQ(read_file("brevlithoutput/needle.mbx"),
            "earlier records\r\n" + m[0] + "\r\n" + m[1] + "\r\n" + m[2]);
}

// Runs the tool once per argument list, all at the same time.
std::vector<RunResult> run_together(const std::vector<std::vector<std::string>>& runs) {
  std::vector<RunResult> results(runs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < runs.size(); ++i)
    threads.emplace_back([&, i] { results[i] = run_brevlith(runs[i]); });
  for (std::thread& t : threads) t.join();
  return results;
}

// Run k's message i: its own words and length, so that a file holding one
// run's message and the tail of another's cannot pass for either.
std::string run_message(int k, int i) {
  const std::string words[] = {"needle", "hay", "needle hay"};
  return numbered_message(i, 60 + static_cast<size_t>((i * 37 + k * 101) % 400),
                          words[(i + k) % 3] + " run" + std::to_string(k));
}

TEST(ParallelRuns, NumberedFilesOfTheSameNamesAreEachOneRunsWholeMessage) {
  BREVLITH_LINUX_ONLY("four Wine processes at once take longer than the runs they start");
  ScopedTempDir dir;
  constexpr int runs = 4, messages = 300;
  std::vector<std::vector<std::string>> args;
  for (int k = 0; k < runs; ++k) {
    const std::string folder = std::string("d").append(std::to_string(k));
    ::mkdir(folder.c_str(), 0755);
    std::vector<std::string> m;
    for (int i = 1; i <= messages; ++i) m.push_back(run_message(k, i));
    write_file(folder + "/in.mbx", joined(m));
    args.push_back({folder + "/in.mbx"});
  }
  // Started together, they also make the output folder at the same moment.
  for (const RunResult& r : run_together(args)) {
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.exit_code;
    // Only a file another run held at that moment may be refused.
    for (size_t at = 0; at < r.err.size();) {
      const size_t end = r.err.find('\n', at);
      const std::string line = r.err.substr(at, end - at);
      EXPECT_TRUE((line.starts_with("brevlith: cannot write brevlithoutput/in-") &&
                   line.ends_with(": in use by another program")) ||
                  line.ends_with(" more message files could not be written"))
          << line;
      at = end + 1;
    }
  }
  for (int i = 1; i <= messages; ++i) {
    const std::string bytes = read_file(numbered("in", i));
    bool whole = false;
    for (int k = 0; k < runs; ++k) whole = whole || bytes == run_message(k, i);
    EXPECT_TRUE(whole) << numbered("in", i) << " holds no run's message " << i;
  }
}

TEST(ParallelRuns, EveryHitOfEveryRunIsOneWholeRecordInItsTermMailbox) {
  BREVLITH_LINUX_ONLY("four Wine processes at once take longer than the runs they start");
  ScopedTempDir dir;
  constexpr int runs = 4, messages = 300;
  write_file("terms.txt", "needle\r\nhay\r\n");
  std::multiset<std::string> want_needle, want_hay;
  std::vector<std::vector<std::string>> args;
  for (int k = 0; k < runs; ++k) {
    std::vector<std::string> m;
    for (int i = 1; i <= messages; ++i) {
      m.push_back(run_message(k, i));
      if (m.back().find("needle") != std::string::npos) want_needle.insert("\r\n" + m.back());
      if (m.back().find("hay") != std::string::npos) want_hay.insert("\r\n" + m.back());
    }
    const std::string name = std::string("a").append(std::to_string(k)).append(".mbx");
    write_file(name, joined(m));
    args.push_back({name, "/s=terms.txt"});
  }
  // needle.mbx ends in the old end-of-file mark, which every run keeps last.
  const std::string earlier = "\r\n" + run_message(runs, 1);
  ::mkdir("brevlithoutput", 0755);
  write_file("brevlithoutput/needle.mbx", earlier + "\x1a");
  want_needle.insert(earlier);
  // Started together, they also load the one term file at the same moment.
  for (const RunResult& r : run_together(args)) {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  const auto records = [](const std::string& mbx) {
    std::multiset<std::string> found;
    for (size_t at = 0; at < mbx.size();) {
      size_t next = mbx.find("\r\nFrom ???@???", at + 1);
      if (next == std::string::npos) next = mbx.size();
      found.insert(mbx.substr(at, next - at));
      at = next;
    }
    return found;
  };
  const std::string needles = read_file("brevlithoutput/needle.mbx");
  EXPECT_EQ(needles.find('\x1a'), needles.size() - 1);
  EXPECT_TRUE(records(needles.substr(0, needles.size() - 1)) == want_needle);
  EXPECT_TRUE(records(read_file("brevlithoutput/hay.mbx")) == want_hay);
}

void make_socket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);  // the socket file stays
}

TEST(NotAFile, FifosSocketsDevicesAndDanglingLinksAreNeverOpened) {
  BREVLITH_LINUX_ONLY("FIFOs, sockets and links to devices exist on Linux file systems only");
  ScopedTempDir dir;
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  write_file("a.mbx", joined(m));
  ASSERT_EQ(::mkfifo("fifo.mbx", 0644), 0);
  make_socket(dir.path() + "/socket.mbx");
  ASSERT_EQ(::symlink("/dev/zero", "zero.mbx"), 0);  // endless, if it were read
  ASSERT_EQ(::symlink("fifo.mbx", "to-fifo.mbx"), 0);
  ASSERT_EQ(::symlink("missing", "dangling.mbx"), 0);
  ASSERT_EQ(::mkfifo("terms", 0644), 0);
  RunOptions options;
  options.timeout_seconds = 10;
  const RunResult all = run_brevlith({"*.mbx"}, options);
  EXPECT_EQ(all.exit_code, 0) << all.err;
  EXPECT_EQ(all.out, banner + created + processing("a.mbx", 2));
  EXPECT_EQ(list_dir("brevlithoutput"), (std::vector<std::string>{"a-0001.txt", "a-0002.txt"}));

  for (const char* name : {"fifo.mbx", "socket.mbx", "zero.mbx", "to-fifo.mbx", "dangling.mbx"}) {
    const RunResult one = run_brevlith({name}, options);
    EXPECT_EQ(one.exit_code, 1) << name;
    EXPECT_EQ(one.out, banner + noted + "FILE NOT FOUND\r\n") << name;
    EXPECT_EQ(one.err, "brevlith: no mailbox matches " + std::string(name) + "\n") << name;
  }
  // A FIFO is no term file: its name is the term.
  const RunResult term = run_brevlith({"a.mbx", "/s=terms"}, options);
  EXPECT_EQ(term.exit_code, 0) << term.err;
  EXPECT_EQ(term.out, banner + noted + processing("a.mbx", ".0"));
}

TEST(NotAFile, NothingButAFileAtAnOutputNameIsWrittenThrough) {
  BREVLITH_LINUX_ONLY("FIFOs, sockets and symbolic links exist on Linux file systems only");
  const std::string not_followed = ": a symbolic link, which output never follows\n";
  const std::string not_a_file = ": not a regular file\n";
  const struct {
    const char* label;
    std::function<void(const std::string&)> make;
    std::string reason;
    bool own_file_in_normal_mode = false;  // a new file at the name, nothing reported
  } cases[] = {
      {"link to a file outside",
       [](const std::string& at) { ::symlink("../victim.txt", at.c_str()); }, not_followed},
      {"dangling link", [](const std::string& at) { ::symlink("../made.txt", at.c_str()); },
       not_followed},
      {"link to a device", [](const std::string& at) { ::symlink("/dev/null", at.c_str()); },
       not_followed},
      {"FIFO nobody reads", [](const std::string& at) { ::mkfifo(at.c_str(), 0644); }, not_a_file},
      {"socket", [](const std::string& at) { make_socket(at); }, not_a_file},
      {"folder", [](const std::string& at) { ::mkdir(at.c_str(), 0755); },
       ": permission denied\n"},  // as Windows says it
      // What a snapshot made with cp -al leaves at every output name.
      {"hard link to a file outside",
       [](const std::string& at) { ::link("victim.txt", at.c_str()); },
       ": it has other names (hard links), whose bytes output never changes; remove this name or "
       "the others\n",
       true},
  };
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  RunOptions options;
  options.timeout_seconds = 10;
  for (const auto& c : cases) {
    for (const bool search : {false, true}) {
      ScopedTempDir dir;
      write_file("in.mbx", joined(m));
      write_file("victim.txt", "not the tool's");
      ::mkdir("brevlithoutput", 0755);
      const std::string at = search ? "brevlithoutput/needle.mbx" : numbered("in", 1);
      c.make(dir.path() + "/" + at);
      const RunResult r = run_brevlith(search ? std::vector<std::string>{"in.mbx", "/s=needle"}
                                              : std::vector<std::string>{"in.mbx"},
                                       options);
      const std::string label = std::string(c.label) + (search ? ", search" : "");
      const bool own_file = c.own_file_in_normal_mode && !search;
      EXPECT_EQ(r.exit_code, own_file ? 0 : 1) << label;
      EXPECT_EQ(r.out,
                banner + noted + (search ? processing("in.mbx", "X.X2") : processing("in.mbx", 2)))
          << label;
      EXPECT_EQ(r.err, own_file ? ""
                       : search ? "brevlith: cannot write " + at + c.reason +
                                      "brevlith: cannot write " + at + c.reason
                                : "brevlith: cannot write " + at + c.reason)
          << label;
      EXPECT_EQ(read_file("victim.txt"), "not the tool's") << label;
      EXPECT_FALSE(exists("made.txt")) << label;
      if (!search) {
        EXPECT_EQ(read_file(numbered("in", 2)), m[1]) << label;
        if (own_file) {
          EXPECT_EQ(read_file(numbered("in", 1)), m[0]) << label;
        }
      }
    }
  }
}

TEST(OutputFiles, NewFilesAreNoMoreReadableThanTheirMailbox) {
  BREVLITH_LINUX_ONLY("Windows files take the folder's inherited access rights");
  const struct {
    mode_t mailbox, umask, want;
  } cases[] = {
      {0600, 022, 0600},
      {0640, 027, 0640},
      {0644, 077, 0600},
      {0444, 022, 0644},  // still writable by its owner: the next run replaces it
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", joined({numbered_message(1), numbered_message(2)}));
    ::chmod("in.mbx", c.mailbox);
    ::mkdir("brevlithoutput", 0755);
    write_file(numbered("in", 2), "earlier");
    ::chmod(numbered("in", 2).c_str(), 0664);
    RunOptions options;
    options.in_child = [&] { ::umask(c.umask); };
    EXPECT_EQ(run_brevlith({"in.mbx"}, options).exit_code, 0);
    EXPECT_EQ(run_brevlith({"in.mbx", "/s=needle"}, options).exit_code, 0);
    const auto mode = [](const std::string& path) {
      struct stat st {};
      ::stat(path.c_str(), &st);
      return st.st_mode & 07777;
    };
    EXPECT_EQ(mode(numbered("in", 1)), c.want) << std::oct << c.mailbox;
    EXPECT_EQ(mode("brevlithoutput/needle.mbx"), c.want) << std::oct << c.mailbox;
    EXPECT_EQ(mode(numbered("in", 2)), 0664u) << "an existing file keeps its mode";
  }
}

TEST(OutputFiles, StandardOutputRedirectedIntoTheOutputFolderIsNotWrittenOver) {
  BREVLITH_LINUX_ONLY("Windows refuses the open itself: the shell holds the file");
  ScopedTempDir dir;
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  write_file("in.mbx", joined(m));
  ::mkdir("brevlithoutput", 0755);
  RunOptions options;
  options.stdout_path = numbered("in", 1);
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "brevlith: cannot write " + numbered("in", 1) +
                       ": it is where this run's standard output or standard error goes\n");
  EXPECT_EQ(read_file(numbered("in", 1)), banner + noted + processing("in.mbx", 2));
  EXPECT_EQ(read_file(numbered("in", 2)), m[1]);
}

TEST(Names, InvalidUtf8SurvivesIntoOutputNamesAndStandardOutput) {
  BREVLITH_LINUX_ONLY("names that are not UTF-8 exist on Linux only; Windows names are UTF-16");
  ScopedTempDir dir;
  const std::string name = "caf\xe9\xff.mbx";
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  write_file(name, joined(m));
  for (const std::string& pattern : {std::string("*.mbx"), name}) {
    const RunResult r = run_brevlith({pattern});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("Processing")), processing(name, 2));
    EXPECT_EQ(read_file(numbered("caf\xe9\xff", 2)), m[1]);
  }
}

// A name that would set a terminal's title and clear it: on a terminal each
// control byte shows as "?", redirected the bytes stay as they are.
TEST(Names, ControlBytesInANameCannotActOnATerminal) {
  BREVLITH_LINUX_ONLY("only a Linux name can hold control bytes");
  ScopedTempDir dir;
  // C1 controls too: CSI as UTF-8 and OSC as a lone byte; the é stays.
  const std::string name =
      "evil\x1b]0;x\a\x1b[2J\xc2\x9b"
      "31m\x9d\xc3\xa9.mbx";
  write_file(name, joined({numbered_message(1)}));
  const RunResult redirected = run_brevlith({"*.mbx"});
  EXPECT_EQ(redirected.out, banner + created + processing(name, 1));

  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);  // the bytes as written, no CR added
  ::tcsetattr(slave, TCSANOW, &raw);
  RunOptions on_terminal;
  on_terminal.in_child = [&] {
    ::setsid();  // no controlling terminal to query
    ::dup2(slave, 1);
  };
  const RunResult r = run_brevlith({"*.mbx"}, on_terminal);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::string screen;
  for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 100) > 0;) {
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;
    screen.append(buffer, static_cast<size_t>(got));
  }
  ::close(master);
  ::close(slave);
  EXPECT_NE(screen.find(processing("evil?]0;x??[2J?31m?\xc3\xa9.mbx", 1)), std::string::npos)
      << screen;
  EXPECT_EQ(screen.find("\x1b]0;"), std::string::npos);
}

TEST(Names, ABackslashInANameIsRefusedAndNeverReadsTheFileItSeemsToName) {
  BREVLITH_LINUX_ONLY("only a Linux name can hold a backslash");
  ScopedTempDir dir;
  ::mkdir("x", 0755);
  write_file("x/y.mbx", "the other file\r\n");
  // The escape byte must not reach standard error as it is.
  write_file("x\\y\x1b.mbx", joined({numbered_message(1)}));
  write_file("z.mbx", joined({numbered_message(1)}));
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + processing("x\\y\x1b.mbx", "0") + processing("z.mbx", 1));
  EXPECT_EQ(r.err,
            "brevlith: cannot open mailbox x\\y\\x1b.mbx: a name holding a backslash cannot be "
            "opened\n");
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"z-0001.txt"});
}

TEST(Names, LongNamesAreRefusedWholeAndNeverCut) {
  const struct {
    size_t base;  // bytes before ".mbx"
    bool written;
  } rows[] = {
      {231, true},   // brevlithoutput\ + base + -0001.txt is 255 units
      {232, false},  // one more: refused, never cut
      {240, false},  // cut, every message once landed in one file named by the base alone
      {251, false},  // the longest name a Linux folder holds
  };
  const std::vector<std::string> m = {numbered_message(1), numbered_message(2)};
  for (const auto& row : rows) {
    ScopedTempDir dir;
    const std::string base(row.base, 'b');
    write_file(base + ".mbx", joined(m));
    const RunResult r = run_brevlith({"*.mbx"});
    EXPECT_EQ(r.out, banner + created + processing(base + ".mbx", 2)) << row.base;
    if (row.written) {
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(read_file(numbered(base, 1)), m[0]);
      EXPECT_EQ(read_file(numbered(base, 2)), m[1]);
    } else {
      EXPECT_EQ(r.exit_code, 1) << row.base;
      EXPECT_EQ(r.err, host_stderr("brevlith: cannot write " + numbered(base, 1) +
                                   ": name too long\n"
                                   "brevlith: cannot write " +
                                   numbered(base, 2) + ": name too long\n"));
      EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{}) << row.base;
    }
  }
}

TEST(Names, APatternOf300BytesIsRefusedNotCut) {
  BREVLITH_LINUX_ONLY(
      "the Windows build cuts a pattern to 256 units and finds nothing, as its search does");
  ScopedTempDir dir;
  // A real path of 300 bytes: folders of 99 bytes and a mailbox.
  const std::string folder = std::string(99, 'd') + "/" + std::string(99, 'e') + "/";
  ::mkdir(folder.substr(0, 99).c_str(), 0755);
  ::mkdir(folder.c_str(), 0755);
  const std::string path = folder + std::string(300 - folder.size() - 4, 'f') + ".mbx";
  ASSERT_EQ(path.size(), 300u);
  write_file(path, joined({numbered_message(1)}));
  for (const std::string& pattern : {path, std::string(296, 'g') + ".mbx"}) {
    const RunResult r = run_brevlith({pattern});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.ends_with("brevlithoutput\r\nFILE NOT FOUND\r\n")) << r.out;
    EXPECT_EQ(r.err, "brevlith: cannot search for " + pattern + ": name too long\n");
  }
}

// A sparse file costs little room; reading its 4 GiB of zeros takes a few
// seconds. Separators stand every 64 MiB, so no message is large.
TEST(LargeOffsets, SeparatorsBeyondFourGibAreSplitAndSearched) {
  ScopedTempDir dir;
  const std::string folder = exists("/dev/shm") ? "/dev/shm" : dir.path();
  const std::string path = folder + "/brevlith-sparse-" + std::to_string(::getpid()) + ".mbx";
  struct Remove {
    std::string path;
    ~Remove() { ::unlink(path.c_str()); }
  } remove{path};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const auto put = [&](const std::string& bytes, int64_t at) {
    return ::pwrite(fd, bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size());
  };
  constexpr int64_t step = int64_t{64} << 20, four_gib = int64_t{4} << 30;
  bool written = put("first line\r\n", 0);
  int separators = 0;
  for (int64_t at = step; at <= four_gib; at += step)
    written = written && put("\rFrom ???@??? " + std::to_string(++separators) + "\r\n", at);
  const std::string a = "From ???@??? a\r\nneedle one\r\n", b = "From ???@??? b\r\nneedle two\r\n";
  written = written && put("\r" + a + b, four_gib + (1 << 20));
  ::close(fd);
  ASSERT_TRUE(written) << "cannot write a sparse file in " << folder;
  const std::string shown = path.substr(folder.size() + 1);
  RunOptions options;
  options.timeout_seconds = 300;
  // Wine shows the Linux root as drive Z:, and on Windows "/" would end the pattern.
  std::string pattern = path;
  if (windows_host()) {
    std::replace(pattern.begin(), pattern.end(), '/', '\\');
    pattern = "Z:" + pattern;
  }
  const RunResult r = run_brevlith({pattern, "/s=needle"}, options);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing(shown, std::string(separators + 1, '.') + "X.X2"));
  EXPECT_EQ(read_file("brevlithoutput/needle.mbx"), "\r\n" + a + "\r\n" + b);
}

// The tool starts in about 8 MiB of address space; each case below gives it
// a limit well above that and a structure that needs well beyond the limit.
constexpr rlim_t mib = rlim_t{1} << 20;

// Text of `n` random characters from a fixed seed, each call different.
std::string random_text(std::mt19937& rng, size_t n) {
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string text(n, ' ');
  for (char& c : text) c = alphabet[rng() % 36];
  return text;
}

TEST(MemoryLimit, ATermFileTooLargeToSearchStopsTheRunBeforeAnyOutput) {
  if (sanitized) GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
  BREVLITH_LINUX_ONLY("an address-space limit from setrlimit leaves Wine no room to start");
  ScopedTempDir dir;
  // 3 MB of terms load in 6 MiB, but their automaton needs over 30 MiB.
  std::mt19937 rng(11);
  std::string terms;
  for (int i = 0; i < 50000; ++i) terms += random_text(rng, 60) + "\r\n";
  write_file("terms.txt", terms);
  write_file("in.mbx", joined({numbered_message(1, 40, terms.substr(0, 60))}));
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_AS, 24 * mib); };
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err,
            "brevlith: the term file terms.txt is too large for memory; split it into smaller "
            "term files\n");
  EXPECT_FALSE(exists("brevlithoutput"));
}

TEST(MemoryLimit, AListingTooLargeForMemoryIsReportedNotTakenForItsEnd) {
  if (sanitized) GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
  BREVLITH_LINUX_ONLY("an address-space limit from setrlimit leaves Wine no room to start");
  ScopedTempDir dir;
  // On tmpfs where there is one: a disk takes many seconds for these files.
  std::string boxes =
      (exists("/dev/shm") ? std::string("/dev/shm") : dir.path()) + "/brevlith-names-XXXXXX";
  ASSERT_NE(::mkdtemp(boxes.data()), nullptr);
  struct Removed {
    std::string path;
    ~Removed() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } removed{boxes};
  write_file(boxes + "/0.mbx", joined({numbered_message(1)}));
  // 15 MB of names, 60,000 of 250 bytes, against 16 MiB in all.
  std::mt19937 rng(12);
  for (int i = 0; i < 60000; ++i) {
    const std::string name = boxes + "/" + std::to_string(i) + random_text(rng, 240) + ".mbx";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_AS, 16 * mib); };
  const RunResult r = run_brevlith({boxes + "/*.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + "FILE NOT FOUND\r\n");
  EXPECT_EQ(r.err, "brevlith: cannot search for " + boxes + "/*.mbx: not enough memory\n");
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{});
}

}  // namespace
}  // namespace brevlith::testing
