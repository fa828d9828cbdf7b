// Faults with real causes, through the real binary: resource limits, closed
// and full standard output, missing rights, locks held by another process,
// files that are not files, awkward names and offsets beyond 32 bits. Each
// case checks the exit code, the lines on standard error, and that every
// message the fault did not touch is in its file byte for byte.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

// Message i: a separator line and a body of about `size` bytes, CR LF ends.
std::string message(int i, size_t size = 40, const std::string& word = "needle") {
  std::string m = "From ???@??? ";
  m.append(std::to_string(i)).append("\r\n").append(word).append(" ").append(std::to_string(i));
  if (m.size() + 3 < size) m.append(" ").append(size - m.size() - 3, 'x');
  return m.append("\r\n");
}

std::string mailbox(const std::vector<std::string>& messages) {
  std::string all;
  for (const std::string& m : messages) all += m;
  return all;
}

std::string numbered(const std::string& base, int i) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", i);
  return "brevlithoutput/" + base + "-" + digits + ".txt";
}

// "Processing: " with the dots of n messages and the count.
std::string picture(const std::string& name, int n) {
  return "Processing: " + name + "\r\n" + std::string(n - 1, '.') + std::to_string(n) + "\r\n";
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

// Another process holding an exclusive lock on a file until destroyed.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release_, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release_[1]);
      const int fd = ::open(path.c_str(), O_RDONLY);
      const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
      (void)!::write(ready[1], &ok, 1);
      char c;
      (void)!::read(release_[0], &c, 1);  // until the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release_[0]);
    char ok = '0';
    (void)!::read(ready[0], &ok, 1);
    ::close(ready[0]);
    if (ok != '1') throw std::runtime_error("cannot lock " + path);
  }
  ~HeldLock() {
    ::close(release_[1]);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

TEST(FileSizeLimit, AMessageLargerThanTheLimitFailsAndTheOthersAreWritten) {
  BREVLITH_LINUX_ONLY("Windows has no file-size limit like setrlimit's; Wine dies of SIGXFSZ");
  ScopedTempDir dir;
  const std::vector<std::string> m = {message(1), message(2, 5000), message(3)};
  write_file("in.mbx", mailbox(m));
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_FSIZE, 2000); };
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + picture("in.mbx", 3));
  EXPECT_EQ(r.err,
            "brevlith: cannot write brevlithoutput/in-0002.txt: disk full or file too large\n");
  EXPECT_EQ(read_file(numbered("in", 1)), m[0]);
  EXPECT_EQ(read_file(numbered("in", 2)), m[1].substr(0, 2000));  // as far as it went
  EXPECT_EQ(read_file(numbered("in", 3)), m[2]);
}

TEST(FileSizeLimit, ATermMailboxThatReachesTheLimitKeepsWholeRecordsOnly) {
  BREVLITH_LINUX_ONLY("Windows has no file-size limit like setrlimit's; Wine dies of SIGXFSZ");
  ScopedTempDir dir;
  // Records are CR LF + message: three of 302 bytes fit under 1000, the
  // fourth crosses; a small one later still fits after them.
  std::vector<std::string> m;
  for (int i = 1; i <= 8; ++i) m.push_back(message(i, i == 6 ? 50 : 300));
  write_file("in.mbx", mailbox(m));
  RunOptions options;
  options.in_child = [] { set_limit(RLIMIT_FSIZE, 1000); };
  const RunResult r = run_brevlith({"in.mbx", "/s=needle"}, options);
  EXPECT_EQ(r.exit_code, 1);
  std::string marks;
  for (int i = 1; i < 8; ++i) marks += "X.";
  EXPECT_EQ(r.out, banner + created + "Processing: in.mbx\r\n" + marks + "X8\r\n");
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
  for (int i = 1; i <= 25; ++i) m.push_back(message(i));
  write_file("in.mbx", mailbox(m));
  RunOptions options;
  // Standard streams and the mailbox: no descriptor left for a message file.
  options.in_child = [] {
    close_inherited();
    set_limit(RLIMIT_NOFILE, 4);
  };
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + picture("in.mbx", 25));
  std::string lines;
  for (int i = 1; i <= 20; ++i)
    lines += "brevlith: cannot write " + numbered("in", i) + ": too many open files\n";
  lines += "brevlith: 5 more message files could not be written\n";
  EXPECT_EQ(r.err, lines);
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{});
}

