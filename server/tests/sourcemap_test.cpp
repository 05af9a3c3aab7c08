#include "workspace/sourcemap.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tovix_lsp::sourcemap {
namespace {

using Offset = std::optional<std::size_t>;

// Two runs that touch at source offset 5 but lie apart in the output:
// source "abcdefghij", output has "abcde" at 10 and "fghij" at 20.
struct Seam : testing::Test {
  const std::string source = "abcdefghij";
  const std::string output = "..........abcde.....fghij";
  SourceMap map;
  void SetUp() override {
    ASSERT_TRUE(map.push(source, output, {0, 10, 5}));
    ASSERT_TRUE(map.push(source, output, {5, 20, 5}));
  }
};

TEST_F(Seam, PointAndEndLookupsOnBothColumns) {
  struct Case {
    std::size_t offset;
    Offset point, end;
  };
  const Case source_side[] = {
      {0, 10, std::nullopt},  // offset 0 never maps as an end
      {3, 13, 13},
      {5, 20, 15},  // the seam: point from the later run, end from the earlier
      {9, 24, 24},
      {10, std::nullopt, 25},
      {11, std::nullopt, std::nullopt},
  };
  for (const Case& c : source_side) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(map.to_output(c.offset), c.point);
    EXPECT_EQ(map.to_output_end(c.offset), c.end);
  }
  const Case output_side[] = {
      {9, std::nullopt, std::nullopt},  {10, 0, std::nullopt}, {15, std::nullopt, 5},
      {17, std::nullopt, std::nullopt}, {20, 5, std::nullopt}, {25, std::nullopt, 10},
  };
  for (const Case& c : output_side) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(map.to_source(c.offset), c.point);
    EXPECT_EQ(map.to_source_end(c.offset), c.end);
  }
}

TEST_F(Seam, RangesNeverCrossASeam) {
  EXPECT_EQ(map.to_output_range(3, 7), std::nullopt);
  EXPECT_EQ(map.to_output_range(5, 5), (line_index::ByteRange{20, 20}));
  EXPECT_EQ(map.to_output_range(1, 5), (line_index::ByteRange{11, 15}));
  EXPECT_EQ(map.to_output_range(5, 10), (line_index::ByteRange{20, 25}));
  EXPECT_EQ(map.to_output_range(10, 10), (line_index::ByteRange{25, 25}));  // run end, no seam: end lookup
  EXPECT_EQ(map.to_output_range(4, 2), std::nullopt);                       // reversed
  EXPECT_EQ(map.to_source_range(12, 14), (line_index::ByteRange{2, 4}));
  EXPECT_EQ(map.to_source_range(15, 15), (line_index::ByteRange{5, 5}));
  EXPECT_EQ(map.to_source_range(16, 16), std::nullopt);
  EXPECT_EQ(map.to_source_range(14, 21), std::nullopt);
}

TEST_F(Seam, WithinARangeFromItsFirstMappedByteToItsLast) {
  using line_index::ByteRange;
  const struct {
    std::size_t start, end;
    std::optional<ByteRange> expected;
  } cases[] = {
      {8, 12, ByteRange{0, 2}},                            // starts before the first run
      {12, 22, ByteRange{2, 7}},                           // across the gap between the runs
      {22, 30, ByteRange{7, 10}},                          // past the end of the text
      {10, 25, ByteRange{0, 10}}, {15, 20, std::nullopt},  // the gap alone
      {0, 10, std::nullopt},      {12, 12, std::nullopt},  // no bytes
      {14, 11, std::nullopt},                              // reversed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + "-" + std::to_string(c.end));
    EXPECT_EQ(map.to_source_within(c.start, c.end), c.expected);
  }
}

// One component call, `C({})`, and the same name called again in Luau after
// it: an element said to be at the second call is refused by the runs.
TEST(SourceMap, ElementsAnswerOnlyWhereTheRunsAgree) {
  const std::string source = "a = <C/> C(x)\n";
  const std::string output = "a = C({}) C(x)\n";
  const Element card{{4, 8}, {5, 6}, 4, 5, Element::NONE};
  SourceMap map;
  ASSERT_TRUE(map.push(source, output, {0, 0, 4}));
  ASSERT_TRUE(map.push(source, output, {5, 4, 1}));
  ASSERT_TRUE(map.push(source, output, {8, 9, 6}));
  ASSERT_TRUE(map.add_element(card));
  EXPECT_EQ(map.element_holding(output, 6, 8), &map.elements()[0]);  // "{}"
  EXPECT_EQ(map.element_holding(output, 8, 8), &map.elements()[0]);  // at its ")"
  EXPECT_EQ(map.element_holding(output, 9, 9), nullptr);             // just after the call
  EXPECT_EQ(map.element_holding(output, 0, 3), nullptr);             // before it

  SourceMap wrong;
  ASSERT_TRUE(wrong.push(source, output, {0, 0, 4}));
  ASSERT_TRUE(wrong.push(source, output, {8, 9, 6}));
  ASSERT_TRUE(wrong.add_element({{4, 8}, {5, 6}, 10, 11, Element::NONE}));
  EXPECT_EQ(wrong.element_holding(output, 12, 13), nullptr);

  // Brackets that do not pair up end no call.
  const std::string unpaired = "a = C({]) C(x)\n";
  SourceMap broken;
  ASSERT_TRUE(broken.add_element(card));
  EXPECT_EQ(broken.element_holding(unpaired, 6, 7), nullptr);
}

