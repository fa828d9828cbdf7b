// Normal mode: every message of every matched mailbox becomes a numbered file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

std::string out(const std::string& name) { return read_file("brevlithoutput/" + name); }

TEST(Split, ConsolePictureAndFiles) {
  ScopedTempDir dir;
  write_file("in.mbx", "From ???@??? 1\r\na\r\nFrom ???@??? 2\r\nb\r\nFrom ???@??? 3\r\nc\r\n");
  RunResult r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "..3"));
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{"in-0001.txt", "in-0002.txt", "in-0003.txt"}));
  EXPECT_EQ(out("in-0002.txt"), "From ???@??? 2\r\nb\r\n");
  // A second run notes the folder and overwrites the files.
  write_file("in.mbx", "From ???@??? 9\r\nz\r\n");
  r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.out, banner + noted + processing("in.mbx", "1"));
  EXPECT_EQ(out("in-0001.txt"), "From ???@??? 9\r\nz\r\n");
}

TEST(Split, WhatCountsAsASeparator) {
  ScopedTempDir dir;
  write_file("in.mbx",
             "From ???@???\r\n"  // the first line is never tested: it just starts message 1
             "From ???@???\r\n"  // alone on its line: a separator
             " From ???@??? x\r\n"
             "from ???@??? x\r\n"
             "From ???@?? x\r\n"
             "From ???@???x\r\n"  // twelve characters match: a separator
             "end\r\n");
  const RunResult r = run_brevlith({"in.mbx"});
  EXPECT_EQ(r.out, banner + created + processing("in.mbx", "..3"));
  EXPECT_EQ(out("in-0001.txt"), "From ???@???\r\n");
  EXPECT_EQ(out("in-0002.txt"),
            "From ???@???\r\n From ???@??? x\r\nfrom ???@??? x\r\nFrom ???@?? x\r\n");
  EXPECT_EQ(out("in-0003.txt"), "From ???@???x\r\nend\r\n");
}

TEST(Split, LineEndsInsideMailboxes) {
  struct Case {
    std::string name, bytes;
    std::vector<std::string> files;
  };
  const std::vector<Case> cases = {
      {"no separator", "one\r\ntwo\r\n", {"one\r\ntwo\r\n"}},
      {"first line end LF: LF ends lines",
       "a\nFrom ???@??? x\r\nb\rc\n",
       {"a\r\n", "From ???@??? x\r\nb\rc\r\n"}},
      {"bare CR", "a\rFrom ???@??? x\rb", {"a\r\n", "From ???@??? x\r\nb\r\n"}},
      {"ctrl-z ends the file",
       "a\r\nb\x1a"
       "From ???@???\r\nc\r\n",
       {"a\r\nb\r\n"}},
      {"final CR LF adds nothing", "a\r\n", {"a\r\n"}},
      {"two final CR LF add one empty line", "a\r\n\r\n", {"a\r\n\r\n"}},
      {"empty mailbox", "", {"\r\n"}},
      {"NUL and high bytes",
       std::string("a\0\xe9\r\nFrom ???@???\r\n\xff", 20),
       {std::string("a\0\xe9\r\n", 5), "From ???@???\r\n\xff\r\n"}},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    write_file("in.mbx", c.bytes);
    const RunResult r = run_brevlith({"in.mbx"});
    ASSERT_EQ(r.exit_code, 0) << c.name << r.err;
    ASSERT_EQ(list_dir("brevlithoutput").size(), c.files.size()) << c.name;
    for (size_t i = 0; i < c.files.size(); ++i)
      EXPECT_EQ(out("in-000" + std::to_string(i + 1) + ".txt"), c.files[i]) << c.name;
    EXPECT_EQ(r.out, banner + created + processing("in.mbx", static_cast<int>(c.files.size())))
        << c.name;
  }
}

