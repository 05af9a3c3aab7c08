#include "features/hover.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "marked_text.h"
#include "markup_fixtures.h"

namespace tovix_lsp::hover {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;
using testing_support::project_with;
using testing_support::small_facts;

const std::string URI = "file:///nowhere/a.tovix";

// The answer as one line, with byte offsets named by the fixture's markers
// and a Range as "line:character-line:character".
std::string describe(const Answer& answer, const MarkedText& f) {
  auto range = [](const json& r) {
    auto pos = [](const json& p) {
      return std::to_string(p.at("line").get<int>()) + ":" + std::to_string(p.at("character").get<int>());
    };
    return pos(r.at("start")) + "-" + pos(r.at("end"));
  };
  auto hover_text = [&](const json& v) {
    return range(v.at("range")) + " " + v.at("contents").at("kind").get<std::string>() + " " +
           v.at("contents").at("value").get<std::string>();
  };
  struct Visitor {
    const MarkedText& f;
    decltype(range)& r;
    decltype(hover_text)& h;
    std::string value(const json& v) const {
      if (v.contains("uri")) return "Location " + v.at("uri").get<std::string>() + " " + r(v.at("range"));
      return h(v);
    }
    std::string operator()(const Local& l) const { return (l.value.contains("uri") ? "" : "Local ") + value(l.value); }
    std::string operator()(const AskLuau&) const { return "AskLuau"; }
    std::string operator()(const Merge& m) const {
      return "Merge @" + f.name(m.at) + " " + (m.local ? value(*m.local) : "(no local part)");
    }
    std::string operator()(const Null&) const { return "Null"; }
  };
  return std::visit(Visitor{f, range, hover_text}, answer);
}

struct Case {
  std::string fixture;
  std::string expected;
  std::string toml = "";
};

void check_hover(const Case& c, const api::Api* facts = nullptr) {
  SCOPED_TRACE(c.fixture);
  const MarkedText f(c.fixture);
  ASSERT_TRUE(f.cursor);
  const document::Document document(URI, f.text, 1);
  EXPECT_EQ(describe(hover(document, project_with(c.toml), *f.cursor, facts), f), c.expected);
}

void check_definition(const Case& c) {
  SCOPED_TRACE(c.fixture);
  const MarkedText f(c.fixture);
  ASSERT_TRUE(f.cursor);
  const document::Document document(URI, f.text, 1);
  EXPECT_EQ(describe(definition(document, project_with(c.toml), *f.cursor), f), c.expected);
}

const char* const FRAME = "```luau\nFrame\n```\n\nRoblox class\n\nInherits `GuiObject`.";
const char* const TEXT_LABEL =
    "```luau\nTextLabel\n```\n\nRoblox class\n\nInherits `GuiLabel`.\n\n"
    "Text between the tags becomes its `Text` property.";

TEST(Hover, TagNames) {
  const std::string frame = std::string("Local 0:5-0:10 markdown ") + FRAME;
  const Case cases[] = {
      {"local x = ^y", "AskLuau"},
      {"x = <Frame>{a^}</Frame>", "AskLuau"},
      {"x = <Fra^me></Frame>", frame},
      // Both ends of the name, the first character included.
      {"x = <^Frame/>", frame},
      {"x = <Frame^/>", frame},
      {"x = <Frame></Fr^ame>", std::string("Local 0:13-0:18 markdown ") + FRAME},
      {"x = <TextLabel^>hi</TextLabel>", std::string("Local 0:5-0:14 markdown ") + TEXT_LABEL},
      {"x = <La^bel>hi</Label>",
       "Local 0:5-0:10 markdown ```luau\nTextLabel\n```\n\nRoblox class, written `Label` in this project\n\n"
       "Inherits `GuiLabel`.\n\nText between the tags becomes its `Text` property.",
       "[elements]\nTextLabel = \"Label\"\n"},
  };
  for (const Case& c : cases) check_hover(c);
  // A class written under its Roblox name although the project renames it is
  // treated as a component.
  check_hover({"x = <TextLa^bel/>",
               "Merge @5 0:5-0:14 markdown ```luau\nTextLabel\n```\n\nNot a Roblox class, and not bound in this file.",
               "[elements]\nTextLabel = \"Label\"\n"});
}

TEST(Hover, Components) {
  const Case cases[] = {
      // Merged at the opening name, also from the closing one.
      {"local Card = 1\nx = <$Card></Ca^rd>",
       "Merge @$0 1:12-1:16 markdown ```luau\nCard\n```\n\nComponent, bound on line 1."},
      {"-- a\n-- b\n-- c\nlocal ui = {}\nx = <ui.$But^ton/>",
       "Merge @$0 4:5-4:14 markdown ```luau\nui.Button\n```\n\nComponent, bound on line 4."},
      {"x = <$Ca^rd/>",
       "Merge @$0 0:5-0:9 markdown ```luau\nCard\n```\n\nNot a Roblox class, and not bound in this file."},
      // A fragment's name is empty.
      {"x = <^>a</>", "Merge @^ 0:5-0:5 markdown ```luau\n\n```\n\nNot a Roblox class, and not bound in this file."},
  };
  for (const Case& c : cases) check_hover(c);
  // A dotted name that the project maps to a class shows the class and is
  // still merged.
  check_hover({"x = <ui.$Fr^ame/>",
               "Merge @$0 0:5-0:13 markdown ```luau\nFrame\n```\n\nRoblox class, written `ui.Frame` in this project\n\n"
               "Inherits `GuiObject`.",
               "[elements]\nFrame = \"ui.Frame\"\n"});
}

// Markup that does not parse yet: the name being typed, taken whole.
TEST(Hover, NameBeingTyped) {
  const Case cases[] = {
      {"x = <Frame>\n  <Text^Label Text=\"unclosed\n", std::string("Local 1:3-1:12 markdown ") + TEXT_LABEL},
      {"x = <Frame>\n  <^TextLabel Text=\"unclosed\n", std::string("Local 1:3-1:12 markdown ") + TEXT_LABEL},
      {"x = <Frame>\n  <$Ca^rd",
       "Merge @$0 1:3-1:7 markdown ```luau\nCard\n```\n\nNot a Roblox class, and not bound in this file."},
      {"x = <Frame>\n  <^", "Null"},
  };
  for (const Case& c : cases) check_hover(c);
}

TEST(Hover, Attributes) {
  const Case plain[] = {
      {"x = <TextButton Te^xt='a'/>", "Local 0:16-0:20 markdown ```luau\nText\n```\n\nProperty of `TextButton`."},
      {"x = <TextButton ^Text='a'/>", "Local 0:16-0:20 markdown ```luau\nText\n```\n\nProperty of `TextButton`."},
      {"x = <TextButton Activated^={f}/>",
       "Local 0:16-0:25 markdown ```luau\nActivated\n```\n\nEvent of `TextButton`."},
      {"x = <Frame si^ze={s}/>",
       "Local 0:11-0:15 markdown ```luau\nSize\n```\n\nProperty of `Frame`, written `size` in this project.",
       "[properties]\nall = \"camelCase\"\n"},
      {"x = <Frame Si^ze={s}/>", "Null", "[properties]\nSize = \"dims\"\n"},
      {"x = <Frame ^ Size={s}/>", "Null"},
      {"x = <Frame Fo^o='1'/>", "Null"},
      {"x = <Card Ti^tle='a'/>", "Null"},
      {"x = <Frame Name='a^'/>", "Null"},
      {"x = <Frame>te^xt</Frame>", "Null"},
  };
  for (const Case& c : plain) check_hover(c);

  const api::Api facts = small_facts();
  const Case with_facts[] = {
      {"x = <TextButton Act^ivated={f}/>",
       "Local 0:16-0:25 markdown ```luau\nActivated: RBXScriptSignal<(InputObject, number)>\n```\n\n"
       "Event of `GuiButton`.\n\nConnect a function of `(InputObject, number)`.\n\n---\n\n"
       "Fires when **activated**.\n\n[Learn more](https://l/Activated)"},
      {"x = <TextButton MouseEnter^={f}/>",
       "Local 0:16-0:26 markdown ```luau\nMouseEnter: RBXScriptSignal<()>\n```\n\nEvent of `GuiButton`.\n\n"
       "Connect a function of `()`."},
      {"x = <TextButton Te^xt='a'/>",
       "Local 0:16-0:20 markdown ```luau\nText: string\n```\n\nProperty of `TextButton`.\n\n---\n\nThe text."},
      // Unknown to the facts: the plain text.
      {"x = <TextButton Si^ze={s}/>", "Local 0:16-0:20 markdown ```luau\nSize\n```\n\nProperty of `TextButton`."},
  };
  for (const Case& c : with_facts) check_hover(c, &facts);
}

TEST(Hover, AttributesWithTheRealFacts) {
  const std::string roblox = TOVIX_ROBLOX_DATA;
  const std::string defs = roblox + "/globalTypes.None.d.luau";
  if (!std::filesystem::exists(defs)) GTEST_SKIP() << "no Roblox type files at " << roblox;
  const api::Api facts = api::load(defs, roblox + "/api-docs.json");
  check_hover({"x = <TextLabel Si^ze={s}/>",
               "Local 0:15-0:19 markdown ```luau\nSize: UDim2\n```\n\nProperty of `GuiObject`.\n\n---\n\n"
               "Determine the pixel and scalar size of a `GuiObject|GUI`\n\n"
               "[Learn more](https://create.roblox.com/docs/reference/engine/classes/GuiObject#Size)"},
              &facts);
}

TEST(Hover, HalfTypedDocumentsNeverFail) {
  for (const char* fixture : {"x = <Frame>{^", "x = <Frame Text=\"ab^", "x = <Frame ^", "x = <^", "x = </^",
                              "x = <Frame>\n<!-- ^", "^", "x = <Frame Size={^}", "x = <>^"}) {
    SCOPED_TRACE(fixture);
    const MarkedText f(fixture);
    const document::Document document(URI, f.text, 1);
    (void)hover(document, project_with(""), *f.cursor, nullptr);
    (void)definition(document, project_with(""), *f.cursor);
  }
}

// A question about a tag name, from its opening or its closing name, is asked
// at the start of the segment under the cursor in the opening name; no tag
// name, no place.
TEST(Hover, TagNamesAreAskedAtTheirSegmentInTheOpeningName) {
  const char* const fixtures[] = {
      "x = <$Card></Ca^rd>",       "x = <$Card></^Card>",       "x = <$Card></Card^>",
      "x = <ui.$Card></ui.Ca^rd>", "x = <$ui.Card></^ui.Card>", "x = <A><$B></^B></A>",
      "return <$A>\n</  ^A >",     "x = <$Ca^rd></Card>",       "x = <ui.$Ca^rd/>",
  };
  for (const char* fixture : fixtures) {
    SCOPED_TRACE(fixture);
    const MarkedText f(fixture);
    const auto tag = tag_at(document::Document(URI, f.text, 1), *f.cursor);
    ASSERT_TRUE(tag.has_value());
    EXPECT_EQ(tag->at, f.marks[0]);
  }
  for (const char* fixture : {"x = <Card/^>", "lo^cal x = <A></A>", "<>te^xt</>"}) {
    SCOPED_TRACE(fixture);
    const MarkedText f(fixture);
    EXPECT_EQ(tag_at(document::Document(URI, f.text, 1), *f.cursor), std::nullopt);
  }
}

TEST(Definition, Tags) {
  const Case cases[] = {
      {"local x = ^y", "AskLuau"},
      {"x = <Frame>{a^}</Frame>", "AskLuau"},
      {"x = <Fra^me/>", "Null"},
      {"local Card = 1\nx = <Card></Ca^rd>", "Location file:///nowhere/a.tovix 0:6-0:10"},
      {"local function Card() end\nx = <^Card/>", "Location file:///nowhere/a.tovix 0:15-0:19"},
      {"x = <Ca^rd/>", "Null"},
      {"local Card = 1\nx = <Card Ti^tle='a'/>", "Null"},
      // The whole name being typed, not the part before the cursor.
      {"local Card = 1\nlocal CardList = 2\nx = <Card^List", "Location file:///nowhere/a.tovix 1:6-1:14"},
      // A class the project renames, written under its Roblox name.
      {"local TextLabel = 1\nx = <Text^Label/>", "Location file:///nowhere/a.tovix 0:6-0:15",
       "[elements]\nTextLabel = \"Label\"\n"},
  };
  for (const Case& c : cases) check_definition(c);
}

// A dotted name is asked of luau-lsp at the segment under the cursor ($0),
// from the opening and the closing name alike: there the generated call
// writes that segment's member access. Only the first segment's definition
// has the binding to fall back on.
TEST(Hover, DottedNamesAskAtTheSegmentUnderTheCursor) {
  const std::string widgets = "local Widgets = require(script.Widgets)\nx = ";
  const std::string shown = " markdown ```luau\nWidgets.Button\n```\n\nComponent, bound on line 1.";
  const std::string abc = " markdown ```luau\nA.B.C\n```\n\nComponent, bound on line 1.";
  const std::string binding_of_widgets = "Location file:///nowhere/a.tovix 0:6-0:13";
  const std::string binding_of_a = "Location file:///nowhere/a.tovix 0:6-0:7";
  struct Dotted {
    std::string fixture;
    std::string hover;
    std::string definition;
  };
  const Dotted cases[] = {
      {widgets + "<Widgets.$But^ton text=\"x\"></Widgets.Button>", "Merge @$0 1:5-1:19" + shown,
       "Merge @$0 (no local part)"},
      {widgets + "<Widgets.$Button^ text=\"x\"/>", "Merge @$0 1:5-1:19" + shown, "Merge @$0 (no local part)"},
      {widgets + "<Widgets.$Button></Widgets.Bu^tton>", "Merge @$0 1:22-1:36" + shown, "Merge @$0 (no local part)"},
      {widgets + "<$Wid^gets.Button></Widgets.Button>", "Merge @$0 1:5-1:19" + shown,
       "Merge @$0 " + binding_of_widgets},
      // Where the segments meet, the first one.
      {widgets + "<$Widgets^.Button/>", "Merge @$0 1:5-1:19" + shown, "Merge @$0 " + binding_of_widgets},
      {widgets + "<^Widgets.Button/>", "Merge @^ 1:5-1:19" + shown, "Merge @^ " + binding_of_widgets},
      {widgets + "<$Widgets.Button></Wi^dgets.Button>", "Merge @$0 1:22-1:36" + shown,
       "Merge @$0 " + binding_of_widgets},
      {"local A = {}\nx = <$^A.B.C></A.B.C>", "Merge @^ 1:5-1:10" + abc, "Merge @^ " + binding_of_a},
      {"local A = {}\nx = <A.$B^.C></A.B.C>", "Merge @$0 1:5-1:10" + abc, "Merge @$0 (no local part)"},
      {"local A = {}\nx = <A.B.$C^></A.B.C>", "Merge @$0 1:5-1:10" + abc, "Merge @$0 (no local part)"},
      {"local A = {}\nx = <A.$B.C></A.^B.C>", "Merge @$0 1:13-1:18" + abc, "Merge @$0 (no local part)"},
      {"local A = {}\nx = <A.B.$C></A.B.C^>", "Merge @$0 1:13-1:18" + abc, "Merge @$0 (no local part)"},
      // A name being typed, in markup that does not parse yet.
      {"local A = {}\nx = <Frame>\n  <A.$B^",
       "Merge @$0 2:3-2:6 markdown ```luau\nA.B\n```\n\nComponent, bound on line 1.", "Merge @$0 (no local part)"},
  };
  for (const Dotted& c : cases) {
    check_hover({c.fixture, c.hover});
    check_definition({c.fixture, c.definition});
  }
}

json markdown(const std::string& text, json range = nullptr) {
  json out = {{"contents", {{"kind", "markdown"}, {"value", text}}}};
  if (!range.is_null()) out["range"] = std::move(range);
  return out;
}

TEST(Hover, FromChildJoinsTheLocalPart) {
  const json range = {{"start", 1}, {"end", 2}};  // any value: it is copied, not read
  struct Case {
    const char* what;
    std::optional<json> local;
    json child;
    json expected;
  };
  const Case cases[] = {
      {"no local part", std::nullopt, markdown("c"), markdown("c")},
      {"null child keeps a local hover", markdown("x"), nullptr, markdown("x")},
      {"the documentation after the last fence follows the child's text",
       markdown("```luau\nclass Frame\n```\n\n Docs here. \n", range), markdown("child text", {{"other", 1}}),
       markdown("child text\n\n---\n\nDocs here.", range)},
      {"a local text without a fence follows whole", markdown(" plain note ", range), markdown("c"),
       markdown("c\n\n---\n\nplain note", range)},
      {"a local text ending in a fence adds nothing", markdown("```luau\nx\n```", range), markdown("c"),
       markdown("c", range)},
      {"the range is null without a local one", markdown("note"), markdown("c", range),
       json{{"contents", {{"kind", "markdown"}, {"value", "c\n\n---\n\nnote"}}}, {"range", nullptr}}},
      {"a child's answer that is no hover wins", markdown("note"), json{{"o", 1}}, json{{"o", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(from_child(c.local, c.child, false), c.expected);
  }
}

TEST(Hover, FromChildOfAStaleCompileSaysSo) {
  EXPECT_EQ(from_child(std::nullopt, markdown("type"), true),
            markdown("type\n\n---\n\n*From the last version that compiled.*"));
  EXPECT_EQ(from_child(std::nullopt, json::array(), true), json::array());
}

TEST(Hover, Forwards) {
  EXPECT_TRUE(forwards("local x = 1", 3));
  EXPECT_TRUE(forwards("x = <A>{y}</A>", 8));
  EXPECT_FALSE(forwards("x = <A>{y}</A>", 6));
}

}  // namespace
}  // namespace tovix_lsp::hover
