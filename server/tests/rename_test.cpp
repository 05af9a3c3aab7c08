#include "features/rename.h"

#include <gtest/gtest.h>

#include <string>

#include "marked_text.h"

namespace tovix_lsp::rename {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;

const std::string URI = "file:///tmp/a.tovix";

std::string range_text(const json& range, const document::Document& doc, const MarkedText& f) {
  auto r = doc.byte_range(range);
  if (!r) return "?";
  return f.name(r->start) + ".." + f.name(r->end);
}

// The answer as one line, offsets named by the fixture's marks: "edits
// $0..$1 $2..$3 to X", "range $0..$1", "forward", "forward $0..$1", "null".
std::string describe(const Answer& answer, const document::Document& doc, const MarkedText& f) {
  if (std::holds_alternative<Null>(answer)) return "null";
  if (const auto* forward = std::get_if<Forward>(&answer))
    return forward->local ? "forward " + range_text(*forward->local, doc, f) : "forward";
  const json& value = std::get<Local>(answer).value;
  if (!value.contains("changes")) return "range " + range_text(value, doc, f);
  std::string out = "edits";
  std::string new_text;
  for (const json& edit : value["changes"][URI]) {
    out += " " + range_text(edit["range"], doc, f);
    new_text = edit["newText"];
  }
  return out + " to " + new_text;
}

struct Case {
  const char* fixture;
  const char* rename;   // the answer to a rename to "Next"
  const char* prepare;  // the answer to prepareRename
};

TEST(Rename, TagNamesAndWhatIsForwarded) {
  const Case cases[] = {
      // Both names of one element, from anywhere on either name; prepareRename
      // answers the name under the cursor.
      {"<$Fr^ame$></$Frame$>", "edits $0..$1 $2..$3 to Next", "range $0..$1"},
      {"<^Frame$></$Frame$>", "edits ^..$0 $1..$2 to Next", "range ^..$0"},
      {"<$Frame^></$Frame$>", "edits $0..^ $1..$2 to Next", "range $0..^"},
      {"<$Frame$></$Fr^ame$>", "edits $0..$1 $2..$3 to Next", "range $2..$3"},
      {"<$Frame$></^Frame$>", "edits $0..$1 ^..$2 to Next", "range ^..$2"},
      {"return <$A$>\n  <B/>\n</  $A^$ >", "edits $0..$1 $2..^ to Next", "range $2..^"},
      // A self-closing element has one name.
      {"local x = <$ui.Bu^tton$ Text=\"é\" />", "edits $0..$1 to Next", "range $0..$1"},
      // Only the element under the cursor, however it nests.
      {"<A><$B^></$B$></A>", "edits $0..^ $1..$2 to Next", "range $0..^"},
      {"<List>{items.map(function(i) return <$It^em$ Name='x'/> end)}</List>", "edits $0..$1 to Next",
       "range $0..$1"},
      {"<A render={<$B^/>}>text</A>", "edits $0..^ to Next", "range $0..^"},
      // Fragments are never renamed.
      {"return <^></>", "null", "null"},
      {"return <><A/></^>", "null", "null"},
      // Luau code, outside markup or in a hole: luau-lsp's, with the name there.
      {"local $fo^o$ = 1", "forward", "forward $0..$1"},
      {"local ^foo$ = 1", "forward", "forward ^..$0"},
      {"local x = <A>{$cou^nt$ + 1}</A>", "forward", "forward $0..$1"},
      {"local x = <A value={$f^} />", "forward", "forward $0..^"},
      {"lo^cal foo = 1", "forward", "forward"},
      {"local s = 'fo^o'", "forward", "forward"},
      {"-- fo^o\nlocal x", "forward", "forward"},
      {"local t = x.$fi^eld$", "forward", "forward $0..$1"},
      // Markup that is not a tag name: nobody renames there.
      {"<Frame Si^ze={1} />", "null", "null"},
      {"<Frame>te^xt</Frame>", "null", "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const MarkedText f(c.fixture);
    ASSERT_TRUE(f.cursor);
    document::Document doc(URI, f.text, 1);
    EXPECT_EQ(describe(rename(doc, *f.cursor, "Next"), doc, f), c.rename);
    EXPECT_EQ(describe(prepare(doc, *f.cursor), doc, f), c.prepare);
  }
}

TEST(Rename, NewNames) {
  const MarkedText f("<$Fr^ame$></$Frame$>");
  document::Document doc(URI, f.text, 1);
  struct NameCase {
    const char* name;
    bool accepted;
  } cases[] = {
      {"ui.Button", true}, {"_9", true},    {"end", true},    {"Frame", true},     {"a.b.c", true},
      {"", false},         {"9a", false},   {"a.9", false},   {".a", false},       {"a.", false},
      {"a..b", false},     {"a-b", false},  {"é", false},     {"Fr ame", false},   {"a.\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(valid_name(c.name), c.accepted);
    EXPECT_EQ(describe(rename(doc, *f.cursor, c.name), doc, f),
              c.accepted ? "edits $0..$1 $2..$3 to " + std::string(c.name) : "null");
  }
}

TEST(Rename, EditsCountUtf16AfterWideCharacters) {
  document::Document doc(URI, "local s = '😀é'; return <Frame></Frame>", 1);
  const std::size_t cursor = doc.text().find("Frame");
  const Answer answer = rename(doc, cursor, "Box");
  ASSERT_TRUE(std::holds_alternative<Local>(answer));
  EXPECT_EQ(std::get<Local>(answer).value.dump(),
            R"({"changes":{"file:///tmp/a.tovix":[{"newText":"Box","range":{"end":{"character":30,"line":0},)"
            R"("start":{"character":25,"line":0}}},{"newText":"Box","range":{"end":{"character":38,"line":0},)"
            R"("start":{"character":33,"line":0}}}]}})");
}

}  // namespace
}  // namespace tovix_lsp::rename
