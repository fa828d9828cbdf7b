#include "files/channels.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "console/error_status.h"
#include "files/lines.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::exists;
using testing::read_file;
using testing::ScopedTempDir;
using testing::write_file;

uint8_t open_code(const std::string& name, int32_t number, Mode mode, int32_t record = 128) {
  ErrorScope scope;
  open_channel(name, number, mode, record);
  return scope.status().code;
}

int64_t size_of(const std::string& path) {
  std::error_code e;
  const auto size = std::filesystem::file_size(path, e);
  return e ? -1 : static_cast<int64_t>(size);
}

TEST(OpenChannel, ModesAndTheirEffects) {
  ScopedTempDir dir;
  EXPECT_EQ(open_code("missing", 1, Mode::input), 53);
  EXPECT_EQ(at_end_of_file(1), -1);  // the channel stayed free
  EXPECT_EQ(open_code("nofolder/missing", 1, Mode::input), 76);

  write_file("big", std::string(1000, 'b'));
  EXPECT_EQ(open_code("big", 2, Mode::output), 0);
  EXPECT_EQ(size_of("big"), 0) << "output cuts before any write";
  close_channel(2);
  EXPECT_EQ(size_of("big"), 0);

  EXPECT_EQ(open_code("new.mbx", 3, Mode::append), 0);
  EXPECT_TRUE(exists("new.mbx"));
  close_channel(3);
  EXPECT_EQ(read_file("new.mbx"), "");

  write_file("tail.mbx", "abc\x1a");
  EXPECT_EQ(open_code("tail.mbx", 3, Mode::append), 0);
  write_text(3, "d");
  write_pieces(3, {"\r\n", "", "e", "\x1a"});  // one write; "" adds nothing
  EXPECT_EQ(channel_position(3), 9u);
  close_channel(3);
  EXPECT_EQ(read_file("tail.mbx"),
            "abc\x1a"
            "d\r\ne\x1a");
}

TEST(OpenChannel, RefusalsLeaveTheNumberAsItWas) {
  ScopedTempDir dir;
  write_file("a", "first\r\nsecond\r\n");
  write_file("b", "other\r\n");
  ASSERT_EQ(open_code("a", 1, Mode::input), 0);
  EXPECT_EQ(read_line(1), "first");
  EXPECT_EQ(open_code("b", 1, Mode::input), 55);
  EXPECT_EQ(read_line(1), "second") << "the open channel is untouched";
  close_channel(1);

  EXPECT_EQ(open_code("", 4, Mode::output), 64);
  EXPECT_EQ(open_code("new?.txt", 4, Mode::output), 64);
  EXPECT_EQ(open_code("n*w.txt", 4, Mode::append), 64);
  EXPECT_EQ(testing::list_dir("."), (std::vector<std::string>{"a", "b"})) << "nothing created";
  EXPECT_EQ(open_code("a", -1, Mode::input), 52);
  EXPECT_EQ(open_code("a", 1, Mode::input, 0), 5);
  {
    ErrorScope scope;
    close_channel(77);  // not open: nothing, no error
    EXPECT_EQ(scope.status().code, 0);
  }
}

TEST(OpenChannel, LongNamesAreRefusedNeverCut) {
  // Cut short, every message file of a long mailbox name would be the same file.
  ScopedTempDir dir;
  EXPECT_EQ(open_code(std::string(300, 'n'), 5, Mode::output), 75);
  EXPECT_EQ(testing::list_dir("."), std::vector<std::string>{});
  EXPECT_EQ(open_code(std::string(255, 'n'), 5, Mode::output), 0);
  close_channel(5);
  EXPECT_TRUE(exists(std::string(255, 'n')));
}

TEST(OpenChannel, ExclusiveAgainstASecondChannel) {
  ScopedTempDir dir;
  write_file("box", "data\r\n");
  for (Mode first : {Mode::input, Mode::output, Mode::append}) {
    write_file("box", "data\r\n");
    ASSERT_EQ(open_code("box", 1, first), 0);
    for (Mode second : {Mode::input, Mode::output, Mode::append}) {
      ErrorScope scope;
      open_channel("box", 2, second, 128);
      EXPECT_EQ(scope.status().code, 70);
      EXPECT_EQ(scope.status().host_error, host::win32::sharing_violation);
    }
    close_channel(1);
    if (first != Mode::output) {
      EXPECT_EQ(read_file("box"), "data\r\n") << "a refused output open cuts nothing";
    }
  }
}

TEST(OpenChannel, DirectoriesAreRefusedWith70) {
  ScopedTempDir dir;
  std::filesystem::create_directory("d");
  EXPECT_EQ(open_code("d", 1, Mode::input), 70);
  EXPECT_EQ(open_code("d", 1, Mode::output), 70);
}

}  // namespace
}  // namespace brevlith
