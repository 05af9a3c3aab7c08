#include "features/rename.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "marked_text.h"
#include "markup_fixtures.h"

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
// $0..$1 $2..$3 to X", "range $0..$1", "forward", "forward $0..$1", "child
// at $0", "child at $0 $0..$1", "null".
std::string describe(const Answer& answer, const document::Document& doc, const MarkedText& f) {
  if (std::holds_alternative<Null>(answer)) return "null";
  if (const auto* component = std::get_if<Component>(&answer))
    return "child at " + f.name(component->at) + (component->local ? " " + range_text(*component->local, doc, f) : "");
  if (const auto* forward = std::get_if<AskLuau>(&answer))
    return forward->local ? "forward " + range_text(*forward->local, doc, f) : "forward";
  const json& value = std::get<Local>(answer).value;
  if (!value.contains("changes")) return "range " + range_text(value, doc, f);
  std::string out = "edits";
  std::string new_text;
  for (const json& edit : value.at("changes").at(URI)) {
    out += " " + range_text(edit.at("range"), doc, f);
    new_text = edit.at("newText");
  }
  return out + " to " + new_text;
}

struct Case {
  const char* fixture;
  const char* rename;   // the answer to a rename to "Next"
  const char* prepare;  // the answer to prepareRename
  const char* toml = "";
};

// Both answers at the fixture's cursor, with the project's settings.
void check(const Case& c) {
  SCOPED_TRACE(c.fixture);
  const MarkedText f(c.fixture);
  ASSERT_TRUE(f.cursor);
  document::Document doc(URI, f.text, 1);
  const tovix::config::Config config = testing_support::project_with(c.toml).config;
  EXPECT_EQ(describe(rename(doc, config, *f.cursor, "Next"), doc, f), c.rename);
  EXPECT_EQ(describe(prepare(doc, config, *f.cursor), doc, f), c.prepare);
}

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
      {"local x = <$Bu^tton$ Text=\"é\" />", "edits $0..$1 to Next", "range $0..$1"},
      // Only the element under the cursor, however it nests.
      {"<A><$B^></$B$></A>", "edits $0..^ $1..$2 to Next", "range $0..^"},
      {"<List>{items.map(function(i) return <$It^em$ Name='x'/> end)}</List>", "edits $0..$1 to Next", "range $0..$1"},
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
  for (const Case& c : cases) check(c);
}

// A component's name is a Luau binding: the child renames it, asked at the
// start of the segment under the cursor in the opening name (the generated
// call copies that one); prepareRename's stand-in is that segment in the
// name under the cursor. Classes and configured names stay tag renames.
TEST(Rename, ComponentsAreTheChilds) {
  const Case cases[] = {
      {"local function Card() end\nx = <$Ca^rd$ Title='x'></$Card$>", "child at $0", "child at $0 $0..$1"},
      {"local function Card() end\nx = <$Card$></$Ca^rd$>", "child at $0", "child at $0 $2..$3"},
      {"local function Card() end\nx = <$Card$></^Card$>", "child at $0", "child at $0 ^..$2"},
      {"local function Card() end\nx = <$Card^$/>", "child at $0", "child at $0 $0..^"},
      // A dotted name is always a component's; its segments are bindings or
      // fields of their own.
      {"local UI = {}\nx = <$UI.$Card$></$UI.$Ca^rd$>", "child at $1", "child at $1 $4..$5"},
      {"x = <$ui^.Card$/>", "child at $0", "child at $0 $0..^"},
      {"x = <$ui.^Card$/>", "child at ^", "child at ^ ^..$1"},
      // A local named like a creatable class does not make it a component.
      {"local Frame = 1\nx = <$Fr^ame$/>", "edits $0..$1 to Next", "range $0..$1"},
      // Nor does one named like a configured name, or like the class it
      // stands for.
      {"local Label = 1\nx = <$La^bel$/>", "edits $0..$1 to Next", "range $0..$1",
       "[elements]\nTextLabel = \"Label\"\n"},
      {"local TextLabel = 1\nx = <$Text^Label$/>", "edits $0..$1 to Next", "range $0..$1",
       "[elements]\nTextLabel = \"Label\"\n"},
      // Bound nowhere: nothing but the tags to rename.
      {"x = <$Ca^rd$></$Card$>", "edits $0..$1 $2..$3 to Next", "range $0..$1"},
  };
  for (const Case& c : cases) check(c);
}

