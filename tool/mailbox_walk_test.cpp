#include "tool/mailbox_walk.h"

#include <gtest/gtest.h>

#include "tool/main_procedure.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

TEST(BaseName, CharactersBeforeTheLastDot) {
  const std::pair<std::string, std::string> rows[] = {
      {"in.mbx", "in"}, {"a.b.mbx", "a.b"}, {".mbx", ""}, {"noext", "noext"}, {"x.", "x"}, {"", ""},
  };
  for (const auto& [name, base] : rows) EXPECT_EQ(base_name_of(name), base) << name;
}

TEST(FolderOf, UpToTheLastSeparator) {
  EXPECT_EQ(folder_of("in.mbx"), "");
  EXPECT_EQ(folder_of("mail\\*.mbx"), "mail\\");
  EXPECT_EQ(folder_of("\\home\\you\\In.mbx"), "\\home\\you\\");
  EXPECT_EQ(folder_of("a/b.mbx"), "a/");
}

TEST(FileStem, NineCharactersBecomeHyphens) {
  EXPECT_EQ(file_stem("a/b:c"), "a-b-c");
  EXPECT_EQ(file_stem("\\/:*?\"<>|"), "---------");
  EXPECT_EQ(file_stem("plain term"), "plain term");
}

}  // namespace
}  // namespace brevlith
