// Search mode with one term: matching messages appended to <term>.mbx.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

TEST(Search, ConsolePictureAndAppendedRecords) {
  ScopedTempDir dir;
  const std::string m1 = "From ???@??? 1\r\nINVOICE due\r\n";
  const std::string m2 = "From ???@??? 2\r\nnothing\r\n";
  const std::string m3 = "From ???@??? 3\r\nyour Invoice\r\n";
  write_file("in.mbx", m1 + m2 + m3);
  RunResult r = run_brevlith({"in.mbx", "/s=invoice"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + "Processing: in.mbx\r\nX..X2\r\n");
  EXPECT_EQ(read_file("brevlithoutput/invoice.mbx"), "\r\n" + m1 + "\r\n" + m3);
  // Records of earlier runs stay in front.
  r = run_brevlith({"in.mbx", "/s=invoice"});
  EXPECT_EQ(r.out, banner + noted + "Processing: in.mbx\r\nX..X2\r\n");
  EXPECT_EQ(read_file("brevlithoutput/invoice.mbx"),
            "\r\n" + m1 + "\r\n" + m3 + "\r\n" + m1 + "\r\n" + m3);
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"invoice.mbx"});
}

TEST(Search, TheTermIsFoldedLikeTheMessage) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? 1\r\nInvoice\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=Invoice"});
  EXPECT_EQ(r.out, banner + created + "Processing: in.mbx\r\nX1\r\n");
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"Invoice.mbx"});
}

TEST(Search, FoldTableOfCodePage437) {
  BREVLITH_LINUX_ONLY(
      "bytes above 127 on the command line pass through Wine's UTF-8 and code page 1252; "
      "CrossHost.FoldTableThroughATermFile checks the table on both builds");
  // 0x80 folds to 0x87 and 0xA5 to 0xA4, in message and term alike; an ANSI
  // capital such as 0xC9 does not fold.
  struct Case {
    std::string message, term;
    bool hit;
  };
  const std::vector<Case> cases = {
      {"x\x80y", "x\x87y", true},
      {"\xa5", "\xa4", true},
      {"\x8e\x8f\x90\x99\x9a", "\x84\x86\x82\x94\x81", true},
      {"\x80", "\x80", true},
      {"\x84\x94", "\x8e\x99", true},  // capitals in the term fold too
      {"\xc9", "\xe9", false},
      {"\xc9", "\xc9", true},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", "From ???@???\r\n" + c.message + "\r\n");
    const RunResult r = run_brevlith({"in.mbx", "/s=" + c.term});
    EXPECT_EQ(r.out.substr(r.out.size() - 4), c.hit ? "X1\r\n" : "\n0\r\n")
        << ::testing::PrintToString(c.term);
  }
}

TEST(Search, TermNamesBecomeSafeFileStems) {
  ScopedTempDir dir;
  // The second form is the term as the Windows build reads it (below).
  write_file("in.mbx", "From ???@??? a/b:c \\/:*?\"<>| \\/:*?\\\"<>|\r\n");
  RunResult r = run_brevlith({"in.mbx", "/s=a/b:c"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = run_brevlith({"in.mbx", "/s=\\/:*?\"<>|"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // The Windows build reads the raw command line, where Wine writes the
  // quote as \" : one more backslash, so one more hyphen.
  const std::string stem = windows_host() ? "----------" : "---------";
  EXPECT_EQ(list_dir("brevlithoutput"), (std::vector<std::string>{stem + ".mbx", "a-b-c.mbx"}));
}

TEST(Search, CountsHitsAcrossMailboxes) {
  ScopedTempDir dir;
  write_file("a.mbx", "hit\r\nFrom ???@???\r\nhit\r\n");
  write_file("b.mbx", "miss\r\n");
  const RunResult r = run_brevlith({"?.mbx", "/s=hit"});
  EXPECT_EQ(r.out, banner + created + "Processing: a.mbx\r\nX.X2\r\nProcessing: b.mbx\r\n0\r\n");
  EXPECT_EQ(read_file("brevlithoutput/hit.mbx"), "\r\nhit\r\n\r\nFrom ???@???\r\nhit\r\n");
}

}  // namespace
}  // namespace brevlith::testing
