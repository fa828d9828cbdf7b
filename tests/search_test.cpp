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

// /i on a eudora folder: one row per file written, in both modes, appended
// after the rows of an earlier run; the header only when the index is made.
TEST(Search, TheIndexHasARowForEachFileOrRecordWritten) {
  ScopedTempDir dir;
  const std::string in1 =
      "From ???@??? Mon Jan 01 00:00:00 2001\r\nDate: Mon, 1 Jan 2001\r\n"
      "From: =?iso-8859-1?Q?Ren=E9?= <r@x>\r\nTo: ann@x,\r\n bob@x\r\n"
      "Subject: invoice \"May\"\r\n\r\nsee attached\r\n"
      "Attachment Converted: \"C:\\Eudora\\attach\\a.pdf\"\r\n";
  const std::string in2 = "From ???@??? Tue Jan 02 00:00:00 2001\r\nSubject: lunch\r\n\r\nno\r\n";
  write_file("In.mbx", in1 + in2);
  write_file("In.toc", std::string("\x00\x01toc", 5));
  const std::string out1 = "From ???@??? Wed Jan 03 00:00:00 2001\r\nTo: r@x\r\n\r\nInvoice\r\n";
  write_file("Out.mbx", out1);
  write_file("Trash.mbx", "");
  write_file("descmap.pce", "In,In.mbx,S,N\r\n");
  ::mkdir("attach", 0755);
  write_file("attach/a.pdf", "%PDF");
  RunResult r = run_brevlith({"*.mbx", "/i"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("In.mbx", 2) + processing("Out.mbx", 1) +
                       processing("Trash.mbx", 1));
  const std::string header = "file,mailbox,message,date,from,to,subject,attachments,bytes\r\n";
  const std::string normal =
      "In-0001.txt,In.mbx,1,\"Mon, 1 Jan 2001\",Ren\xc3\xa9 <r@x>,\"ann@x, bob@x\","
      "\"invoice \"\"May\"\"\",1," +
      std::to_string(in1.size()) + "\r\nIn-0002.txt,In.mbx,2,,,,lunch,0," +
      std::to_string(in2.size()) + "\r\nOut-0001.txt,Out.mbx,1,,,r@x,,0," +
      std::to_string(out1.size()) + "\r\nTrash-0001.txt,Trash.mbx,1,,,,,0,2\r\n";
  EXPECT_EQ(read_file("brevlithoutput/index.csv"), header + normal);
  r = run_brevlith({"*.mbx", "/i", "/s=invoice"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file("brevlithoutput/index.csv"),
            header + normal + "invoice.mbx,In.mbx,1,\"Mon, 1 Jan 2001\",Ren\xc3\xa9 <r@x>," +
                "\"ann@x, bob@x\",\"invoice \"\"May\"\"\",1," + std::to_string(in1.size() + 2) +
                "\r\ninvoice.mbx,Out.mbx,1,,,r@x,,0," + std::to_string(out1.size() + 2) + "\r\n");
  // Without /i the index is left as it is.
  const std::string index = read_file("brevlithoutput/index.csv");
  r = run_brevlith({"*.mbx", "/s=invoice"});
  EXPECT_EQ(read_file("brevlithoutput/index.csv"), index);
  // With /r a mailbox below shows its folder in both columns, as on its
  // Processing: line.
  ::mkdir("Work.fol", 0755);
  write_file("Work.fol/In.mbx", in2);
  r = run_brevlith({"*.mbx", "/r", "/i"});
  const std::string slash = windows_host() ? "\\" : "/";
  EXPECT_TRUE(read_file("brevlithoutput/index.csv")
                  .ends_with("\r\nWork.fol" + slash + "In-0001.txt,Work.fol" + slash +
                             "In.mbx,1,,,,lunch,0," + std::to_string(in2.size()) + "\r\n"))
      << r.err;
}

}  // namespace
}  // namespace brevlith::testing
