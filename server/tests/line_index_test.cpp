#include "workspace/line_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace tovix_lsp::line_index {
namespace {

// Line 0 holds 1-, 2-, 3- and 4-byte characters and ends in CRLF; line 1 is
// empty; line 2 has a CR that is not part of a break; line 3 has no break.
//   a é   € 😀    b \r \n | \n | c \r d \n | 😀    z
//   0 1-2 3-5 6-9 10 11 12 | 13 | 14 15 16 17 | 18-21 22   (len 23)
constexpr std::string_view FIXTURE =
    "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
    "b\r\n"
    "\n"
    "c\rd\n"
    "\xF0\x9F\x98\x80z";

TEST(LineIndex, StartsAndLineRanges) {
  const LineIndex index(FIXTURE);
  EXPECT_EQ(index.starts(), (std::vector<std::size_t>{0, 13, 14, 18}));
  EXPECT_EQ(index.len(), 23u);
  EXPECT_EQ(index.line_range(FIXTURE, 0), (ByteRange{0, 11}));  // CR left out
  EXPECT_EQ(index.line_range(FIXTURE, 1), (ByteRange{13, 13}));
  EXPECT_EQ(index.line_range(FIXTURE, 2), (ByteRange{14, 17}));  // lone CR kept
  EXPECT_EQ(index.line_range(FIXTURE, 3), (ByteRange{18, 23}));
  EXPECT_EQ(index.line_range(FIXTURE, 4), (ByteRange{23, 23}));
  EXPECT_EQ(index.line_of(12), 0u);
  EXPECT_EQ(index.line_of(13), 1u);
  EXPECT_EQ(index.line_of(999), 3u);
}

TEST(LineIndex, PositionOfEveryInterestingOffset) {
  const LineIndex index(FIXTURE);
  struct Case {
    std::size_t offset;
    Position expected;
  };
  const Case cases[] = {
      {0, {0, 0}},  {1, {0, 1}},  {2, {0, 1}},                // inside é floors to its start
      {3, {0, 2}},  {5, {0, 2}},  {6, {0, 3}},  {9, {0, 3}},  // inside 😀
      {10, {0, 5}}, {11, {0, 6}}, {12, {0, 7}},               // the LF after CR
      {13, {1, 0}}, {14, {2, 0}}, {15, {2, 1}}, {16, {2, 2}}, {17, {2, 3}},
      {18, {3, 0}}, {20, {3, 0}}, {22, {3, 2}}, {23, {3, 3}}, {1000, {3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(index.position(FIXTURE, c.offset), c.expected);
  }
}

TEST(LineIndex, OffsetOfEveryInterestingPosition) {
  const LineIndex index(FIXTURE);
  struct Case {
    std::uint32_t line, character;
    std::optional<std::size_t> expected;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0, 1, 1},
      {0, 2, 3},
      {0, 3, 6},
      {0, 4, 10},  // between the halves of a surrogate pair: after the character
      {0, 5, 10},
      {0, 6, 11},
      {0, 7, 11},
      {0, 99, 11},  // clamped before CRLF
      {1, 0, 13},
      {1, 5, 13},
      {2, 2, 16},
      {2, 9, 17},
      {3, 1, 22},
      {3, 2, 22},
      {3, 3, 23},
      {3, 4000000000u, 23},
      {4, 0, 23},  // the start of the line after the last: the end of the text
      {4, 1, std::nullopt},
      {5, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.line << ":" << c.character);
    EXPECT_EQ(index.offset(FIXTURE, c.line, c.character), c.expected);
  }
}

TEST(LineIndex, SmallTexts) {
  {
    SCOPED_TRACE("empty text: one empty line");
    const LineIndex index("");
    EXPECT_EQ(index.line_count(), 1u);
    EXPECT_EQ(index.position("", 0), (Position{0, 0}));
    EXPECT_EQ(index.offset("", 0, 7), 0u);
    EXPECT_EQ(index.offset("", 1, 0), 0u);
    EXPECT_EQ(index.offset("", 1, 1), std::nullopt);
    EXPECT_EQ(LineIndex().line_count(), 1u);
  }
  {
    SCOPED_TRACE("a CR LF b");
    constexpr std::string_view text = "a\r\nb";
    const LineIndex index(text);
    EXPECT_EQ(index.starts(), (std::vector<std::size_t>{0, 3}));
    EXPECT_EQ(index.line_range(text, 0), (ByteRange{0, 1}));
    EXPECT_EQ(index.position(text, 2), (Position{0, 2}));
    EXPECT_EQ(index.offset(text, 0, 9), 1u);
  }
  {
    SCOPED_TRACE("a CR b is one line");
    constexpr std::string_view text = "a\rb";
    const LineIndex index(text);
    EXPECT_EQ(index.line_count(), 1u);
    EXPECT_EQ(index.offset(text, 0, 2), 2u);
  }
  {
    SCOPED_TRACE("text ending in LF has an empty last line");
    constexpr std::string_view text = "ab\n";
    const LineIndex index(text);
    EXPECT_EQ(index.line_count(), 2u);
    EXPECT_EQ(index.offset(text, 1, 5), 3u);
  }
  {
    SCOPED_TRACE("a final CR without LF is not content");
    constexpr std::string_view text = "x\nab\r";
    const LineIndex index(text);
    EXPECT_EQ(index.line_range(text, 1), (ByteRange{2, 4}));
    EXPECT_EQ(index.offset(text, 1, 9), 4u);
    EXPECT_EQ(index.position(text, 5), (Position{1, 3}));
  }
  {
    SCOPED_TRACE("a character above U+FFFF at a line start");
    constexpr std::string_view text = "x\n\xF0\x9F\x98\x80y";
    const LineIndex index(text);
    EXPECT_EQ(index.offset(text, 1, 1), 6u);
    EXPECT_EQ(index.offset(text, 1, 2), 6u);
    EXPECT_EQ(index.position(text, 6), (Position{1, 2}));
  }
}

TEST(LineIndex, IllFormedBytesCountAsOneCharacterEach) {
  // A stray continuation byte, a truncated 3-byte sequence before ASCII and an
  // overlong form: each ill-formed run stands for one U+FFFD.
  constexpr std::string_view text =
      "\x80"
      "a\xE2\x82"
      "b\xC0\xAF";
  const LineIndex index(text);
  EXPECT_EQ(index.position(text, 1), (Position{0, 1}));
  EXPECT_EQ(index.position(text, 3), (Position{0, 2}));  // inside the truncated run
  EXPECT_EQ(index.position(text, 4), (Position{0, 3}));
  EXPECT_EQ(index.offset(text, 0, 3), 4u);
  EXPECT_EQ(index.offset(text, 0, 5), 6u);
  EXPECT_EQ(index.offset(text, 0, 9), 7u);
}

TEST(LineIndex, EditedMatchesARebuild) {
  // Random splices over texts rich in line breaks: the spliced index must be
  // the one a fresh pass over the new text builds.
  std::mt19937 rng(12345);
  const std::string_view pieces[] = {"a", "\n", "\r\n", "\r", "\xE2\x82\xAC", "\n\n", "xyz"};
  auto random_text = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += pieces[rng() % std::size(pieces)];
    return s;
  };
  std::string text = random_text(40);
  LineIndex index(text);
  for (int round = 0; round < 500; ++round) {
    const std::size_t a = rng() % (text.size() + 1);
    const std::size_t b = rng() % (text.size() + 1);
    const std::size_t start = std::min(a, b);
    const std::size_t end = round % 7 == 0 ? text.size() : std::max(a, b);
    const std::string inserted = random_text(rng() % 5);
    index = index.edited(start, end, inserted);
    text.replace(start, end - start, inserted);
    ASSERT_EQ(index, LineIndex(text)) << "round " << round;
  }
}

}  // namespace
}  // namespace tovix_lsp::line_index