TEST(Split, NumbersGrowToFiveDigitsAndCountsGetCommas) {
  if (windows_host())
    GTEST_SKIP() << "Wine looks each new file name up in the whole folder, so 10 001 files take "
                    "minutes; the cross-host tests compare numbering";
  ScopedTempDir dir;
  std::string box;
  for (int i = 1; i <= 10001; ++i) box += "From ???@??? " + std::to_string(i) + "\r\n";
  write_file("big.mbx", box);
  const RunResult r = run_brevlith({"big.mbx"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, banner + created + processing("big.mbx", 10001));
  EXPECT_EQ(out("big-9999.txt"), "From ???@??? 9999\r\n");
  EXPECT_EQ(out("big-10000.txt"), "From ???@??? 10000\r\n");
  EXPECT_EQ(out("big-10001.txt"), "From ???@??? 10001\r\n");
  EXPECT_EQ(list_dir("brevlithoutput").size(), 10001u);
}

TEST(Split, SeveralMailboxesAndBaseNames) {
  ScopedTempDir dir;
  write_file("a.mbx", "a1\r\nFrom ???@??? x\r\na2\r\n");
  write_file("a.txt", "From ???@??? second a\r\n");
  write_file("b.c.mbx", "From ???@??? bc\r\n");
  write_file(".mbx", "hidden, never matched\r\n");
  write_file("noext", "From ???@??? n\r\n");
  RunResult r = run_brevlith({"*.*"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, host_stderr("brevlith: skipped a.txt: its numbered files (a-0001.txt and on) "
                               "would replace those of a.mbx, which has the same base name; rename "
                               "one of them, or split them in separate runs from separate "
                               "folders\n"));
  // Sorted without regard to case; a.txt has the same base name and is not read.
  EXPECT_EQ(r.out, banner + created + processing("a.mbx", ".2") + processing("a.txt", "0") +
                       processing("b.c.mbx", "1") + processing("noext", "1"));
  EXPECT_EQ(
      list_dir("brevlithoutput"),
      (std::vector<std::string>{"a-0001.txt", "a-0002.txt", "b.c-0001.txt", "noext-0001.txt"}));
  EXPECT_EQ(out("a-0001.txt"), "a1\r\n");
  EXPECT_EQ(out("a-0002.txt"), "From ???@??? x\r\na2\r\n");
  // A dot-file is hidden on Linux; named directly it is not an ordinary visible file either.
  r = run_brevlith({".mbx"});
  EXPECT_EQ(r.out, banner + noted + "FILE NOT FOUND\r\n");
}

// With /r a eudora tree is walked depth first, each folder's mailboxes before
// its subfolders; the output mirrors it, so mailboxes of one name all split.
TEST(Split, TheFolderTreeWithR) {
  ScopedTempDir dir;
  const std::string one = "From ???@??? Mon Dec 13 04:42:05 2010\r\nSubject: invoice\r\n\r\nx\r\n";
  for (const char* folder : {"Work.fol", "Work.fol/Old.fol", "attach", "Embedded", ".hidden.fol"})
    ASSERT_EQ(::mkdir(folder, 0777), 0);
  for (const char* name : {"In.mbx", "Trash.mbx", "Work.fol/Misc.mbx", "Work.fol/Old.fol/Misc.mbx",
                           ".hidden.fol/Misc.mbx"})
    write_file(name, std::string(name).starts_with("T") ? "" : one + one);
  write_file("In.toc", std::string(104, '\0'));
  write_file("Work.fol/descmap.pce", "Misc,Misc.mbx,S,N\r\n");
  if (!windows_host()) {
    ASSERT_EQ(::symlink("Work.fol", "Link.fol"), 0);  // never followed
  }
  const std::string sep = windows_host() ? "\\" : "/";
  RunResult r = run_brevlith({"*.mbx", "/r"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  if (!windows_host()) {  // Windows lists in the file system's order
    EXPECT_EQ(r.out, banner + created + processing("In.mbx", ".2") + processing("Trash.mbx", "1") +
                         processing("Work.fol" + sep + "Misc.mbx", ".2") +
                         processing("Work.fol" + sep + "Old.fol" + sep + "Misc.mbx", ".2"));
  }
  EXPECT_EQ(list_dir("brevlithoutput"),
            (std::vector<std::string>{"In-0001.txt", "In-0002.txt", "Trash-0001.txt", "Work.fol"}));
  EXPECT_EQ(list_dir("brevlithoutput/Work.fol/Old.fol"),
            (std::vector<std::string>{"Misc-0001.txt", "Misc-0002.txt"}));
  EXPECT_EQ(read_file("brevlithoutput/Work.fol/Misc-0002.txt"), one);
  // Search mode: the term mailbox stays at the top, the output folder is never walked.
  r = run_brevlith({"*", "/r", "/s=invoice"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file("brevlithoutput/invoice.mbx").size(), 6 * (one.size() + 2));
  EXPECT_FALSE(exists("brevlithoutput/Work.fol/invoice.mbx"));
  // An earlier run's numbered files are found in the folders below too.
  write_file("brevlithoutput/Work.fol/Old.fol/Misc-0009.txt", "");
  r = run_brevlith({"*.mbx", "/r"});
  EXPECT_NE(r.err.find("up to brevlithoutput" + sep + "Work.fol" + sep + "Old.fol" + sep +
                       "Misc-0009.txt are left from an earlier run"),
            std::string::npos)
      << r.err;
  // A file where an output folder goes refuses only the mailboxes bound there.
  ASSERT_EQ(::rename("brevlithoutput/Work.fol", "gone.fol"), 0);
  write_file("brevlithoutput/Work.fol", "");
  r = run_brevlith({"*.mbx", "/r"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot use the output folder brevlithoutput" + sep + "Work.fol: "),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file("brevlithoutput/In-0002.txt"), one);
}

}  // namespace
}  // namespace brevlith::testing
