#include "console/command_tail.h"

#include <gtest/gtest.h>

namespace brevlith {
namespace {

TEST(SkipProgramName, TableOfCommandLines) {
  const struct {
    std::u16string line, tail;
  } rows[] = {
      {u"brevlith a.mbx /s=foo", u"a.mbx /s=foo"},
      {u"\"C:\\x y\\brevlith.exe\"   a.mbx", u"a.mbx"},
      {u"\"C:\\x y\\brevlith.exe\"a.mbx", u"a.mbx"},
      {u"brevlith", u""},
      {u"brevlith   ", u""},
      {u"brevlith   a.mbx  ", u"a.mbx  "},
      {u"brevlith\ta.mbx", u"\ta.mbx"},
      {u"   a.mbx", u"a.mbx"},
      {u"\"brevlith a.mbx", u""},
      {u"", u""},
      // Only U+0020 counts as a blank; every other unit at or below it stays.
      {u"brevlith \ta.mbx", u"\ta.mbx"},
      {u"\"brevlith\"\ta.mbx", u"\ta.mbx"},
      {u"brevlith\x01"
       u"a.mbx",
       u"\x01"
       u"a.mbx"},
      {u"brevlith\u00a0x a.mbx", u"a.mbx"},  // U+00A0 is part of the name
      {u"\"\" a.mbx", u"a.mbx"},
      {u"\"a b\"", u""},
  };
  for (const auto& row : rows) EXPECT_EQ(skip_program_name(row.line), row.tail);
}

TEST(RebuildTail, SlashesBeforeTheFirstOptionBecomeBackslashes) {
  const struct {
    std::vector<std::string> args;
    std::u16string tail;
  } rows[] = {
      {{"/home/you/mail/In.mbx", "/s=a/b"}, u"\\home\\you\\mail\\In.mbx /s=a/b"},
      {{"in.mbx", "/S=x"}, u"in.mbx /S=x"},
      {{"my", "box.mbx"}, u"my box.mbx"},
      {{"a/b", "/x", "c/d"}, u"a\\b /x c/d"},
      {{"/ab/c.mbx", "/s=x"}, u"\\ab\\c.mbx /s=x"},  // "/ab" is no option
      {{"a.mbx", "/s=x", "b/c"}, u"a.mbx /s=x b/c"},
      {{"", "a.mbx"}, u" a.mbx"},
      {{}, u""},
  };
  for (const auto& row : rows) EXPECT_EQ(rebuild_tail(row.args), row.tail);
}

TEST(RebuildTail, OptionArgumentsAreSlashLetterThenEqualsOrEnd) {
  EXPECT_TRUE(is_option_argument("/s=term"));
  EXPECT_TRUE(is_option_argument("/S=x"));
  EXPECT_TRUE(is_option_argument("/x"));
  EXPECT_TRUE(is_option_argument("/s="));
  EXPECT_FALSE(is_option_argument("/home"));
  EXPECT_FALSE(is_option_argument("/1"));
  EXPECT_FALSE(is_option_argument("/"));
  EXPECT_FALSE(is_option_argument("a/s=b"));
}

TEST(RebuildTail, NonUtf8BytesSurviveAsEscapes) {
  host::Wide line;
  if (host::command_line(line)) GTEST_SKIP() << "a host with a raw command line never rebuilds";
  const std::u16string tail = rebuild_tail({std::string("caf\xe9.mbx")});
  EXPECT_EQ(tail, std::u16string(u"caf") + char16_t(0xDCE9) + u".mbx");
}

}  // namespace
}  // namespace brevlith
