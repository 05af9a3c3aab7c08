#include "features/closing_tag.h"

#include <gtest/gtest.h>

#include "marked_text.h"

namespace tovix_lsp::closing_tag {
namespace {

using testing_support::MarkedText;

TEST(ClosingTag, AnswersTheInnermostOpenElement) {
  struct ClosingCase {
    const char* fixture;
    std::optional<std::string> expected;
  };
  const ClosingCase cases[] = {
      {"<Frame>^", "Frame"},
      {"<Frame>^\n  </Frame>", std::nullopt},
      {"<Frame>^ \t</Frame>", std::nullopt},
      {"<Frame>^</Frame >", "Frame"},
      {"<Frame/>^", std::nullopt},
      {"<>^", ""},
      {"<A><>^", ""},
      {"<A><B>^</A>", "B"},
      {"<A><B></B>^", std::nullopt},
      {"local a = <A>\n  <B x={1}>^\n</A>", "B"},
      {"<ui.Card>^", "ui.Card"},
      {"<Frame Text='a>^", std::nullopt},
      {"local a = b >^", std::nullopt},
      {"if a < b >^", std::nullopt},
      {"<A>{x >^}</A>", std::nullopt},
      {">^", std::nullopt},
  };
  for (const ClosingCase& c : cases) {
    SCOPED_TRACE(c.fixture);
    const MarkedText fixture(c.fixture);
    EXPECT_EQ(closing_tag(fixture.text, *fixture.cursor), c.expected);
  }
}

TEST(ClosingTag, OffsetsOutsideTheTextAnswerNone) {
  EXPECT_EQ(closing_tag("<A>", 0), std::nullopt);
  EXPECT_EQ(closing_tag("<A>", 4), std::nullopt);
  EXPECT_EQ(closing_tag("<A>\xC3\xA9", 4), std::nullopt);  // inside "é"
  EXPECT_EQ(closing_tag("", 0), std::nullopt);
}

}  // namespace
}  // namespace tovix_lsp::closing_tag
