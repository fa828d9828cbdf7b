// Input the tool reads exactly by its rules, but that probably does not mean
// what the user thinks: one line on standard error says what happened, and
// standard output and the files stay as they always were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <map>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

const std::string usage = "; usage: brevlith filename.ext [/s=searchterm]\n";

std::string messages(int from, int to) {
  std::string all;
  for (int i = from; i <= to; ++i)
    all += "From ???@??? " + std::to_string(i) + "\r\nbody " + std::to_string(i) + "\r\n";
  return all;
}

// A mailbox of 300 messages with a stray Ctrl-Z inside message 157.
std::string with_ctrl_z() {
  std::string m = messages(1, 300);
  m.insert(m.find("body 157"), 1, '\x1a');
  return m;
}

std::string processing(const std::string& name, const std::string& marks) {
  return "Processing: " + name + "\r\n" + marks + "\r\n";
}

struct Case {
  const char* label;
  std::map<std::string, std::string> files;
  std::vector<std::string> args;
  std::string out;  // after the banner and the output-folder line
  std::string err;
  int exit_code;
  std::vector<std::string> written;  // brevlithoutput, when checked
  // Words the shell split (Wine quotes each again) or Linux names.
  bool linux_only = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

const std::string one = messages(1, 1);

const Case cases[] = {
    {"Ctrl-Z with more after it",
     {{"in.mbx", with_ctrl_z()}},
     {"in.mbx"},
     processing("in.mbx", std::string(156, '.') + "157"),
     "brevlith: warning: in.mbx: a Ctrl-Z byte (0x1A) at offset 4,170, in message 157, ends "
     "the mailbox; the 4,014 bytes after it were not read. Remove the byte to split the rest "
     "(e.g. tr -d '\\032')\n",
     0,
     {}},
    {"Ctrl-Z as the last byte: the old end-of-file mark",
     {{"in.mbx", one + "\x1a"}},
     {"in.mbx"},
     processing("in.mbx", "1"),
     "",
     0,
     {}},
    {"mailbox with LF line ends",
     {{"in.mbx", "From ???@??? 1\nx\nFrom ???@??? 2\ny\n"}},
     {"in.mbx"},
     processing("in.mbx", "1"),
     "brevlith: warning: in.mbx: its lines end in LF alone, and only CR or CR LF ends a line "
     "here, so it is one line and one message; convert it to CR LF line ends (e.g. unix2dos "
     "in.mbx)\n",
     0,
     {}},
    {"term file with LF line ends",
     {{"in.mbx", one}, {"terms.txt", "invoice\nmeeting\n"}},
     {"in.mbx", "/s=terms.txt"},
     processing("in.mbx", "0"),
     "brevlith: warning: terms.txt: its lines end in LF alone, and only CR or CR LF ends a line "
     "here, so it is one term of 16 bytes; convert it to CR LF line ends (e.g. unix2dos "
     "terms.txt)\n",
     0,
     {}},
    {"same base name in search mode: term mailboxes add up",
     {{"a/In.mbx", one}, {"b/In.mbx", one}},
     {"a/In.mbx", "b/In.mbx", "/s=body"},
     processing("In.mbx", "X1") + processing("In.mbx", "X1"),
     "",
     0,
     {"body.mbx"},
     true},
    {"an option in upper case",
     {{"in.mbx", one}},
     {"in.mbx", "/S=invoice"},
     processing("in.mbx", "1"),
     "brevlith: warning: /S=invoice is not an option, and was ignored (a search term is given "
     "as /s=term)" +
         usage,
     0,
     {}},
    {"another letter",
     {{"in.mbx", one}},
     {"in.mbx", "/x"},
     processing("in.mbx", "1"),
     "brevlith: warning: /x is not an option, and was ignored" + usage,
     0,
     {}},
    {"/s without =",
     {{"in.mbx", one}},
     {"in.mbx", "/s"},
     processing("in.mbx", "1"),
     "brevlith: warning: /s is not an option, and was ignored (a search term is given as "
     "/s=term)" +
         usage,
     0,
     {}},
    {"a second /s=",
     {{"in.mbx", one}},
     {"in.mbx", "/s=body", "/s=other"},
     processing("in.mbx", "X1"),
     "brevlith: warning: only the first /s= is used: /s=other and what follows it were "
     "ignored" +
         usage,
     0,
     {"body.mbx"}},
    {"--help after the mailbox",
     {{"in.mbx", one}},
     {"in.mbx", "--help"},
     processing("in.mbx", "1"),
     "brevlith: warning: --help is not an option and names no file, so it was not taken for a "
     "mailbox" +
         usage,
     0,
     {"in-0001.txt"},
     true},
    {"-h alone",
     {},
     {"-h"},
     "FILE NOT FOUND\r\n",
     "brevlith: warning: -h is not an option and names no file, so it was not taken for a "
     "mailbox" +
         usage + "brevlith: no mailbox named" + usage,
     1,
     {},
     true},
    {"a term like a missing term file",
     {{"in.mbx", one}},
     {"in.mbx", "/s=termz.txt"},
     processing("in.mbx", "0"),
     "brevlith: warning: no file termz.txt exists, so \"termz.txt\" is searched for as text; "
     "if it was meant as a term file, check its name\n",
     0,
     {}},
    {"a term like a path",
     {{"in.mbx", one}},
     {"in.mbx", "/s=mail/terms"},
     processing("in.mbx", "0"),
     "brevlith: warning: no file mail/terms exists, so \"mail/terms\" is searched for as text; "
     "if it was meant as a term file, check its name\n",
     0,
     {},
     true},
    {"a plain term",
     {{"in.mbx", one}},
     {"in.mbx", "/s=body"},
     processing("in.mbx", "X1"),
     "",
     0,
     {}},
};

class Warnings : public ::testing::TestWithParam<Case> {};

TEST_P(Warnings, GetsItsLineAndNothingElseChanges) {
  const Case& c = GetParam();
  if (c.linux_only && windows_host()) GTEST_SKIP() << "the shell splits words, or Linux names";
  ScopedTempDir dir;
  bool earlier_output = false;
  for (const auto& [name, bytes] : c.files) {
    if (const size_t slash = name.find('/'); slash != std::string::npos)
      ::mkdir(name.substr(0, slash).c_str(), 0755);
    earlier_output = earlier_output || name.starts_with("brevlithoutput/");
    write_file(name, bytes);
  }
  const RunResult r = run_brevlith(c.args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(r.out, banner + (earlier_output ? noted : created) + c.out);
  EXPECT_EQ(r.err, host_stderr(c.err));
  if (!c.written.empty()) {
    EXPECT_EQ(list_dir("brevlithoutput"), c.written);
  }
}

INSTANTIATE_TEST_SUITE_P(EachTrap, Warnings, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.label))
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

}  // namespace
}  // namespace brevlith::testing