TEST(StandardOutput, ClosedOrFullIsReportedOnceAndEveryMessageIsWritten) {
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::function<void()> in_child;
    std::string stdout_path;
    std::string err;
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
  };
  const std::vector<std::string> m = {message(1), message(2), message(3)};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", mailbox(m));
    RunOptions options;
    options.in_child = c.in_child;
    options.stdout_path = c.stdout_path;
    // With descriptor 0 or 2 closed too, Wine's own files take the numbers
    // and become the standard handles.
    if (windows_host() && c.label != std::string("closed") && c.stdout_path.empty()) continue;
    const RunResult r = run_brevlith(c.args, options);
    EXPECT_EQ(r.exit_code, 1) << c.label;
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
  const std::vector<std::string> m = {message(1), message(2)};
  write_file("in.mbx", mailbox(m));
  ::chmod("in.mbx", 0644);
  ::mkdir("brevlithoutput", 0555);
  RunOptions options;
  options.in_child = without_rights();
  const RunResult r = run_brevlith({"in.mbx"}, options);
  if (r.exit_code == 125 || r.exit_code == 127)
    GTEST_SKIP() << "cannot run the tool as the unprivileged user nobody (65534) here";
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + noted + picture("in.mbx", 2));
  EXPECT_EQ(r.err, "brevlith: cannot write " + numbered("in", 1) +
                       ": permission denied\n"
                       "brevlith: cannot write " +
                       numbered("in", 2) + ": permission denied\n");
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{});
}

TEST(NoRights, AnOutputFolderThatCannotBeCreatedStopsBeforeAnyMailbox) {
  BREVLITH_LINUX_ONLY("runs the tool as the user nobody, who cannot use root's Wine prefix");
  ScopedTempDir dir;
  write_file("in.mbx", mailbox({message(1)}));
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
  const std::vector<std::string> m = {message(1), message(2)};
  for (const char* name : {"a.mbx", "b.mbx", "c.mbx"}) write_file(name, mailbox(m));
  HeldLock lock("b.mbx");
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + picture("a.mbx", 2) + "Processing: b.mbx\r\n0\r\n" +
                       picture("c.mbx", 2));
  EXPECT_EQ(r.err, "brevlith: cannot open mailbox b.mbx: in use by another program\n");
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{"a-0001.txt", "a-0002.txt", "c-0001.txt", "c-0002.txt"}));
  EXPECT_EQ(read_file(numbered("c", 2)), m[1]);
}

TEST(HeldByAnotherProcess, ALockedTermFileStopsTheRunAfterTheBanner) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  write_file("in.mbx", mailbox({message(1)}));
  write_file("terms.txt", "needle\r\n");
  HeldLock lock("terms.txt");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, "brevlith: cannot open term file terms.txt: in use by another program\n");
}