// What the child edits on an opening name (it sees only the generated
// call) is joined by the same edit of the closing name.
TEST(Rename, ClosingNamesJoinTheChildsEdits) {
  struct JoinCase {
    const char* fixture;
    std::vector<std::pair<std::size_t, std::size_t>> edits;  // marks
    const char* expected;
  };
  const JoinCase cases[] = {
      {"local function $Card$() end\nx = <$Card$ T='x'>\n</$Card$>\ny = <$Card$ T='y'/>",
       {{0, 1}, {2, 3}, {6, 7}},
       "$0..$1 $2..$3 $4..$5 $6..$7"},
      // Whole segments of a dotted name.
      {"x = <$UI$.Card></$UI$.Card>", {{0, 1}}, "$0..$1 $2..$3"},
      {"x = <UI.$Card$></UI.$Card$>", {{0, 1}}, "$0..$1 $2..$3"},
      {"x = <$UI.Card$></$UI.Card$>", {{0, 1}}, "$0..$1 $2..$3"},
      // Part of a segment, or beyond the name: not the name's rename.
      {"x = <C$ar$d></Card>", {{0, 1}}, "$0..$1"},
      {"x = <$Card></Card>$", {{0, 1}}, "$0..$1"},
      // Nested elements of one name each get their own closing name.
      {"<$A$><$A$></$A$></$A$>", {{2, 3}, {0, 1}}, "$2..$3 $4..$5 $0..$1 $6..$7"},
      // A closing name the child already edits is not edited twice; Luau
      // code and fragments join nothing.
      {"<$A$></$A$>", {{0, 1}, {2, 3}}, "$0..$1 $2..$3"},
      {"local $a$ = <></>", {{0, 1}}, "$0..$1"},
  };
  for (const JoinCase& c : cases) {
    SCOPED_TRACE(c.fixture);
    const MarkedText f(c.fixture);
    document::Document doc(URI, f.text, 1);
    json edits = json::array();
    for (auto [from, to] : c.edits)
      edits.push_back(
          {{"annotationId", "x"}, {"newText", "Next"}, {"range", doc.range_at(f.marks[from], f.marks[to])}});
    join_closing_names(doc, edits);
    std::string got;
    for (const json& edit : edits) {
      EXPECT_EQ(edit.at("newText"), "Next");
      EXPECT_EQ(edit.at("annotationId"), "x");
      got += (got.empty() ? "" : " ") + range_text(edit.at("range"), doc, f);
    }
    EXPECT_EQ(got, c.expected);
  }
  // What is no list of edits stays as it is.
  document::Document doc(URI, "<A></A>", 1);
  for (json odd : {json(nullptr), json::object(), json::array({1, json::object()})}) {
    const json before = odd;
    join_closing_names(doc, odd);
    EXPECT_EQ(odd, before);
  }
}

// prepareRename ranges must hold the cursor, or editors refuse them.
TEST(Rename, PrepareAnswersHoldTheCursor) {
  auto at = [](int line, int character) { return json{{"character", character}, {"line", line}}; };
  const json range = {{"end", at(2, 4)}, {"start", at(1, 6)}};
  struct HoldsCase {
    json answer;
    json cursor;
    bool holds;
  };
  const HoldsCase cases[] = {
      {range, at(1, 6), true},
      {range, at(2, 4), true},
      {range, at(1, 9), true},
      {range, at(1, 5), false},
      {range, at(2, 5), false},
      {{{"placeholder", "x"}, {"range", range}}, at(3, 0), false},
      {{{"placeholder", "x"}, {"range", range}}, at(2, 0), true},
      {{{"defaultBehavior", true}}, at(9, 9), true},
      {{{"range", "odd"}}, at(1, 6), false},
  };
  for (const HoldsCase& c : cases) {
    SCOPED_TRACE(c.answer.dump() + " " + c.cursor.dump());
    EXPECT_EQ(holds(c.answer, c.cursor), c.holds);
  }
}

TEST(Rename, NewNames) {
  const MarkedText f("<$Fr^ame$></$Frame$>");
  document::Document doc(URI, f.text, 1);
  const tovix::config::Config config;
  struct NameCase {
    const char* name;
    bool accepted;
  } cases[] = {
      {"ui.Button", true}, {"_9", true},   {"end", true},  {"Frame", true},   {"a.b.c", true},
      {"", false},         {"9a", false},  {"a.9", false}, {".a", false},     {"a.", false},
      {"a..b", false},     {"a-b", false}, {"é", false},   {"Fr ame", false}, {"a.\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(valid_name(c.name), c.accepted);
    EXPECT_EQ(describe(rename(doc, config, *f.cursor, c.name), doc, f),
              c.accepted ? "edits $0..$1 $2..$3 to " + std::string(c.name) : "null");
  }
}

TEST(Rename, EditsCountUtf16AfterWideCharacters) {
  document::Document doc(URI, "local s = '😀é'; return <Frame></Frame>", 1);
  const std::size_t cursor = doc.text().find("Frame");
  const Answer answer = rename(doc, tovix::config::Config{}, cursor, "Box");
  ASSERT_TRUE(std::holds_alternative<Local>(answer));
  EXPECT_EQ(std::get<Local>(answer).value.dump(),
            R"({"changes":{"file:///tmp/a.tovix":[{"newText":"Box","range":{"end":{"character":30,"line":0},)"
            R"("start":{"character":25,"line":0}}},{"newText":"Box","range":{"end":{"character":38,"line":0},)"
            R"("start":{"character":33,"line":0}}}]}})");
}

}  // namespace
}  // namespace tovix_lsp::rename
