#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "resolve.h"

namespace {

using tovix::resolve::blank_tovix_regions;
using tovix::resolve::Region;

TEST(Blanking, ReplacesMarkupKeepingOffsetsAndLineFeeds) {
  struct Case {
    std::string_view source;
    std::vector<Region> regions;
    std::string_view expected;
  };
  const Case cases[] = {
      {"local x = <TextLabel/>", {{10, 22}}, "local x = nil         "},
      {"<TextLabel Text={x}/>", {{0, 21}}, "nil                  "},
      // A line feed at offsets 0, 1 or 2 takes its letter's place.
      {"return <>\n<A/></>", {{7, 17}}, "return ni\n       "},
      {"return <\nA/>", {{7, 12}}, "return n\nl  "},
      {"x = \n<A\n/>", {{5, 10}}, "x = \nni\n  "},
      {"<A/>\n", {{0, 4}}, "nil \n"},
      // A carriage return is an ordinary byte.
      {"f(<A\r\n/>)", {{2, 8}}, "f(nil\n  )"},
      // Multi-byte characters become as many letters or blanks as bytes.
      {"<T>é</T>", {{0, 9}}, "nil      "},
      {"<é/>", {{0, 5}}, "nil  "},
      {"s = \"é\" .. <T>ü\n€</T>", {{12, 25}}, "s = \"é\" .. nil  \n       "},
      // Several regions; the text between them is copied unchanged.
      {"a(<A/>, <B/>)", {{2, 6}, {8, 12}}, "a(nil , nil )"},
      // A region starting inside the previous one is skipped whole.
      {"a(<A><B/></A>)", {{2, 13}, {5, 9}}, "a(nil        )"},
      {"<A/>", {}, "<A/>"},
      {"", {}, ""},
      // Out-of-range regions never change the length.
      {"x<A/>", {{1, 99}}, "xnil "},
      {"x<A/>", {{9, 12}}, "x<A/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::string blanked = blank_tovix_regions(c.source, c.regions);
    EXPECT_EQ(blanked, c.expected);
    ASSERT_EQ(blanked.size(), c.source.size());
    for (std::size_t i = 0; i < c.source.size(); ++i) {
      EXPECT_EQ(blanked[i] == '\n', c.source[i] == '\n') << "at " << i;
    }
  }
}

}  // namespace
