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
// $0..$1 $2..$3 to X", "range $0..$1", "forward", "forward $0..$1",
// "forward unless tags: why", "child at $0", "child at $0 $0..$1",
// "refused: why", "null".
std::string describe(const Answer& answer, const document::Document& doc, const MarkedText& f) {
  if (std::holds_alternative<Null>(answer)) return "null";
  if (const auto* refused = std::get_if<Refused>(&answer)) return "refused: " + refused->message;
  if (const auto* component = std::get_if<Component>(&answer))
    return "child at " + f.name(component->at) + (component->local ? " " + range_text(*component->local, doc, f) : "");
  if (const auto* forward = std::get_if<AskLuau>(&answer)) {
    if (forward->on_tags) return "forward unless tags: " + *forward->on_tags;
    return forward->local ? "forward " + range_text(*forward->local, doc, f) : "forward";
  }
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
      // A name in a hole of an interpolated string is a Luau name like any
      // other, in plain Luau, in a markup hole and in nested strings; the
      // string's text is not.
      {"local s = `Clicks: {$cou^nt$()}`", "forward", "forward $0..$1"},
      {"local s = `Clicks: {^count$()}`", "forward", "forward ^..$0"},
      {"local s = `Clicks: {$count^()}`", "forward", "forward $0..^"},
      {"local s = `a {x} and {$y^y$ + 1}`", "forward", "forward $0..$1"},
      {"x = <TextLabel Text={`Clicks: {$cou^nt$()}`} />", "forward", "forward $0..$1"},
      {"local s = `a {`b {$x^x$}`} c`", "forward", "forward $0..$1"},
      {"local s = `a {`b {x}` .. $y^y$} c`", "forward", "forward $0..$1"},
      {"local s = `Cli^cks: {count()}`", "forward", "forward"},
      {"local s = `{'te^xt'}`", "forward", "forward"},
      {"local s = `{i^f}`", "forward", "forward"},
      {"local s = `\\{no^t}`", "forward", "forward"},
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
    (void)join_closing_names(doc, edits);
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
    EXPECT_FALSE(join_closing_names(doc, odd));
    EXPECT_EQ(odd, before);
  }
}

