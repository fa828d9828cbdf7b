#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "console/error_status.h"
#include "files/directories.h"
#include "tests/test_support.h"

namespace brevlith {
namespace {

using testing::ScopedTempDir;
using testing::write_file;

std::vector<std::string> all(const std::string& pattern, uint32_t mask) {
  std::vector<std::string> names;
  for (std::string n = dir_first(pattern, mask); !n.empty(); n = dir_next()) names.push_back(n);
  return names;
}

// A folder with one entry of every kind the search must tell apart.
void make_zoo() {
  write_file("plain.mbx", "x");
  write_file("Upper.MBX", "x");
  write_file(".hidden.mbx", "x");
  ::mkdir("folder.mbx", 0755);
  ::mkfifo("fifo.mbx", 0644);
  ::symlink("nowhere", "dangling.mbx");
  ::symlink("plain.mbx", "link.mbx");
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, "sock.mbx");
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::close(s);
}

TEST(DirFirst, MasksAgainstEveryKindOfEntry) {
  ScopedTempDir dir;
  make_zoo();
  using V = std::vector<std::string>;
  EXPECT_EQ(all("*.mbx", 0), (V{"link.mbx", "plain.mbx", "Upper.MBX"}));
  EXPECT_EQ(all("*.mbx", ATTR_DIRECTORY), (V{"folder.mbx", "link.mbx", "plain.mbx", "Upper.MBX"}));
  EXPECT_EQ(all("*.mbx", ATTR_DIRECTORY | ATTR_ONLY), (V{"folder.mbx"}));
  EXPECT_EQ(all("*.mbx", ATTR_HIDDEN | ATTR_ONLY), (V{".hidden.mbx"}));
  EXPECT_EQ(all("*.mbx", ATTR_SYSTEM | ATTR_ONLY), (V{"dangling.mbx", "fifo.mbx", "sock.mbx"}));
  EXPECT_EQ(all("*", ATTR_DIRECTORY | ATTR_HIDDEN),
            (V{".hidden.mbx", "folder.mbx", "link.mbx", "plain.mbx", "Upper.MBX"}))
      << "never . or ..";
  EXPECT_EQ(all("folder.mbx", 0), V{});
  EXPECT_EQ(all("folder.mbx", ATTR_DIRECTORY), V{"folder.mbx"});
  EXPECT_EQ(all("fifo.mbx", 0), V{});
  EXPECT_EQ(normalise_mask(ATTR_ONLY), 0u);
  EXPECT_EQ(normalise_mask(0xFFFFFFFF), 0x96u);
}

TEST(DirFirst, MatchingIgnoresCaseAndReturnsTheStoredName) {
  ScopedTempDir dir;
  write_file("MiXed.Txt", "x");
  write_file("noext", "x");
  write_file("caf\xc3\xa9.txt", "x");  // é, matched by É
  EXPECT_EQ(dir_first("mixed.*", 0), "MiXed.Txt");
  EXPECT_EQ(dir_first("CAF\xc3\x89.TXT", 0), "") << "without wildcards the lookup is exact";
  EXPECT_EQ(dir_first("CAF\xc3\x89.*", 0), "caf\xc3\xa9.txt");
  EXPECT_EQ(all("*.*", 0), (std::vector<std::string>{"caf\xc3\xa9.txt", "MiXed.Txt", "noext"}))
      << "*.* matches names without a dot, sorted without regard to case";
  EXPECT_EQ(all("?oext", 0), std::vector<std::string>{"noext"});
  EXPECT_EQ(all("???ext", 0), std::vector<std::string>{});
}

TEST(DirFirst, FolderPatterns) {
  ScopedTempDir dir;
  ::mkdir("mail", 0755);
  write_file("mail/b.mbx", "x");
  write_file("mail/a.mbx", "x");
  write_file("top.mbx", "x");
  EXPECT_EQ(all("mail\\", 0), (std::vector<std::string>{"a.mbx", "b.mbx"}));
  EXPECT_EQ(all("mail\\*.mbx", 0), (std::vector<std::string>{"a.mbx", "b.mbx"}));
  EXPECT_EQ(all(dir.path() + "/mail/a.mbx", 0), std::vector<std::string>{"a.mbx"});
  EXPECT_EQ(all("m*\\a.mbx", 0), std::vector<std::string>{}) << "no wildcards in the folder part";
  EXPECT_EQ(all("nofolder\\*.mbx", 0), std::vector<std::string>{});
}

TEST(DirNext, PendingSearchLifecycle) {
  ScopedTempDir dir;
  write_file("a.mbx", "x");
  write_file("b.mbx", "x");
  write_file("c.txt", "x");
  EXPECT_EQ(dir_first("", 0), "") << "nothing pending";
  EXPECT_EQ(dir_first("*.mbx", 0), "a.mbx");
  EXPECT_EQ(dir_first("", ATTR_DIRECTORY), "b.mbx")
      << "an empty pattern continues the pending search";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dir_next(), "");
  EXPECT_EQ(dir_first("*.mbx", 0), "a.mbx");
  EXPECT_EQ(dir_first("*.txt", 0), "c.txt") << "a new search abandons the old one";
  EXPECT_EQ(dir_next(), "");
  EXPECT_EQ(dir_first("none*", 0), "");
  EXPECT_EQ(dir_next(), "");
  DirListing walk;  // a search of its own: look-ups in between leave it
  EXPECT_EQ(walk.first("*.mbx", 0), "a.mbx");
  EXPECT_EQ(dir_first("*.txt", 0), "c.txt");
  EXPECT_EQ(walk.next(), "b.mbx");
  EXPECT_EQ(walk.next(), "");
}

TEST(MakeDir, CreatesOneFolderOrReportsWhy) {
  ScopedTempDir dir;
  const auto code = [](const std::string& name) {
    ErrorScope scope;
    make_dir(name);
    return scope.status().code;
  };
  EXPECT_EQ(code("new"), 0);
  EXPECT_EQ(dir_first("new", ATTR_DIRECTORY | ATTR_ONLY), "new");
  EXPECT_EQ(code("new"), 75) << "exists";
  write_file("file", "x");
  EXPECT_EQ(code("file"), 75);
  EXPECT_EQ(code("wild*"), 76);
  EXPECT_EQ(code("missing\\child"), 76);
  EXPECT_EQ(testing::list_dir("."), (std::vector<std::string>{"file", "new"}));
}

}  // namespace
}  // namespace brevlith
