#include "console/error_status.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace brevlith {
namespace {

// The rows that opening files and creating folders meet, the fatal ones, and
// the edges of the row-by-row part, written as the numbers users are told.
TEST(HostErrorTable, RowsTheServicesMeet) {
  const struct {
    uint32_t host_error;
    uint8_t code;
  } rows[] = {
      {2, 53},   {3, 76},   {4, 67},   {5, 70},   {19, 70},  {21, 71},   {32, 70},
      {87, 5},   {112, 61}, {123, 75}, {183, 75}, {206, 75}, {7, 241},   {9, 241},
      {10, 241}, {8, 7},    {38, 62},  {39, 61},  {40, 75},  {1921, 75}, {0xFFFFFFFF, 75},
  };
  for (const auto& r : rows)
    EXPECT_EQ(error_code_for_host_error(r.host_error), r.code) << "host error " << r.host_error;
  // 0 is no failure and never looked up; it must at least not be fatal.
  EXPECT_LT(error_code_for_host_error(0), first_fatal_code);
}

TEST(ErrorStatus, MostRecentFailureWinsAndZeroBecomes51) {
  ErrorScope scope;
  EXPECT_EQ(scope.status().code, 0);
  raise_error(53, 2);
  EXPECT_EQ(scope.status().code, 53);
  EXPECT_EQ(scope.status().host_error, 2u);
  raise_error(70);
  EXPECT_EQ(scope.status().code, 70);
  EXPECT_EQ(scope.status().host_error, 0u);
  raise_error(0);
  EXPECT_EQ(scope.status().code, 51);
  EXPECT_EQ(&current_error_status(), &scope.status());
  EXPECT_EQ(scope.take().code, 51);
  EXPECT_EQ(scope.status().code, 0);
}

TEST(ErrorStatus, AFailureInsideAnInnerScopeLeavesTheOuterOneUnchanged) {
  ErrorScope outer;
  raise_error(62);
  {
    ErrorScope inner;
    EXPECT_EQ(inner.status().code, 0);  // a callee starts clean
    raise_error(61);
    {
      ErrorScope innermost;
      raise_error(0);
      EXPECT_EQ(innermost.status().code, 51);
    }
    EXPECT_EQ(inner.status().code, 61);
    EXPECT_EQ(&current_error_status(), &inner.status());
  }
  EXPECT_EQ(outer.status().code, 62);
  EXPECT_EQ(&current_error_status(), &outer.status());
}

TEST(Gate, ClearsTheLastErrorBeforeTheCall) {
  host::set_last_error(5);
  uint32_t seen = 99;
  const auto gate = run_system_call([&] {
    seen = host::get_last_error();
    return 42;
  });
  EXPECT_EQ(seen, 0u);
  EXPECT_FALSE(gate.failed());
  EXPECT_EQ(gate.result, 42);
  EXPECT_EQ(gate.code, 0);
  EXPECT_EQ(detail::gate_lock.load(), 0);  // released
}

TEST(Gate, FailureIsDecidedByTheLastErrorAlone) {
  ErrorScope scope;
  // The result says success, the last error says otherwise: a failure.
  auto gate = run_system_call([] {
    host::set_last_error(32);
    return true;
  });
  EXPECT_TRUE(gate.failed());
  EXPECT_TRUE(gate.result);
  EXPECT_EQ(gate.last_error, 32u);
  EXPECT_EQ(gate.code, 70);
  EXPECT_EQ(scope.status().code, 0);  // the gate itself raises nothing
  EXPECT_TRUE(gate.raise());
  EXPECT_EQ(scope.status().code, 70);
  EXPECT_EQ(scope.status().host_error, 32u);

  // The result says failure, the last error is 0: a success.
  scope.take();
  gate = run_system_call([] { return false; });
  EXPECT_FALSE(gate.failed());
  EXPECT_FALSE(gate.result);
  EXPECT_FALSE(gate.raise());
  EXPECT_EQ(scope.status().code, 0);

  for (uint32_t e : {2u, 3u, 8u, 38u, 87u, 112u, 183u, 1921u}) {
    const auto g = run_system_call([e] {
      host::set_last_error(e);
      return 0;
    });
    EXPECT_EQ(g.code, error_code_for_host_error(e)) << e;
  }
  EXPECT_EQ(detail::gate_lock.load(), 0);
}

TEST(Gate, ReleasesTheLockWhenTheCallThrows) {
  EXPECT_THROW(run_system_call([]() -> int { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_EQ(detail::gate_lock.load(), 0);
}

}  // namespace
}  // namespace brevlith
