// Fatal codes end the process: watched from outside, in a forked child.
#include <gtest/gtest.h>

#include <string>

#include "console/error_status.h"
#include "console/output.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::ChildOutput;
using testing::ChildResult;
using testing::run_in_child;

TEST(FatalCodes, EndTheProcessWith255AndNothingMoreIsWritten) {
  for (int code = 240; code <= 255; ++code) {
    const ChildResult r = run_in_child(
        [code] {
          print_text("before");
          ErrorScope scope;
          raise_error(static_cast<uint8_t>(code));
          print_text("after");
          error_print_text("after");
          return 0;
        },
        ChildOutput::stdout_and_stderr);
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
    const ChildResult r = run_in_child(
        [e] {
          print_text("before");
          run_system_call([e] {
            host::set_last_error(e);
            return 0;
          }).raise();
          print_text("after");
          return 0;
        },
        ChildOutput::stdout_and_stderr);
    EXPECT_EQ(r.exit_code, 255) << e;
    EXPECT_EQ(r.out, "before") << e;
  }
}

}  // namespace
}  // namespace brevlith