// References the child finds on opening names are joined by the closing
// names the same way, in the document their "uri" names; a location in
// another document is left alone, though its range would lie on a name here.
// The answer says whether some item is a whole opening name.
TEST(Rename, ClosingNamesJoinTheLocationsOfTheirDocument) {
  const MarkedText f(
      "local function $Card$() end\nx = <$Card$ T='x'>\n</$Card$>\n"
      "y = <ui.$Card$></ui.$Card$>\nz = <$Card$/>");
  document::Document doc(URI, f.text, 1);
  const std::string other = "file:///tmp/b.tovix";
  auto location = [&](const std::string& uri, std::size_t from, std::size_t to) {
    return json{{"range", doc.range_at(f.marks[from], f.marks[to])}, {"uri", uri}};
  };
  json locations = {location(URI, 0, 1), location(other, 2, 3), location(URI, 2, 3), location(URI, 6, 7),
                    location(URI, 10, 11)};
  EXPECT_TRUE(join_closing_names(doc, locations));
  EXPECT_EQ(locations, (json{location(URI, 0, 1), location(other, 2, 3), location(URI, 2, 3), location(URI, 4, 5),
                             location(URI, 6, 7), location(URI, 8, 9), location(URI, 10, 11)}));

  // Segments of dotted names and Luau code are no whole opening name.
  json segments = {location(URI, 0, 1), location(URI, 6, 7), location(other, 2, 3)};
  EXPECT_FALSE(join_closing_names(doc, segments));
  EXPECT_EQ(segments, (json{location(URI, 0, 1), location(URI, 6, 7), location(URI, 8, 9), location(other, 2, 3)}));
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

// A new name that would break the file is refused, saying why: a tag's
// must be dotted identifiers, a binding's (a component's included) one
// identifier, and neither a keyword; a component's must not be what markup
// resolves as a Roblox class, or its tags would create one instead.
TEST(Rename, NewNamesThatWouldBreakTheFileAreRefused) {
  const char* const TAG = "<$Fr^ame$></$Frame$>";
  const char* const COMPONENT = "local function Card() end\nx = <$Ca^rd$ T='x'></$Card$>";
  const char* const DOTTED = "local ui = {}\nx = <ui.$Ca^rd$></ui.Card>";
  const char* const LUAU = "local $fo^o$ = 1";
  const char* const ALIAS = "[elements]\nTextLabel = \"Label\"\n";
  const char* const CAMEL = "[elements]\nall = \"camelCase\"\n";
  struct NameCase {
    const char* fixture;
    const char* name;
    std::string expected;
    const char* toml = "";
  };
  const NameCase cases[] = {
      // A Roblox class's tags are renamed here.
      {TAG, "ui.Button", "edits $0..$1 $2..$3 to ui.Button"},
      {TAG, "_9", "edits $0..$1 $2..$3 to _9"},
      {TAG, "ScrollingFrame", "edits $0..$1 $2..$3 to ScrollingFrame"},
      {TAG, "a.b.c", "edits $0..$1 $2..$3 to a.b.c"},
      {TAG, "", "refused: the new name is empty"},
      {TAG, "end", "refused: `end` is a Luau keyword"},
      {TAG, "ui.local", "refused: `local` is a Luau keyword"},
      {TAG, "local.9", "refused: `local.9` is not a tag name"},
      {TAG, "9a", "refused: `9a` is not a tag name"},
      {TAG, "a.9", "refused: `a.9` is not a tag name"},
      {TAG, ".a", "refused: `.a` is not a tag name"},
      {TAG, "a.", "refused: `a.` is not a tag name"},
      {TAG, "a..b", "refused: `a..b` is not a tag name"},
      {TAG, "a-b", "refused: `a-b` is not a tag name"},
      {TAG, "é", "refused: `é` is not a tag name"},
      {TAG, "Fr ame", "refused: `Fr ame` is not a tag name"},
      {TAG, "a.\xC3\xA9", "refused: `a.\xC3\xA9` is not a tag name"},
      // A component's name, the child's to rename.
      {COMPONENT, "Panel", "child at $0"},
      {COMPONENT, "_9", "child at $0"},
      {COMPONENT, "", "refused: the new name is empty"},
      {COMPONENT, "end", "refused: `end` is a Luau keyword"},
      {COMPONENT, "ui.Panel", "refused: `ui.Panel` is not a Luau identifier"},
      {COMPONENT, "9a", "refused: `9a` is not a Luau identifier"},
      {COMPONENT, "Frame", "refused: `Frame` is a Roblox class in markup"},
      {COMPONENT, "Workspace", "child at $0"},  // not one markup creates
      {COMPONENT, "Label", "refused: `Label` is a configured alias of TextLabel", ALIAS},
      {COMPONENT, "TextLabel", "refused: `TextLabel` is a Roblox class that tovix.toml renames", ALIAS},
      {COMPONENT, "frame", "refused: `frame` names the Roblox class Frame in markup", CAMEL},
      {COMPONENT, "Frame", "refused: `Frame` is a Roblox class that tovix.toml renames", CAMEL},
      {COMPONENT, "Label", "child at $0"},
      {COMPONENT, "frame", "child at $0"},
      // A segment of a dotted name: the tags stay dotted, and call it.
      {DOTTED, "Frame", "child at $0"},
      {DOTTED, "Label", "child at $0", ALIAS},
      {DOTTED, "end", "refused: `end` is a Luau keyword"},
      {DOTTED, "a.b", "refused: `a.b` is not a Luau identifier"},
      // Luau code: a binding's name; one that markup resolves as a class is
      // refused once the child's edits reach a tag.
      {LUAU, "bar", "forward"},
      {LUAU, "continue", "forward"},  // a keyword only where a statement starts
      {LUAU, "type", "forward"},
      {LUAU, "end", "refused: `end` is a Luau keyword"},
      {LUAU, "nil", "refused: `nil` is a Luau keyword"},
      {LUAU, "a.b", "refused: `a.b` is not a Luau identifier"},
      {LUAU, "", "refused: the new name is empty"},
      {LUAU, "Frame", "forward unless tags: `Frame` is a Roblox class in markup"},
      {LUAU, "Label", "forward unless tags: `Label` is a configured alias of TextLabel", ALIAS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " to " + c.name + " with " + c.toml);
    const MarkedText f(c.fixture);
    document::Document doc(URI, f.text, 1);
    const tovix::config::Config config = testing_support::project_with(c.toml).config;
    EXPECT_EQ(describe(rename(doc, config, *f.cursor, c.name), doc, f), c.expected);
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
