// The Windows build's screen path on a real console: under Wine a terminal
// behind standard error becomes the console, and the term count written
// into its screen buffer shows there, never in redirected standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

TEST(WindowsConsole, TermCountGoesToTheConsoleNotToStandardOutput) {
  if (!windows_host()) GTEST_SKIP() << "the Linux screen path has tests of its own";
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? a\r\ninvoice\r\n");
  write_file("terms.txt", "invoice\r\nbye\r\nhello\r\n");

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave_name = ::ptsname(master);
  // Kept open here too, so that the console's output stays readable after
  // the program has gone.
  const int slave = ::open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);

  RunOptions options;
  options.stdout_path = "out.txt";
  options.in_child = [&] {
    ::setsid();
    const int tty = ::open(slave_name.c_str(), O_RDWR);
    ::dup2(tty, 0);
    ::dup2(tty, 2);
  };
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"}, options);
  EXPECT_EQ(r.exit_code, 0);

  std::string screen;
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  char buffer[4096];
  for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, got);
  ::close(slave);
  ::close(master);

  EXPECT_NE(screen.find("Searching for a total of 3 terms."), std::string::npos) << screen;
  const std::string out = read_file("out.txt");
  EXPECT_EQ(out.find("Searching"), std::string::npos);
  EXPECT_NE(out.find(processing("in.mbx", "X1")), std::string::npos) << out;
}

}  // namespace
}  // namespace brevlith::testing