namespace tovix_lsp::line_index {
namespace {

// Many offsets converted through one `Positions`, in any order, give what
// each gives alone: long lines of 1- to 4-byte characters, CRs, ill-formed
// bytes, and lines shorter than a mark's stride.
TEST(Positions, AnyOrderAgreesWithOneAtATime) {
  std::mt19937 rng(7);
  const std::string_view pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\r", "\xFF", "\xE2\x82"};
  std::string text;
  for (int line = 0; line < 6; ++line) {
    const int length = line % 2 == 0 ? 3000 : 40;
    for (int i = 0; i < length; ++i) text += pieces[rng() % std::size(pieces)];
    text += line == 3 ? "\r\n" : "\n";
  }
  const LineIndex index(text);
  std::vector<std::size_t> offsets;
  for (std::size_t o = 0; o <= text.size() + 1; ++o) offsets.push_back(o);
  for (const bool shuffled : {false, true}) {
    SCOPED_TRACE(shuffled ? "shuffled" : "descending");
    if (shuffled)
      std::shuffle(offsets.begin(), offsets.end(), rng);
    else
      std::reverse(offsets.begin(), offsets.end());
    Positions positions(index, text);
    for (std::size_t o : offsets) ASSERT_EQ(positions.at(o), index.position(text, o)) << o;
  }
}

}  // namespace
}  // namespace tovix_lsp::line_index
