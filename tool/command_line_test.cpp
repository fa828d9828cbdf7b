#include "tool/command_line.h"

#include <gtest/gtest.h>

namespace brevlith {
namespace {

// The tail read whole, as on a host that hands over no split arguments
// (Windows); the end-to-end tests on Linux always pass split arguments.
TEST(ParseCommandLine, EachWordIsClassifiedOnce) {
  using K = WordKind;
  const struct {
    std::u16string tail;
    std::vector<K> kinds;
    Request request;
    std::vector<std::string> names = {};  // a list only with two or more
  } rows[] = {
      {u"a.mbx /x /s=b /s=c d",
       {K::name, K::not_an_option, K::search_option, K::second_search, K::text},
       Request::run},
      {u"\"my /x box\" /s=t", {K::name, K::search_option}, Request::run},
      {u" --help  ", {K::name}, Request::help},
      {u"a.mbx  \"My Mail.mbx\" b\"c\".mbx /s=t",
       {K::name, K::name, K::name, K::search_option},
       Request::run,
       {"a.mbx", "My Mail.mbx", "bc.mbx"}},
  };
  for (const auto& row : rows) {
    const CommandLine line = parse_command_line(row.tail, {});
    std::vector<K> kinds;
    for (const Word& w : line.words) kinds.push_back(w.kind);
    EXPECT_EQ(kinds, row.kinds) << row.tail.size();
    EXPECT_EQ(line.request, row.request) << row.tail.size();
    EXPECT_EQ(line.names, row.names) << row.tail.size();
  }
}

}  // namespace
}  // namespace brevlith
