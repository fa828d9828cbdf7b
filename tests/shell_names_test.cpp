// Linux shells expand `brevlith *.mbx` before the tool sees it.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

TEST(ShellNames, EachExistingNameIsAWalkInTheOrderGiven) {
  BREVLITH_LINUX_ONLY("Windows hands the tool its raw command line, never names a shell expanded");
  ScopedTempDir dir;
  write_file("a.mbx", "a key\r\n");
  write_file("b.mbx", "b\r\nFrom ???@??? key\r\n");
  RunResult r = run_brevlith({"b.mbx", "a.mbx"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("b.mbx", ".2") + processing("a.mbx", "1"));
  r = run_brevlith({"a.mbx", "b.mbx", "/s=key"});
  EXPECT_EQ(r.out.substr(banner.size()),
            noted + processing("a.mbx", "X1") + processing("b.mbx", ".X1"));
}

// The shell already matched: "a?.mbx" is that file, not a pattern that
// matches ab.mbx a second time; a hidden name stays left out as it is today.
TEST(ShellNames, EachNameIsThatFileAloneNeverAPatternAgain) {
  BREVLITH_LINUX_ONLY("Windows names cannot hold ? and are never expanded by a shell");
  ScopedTempDir dir;
  write_file("a?.mbx", "From ???@??? q\r\nkey in a?\r\n");
  write_file("ab.mbx", "From ???@??? b\r\nkey in ab\r\n");
  RunResult r = run_brevlith({"a?.mbx", "ab.mbx", "/s=key"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("a?.mbx", "X1") + processing("ab.mbx", "X1"));
  EXPECT_EQ(read_file("brevlithoutput/key.mbx"),
            "\r\nFrom ???@??? q\r\nkey in a?\r\n\r\nFrom ???@??? b\r\nkey in ab\r\n");
  r = run_brevlith({"a?.mbx", "ab.mbx"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file("brevlithoutput/a?-0001.txt"), "From ???@??? q\r\nkey in a?\r\n");
  write_file("a.mbx ", "trailing blank\r\n");  // its name is not trimmed to a.mbx
  r = run_brevlith({"a.mbx "});
  EXPECT_EQ(r.out, banner + noted + processing("a.mbx ", "1"));
  write_file(".hidden.mbx", "x\r\n");
  r = run_brevlith({".hidden.mbx", "ab.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out.substr(banner.size()), noted + "FILE NOT FOUND\r\n" + processing("ab.mbx", "1"));
  EXPECT_EQ(r.err, "brevlith: no mailbox matches .hidden.mbx\n");
}

TEST(ShellNames, OtherwiseTheArgumentsAreOneName) {
  ScopedTempDir dir;
  write_file("my box.mbx", "x\r\n");
  RunResult r = run_brevlith({"my", "box.mbx"});
  EXPECT_EQ(r.out, banner + created + processing("my box.mbx", "1"));
  write_file("a.mbx", "x\r\n");
  // Joined they name nothing: each word is walked, and a.mbx is split. The
  // Windows build walks the words of its raw line alike (Wine quotes "my box.mbx").
  r = run_brevlith({"my box.mbx", "a.mbx", "missing.mbx"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, host_stderr("brevlith: no mailbox matches missing.mbx\n"));
  EXPECT_EQ(r.out.substr(banner.size()), noted + processing("my box.mbx", "1") +
                                             processing("a.mbx", "1") + "FILE NOT FOUND\r\n");
  EXPECT_TRUE(exists("brevlithoutput/a-0001.txt"));
}

TEST(ShellNames, AQuotedWildcardKeepsTheToolsOwnMatching) {
  ScopedTempDir dir;
  write_file("B.mbx", "From ???@???\r\n");
  write_file("a.mbx", "From ???@???\r\n");
  const RunResult r = run_brevlith({"*.MBX"});
  EXPECT_EQ(r.out, banner + created + processing("a.mbx", "1") + processing("B.mbx", "1"));
}

}  // namespace
}  // namespace brevlith::testing