TEST(HeldByAnotherProcess, LockedOutputFilesAreNeitherCutNorWritten) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  const std::vector<std::string> m = {message(1), message(2), message(3)};
  write_file("in.mbx", mailbox(m));
  ::mkdir("brevlithoutput", 0755);
  write_file(numbered("in", 2), "kept");
  write_file("brevlithoutput/needle.mbx", "earlier records");
  {
    HeldLock lock(numbered("in", 2));
    const RunResult r = run_brevlith({"in.mbx"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, banner + noted + picture("in.mbx", 3));
    EXPECT_EQ(r.err,
              "brevlith: cannot write " + numbered("in", 2) + ": in use by another program\n");
    EXPECT_EQ(read_file(numbered("in", 1)), m[0]);
    EXPECT_EQ(read_file(numbered("in", 2)), "kept");
    EXPECT_EQ(read_file(numbered("in", 3)), m[2]);
  }
  HeldLock lock("brevlithoutput/needle.mbx");
  const RunResult r = run_brevlith({"in.mbx", "/s=needle"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + noted + "Processing: in.mbx\r\nX.X.X3\r\n");
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += "brevlith: cannot write brevlithoutput/needle.mbx: in use by another program\n";
  EXPECT_EQ(r.err, lines);
  EXPECT_EQ(read_file("brevlithoutput/needle.mbx"), "earlier records");
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
  const std::vector<std::string> m = {message(1), message(2)};
  write_file("a.mbx", mailbox(m));
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
  EXPECT_EQ(all.out, banner + created + picture("a.mbx", 2));
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
  EXPECT_EQ(term.out, banner + noted + "Processing: a.mbx\r\n.0\r\n");
}

TEST(NotAFile, AFifoInPlaceOfAMessageFileNeitherHangsNorStopsTheRun) {
  BREVLITH_LINUX_ONLY("FIFOs exist on Linux file systems only");
  ScopedTempDir dir;
  const std::vector<std::string> m = {message(1), message(2)};
  write_file("in.mbx", mailbox(m));
  ::mkdir("brevlithoutput", 0755);
  ASSERT_EQ(::mkfifo(numbered("in", 1).c_str(), 0644), 0);
  RunOptions options;
  options.timeout_seconds = 10;
  const RunResult r = run_brevlith({"in.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + noted + picture("in.mbx", 2));
  EXPECT_TRUE(r.err.starts_with("brevlith: cannot write " + numbered("in", 1) + ": ")) << r.err;
  EXPECT_EQ(read_file(numbered("in", 2)), m[1]);
}

TEST(Names, InvalidUtf8SurvivesIntoOutputNamesAndStandardOutput) {
  BREVLITH_LINUX_ONLY("names that are not UTF-8 exist on Linux only; Windows names are UTF-16");
  ScopedTempDir dir;
  const std::string name = "caf\xe9\xff.mbx";
  const std::vector<std::string> m = {message(1), message(2)};
  write_file(name, mailbox(m));
  for (const std::string& pattern : {std::string("*.mbx"), name}) {
    const RunResult r = run_brevlith({pattern});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find("Processing")), picture(name, 2));
    EXPECT_EQ(read_file(numbered("caf\xe9\xff", 2)), m[1]);
  }
}

TEST(Names, ABackslashInANameIsRefusedAndNeverReadsTheFileItSeemsToName) {
  BREVLITH_LINUX_ONLY("only a Linux name can hold a backslash");
  ScopedTempDir dir;
  ::mkdir("x", 0755);
  write_file("x/y.mbx", "the other file\r\n");
  write_file("x\\y.mbx", mailbox({message(1)}));
  write_file("z.mbx", mailbox({message(1)}));
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + "Processing: x\\y.mbx\r\n0\r\n" + picture("z.mbx", 1));
  EXPECT_EQ(
      r.err,
      "brevlith: cannot open mailbox x\\y.mbx: a name holding a backslash cannot be opened\n");
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
  const std::vector<std::string> m = {message(1), message(2)};
  for (const auto& row : rows) {
    ScopedTempDir dir;
    const std::string base(row.base, 'b');
    write_file(base + ".mbx", mailbox(m));
    const RunResult r = run_brevlith({"*.mbx"});
    EXPECT_EQ(r.out, banner + created + picture(base + ".mbx", 2)) << row.base;
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
  write_file(path, mailbox({message(1)}));
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
  EXPECT_EQ(r.out, banner + created + "Processing: " + shown + "\r\n" +
                       std::string(separators + 1, '.') + "X.X2\r\n");
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
  write_file("in.mbx", mailbox({message(1, 40, terms.substr(0, 60))}));
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
  write_file(boxes + "/0.mbx", mailbox({message(1)}));
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
