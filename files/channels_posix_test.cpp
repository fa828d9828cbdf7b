// Channels against other processes and in a fresh process, watched through
// fork: a lock held elsewhere, and the process-wide channel counter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "console/error_status.h"
#include "files/channels.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::read_file;
using testing::ScopedTempDir;
using testing::write_file;

uint8_t open_code(const std::string& name, int32_t number, Mode mode, int32_t record = 128) {
  ErrorScope scope;
  open_channel(name, number, mode, record);
  return scope.status().code;
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
