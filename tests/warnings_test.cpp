// Input the tool reads exactly by its rules, but that probably does not mean
// what the user thinks: one line on standard error says what happened, and
// standard output and the files stay as they always were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  bool merged = false;  // 2>&1: `out` holds standard error's lines where they fall
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

const std::string one = messages(1, 1);

// A eudora mail folder: a mailbox, its table of contents (binary, with a
// separator after NULs), the folder map and an empty mailbox; and more.
std::map<std::string, std::string> eudora(std::map<std::string, std::string> more = {}) {
  more.insert({{"In.mbx", one},
               {"In.toc", std::string("\0\x01In\0\0\r", 7) + "From ???@??? 1\r\n"},
               {"descmap.pce", "In,In.mbx,S,N\r\nJunk,Junk.mbx,S,N\r\n"},
               {"Junk.mbx", ""}});
  return more;
}

// A run of in.mbx (one message, "body 1") with the term file terms.txt.
Case with_terms(const char* label, const std::string& terms, const std::string& marks,
                const std::string& err, std::vector<std::string> written = {}) {
  return {label,
          {{"in.mbx", one}, {"terms.txt", terms}},
          {"in.mbx", "/s=terms.txt"},
          processing("in.mbx", marks),
          err,
          0,
          std::move(written)};
}

