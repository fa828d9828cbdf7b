// The Linux binary and the Windows build (BREVLITH_LAUNCHER, under Wine)
// split the same inputs into the same bytes: standard output, exit code and
// every file in brevlithoutput.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

struct Result {
  int exit_code = -1;
  std::string out;
  std::map<std::string, std::string> files;
};

using Inputs = std::function<void()>;

Result run_on(bool windows, const Inputs& setup, const std::vector<std::string>& args) {
  ScopedTempDir dir;
  setup();
  std::vector<std::string> argv{native_brevlith_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult r = windows ? run_brevlith(args) : run_program(argv);
  Result result{r.exit_code, r.out, {}};
  for (const std::string& name : list_dir("brevlithoutput"))
    result.files[name] = read_file("brevlithoutput/" + name);
  return result;
}

// Mailboxes are walked in the file system's order on Windows and sorted on
// Linux: compare the per-mailbox parts of standard output as a set.
std::string in_name_order(const std::string& out) {
  const std::string mark = "Processing: ";
  const size_t first = out.find(mark);
  if (first == std::string::npos) return out;
  std::vector<std::string> parts;
  for (size_t at = first; at != std::string::npos;) {
    const size_t next = out.find(mark, at + mark.size());
    parts.push_back(out.substr(at, next == std::string::npos ? next : next - at));
    at = next;
  }
  std::sort(parts.begin(), parts.end());
  std::string joined = out.substr(0, first);
  for (const std::string& p : parts) joined += p;
  return joined;
}

// Line ends of every kind, Ctrl-Z, NUL bytes, long lines and a message
// larger than the read window.
std::string awkward_mailbox() {
  std::string box = "preamble before any separator\r\n";
  box += "From ???@??? one\r\nInvoice: CR LF lines\r\nbare\rCR\rlone\nLF stays\r\n";
  box += "From ???@??? two\r\n" + std::string(300, 'x') + "\r\n" + std::string("nul\0byte", 8);
  box += "\r\nFrom ???@??? three\r\n";
  for (int i = 0; i < 12000; ++i) box += "long message line " + std::to_string(i) + " invoice\r\n";
  box += "From ???@??? four\rtext after a CR separator\r\n";
  box += "From ???@??x not a separator\r\nFrom ???@???";
  return box;
}

enum class Names { same, code_page };

// Names::code_page: the output files are named after terms holding bytes
// above 127, which the Windows build turns into UTF-16 through its ANSI code
// page; only their contents can be compared.
void compare(const Inputs& setup, const std::vector<std::string>& args, bool any_order = false,
             Names names = Names::same) {
  const Result linux_run = run_on(false, setup, args);
  const Result windows_run = run_on(true, setup, args);
  const std::string label = ::testing::PrintToString(args);
  EXPECT_EQ(windows_run.exit_code, linux_run.exit_code) << label;
  if (any_order)
    EXPECT_EQ(in_name_order(windows_run.out), in_name_order(linux_run.out)) << label;
  else
    EXPECT_EQ(windows_run.out, linux_run.out) << label;
  EXPECT_EQ(windows_run.files.size(), linux_run.files.size()) << label;
  if (names == Names::code_page) {
    std::vector<std::string> a, b;
    for (const auto& [name, bytes] : linux_run.files) a.push_back(bytes);
    for (const auto& [name, bytes] : windows_run.files) b.push_back(bytes);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_TRUE(a == b) << label << ": the files differ";
    return;
  }
  for (const auto& [name, bytes] : linux_run.files) {
    const auto other = windows_run.files.find(name);
    if (other == windows_run.files.end())
      ADD_FAILURE() << label << ": the Windows build wrote no " << name;
    else
      EXPECT_TRUE(other->second == bytes) << label << ": " << name << " differs";
  }
}

class CrossHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windows_host())
      GTEST_SKIP() << "set BREVLITH_LAUNCHER to the Windows build (scripts/windows-test.sh)";
  }
};

TEST_F(CrossHost, NormalModeSplitsAlike) {
  compare([] { write_file("in.mbx", awkward_mailbox()); }, {"in.mbx"});
}

TEST_F(CrossHost, SingleTermSearchAlike) {
  const Inputs setup = [] {
    write_file("in.mbx", awkward_mailbox());
    ::mkdir("brevlithoutput", 0755);
    write_file("brevlithoutput/invoice.mbx", "kept before\x1a");
  };
  compare(setup, {"in.mbx", "/s=invoice"});
}

TEST_F(CrossHost, TermFileSearchAlike) {
  const Inputs setup = [] {
    write_file("in.mbx", awkward_mailbox());
    write_file("terms.txt", "invoice\r\nlone\r\n\r\nCapital\r\na:b?c\r\nbyte\r\nnone such\r\n");
  };
  compare(setup, {"in.mbx", "/s=terms.txt"});
}

// Bytes above 127 reach the tool unconverted only through a term file; the
// fold by each message's encoding is the same on both builds.
TEST_F(CrossHost, FoldTableThroughATermFile) {
  const Inputs setup = [] {
    write_file("in.mbx",
               "From ???@??? 1\r\nx\x80y\r\nFrom ???@??? 2\r\n\xa5\r\nFrom ???@??? 3\r\n"
               "\x8e\x8f\x90\x99\x9a\r\nFrom ???@??? 4\r\n\x80 \xc9\r\n");
    // Not also 0xC9: its term mailbox would be 0xE9's on Windows.
    write_file("terms.txt", "x\x87y\r\n\xa4\r\n\x84\x86\x82\x94\x81\r\n\x80\r\n\xe9\r\n");
  };
  compare(setup, {"in.mbx", "/s=terms.txt"}, false, Names::code_page);
}

TEST_F(CrossHost, WildcardsAndFoldersAlike) {
  const Inputs setup = [] {
    write_file("a.mbx", "From ???@??? a\r\none\r\nFrom ???@??? a2\r\n");
    write_file("B.MBX", "From ???@??? b\r\ntwo\r\n");
    write_file("c.mbx.bak", "not a mailbox\r\n");
    write_file(".hidden.mbx", "From ???@??? hidden\r\n");
    ::mkdir("dir.mbx", 0755);
    ::mkdir("mail", 0755);
    write_file("mail/in.mbx", "From ???@??? m\r\nthree\r\n");
  };
  compare(setup, {"*.mbx"}, true);
  compare(setup, {"?.mbx", "/s=o"}, true);
  compare(setup, {"mail\\in.mbx"});
  compare(setup, {"mail\\*.*", "/s=three"});
  compare(setup, {"missing.mbx"});
  compare(setup, {});
}

}  // namespace
}  // namespace brevlith::testing
