#include <gtest/gtest.h>

#include <string_view>

#include "tovix/whitespace.h"

namespace {

using tovix::whitespace::trim;

TEST(Whitespace, TrimsUnicodeWhitespaceOnly) {
  struct Case {
    std::string_view text;
    std::string_view trimmed;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  a b  ", "a b"},
      {"\xC2\xA0x\xC2\x85", "x"},
      {"\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80x"
       "\xE1\x9A\x80",
       "x"},
      // not whitespace: zero-width space, a lone continuation byte, é
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},
      {"\x85x\xA0", "\x85x\xA0"},
      {" \xC3\xA9 ", "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(trim(c.text), c.trimmed);
  }
}

}  // namespace
