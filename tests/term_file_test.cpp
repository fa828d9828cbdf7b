// A search term that names a file: one term per line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

TEST(TermFile, TermsAreLinesTakenAsRead) {
  ScopedTempDir dir;
  const std::string m1 = "From ???@??? 1\r\nalpha beta\r\n";
  const std::string m2 = "From ???@??? 2\r\n gamma\r\n";
  write_file("in.mbx", m1 + m2);
  // Not trimmed: " gamma" keeps its blank; "ALPHA BETA" is folded and keeps
  // its name; three terms hit message 1, which then counts three times.
  write_file("terms.txt", "alpha\r\n gamma\r\nALPHA BETA\r\nbeta\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "XXX.X4"))
      << "the term count goes to the screen only";
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{" gamma.mbx", "ALPHA BETA.mbx", "alpha.mbx", "beta.mbx"}));
  EXPECT_EQ(read_file("brevlithoutput/alpha.mbx"), "\r\n" + m1);
  EXPECT_EQ(read_file("brevlithoutput/beta.mbx"), "\r\n" + m1);
  EXPECT_EQ(read_file("brevlithoutput/ gamma.mbx"), "\r\n" + m2);
}

TEST(TermFile, EmptyTermWritesEveryMessageSharingTheCounter) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? 1\r\nkey\r\nFrom ???@??? 2\r\nother\r\n");
  // Two CR LF at the end: one empty last term.
  write_file("terms.txt", "key\r\n\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X.3"));
  // Message 1 is hit 1 (key) and file 2; message 2 is file 3.
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{"in-0002.txt", "in-0003.txt", "key.mbx"}));
  EXPECT_EQ(read_file("brevlithoutput/in-0003.txt"), "From ???@??? 2\r\nother\r\n");
}

TEST(TermFile, FinalLineEndGivesNoExtraTerm) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? 1\r\nkey\r\n");
  write_file("terms.txt", "key\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X1"));
}

TEST(TermFile, ElevenHundredTerms) {
  ScopedTempDir dir;
  std::string terms, box;
  for (int i = 0; i < 1100; ++i) terms.append("t").append(std::to_string(i)).append("x\r\n");
  write_file("terms.txt", terms);
  write_file("in.mbx", "From ???@???\r\nt5x t1099x\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "XX2"));
  EXPECT_EQ(list_dir("brevlithoutput"), (std::vector<std::string>{"t1099x.mbx", "t5x.mbx"}));
}

TEST(TermFile, ADirectoryOrAMissingFileIsSearchedAsText) {
  ScopedTempDir dir;
  ::mkdir("docs", 0755);
  write_file("in.mbx", "From ???@???\r\nsee docs and notes.txt\r\n");
  RunResult r = run_brevlith({"in.mbx", "/s=docs"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X1"));
  r = run_brevlith({"in.mbx", "/s=notes.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(list_dir("brevlithoutput"), (std::vector<std::string>{"docs.mbx", "notes.txt.mbx"}));
}

TEST(TermFile, LfEndedLinesAreTermsEach) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@???\r\na\r\nb\r\n");
  write_file("terms.txt", "a\nb\r\n");  // a CR before the LF belongs to it
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "XX2"));
}

TEST(TermFile, WildcardTermMatchingAFileIsSearchedAsText) {
  ScopedTempDir dir;
  write_file("list.txt", "unused\r\n");
  write_file("in.mbx", "From ???@???\r\nmatch *.txt here\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=*.txt"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X1"));
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{"-.txt.mbx"});
}

TEST(TermFile, ALatin1TermFileFindsItsLettersInEveryEncoding) {
  ScopedTempDir dir;
  const std::string m1 = "From ???@??? 1\r\nHerr M\xc3\x9cLLER\r\n";
  const std::string m2 = "From ???@??? 2\r\nHerr M\xdcLLER\r\n";
  const std::string m3 =
      "From ???@??? 3\r\nContent-Type: text/plain; charset=cp437\r\n\r\nHerr M\x9aller\r\n";
  write_file("in.mbx", m1 + "From ???@??? x\r\nMuller\r\n" + m2 + m3);
  write_file("terms.txt", "m\xfcller\r\n");
  const RunResult r = run_brevlith({"in.mbx", "/s=terms.txt"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "X..X.X3"));
  // The term mailbox is named as the line was typed.
  const std::string name = windows_host() ? "m\xc3\xbcller.mbx" : "m\xfcller.mbx";
  EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{name});
  EXPECT_EQ(read_file("brevlithoutput/" + name), "\r\n" + m1 + "\r\n" + m2 + "\r\n" + m3);
}

}  // namespace
}  // namespace brevlith::testing
