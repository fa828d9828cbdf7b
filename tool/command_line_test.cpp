#include "tool/command_line.h"

#include <gtest/gtest.h>

namespace brevlith {
namespace {

TEST(ParseCommandLine, EachWordIsClassifiedOnce) {
  using K = WordKind;
  const struct {
    std::u16string tail;             // read when the host hands over no arguments
    std::vector<std::string> split;  // the host's arguments
    std::vector<K> kinds;
    std::vector<std::string> names;
    Request request;
  } rows[] = {
      {u"a.mbx /x /s=b /s=c d",
       {},
       {K::name, K::not_an_option, K::search_option, K::second_search, K::text},
       {},
       Request::run},
      {u"\"my /x box\" /s=t", {}, {K::name, K::search_option}, {}, Request::run},
      {u"",
       {"dir/a.mbx", "b", "/s=x /y", "/S=z"},
       {K::name, K::name, K::search_option, K::not_an_option},
       {"dir\\a.mbx", "b"},
       Request::run},
      {u" --help  ", {}, {K::name}, {}, Request::help},
      {u"--version a.mbx", {}, {K::name, K::name}, {}, Request::run},
  };
  for (const auto& row : rows) {
    const CommandLine line = parse_command_line(row.tail, row.split);
    std::vector<K> kinds;
    for (const Word& w : line.words) kinds.push_back(w.kind);
    const std::string label =
        ::testing::PrintToString(row.split) + " " + std::to_string(row.tail.size());
    EXPECT_EQ(kinds, row.kinds) << label;
    EXPECT_EQ(line.names, row.names) << label;
    EXPECT_EQ(line.request, row.request) << label;
  }
}

}  // namespace
}  // namespace brevlith
