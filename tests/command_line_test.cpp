// The banner and the command line, through the real binary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

TEST(CommandLine, EveryRunPrintsTheBannerAndAnEmptyLine) {
  ScopedTempDir dir;
  const RunResult r = run_brevlith({});
  EXPECT_EQ(r.out, banner + created + "FILE NOT FOUND\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("brevlith: "), std::string::npos);
}

TEST(CommandLine, HelpAndVersionAloneAnswerAndCreateNothing) {
  const std::pair<std::string, std::string> rows[] = {
      {"--help", banner},
      {"-h", banner},
      {"/?", banner},
      {"--version", "brevlith " BREVLITH_VERSION + std::string(windows_host() ? "\r\n" : "\n")}};
  for (const auto& [word, out] : rows) {
    ScopedTempDir dir;
    const RunResult r = run_brevlith({word});
    EXPECT_EQ(r.exit_code, 0) << word << r.err;
    EXPECT_EQ(r.out, out) << word;
    EXPECT_EQ(r.err, "") << word;
    EXPECT_EQ(list_dir("."), std::vector<std::string>{}) << word;
  }
}

TEST(CommandLine, WorkedExamplesThroughArgv) {
  struct Case {
    std::vector<std::string> args;
    std::string mailbox;    // the file that must be split ("" for none)
    std::string term_file;  // the .mbx the term selects into ("" for normal mode)
    // On Windows the tool reads the raw command line, which Wine builds from
    // these arguments by quoting those with blanks or quotes: the quotes then
    // reach the pattern or the term. Win32CommandLine.RawLinesGiveTheseRuns
    // runs the same examples as raw lines.
    bool split_arguments_only = false;
  };
  const std::vector<Case> cases = {
      {{"in.mbx"}, "in", ""},
      {{"in.mbx", "/s=invoice"}, "in", "invoice.mbx"},
      {{"\"my box.mbx\"", "/s=invoice"}, "my box", "invoice.mbx", true},
      {{"my", "box.mbx", "/s=invoice"}, "my box", "invoice.mbx"},
      {{"a.mbx", "/x", "/s=b"}, "a", "b.mbx"},
      {{"a.mbx", "/s=\"x", "y\""}, "a", "-x y-.mbx", true},  // quotes kept, then hyphened
      {{"in.mbx", "/S=invoice"}, "in", ""},
      {{"in.mbx", "/s=two words"}, "in", "two words.mbx", true},
  };
  for (const Case& c : cases) {
    if (c.split_arguments_only && windows_host()) continue;
    ScopedTempDir dir;
    const std::string body = "From ???@??? x\r\ninvoice b x y \"x y\" two words\r\n";
    write_file(c.mailbox + ".mbx", body);
    const RunResult r = run_brevlith(c.args);
    const std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.exit_code, 0) << label << r.err;
    EXPECT_EQ(r.out,
              banner + created + processing(c.mailbox + ".mbx", c.term_file.empty() ? "1" : "X1"))
        << label;
    const std::string made = c.term_file.empty() ? c.mailbox + "-0001.txt" : c.term_file;
    EXPECT_EQ(list_dir("brevlithoutput"), std::vector<std::string>{made}) << label;
  }
}

TEST(CommandLine, SlashesInLinuxPathsAndTerms) {
  BREVLITH_LINUX_ONLY("on Windows the first \"/\" of the command line ends the pattern");
  ScopedTempDir dir;
  ::mkdir("mail", 0755);
  write_file("mail/In.mbx", "first\r\nFrom ???@??? a/b\r\nsecond\r\n");
  // The path's "/" is a folder separator; the term's "/" is text, and makes a hyphen.
  const RunResult r = run_brevlith({dir.path() + "/mail/In.mbx", "/s=a/b"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("In.mbx", ".X1"));
  EXPECT_EQ(read_file("brevlithoutput/a-b.mbx"), "\r\nFrom ???@??? a/b\r\nsecond\r\n");
}

TEST(CommandLine, CapitalSOptionIsCutOffAndIgnored) {
  ScopedTempDir dir;
  write_file("in.mbx", "only\r\n");
  ::mkdir("brevlithoutput", 0755);
  const RunResult r = run_brevlith({"in.mbx", "/S=x"});
  EXPECT_EQ(r.out, banner + noted + processing("in.mbx", "1"));
  EXPECT_EQ(read_file("brevlithoutput/in-0001.txt"), "only\r\n");
}

}  // namespace
}  // namespace brevlith::testing
