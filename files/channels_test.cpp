#include "files/channels.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/error_status.h"
#include "files/lines.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::exists;
using testing::read_file;
using testing::ScopedTempDir;
using testing::write_file;

uint8_t open_code(const std::string& name, int32_t number, Mode mode, int32_t record = 128) {
  ErrorScope scope;
  open_channel(name, number, mode, record);
  return scope.status().code;
}

off_t size_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(OpenChannel, ModesAndTheirEffects) {
  ScopedTempDir dir;
  EXPECT_EQ(open_code("missing", 1, Mode::input), 53);
  EXPECT_EQ(at_end_of_file(1), -1);  // the channel stayed free
  EXPECT_EQ(open_code("nofolder/missing", 1, Mode::input), 76);

  write_file("big", std::string(1000, 'b'));
  EXPECT_EQ(open_code("big", 2, Mode::output), 0);
  EXPECT_EQ(size_of("big"), 0) << "output cuts before any write";
  close_channel(2);
  EXPECT_EQ(size_of("big"), 0);

  EXPECT_EQ(open_code("new.mbx", 3, Mode::append), 0);
  EXPECT_TRUE(exists("new.mbx"));
  close_channel(3);
  EXPECT_EQ(read_file("new.mbx"), "");

  write_file("tail.mbx", "abc\x1a");
  EXPECT_EQ(open_code("tail.mbx", 3, Mode::append), 0);
  write_text(3, "d");
  close_channel(3);
  EXPECT_EQ(read_file("tail.mbx"),
            "abc\x1a"
            "d");
}

TEST(OpenChannel, RefusalsLeaveTheNumberAsItWas) {
  ScopedTempDir dir;
  write_file("a", "first\r\nsecond\r\n");
  write_file("b", "other\r\n");
  ASSERT_EQ(open_code("a", 1, Mode::input), 0);
  EXPECT_EQ(read_line(1), "first");
  EXPECT_EQ(open_code("b", 1, Mode::input), 55);
  EXPECT_EQ(read_line(1), "second") << "the open channel is untouched";
  close_channel(1);

  EXPECT_EQ(open_code("", 4, Mode::output), 64);
  EXPECT_EQ(open_code("new?.txt", 4, Mode::output), 64);
  EXPECT_EQ(open_code("n*w.txt", 4, Mode::append), 64);
  EXPECT_EQ(testing::list_dir("."), (std::vector<std::string>{"a", "b"})) << "nothing created";
  EXPECT_EQ(open_code("a", -1, Mode::input), 52);
  EXPECT_EQ(open_code("a", 1, Mode::input, 0), 5);
  {
    ErrorScope scope;
    close_channel(77);  // not open: nothing, no error
    EXPECT_EQ(scope.status().code, 0);
  }
}

TEST(OpenChannel, LongNamesAreCutTo255Units) {
  ScopedTempDir dir;
  EXPECT_EQ(open_code(std::string(300, 'n'), 5, Mode::output), 0);
  close_channel(5);
  EXPECT_TRUE(exists(std::string(255, 'n')));
}

TEST(OpenChannel, ExclusiveAgainstASecondChannel) {
  ScopedTempDir dir;
  write_file("box", "data\r\n");
  for (Mode first : {Mode::input, Mode::output, Mode::append}) {
    write_file("box", "data\r\n");
    ASSERT_EQ(open_code("box", 1, first), 0);
    for (Mode second : {Mode::input, Mode::output, Mode::append}) {
      ErrorScope scope;
      open_channel("box", 2, second, 128);
      EXPECT_EQ(scope.status().code, 70);
      EXPECT_EQ(scope.status().host_error, host::win32::sharing_violation);
    }
    close_channel(1);
    if (first != Mode::output) {
      EXPECT_EQ(read_file("box"), "data\r\n") << "a refused output open cuts nothing";
    }
  }
}

TEST(OpenChannel, ExclusiveAgainstAnotherProcess) {
  ScopedTempDir dir;
  write_file("held", "keep me\r\n");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open("held", O_RDONLY);
    ::flock(fd, LOCK_EX);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  for (Mode mode : {Mode::input, Mode::output, Mode::append})
    EXPECT_EQ(open_code("held", 1, mode), 70);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(read_file("held"), "keep me\r\n");
  EXPECT_EQ(open_code("held", 1, Mode::input), 0) << "free again once the holder is gone";
  close_channel(1);
}

TEST(OpenChannel, DirectoriesAreRefusedWith70) {
  ScopedTempDir dir;
  ::mkdir("d", 0755);
  EXPECT_EQ(open_code("d", 1, Mode::input), 70);
  EXPECT_EQ(open_code("d", 1, Mode::output), 70);
}

TEST(NextFreeChannel, HandsOutTheNextNumberNotTheLowest) {
  // The counter is process-wide, so look at it in a fresh process.
  ScopedTempDir dir;
  const pid_t child = ::fork();
  if (child == 0) {
    write_file("box", "x");
    open_channel("box", 1, Mode::input, 128);
    const int32_t a = next_free_channel();
    open_channel("o", a, Mode::output, 128);
    close_channel(a);
    const int32_t b = next_free_channel();
    ::_exit(a == 2 && b == 3 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace brevlith