TEST(SourceMap, AddElementRefusesWhatCannotBeSearched) {
  SourceMap map;
  ASSERT_TRUE(map.add_element({{4, 8}, {5, 6}, 10, 11, Element::NONE}));
  EXPECT_FALSE(map.add_element({{9, 12}, {10, 11}, 9, 10, Element::NONE}));   // starts before the last call
  EXPECT_FALSE(map.add_element({{9, 12}, {10, 11}, 20, 19, Element::NONE}));  // "(" before the head
  EXPECT_FALSE(map.add_element({{9, 12}, {10, 11}, 20, 21, 1}));              // no such element around it
  EXPECT_TRUE(map.add_element({{9, 12}, {10, 11}, 20, 21, 0}));
  EXPECT_EQ(map.elements().size(), 2u);
}

TEST(SourceMap, SingleRun) {
  const std::string source = "0123abc";
  const std::string output = "xxxxxxxxabc";
  SourceMap map;
  ASSERT_TRUE(map.push(source, output, {4, 8, 3}));
  EXPECT_EQ(map.to_output(3), std::nullopt);
  EXPECT_EQ(map.to_output(4), 8u);
  EXPECT_EQ(map.to_output(6), 10u);
  EXPECT_EQ(map.to_output(7), std::nullopt);
  EXPECT_EQ(map.to_output_end(4), std::nullopt);
  EXPECT_EQ(map.to_output_end(7), 11u);
  EXPECT_EQ(map.to_output_range(4, 7), (line_index::ByteRange{8, 11}));
  EXPECT_EQ(map.to_output_range(5, 8), std::nullopt);
  EXPECT_EQ(map.to_output_range(7, 7), (line_index::ByteRange{11, 11}));
  // A reversed range whose end lies before the run would move below its start.
  EXPECT_EQ(map.to_output_range(5, 0), std::nullopt);
  EXPECT_EQ(map.to_source_range(8, 8), (line_index::ByteRange{4, 4}));
}

TEST(SourceMap, EmptyMapMapsNothing) {
  const SourceMap map;
  EXPECT_EQ(map.to_output(0), std::nullopt);
  EXPECT_EQ(map.to_source_end(3), std::nullopt);
  EXPECT_EQ(map.to_output_range(0, 0), std::nullopt);
}

TEST(SourceMap, PushRefusesBadRunsAndKeepsTheMap) {
  // source: a b € c d x          output: c - a b € c d y
  //         0 1 2-4 5 6 7                 0 1 2 3 4-6 7 8 9
  const std::string source =
      "ab\xE2\x82\xAC"
      "cdx";
  const std::string output =
      "c-ab\xE2\x82\xAC"
      "cdy";
  SourceMap map;
  ASSERT_TRUE(map.push(source, output, {0, 2, 2}));
  constexpr std::size_t MAX_OFFSET = std::numeric_limits<std::size_t>::max();
  struct Case {
    const char* what;
    sourcemap::Run run;
  };
  const Case refused[] = {
      {"empty", {2, 4, 0}},
      {"texts differ", {7, 9, 1}},
      {"cuts a character", {2, 4, 2}},
      {"past the source", {6, 8, 3}},
      {"past the output", {5, 8, 3}},
      {"overflow", {MAX_OFFSET, 4, 2}},
      {"overlaps the last run on the source side", {1, 3, 1}},
      {"starts before the last run's end on the output side", {5, 0, 1}},
      {"before the last run on both sides", {0, 2, 1}},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(map.push(source, output, c.run));
    EXPECT_EQ(std::vector<sourcemap::Run>(map.runs().begin(), map.runs().end()),
              (std::vector<sourcemap::Run>{{0, 2, 2}}));
  }
  EXPECT_TRUE(map.push(source, output, {2, 4, 3}));  // touches on both columns
  EXPECT_TRUE(map.push(source, output, {6, 8, 1}));  // after a gap
  EXPECT_EQ(map.runs().size(), 3u);
  EXPECT_EQ(map.to_output_range(0, 5), std::nullopt);  // seam on both columns still splits
}

}  // namespace
}  // namespace tovix_lsp::sourcemap
