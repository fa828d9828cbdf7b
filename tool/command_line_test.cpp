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
  } rows[] = {
      {u"a.mbx /x /s=b /s=c d",
       {K::name, K::not_an_option, K::search_option, K::second_search, K::text},
       Request::run},
      {u"\"my /x box\" /s=t", {K::name, K::search_option}, Request::run},
      {u"a.mbx /s=/s=t u/s=v",
       {K::name, K::search_option, K::second_search, K::text, K::second_search},
       Request::run},
      {u" --help  ", {K::name}, Request::help},
      // /i is an option before /s=; after it, a word of the term.
      {u"a.mbx /i /x /s=t /i",
       {K::name, K::index_option, K::not_an_option, K::search_option, K::not_an_option},
       Request::run},
      // /r before the term is the option; after /s= it is part of the term, warned.
      {u"'*.mbx' /r /R /s=t /r",
       {K::name, K::recurse_option, K::not_an_option, K::search_option, K::not_an_option},
       Request::run},
  };
  for (const auto& row : rows) {
    const CommandLine line = parse_command_line(row.tail, {});
    std::vector<K> kinds;
    for (const Word& w : line.words) kinds.push_back(w.kind);
    EXPECT_EQ(kinds, row.kinds) << row.tail.size();
    EXPECT_EQ(line.request, row.request) << row.tail.size();
  }
}

}  // namespace
}  // namespace brevlith
