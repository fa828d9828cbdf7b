#include "files/lines.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

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
      // The first line end decides: LF (with a CR before it), or CR.
      {"A\nB\r\nC\rD\n\r", L{"A", "B", "C\rD", "\r"}},
      {"A\r\nB\nC\r\n", L{"A", "B\nC"}},
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

// The lines of text that read_lines wrote, each ended by CR LF (a line holds no CR).
std::vector<std::string> crlf_lines(std::string_view text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines.emplace_back(text.substr(at, end + 2 - at));
    at = end + 2;
  }
  return lines;
}

// read_lines against the loop it stands for: at_end_of_file, read_line and
// a CR LF after each line, stopping after each line that begins with the
// marker; on random bytes and with record lengths that put line ends on
// block boundaries, wider blocks and one-byte blocks included.
TEST(ReadLines, SameLinesAsTheReadLineLoop) {
  ScopedTempDir dir;
  const std::string pieces[] = {
      "From ???@???",      "From ???@??", "F", "x", "abc", "\r", "\n", "\r\n", "\x1a", "",
      std::string(1, '\0')};
  std::mt19937 rng(5);
  for (int round = 0; round < 400; ++round) {
    std::string bytes;
    const size_t count = rng() % 60;
    for (size_t i = 0; i < count; ++i) {
      bytes += pieces[rng() % std::size(pieces)];
      if (rng() % 4 == 0) bytes += std::string(rng() % 300, 'y');
    }
    const int32_t record = std::array<int32_t, 5>{128, 128, 1, 7, 200}[rng() % 5];
    const std::string marker = round % 5 == 0 ? "" : "From ???@???";

    write_file("f", bytes);
    open_channel("f", 1, Mode::input, record);
    std::vector<std::pair<std::string, bool>> expected;  // line with CR LF, begins with marker
    while (!at_end_of_file(1)) {
      const std::string line = read_line(1);
      expected.emplace_back(line + "\r\n", line.compare(0, marker.size(), marker) == 0);
    }
    close_channel(1);

    open_channel("f", 1, Mode::input, record);
    TextBuffer out;
    size_t begin = 0;
    std::vector<std::pair<std::string, bool>> got;
    for (;;) {
      ErrorScope scope;
      size_t line_start = 0;
      const LinesStop stop = read_lines(1, out, marker, line_start);
      EXPECT_EQ(scope.status().code, 0);
      if (stop == LinesStop::marker) {
        EXPECT_GE(line_start, begin);
        const std::string before(out.view().substr(begin, line_start - begin));
        for (const std::string& line : crlf_lines(before)) got.emplace_back(line, false);
        got.emplace_back(std::string(out.view().substr(line_start)), true);
        begin = out.size();
        continue;
      }
      ASSERT_EQ(stop, LinesStop::end_of_file);
      for (const std::string& line : crlf_lines(out.view().substr(begin)))
        got.emplace_back(line, false);
      break;
    }
    close_channel(1);
    ASSERT_EQ(got, expected) << "record " << record << " " << ::testing::PrintToString(bytes);
  }
}

TEST(ReadLines, ChannelsThatCannotBeRead) {
  ScopedTempDir dir;
  TextBuffer out;
  size_t line_start = 0;
  ErrorScope scope;
  EXPECT_EQ(read_lines(9, out, "x", line_start), LinesStop::end_of_file);
  EXPECT_EQ(scope.take().code, 53);
  open_channel("out", 2, Mode::output, 128);
  EXPECT_EQ(read_lines(2, out, "x", line_start), LinesStop::failed_line);
  EXPECT_EQ(scope.take().code, 54);
  close_channel(2);
  EXPECT_EQ(out.size(), 0u);
}

TEST(TextBuffer, GrowsKeepingItsBytes) {
  TextBuffer b;
  std::string model;
  for (int i = 0; i < 2000; ++i) {
    const std::string piece(static_cast<size_t>(i % 300), static_cast<char>('a' + i % 26));
    b.append(piece);
    model += piece;
  }
  EXPECT_EQ(b.view(), model);
  b.erase_front(1000);
  EXPECT_EQ(b.view(), model.substr(1000));
  b.resize_down(10);
  EXPECT_EQ(b.view(), model.substr(1000, 10));
  b.release();
  EXPECT_EQ(b.size(), 0u);
  b.append("x", 1);
  EXPECT_EQ(b.view(), "x");
}

}  // namespace
}  // namespace brevlith
