// What the tool does when something cannot be read or written: a clear line
// on standard error, exit code 1, and everything else still done.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

// Holds an exclusive lock on a file from another process for its lifetime.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      ::flock(fd, LOCK_EX);
      (void)!::write(ready[1], "x", 1);
      ::pause();
      ::_exit(0);
    }
    char c;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~LockHolder() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

TEST(SoundBehaviour, MailboxesAreOpenedInThePatternsFolder) {
  ScopedTempDir dir;
  ::mkdir("mail", 0755);
  write_file("mail/in.mbx", "from the folder\r\n");
  write_file("in.mbx", "from the current directory\r\n");
  for (const std::string pattern : {"mail/in.mbx", "mail/*.mbx", "mail\\in.mbx"}) {
    if (windows_host() && pattern.find('/') != std::string::npos) continue;  // "/" ends it there
    const RunResult r = run_brevlith({pattern});
    EXPECT_EQ(r.exit_code, 0) << pattern << r.err;
    EXPECT_NE(r.out.find("Processing: in.mbx\r\n1\r\n"), std::string::npos) << pattern;
    EXPECT_EQ(read_file("brevlithoutput/in-0001.txt"), "from the folder\r\n") << pattern;
  }
}

TEST(SoundBehaviour, AMailboxThatCannotBeOpenedIsReportedAndSkipped) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  write_file("a.mbx", "a\r\n");
  write_file("b.mbx", "b\r\n");
  write_file("c.mbx", "");
  LockHolder holder("b.mbx");
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "brevlith: cannot open mailbox b.mbx: in use by another program\n");
  EXPECT_EQ(r.out,
            banner + created +
                "Processing: a.mbx\r\n1\r\nProcessing: b.mbx\r\n0\r\nProcessing: c.mbx\r\n1\r\n");
  EXPECT_EQ(list_dir("brevlithoutput"), (std::vector<std::string>{"a-0001.txt", "c-0001.txt"}));
  EXPECT_EQ(read_file("brevlithoutput/c-0001.txt"), "\r\n") << "an empty mailbox is one message";
}

TEST(SoundBehaviour, AMessageFileThatCannotBeWrittenIsReportedAndNumbersStay) {
  ScopedTempDir dir;
  write_file("in.mbx", "m1\r\nFrom ???@??? 2\r\nm2\r\nFrom ???@??? 3\r\nm3\r\n");
  ::mkdir("brevlithoutput", 0755);
  ::mkdir("brevlithoutput/in-0002.txt", 0755);  // something that is not a file
  const RunResult r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            host_stderr("brevlith: cannot write brevlithoutput/in-0002.txt: permission denied\n"));
  EXPECT_EQ(r.out, banner + noted + "Processing: in.mbx\r\n..3\r\n");
  EXPECT_EQ(read_file("brevlithoutput/in-0003.txt"), "From ???@??? 3\r\nm3\r\n");
}

TEST(SoundBehaviour, OutputFailuresDoNotFlood) {
  ScopedTempDir dir;
  std::string box;
  ::mkdir("brevlithoutput", 0755);
  for (int i = 1; i <= 30; ++i) {
    box += "From ???@??? " + std::to_string(i) + "\r\n";
    char name[64];
    std::snprintf(name, sizeof name, "brevlithoutput/in-%04d.txt", i);
    ::mkdir(name, 0755);
  }
  write_file("in.mbx", box);
  const RunResult r = run_brevlith({"in.mbx"});
  // Standard output names a standard error that could not be written.
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(r.out, banner + noted + "Processing: in.mbx\r\n" + std::string(29, '.') + "30\r\n");
  size_t lines = 0;
  for (char c : r.err) lines += c == '\n';
  EXPECT_EQ(lines, 21u) << r.err;
  EXPECT_NE(r.err.find(host_stderr("brevlith: cannot write brevlithoutput/in-0020.txt")),
            std::string::npos);
  EXPECT_EQ(r.err.find("in-0021.txt"), std::string::npos);
  EXPECT_NE(r.err.find(host_stderr("brevlith: 10 more message files could not be written\n")),
            std::string::npos);
}

TEST(SoundBehaviour, ATermHoldingNulIsRefusedNeverCut) {
  ScopedTempDir dir;
  write_file("in.mbx", std::string("From ???@???\r\nkey a\0b\r\n", 24));
  write_file("terms.txt", std::string("a\0b\r\nkey\r\n", 10));
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            host_stderr("brevlith: cannot write brevlithoutput/a\\x00b.mbx: invalid file name\n"));
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"key.mbx"}) << "no file named a";
  EXPECT_EQ(r.out, banner + created + "Processing: in.mbx\r\nXX2\r\n");
}

TEST(SoundBehaviour, AnUnusableOutputFolderStopsBeforeAnyMailbox) {
  ScopedTempDir dir;
  write_file("in.mbx", "x\r\n");
  write_file("brevlithoutput", "a file");
  RunResult r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, host_stderr("brevlith: cannot use the output folder brevlithoutput: a file of "
                               "that name exists\n"));
  ::unlink("brevlithoutput");
  ::symlink("nowhere", "brevlithoutput");
  r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, host_stderr("brevlith: cannot create the output folder brevlithoutput: a file "
                               "of that name exists\n"));
}

TEST(SoundBehaviour, ATermFileThatCannotBeOpenedStopsAtOnce) {
  BREVLITH_LINUX_ONLY(
      "flock binds Linux programs only; Win32Sharing.FileHeldByAnotherProcessGives70 holds files "
      "from a second Windows process");
  ScopedTempDir dir;
  write_file("in.mbx", "terms.txt\r\n");
  write_file("terms.txt", "x\r\n");
  LockHolder holder("terms.txt");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner);
  EXPECT_EQ(r.err, "brevlith: cannot open term file terms.txt: in use by another program\n");
  EXPECT_FALSE(exists("brevlithoutput"));
}

TEST(SoundBehaviour, NothingMatchedIsExitCode1) {
  ScopedTempDir dir;
  const RunResult r = run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + "FILE NOT FOUND\r\n");
  EXPECT_EQ(r.err, host_stderr("brevlith: no mailbox matches *.mbx\n"));
}

TEST(SoundBehaviour, AMessageTooLargeForMemoryIsReportedNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#endif
  BREVLITH_LINUX_ONLY("an address-space limit from setrlimit leaves Wine no room to start");
  ScopedTempDir dir;
  {  // 2 GiB of zeros without a line end: one line, far beyond the limit below
    const int fd = ::open("big.mbx", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(fd, off_t{2} << 30), 0);
    ::close(fd);
  }
  write_file("small.mbx", "fine\r\n");
  RunOptions options;
  options.in_child = [] {
    const rlimit limit{512 << 20, 512 << 20};
    ::setrlimit(RLIMIT_AS, &limit);
  };
  const RunResult r = run_brevlith({"*.mbx"}, options);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "brevlith: message 1 of big.mbx is too large for memory; the rest of the mailbox is "
            "skipped\n");
  EXPECT_EQ(r.out, banner + created + "Processing: big.mbx\r\n0\r\nProcessing: small.mbx\r\n1\r\n");
  EXPECT_EQ(read_file("brevlithoutput/small-0001.txt"), "fine\r\n");
}

}  // namespace
}  // namespace brevlith::testing
