#include "workspace/document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovix_lsp::document {
namespace {

using nlohmann::json;

json pos(json line, json character) { return {{"line", line}, {"character", character}}; }
json range(json l1, json c1, json l2, json c2) { return {{"start", pos(l1, c1)}, {"end", pos(l2, c2)}}; }
json edit(json r, std::string text) { return {{"range", r}, {"text", text}}; }
json whole(std::string text) { return {{"text", text}}; }

TEST(Document, ByteRangeReadsOnlyWellFormedRanges) {
  const Document doc("file:///a",
                     "ab\n\xE2\x82\xAC"
                     "cd\n",
                     1);
  struct Case {
    const char* what;
    json range;
    std::optional<line_index::ByteRange> expected;
  };
  const Case cases[] = {
      {"plain", range(0, 1, 1, 1), line_index::ByteRange{1, 6}},
      {"columns clamp", range(0, 9, 1, 99), line_index::ByteRange{2, 8}},
      {"last empty line", range(2, 0, 2, 3), line_index::ByteRange{9, 9}},
      {"2^32 is out of range, not wrapped", range(0, 4294967297ull, 1, 1), std::nullopt},
      {"2^32 line", range(4294967296ull, 0, 4294967296ull, 0), std::nullopt},
      {"largest column clamps", range(0, 4294967295ull, 1, 1), line_index::ByteRange{2, 6}},
      {"the line after the last, column 0, is the end", range(1, 0, 3, 0), line_index::ByteRange{3, 9}},
      {"the line after the last, column 1", range(0, 0, 3, 1), std::nullopt},
      {"two lines past the end", range(0, 0, 4, 0), std::nullopt},
      {"end before start", range(1, 1, 0, 1), std::nullopt},
      {"negative", range(0, -1, 0, 1), std::nullopt},
      {"fractional", range(0, 0, 0, 1.5), std::nullopt},
      {"integral float", range(0, 0, 0, 1.0), std::nullopt},
      {"string number", range(0, 0, "0", 1), std::nullopt},
      {"missing end", json{{"start", pos(0, 0)}}, std::nullopt},
      {"null", json(nullptr), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(doc.byte_range(c.range), c.expected);
  }
}

TEST(Document, RangeAtConvertsBothEndsIndependently) {
  const Document doc("file:///a", "x\r\n\xF0\x9F\x98\x80y", 1);
  EXPECT_EQ(doc.range_at(7, 1).dump(), R"({"end":{"character":1,"line":0},"start":{"character":2,"line":1}})");
  EXPECT_EQ(doc.position_at(99), pos(1, 3));
}

TEST(Document, EditsApplyInOrder) {
  Document doc("file:///a", "one\r\ntwo\nthree", 1);
  struct Step {
    const char* what;
    json change;
    std::string expected;
  };
  const Step steps[] = {
      {"span lines, CRLF inside", edit(range(0, 1, 1, 2), "X"), "oXo\nthree"},
      {"insert at end of file", edit(range(1, 5, 1, 5), "\n\xE2\x82\xAC"), "oXo\nthree\n\xE2\x82\xAC"},
      {"replace the multi-byte character", edit(range(2, 0, 2, 1), "\xF0\x9F\x98\x80"), "oXo\nthree\n\xF0\x9F\x98\x80"},
      {"column inside the pair keeps the character whole", edit(range(2, 1, 2, 2), "!"),
       "oXo\nthree\n\xF0\x9F\x98\x80!"},
      {"delete everything", edit(range(0, 0, 2, 3), ""), ""},
      {"insert into the empty text", edit(range(0, 5, 0, 9), "new"), "new"},
      {"no range replaces the whole text", whole("a\nb"), "a\nb"},
  };
  std::int64_t version = 1;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    ASSERT_TRUE(doc.change(++version, std::vector<json>{s.change}));
    EXPECT_EQ(doc.text(), s.expected);
    EXPECT_EQ(doc.version(), version);
    EXPECT_EQ(doc.index().starts(), line_index::LineIndex(s.expected).starts());
  }
}

TEST(Document, RefusedChangesLeaveTextAndLaterChangesStillApply) {
  Document doc("file:///a", "abc", 1);
  const std::vector<json> changes = {
      edit(range(0, 0, 0, 1), "x"),
      edit(range(0, 2, 0, 1), "never"),  // end before start
      edit(range(0, 3, 0, 3), "!"),
  };
  EXPECT_FALSE(doc.change(7, changes));
  EXPECT_EQ(doc.text(), "xbc!");
  EXPECT_EQ(doc.version(), 7);

  struct Case {
    const char* what;
    json change;
  };
  const Case refused[] = {
      {"null range", json{{"range", nullptr}, {"text", "x"}}},
      {"text not a string", json{{"range", range(0, 0, 0, 0)}, {"text", 5}}},
      {"no text", json{{"range", range(0, 0, 0, 0)}}},
      {"line past the end", edit(range(2, 0, 2, 0), "x")},
      {"ill-formed UTF-8", edit(range(0, 0, 0, 0), "\xE2\x82")},
      {"ill-formed whole text", whole("\xFF")},
      {"not an object", json::array({1})},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(doc.change(8, std::vector<json>{c.change}));
    EXPECT_EQ(doc.text(), "xbc!");
  }
}

TEST(Document, OpenRepairsIllFormedText) {
  const Document doc("file:///a",
                     "a\xFF"
                     "b",
                     1);
  EXPECT_EQ(doc.text(),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(Document, NoChangesStillRecordTheVersion) {
  Document doc("file:///a", "old", 1);
  EXPECT_TRUE(doc.change(9, {}));
  EXPECT_EQ(doc.version(), 9);
}

}  // namespace
}  // namespace tovix_lsp::document
