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
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X..X2"));
  EXPECT_EQ(read_file("brevlithoutput/invoice.mbx"), "\r\n" + m1 + "\r\n" + m3);
  // Records of earlier runs stay in front.
  r = run_brevlith({"in.mbx", "/s=invoice"});
  EXPECT_EQ(r.out, banner + noted + processing("in.mbx", "X..X2"));
  EXPECT_EQ(read_file("brevlithoutput/invoice.mbx"),
            "\r\n" + m1 + "\r\n" + m3 + "\r\n" + m1 + "\r\n" + m3);
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"invoice.mbx"});
}

TEST(Search, TheTermIsFoldedLikeTheMessage) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? 1\r\nInvoice\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=Invoice"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X1"));
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"Invoice.mbx"});
}

TEST(Search, LettersFoldInTheMessagesOwnEncoding) {
  BREVLITH_LINUX_ONLY(
      "bytes above 127 on the command line pass through Wine's UTF-8 and code page 1252; "
      "CrossHost.FoldTableThroughATermFile checks the fold on both builds");
  // The message's charset where it names one, else UTF-8 when valid, else
  // Windows-1252; the term, typed in UTF-8, is written in that encoding.
  const std::string muller = "m\xc3\xbcller";
  const auto with_charset = [](const std::string& name, const std::string& body) {
    return "Content-Type: text/plain;\r\n charset=\"" + name + "\"\r\n\r\n" + body;
  };
  struct Case {
    std::string message, term;
    bool hit;
  };
  const std::vector<Case> cases = {
      {"M\xc3\x9cLLER", muller, true},
      {"M\xc3\xbcller", muller, true},
      {"M\xdcLLER and M\xfcller", muller, true},  // Latin-1, no charset
      {with_charset("ibm437", "M\x9aLLER"), muller, true},
      {with_charset("macintosh", "M\x86LLER"), muller, true},
      {"sp\xc3\xa5r", "sp\xc3\xa4r", false},
      {"\x80 5", "\xe2\x82\xac", true},
      {"\xc9T\xc9", "\xc3\xa9t\xc3\xa9", true},
      {"\xce\xa3\xce\x9f\xce\xa6\xce\x8a\xce\x91", "\xcf\x83\xce\xbf\xcf\x86\xce\xaf\xce\xb1",
       true},
      {"\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2",
       "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", true},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", "From ???@???\r\n" + c.message + "\r\n");
    const RunResult r = run_brevlith({"in.mbx", "/s=" + c.term});
    EXPECT_EQ(r.out.substr(r.out.size() - 4), c.hit ? "X1\r\n" : "\n0\r\n")
        << ::testing::PrintToString(c.message);
    if (c.hit) {
      EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{c.term + ".mbx"});
    }
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
  EXPECT_EQ(r.out, banner + created + processing("a.mbx", "X.X2") + processing("b.mbx", "0"));
  EXPECT_EQ(read_file("brevlithoutput/hit.mbx"), "\r\nhit\r\n\r\nFrom ???@???\r\nhit\r\n");
}

}  // namespace
}  // namespace brevlith::testing