const Case cases[] = {
    // warning: ctrl-z
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
    // warning: lone line feeds
    {"mailbox with LF line ends",
     {{"in.mbx", "From ???@??? 1\nx\nFrom ???@??? 2\ny\n"}},
     {"in.mbx"},
     processing("in.mbx", ".2"),
     "brevlith: warning: in.mbx: its first line ends in LF alone, so it was read as LF-ended: "
     "LF or CR LF ends each line, a lone CR does not, and every line is written with CR LF; if "
     "a lone CR was meant to end a line too, give the file one kind of line end\n",
     0,
     {"in-0001.txt", "in-0002.txt"}},
    with_terms("term file with LF line ends", "meeting\nbody\n", "X1",
               "brevlith: warning: terms.txt: its first line ends in LF alone, so it was read as "
               "LF-ended: LF or CR LF ends each term, a lone CR does not; if a lone CR was meant "
               "to end a term too, give the file one kind of line end\n",
               {"body.mbx"}),
    {"same base name in search mode: term mailboxes add up",
     {{"a/In.mbx", one}, {"b/In.mbx", one}},
     {"a/In.mbx", "b/In.mbx", "/s=body"},
     processing("In.mbx", "X1") + processing("In.mbx", "X1"),
     "",
     0,
     {"body.mbx"},
     true},
    // warning: not an option
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
    // warning: second /s=
    {"a second /s=",
     {{"in.mbx", one}},
     {"in.mbx", "/s=body", "/s=other"},
     processing("in.mbx", "X1"),
     "brevlith: warning: only the first /s= is used: /s=other and what follows it were "
     "ignored" +
         usage,
     0,
     {"body.mbx"}},
    {"a second /s= inside one word",
     {{"in.mbx", one}},
     {"in.mbx", "/s=body /s=other"},
     processing("in.mbx", "X1"),
     "brevlith: warning: only the first /s= is used: /s=other and what follows it were "
     "ignored" +
         usage,
     0,
     {"body.mbx"},
     true},
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
    // warning: dash word
    {"-h before a missing mailbox",
     {},
     {"-h", "nosuch.mbx"},
     "FILE NOT FOUND\r\n",
     "brevlith: warning: -h is not an option and names no file, so it was not taken for a "
     "mailbox" +
         usage + "brevlith: no mailbox matches nosuch.mbx\n",
     1,
     {},
     true},
    // warning: term like a file
    {"a term like a missing term file",
     {{"in.mbx", one}},
     {"in.mbx", "/s=termz.txt"},
     processing("in.mbx", "0"),
     "brevlith: warning: no file termz.txt exists, so \"termz.txt\" is searched for as text; "
     "if it was meant as a term file, check its name\n",
     0,
     {}},
    {"a term like a path, quoted as typed",
     {{"in.mbx", one}},
     {"in.mbx", "/s=mail\\terms"},
     processing("in.mbx", "0"),
     "brevlith: warning: no file mail/terms exists, so \"mail\\terms\" is searched for as "
     "text; if it was meant as a term file, check its name\n",
     0,
     {},
     true},
    {"a term naming a device",
     {{"in.mbx", one}},
     {"in.mbx", "/s=/dev/null"},
     processing("in.mbx", "0"),
     "brevlith: warning: /dev/null is not a regular file (a FIFO, socket or device), so it was "
     "not read as a term file and \"/dev/null\" is searched for as text; to search for the "
     "lines of a file, name a regular, visible one\n",
     0,
     {},
     true},
    // warning: empty term
    with_terms("an empty line in a term file: numbered files too", "nothing\r\n\r\n", "1",
               "brevlith: warning: terms.txt: line 2 is empty, and an empty term writes every "
               "message as a numbered .txt file too; remove the empty line\n",
               {"in-0001.txt"}),
    // warning: blank ends
    with_terms("a term with a blank at its end", "body \r\n", "X1",
               "brevlith: warning: terms.txt: the term on line 1, \"body \", has blanks or tabs at "
               "its start or end, which must match too; remove them\n",
               {"body .mbx"}),
    // warning: same term mailbox
    with_terms("two terms, one term mailbox", "x\r\na/b\r\na:b\r\n", "0",
               "brevlith: warning: terms.txt: the terms on lines 2 and 3 (\"a/b\" and \"a:b\") "
               "both go to the term mailbox a-b.mbx, so each message that holds them is written "
               "there once for each; keep one of them\n"),
    [] {
      Case c =
          with_terms("two terms the same once folded", "M\xc3\x9cLLER\r\nm\xc3\xbcller\r\n", "0",
                     "brevlith: warning: terms.txt: the terms on lines 1 and 2 (\"M\xc3\x9cLLER\" "
                     "and \"m\xc3\xbcller\") are the same once folded to small letters, so each "
                     "message that holds one is written to both M\xc3\x9cLLER.mbx and "
                     "m\xc3\xbcller.mbx; keep one of them\n");
      c.linux_only = true;  // Wine names the term mailboxes through its code page
      return c;
    }(),
    // warning: encoding
    with_terms("a UTF-8 byte order mark",
               "\xEF\xBB\xBF"
               "body\r\n",
               "0",
               "brevlith: warning: terms.txt begins with a UTF-8 byte order mark, which sticks to "
               "the term on line 1, so that term never matches; save it as ANSI or as UTF-8 "
               "without a byte order mark\n"),
    with_terms("a UTF-16 term file",
               std::string("\xFF\xFE"
                           "b\0o\0d\0y\0\r\0\n\0",
                           14),
               "0",
               "brevlith: warning: terms.txt is saved as UTF-16 (Unicode), so every term holds NUL "
               "bytes and none matches; save it as ANSI or as UTF-8 without a byte order mark\n"),
    // warning: not text
    {"a term file that is not text",
     {{"in.mbx", one}, {"body", std::string("%PDF\r\n\0\1\r\n", 10)}},
     {"in.mbx", "/s=body"},
     processing("in.mbx", "0"),
     "brevlith: warning: the file body was read as a term file, since a file of that name is here, "
     "but it is not text (it holds NUL bytes): its 2 lines were searched for as terms; to search "
     "for the word \"body\", run where no file of that name is\n",
     0,
     {}},
    // warning: empty term file
    with_terms("an empty term file", "", "0",
               "brevlith: warning: terms.txt is empty, so it gives no term and its name "
               "\"terms.txt\" is searched for as text; write one term on each line of it\n"),
    // warning: cut record
    {"a term mailbox whose last record was cut",
     {{"in.mbx", one}, {"brevlithoutput/body.mbx", "\r\nFrom ???@??? 0\r\nbo"}},
     {"in.mbx", "/s=body"},
     processing("in.mbx", "X1"),
     "brevlith: warning: brevlithoutput/body.mbx does not end in CR LF, so its last record may be "
     "cut off (a run writing it was stopped); the new records follow it: check that last "
     "message\n",
     0,
     {}},
    {"a warning between progress marks, 2>&1",
     {{"in.mbx", messages(1, 3)}, {"brevlithoutput/body 2.mbx", "\r\nFrom ???@??? 0\r\nbo"}},
     {"in.mbx", "/s=body 2"},
     processing("in.mbx",
                ".brevlith: warning: brevlithoutput/body 2.mbx does not end in CR LF, so its last "
                "record may be cut off (a run writing it was stopped); the new records follow it: "
                "check that last message\nX.1"),
     "",
     0,
     {},
     true,
     true},
    // warning: earlier numbered files
    {"numbered files left by an earlier run, after a gap",
     {{"in.mbx", one}, {"brevlithoutput/in-0003.txt", "older"}},
     {"in.mbx"},
     processing("in.mbx", "1"),
     "brevlith: warning: numbered files after brevlithoutput/in-0001.txt up to "
     "brevlithoutput/in-0003.txt are left from an earlier run: this run wrote 1 for in.mbx; delete "
     "them so that they are not taken for its messages\n",
     0,
     {"in-0001.txt", "in-0003.txt"}},
    // warning: quoted term
    {"a term in double quotes",
     {{"in.mbx", one}},
     {"in.mbx", "/s=\"it's 1\""},
     processing("in.mbx", "0"),
     "brevlith: warning: the search term \"it's 1\" keeps its double quotes, which must match "
     "too; to search for it's 1, type \"/s=it's 1\"\n",
     0,
     {},
     true},
    with_terms("term file lines in double quotes", "\"body\"\r\n\" x \"\r\n", "0",
               "brevlith: warning: terms.txt: the term on line 1, \"body\", keeps its double "
               "quotes, which must match too; to search for body, remove them\n"),
    // warning: not a mailbox
    {"a eudora folder matched by a wildcard: only mailboxes are split",
     eudora(),
     {"*"},
     processing("descmap.pce", "0") + processing("In.mbx", "1") + processing("In.toc", "0") +
         processing("Junk.mbx", "1"),
     "brevlith: warning: descmap.pce is not a mailbox: no line in it starts with \"From "
     "???@???\"; nothing was written for it. To split it anyway, name it alone, without a "
     "wildcard\nbrevlith: warning: In.toc is not a mailbox: it holds NUL bytes before any line "
     "that starts with \"From ???@???\"; nothing was written for it. To split it anyway, name it "
     "alone, without a wildcard\nbrevlith: warning: Junk.mbx is empty, and was written as one "
     "empty message (a file of a lone line end)\n",
     0,
     {"In-0001.txt", "Junk-0001.txt"},
     true},
    // warning: empty mailbox
    {"an empty mailbox",
     eudora(),
     {"Junk.mbx"},
     processing("Junk.mbx", "1"),
     "brevlith: warning: Junk.mbx is empty, and was written as one empty message (a file of a "
     "lone line end)\n",
     0,
     {"Junk-0001.txt"}},
    {"a repeated base name: the later mailbox is not read",
     eudora({{"Old/In.mbx", messages(1, 2)}}),
     {"In.mbx", "Old/In.mbx"},
     processing("In.mbx", "1") + processing("In.mbx", "0"),
     "brevlith: skipped Old/In.mbx: its numbered files (In-0001.txt and on) would replace those of "
     "In.mbx, which has the same base name; rename one of them, or split them in separate runs "
     "from separate folders\n",
     1,
     {"In-0001.txt"},
     true},
    {"a mailbox that is this run's own term mailbox",
     {{"brevlithoutput/x.mbx", "\r\nFrom ???@??? 0\r\nx\r\n"}},
     {"brevlithoutput/x.mbx", "/s=x"},
     processing("x.mbx", "0"),
     "brevlith: skipped brevlithoutput/x.mbx: it is a file this run writes its output to; name "
     "mailboxes outside brevlithoutput, or move it out first\n",
     1,
     {"x.mbx"},
     true},
    {"a term file that is a term mailbox of this run",
     {{"in.mbx", one}, {"brevlithoutput/body.mbx", "body\r\n"}},
     {"in.mbx", "/s=brevlithoutput/body.mbx"},
     "",
     "brevlith: the term file brevlithoutput/body.mbx is also a term mailbox this run would add "
     "records to; copy it out of brevlithoutput and name the copy\n",
     1,
     {"body.mbx"},
     true},
    {"a plain term",
     {{"in.mbx", one}},
     {"in.mbx", "/s=body"},
     processing("in.mbx", "X1"),
     "",
     0,
     {}},
    // warning: named twice
    {"a mailbox named twice, under two spellings",
     {{"in.mbx", one}},
     {"in.mbx", "./in.mbx", "/s=body"},
     processing("in.mbx", "X1"),
     "brevlith: warning: mailbox ./in.mbx was already processed as in.mbx: one file named "
     "twice is processed once; name each mailbox once\n",
     0,
     {"body.mbx"},
     true},
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
  RunOptions options;
  if (c.merged) options.in_child = [] { ::dup2(1, 2); };
  const RunResult r = run_brevlith(c.args, options);
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
