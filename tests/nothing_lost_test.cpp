// Property: for any mailbox, the numbered files concatenated in order are the
// input up to its first 0x1A with every line end made CR LF.
#include <gtest/gtest.h>

#include <random>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

// The mailbox as the splitter must reproduce it: lines end at CR or CR LF
// (at LF when the first one is LF), 0x1A ends the data, each gets CR LF.
std::string normalised(const std::string& input) {
  const std::string data = input.substr(0, input.find('\x1a'));
  const bool lf = data.find_first_of("\r\n") == data.find('\n');  // both none: either way
  std::string out;
  for (size_t i = 0; i < data.size();) {
    const size_t end = data.find(lf ? '\n' : '\r', i);
    if (end == std::string::npos) {
      out += data.substr(i) + "\r\n";
      break;
    }
    out += data.substr(i, end - i - (lf && end > i && data[end - 1] == '\r')) + "\r\n";
    i = end + 1;
    if (!lf && i < data.size() && data[i] == '\n') ++i;
  }
  return out.empty() ? "\r\n" : out;
}

std::string random_mailbox(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "From ???@??? Mon Jan 1\r\n",
      "From ???@???",
      "\r\nFrom ???@??? x\r\n",
      "from ???@???",
      " From ???@???",
      "text",
      "\r",
      "\n",
      "\r\n",
      std::string(1, '\0'),
      "\xe9\x80\xff",
      "x",
      std::string(130, 'L'),
  };
  std::string box;
  const int count = std::uniform_int_distribution<int>(0, 60)(rng);
  for (int i = 0; i < count; ++i)
    box += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(rng)];
  if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
    box.insert(box.begin() + static_cast<std::ptrdiff_t>(box.size() / 2), '\x1a');
  return box;
}

TEST(NothingLost, RandomMailboxesSplitIntoTheirLines) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 150; ++round) {
    ScopedTempDir dir;
    const std::string box = random_mailbox(rng);
    write_file("r.mbx", box);
    const RunResult r = run_brevlith({"r.mbx"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> files = list_dir("brevlithoutput");
    std::string joined;
    for (size_t i = 0; i < files.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "r-%04zu.txt", i + 1);
      ASSERT_EQ(files[i], name);
      const std::string message = read_file(std::string("brevlithoutput/") + name);
      if (i > 0) {
        EXPECT_EQ(message.rfind("From ???@???", 0), 0u) << "message " << i + 1;
      }
      joined += message;
    }
    ASSERT_EQ(joined, normalised(box))
        << "round " << round << ": " << ::testing::PrintToString(box);
    EXPECT_NE(r.out.find("\r\n" + std::string(files.size() - 1, '.') +
                         std::to_string(files.size()) + "\r\n"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace brevlith::testing
