// Fatal codes end the process: watched from outside, in a forked child.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "console/error_status.h"
#include "console/output.h"

namespace brevlith {
namespace {

struct ChildResult {
  int exit_code = -1;
  std::string out;
};

// Runs `body` in a forked child whose standard output and error go to one
// pipe; the child ends with 0 unless `body` ends it first.
ChildResult run_in_child(const std::function<void()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    body();
    ::_exit(0);
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

TEST(FatalCodes, EndTheProcessWith255AndNothingMoreIsWritten) {
  for (int code = 240; code <= 255; ++code) {
    const ChildResult r = run_in_child([code] {
      print_text("before");
      ErrorScope scope;
      raise_error(static_cast<uint8_t>(code));
      print_text("after");
      error_print_text("after");
    });
    if (code < first_fatal_code) {
      EXPECT_EQ(r.exit_code, 0) << code;
      EXPECT_EQ(r.out, "beforeafterafter") << code;
    } else {
      EXPECT_EQ(r.exit_code, 255) << code;
      EXPECT_EQ(r.out, "before") << code;
    }
  }
}

TEST(FatalCodes, HostErrorsSevenNineAndTenThroughTheGate) {
  for (uint32_t e : {7u, 9u, 10u}) {
    const ChildResult r = run_in_child([e] {
      print_text("before");
      run_system_call([e] {
        host::set_last_error(e);
        return 0;
      }).raise();
      print_text("after");
    });
    EXPECT_EQ(r.exit_code, 255) << e;
    EXPECT_EQ(r.out, "before") << e;
  }
}

}  // namespace
}  // namespace brevlith
