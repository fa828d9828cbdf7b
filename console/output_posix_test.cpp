#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "console/output.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::ChildOutput;
using testing::ChildResult;
using testing::run_in_child;

TEST(PrintText, BytesGoOutUnchanged) {
  const std::string odd("a\0b\rc\nd\x1A\x80\xFF", 10);
  const ChildResult r = run_in_child(
      [&] {
        ErrorScope scope;
        print_text(odd);
        print_text("");
        print_line_end();
        print_text("line\r\n");
        print_line_end();
        return scope.status().code;
      },
      ChildOutput::stdout_only);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, odd + "\r\nline\r\n\r\n");
}

TEST(PrintText, EmptyTextMakesNoWriteAtAll) {
  // With standard output closed any write fails; "" must not even try.
  const ChildResult r = run_in_child(
      [] {
        ErrorScope scope;
        print_text("");
        if (scope.status().code != 0 || first_stdout_failure().code != 0) return 1;
        print_text("x");
        if (scope.status().code != 51 || scope.status().host_error != 6) return 2;
        print_line_end();
        if (scope.status().code != 51) return 3;
        return first_stdout_failure().code == 51 ? 0 : 4;
      },
      ChildOutput::stdout_closed);
  EXPECT_EQ(r.exit_code, 0);
}

// `brevlith x.mbx | head -1`: the reader wanted no more, which is no failure
// of the run; nothing is raised or kept for the closing report.
TEST(PrintText, AClosedPipeEndsTheWritesSilentlyAndTheToolGoesOn) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // no reader anywhere
  const ChildResult r = run_in_child(
      [&] {
        std::signal(SIGPIPE, SIG_IGN);  // as start-up does
        ::dup2(fds[1], 1);
        ::close(fds[1]);
        ErrorScope scope;
        print_text("lost");
        print_line_end();
        if (scope.status().code != 0) return 1;
        return first_stdout_failure().code == 0 ? 0 : 2;
      },
      ChildOutput::stdout_only);
  ::close(fds[1]);
  EXPECT_EQ(r.exit_code, 0);
}

}  // namespace
}  // namespace brevlith
