#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

#include "console/output.h"

namespace brevlith {
namespace {

struct ChildResult {
  int exit_code = -1;
  std::string out;
};

// Runs `body` in a forked child with standard output on a pipe (closed
// first when `close_stdout`); the child's exit code is what `body` returns.
ChildResult run_in_child(const std::function<int()>& body, bool close_stdout = false) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (close_stdout)
      ::close(1);
    else
      ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::_exit(body());
  }
  ::close(fds[1]);
  ChildResult r;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    r.out.append(buffer, static_cast<size_t>(got));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

TEST(PrintText, BytesGoOutUnchanged) {
  const std::string odd("a\0b\rc\nd\x1A\x80\xFF", 10);
  const ChildResult r = run_in_child([&] {
    ErrorScope scope;
    print_text(odd);
    print_text("");
    print_line_end();
    print_text("line\r\n");
    print_line_end();
    return scope.status().code;
  });
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
      true);
  EXPECT_EQ(r.exit_code, 0);
}

TEST(PrintText, AClosedPipeIsRecordedAndTheToolGoesOn) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // no reader anywhere
  const ChildResult r = run_in_child([&] {
    std::signal(SIGPIPE, SIG_IGN);  // as start-up does
    ::dup2(fds[1], 1);
    ::close(fds[1]);
    ErrorScope scope;
    print_text("lost");
    if (scope.status().code == 0) return 1;
    return first_stdout_failure().code == scope.status().code ? 0 : 2;
  });
  ::close(fds[1]);
  EXPECT_EQ(r.exit_code, 0);
}

}  // namespace
}  // namespace brevlith
