#include "files/lines.h"

#include <gtest/gtest.h>

#include "console/error_status.h"
#include "files/channels.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::read_file;
using testing::ScopedTempDir;
using testing::write_file;

std::vector<std::string> lines_of(const std::string& bytes) {
  write_file("f", bytes);
  open_channel("f", 1, Mode::input, 128);
  std::vector<std::string> lines;
  while (!at_end_of_file(1)) lines.push_back(read_line(1));
  close_channel(1);
  return lines;
}

TEST(ReadLine, LineEndRules) {
  ScopedTempDir dir;
  using L = std::vector<std::string>;
  const std::string nul_line("a\0b", 3);
  const struct {
    std::string bytes;
    L lines;
  } rows[] = {
      {"A\r\nB\r\n", L{"A", "B"}},
      {"A\r\nB\r\n\r\n", L{"A", "B", ""}},
      {"A\r\nB", L{"A", "B"}},
      {"", L{}},
      {"A\nB\n", L{"A\nB\n"}},
      {"A\rB", L{"A", "B"}},
      {"A\r\r\nB", L{"A", "", "B"}},
      {"A\r", L{"A"}},
      {"A\x1a"
       "B\r\n",
       L{"A"}},
      {"\x1a"
       "A\r\n",
       L{}},
      {"A\r\n\x1a\r\n", L{"A"}},
      {nul_line + "\r\n", L{nul_line}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(lines_of(row.bytes), row.lines) << ::testing::PrintToString(row.bytes);
}

TEST(ReadLine, CrLfStraddlingTheBlockBoundaryIsOneTerminator) {
  ScopedTempDir dir;
  const std::string first(127, 'x');  // CR at offset 127, LF at 128
  EXPECT_EQ(lines_of(first + "\r\nB"), (std::vector<std::string>{first, "B"}));
  // A lone CR at the block's last byte, the next block starting with text.
  EXPECT_EQ(lines_of(first + "\rB"), (std::vector<std::string>{first, "B"}));
  // 0x1A as the first byte of the second block.
  EXPECT_EQ(lines_of(std::string(128, 'y') + "\x1a"
                                             "z"),
            (std::vector<std::string>{std::string(128, 'y')}));
}

TEST(ReadLine, VeryLongLineComesBackWhole) {
  ScopedTempDir dir;
  std::string line;
  for (int i = 0; i < 100000; ++i) line += static_cast<char>('a' + i % 26);
  EXPECT_EQ(lines_of(line + "\r\nend"), (std::vector<std::string>{line, "end"}));
}

TEST(ReadLine, AtTheEndGivesEmptyWith62AndStaysThere) {
  ScopedTempDir dir;
  write_file("f",
             "A\x1a"
             "B");
  open_channel("f", 1, Mode::input, 128);
  EXPECT_EQ(read_line(1), "A");
  for (int i = 0; i < 3; ++i) {
    ErrorScope scope;
    EXPECT_EQ(at_end_of_file(1), -1);
    EXPECT_EQ(read_line(1), "");
    EXPECT_EQ(scope.status().code, 62);
  }
  close_channel(1);
}

TEST(ChannelMisuse, ErrorsAndNeutralResults) {
  ScopedTempDir dir;
  {
    ErrorScope scope;
    EXPECT_EQ(at_end_of_file(9), -1);
    EXPECT_EQ(scope.status().code, 53);
  }
  {
    ErrorScope scope;
    EXPECT_EQ(read_line(9), "");
    EXPECT_EQ(scope.status().code, 52);
  }
  {
    ErrorScope scope;
    write_text(9, "");  // even "" on a closed number is 52
    EXPECT_EQ(scope.status().code, 52);
  }
  write_file("in", "x\r\n");
  open_channel("in", 1, Mode::input, 128);
  open_channel("out", 2, Mode::output, 128);
  {
    ErrorScope scope;
    write_text(1, "x");
    EXPECT_EQ(scope.take().code, 54);
    write_line_end(1);
    EXPECT_EQ(scope.take().code, 54);
    EXPECT_EQ(read_line(2), "");
    EXPECT_EQ(scope.take().code, 54);
    EXPECT_EQ(at_end_of_file(2), 0);  // output channels are never at their end
    write_text(2, "");
    EXPECT_EQ(scope.take().code, 0);
  }
  close_channel(1);
  close_channel(2);
  EXPECT_EQ(read_file("out"), "");
}

TEST(WriteText, BytesAsGivenAndLineEndIsCrLf) {
  ScopedTempDir dir;
  open_channel("out", 2, Mode::output, 128);
  const std::string bytes("a\r\nb\n\0\x1a\xff\r\n", 10);
  write_text(2, bytes);
  write_line_end(2);
  close_channel(2);
  EXPECT_EQ(read_file("out"), bytes + "\r\n");
}

}  // namespace
}  // namespace brevlith
