#include "features/completion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "marked_text.h"
#include "markup_fixtures.h"
#include "tovix/roblox/roblox.h"

namespace tovix_lsp::completion {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;
using testing_support::project_with;
using testing_support::small_facts;

const std::string ROBLOX = TOVIX_ROBLOX_DATA;

json range(std::uint32_t line, std::uint32_t start, std::uint32_t end) {
  return {{"start", {{"line", line}, {"character", start}}}, {"end", {{"line", line}, {"character", end}}}};
}

struct Request {
  std::string_view toml = "";
  bool snippets = false;
  const api::Api* facts = nullptr;
};

Answer complete_at(std::string_view fixture_text, const Request& request = {}) {
  const MarkedText fixture(fixture_text);
  EXPECT_TRUE(fixture.cursor) << "no ^ in " << fixture_text;
  const document::Document document("file:///nowhere/a.tovix", fixture.text, 1);
  return complete(document, project_with(request.toml), fixture.cursor.value_or(0), request.snippets, request.facts);
}

// The answer as one line: the variant, and a list's value as JSON.
std::string describe(const Answer& answer) {
  struct Visitor {
    std::string operator()(const List& l) const { return "List " + l.value.dump(); }
    std::string operator()(const AskLuau&) const { return "AskLuau"; }
    std::string operator()(const Props& p) const { return "Props " + std::to_string(p.start) + " '" + p.prefix + "'"; }
    std::string operator()(const Empty&) const { return "Empty"; }
    std::string operator()(const MemberOf& m) const {
      return "MemberOf " + std::to_string(m.name.start) + "-" + std::to_string(m.name.end) + " @" +
             std::to_string(m.at);
    }
  };
  return std::visit(Visitor{}, answer);
}

std::vector<json> items_of(const Answer& answer) {
  const auto* l = std::get_if<List>(&answer);
  if (!l) return {};
  EXPECT_EQ(l->value.at("isIncomplete"), false);
  return l->value.at("items").get<std::vector<json>>();
}

const json* find_label(const std::vector<json>& items, std::string_view label) {
  for (const json& item : items) {
    if (item.at("label") == label) return &item;
  }
  return nullptr;
}

TEST(Completion, WhatTheCursorIsIn) {
  struct Case {
    const char* fixture;
    const char* expected;
  } cases[] = {
      {"local x = ^1", "AskLuau"},
      {"x = <Frame>{a^}</Frame>", "AskLuau"},
      {"x = <Frame Name={a^}/>", "AskLuau"},
      {"x = <Frame Name='a^b'/>", "Empty"},
      {"x = <Frame>te^xt</Frame>", "Empty"},
      {"x = <Frame>^</Frame>", "Empty"},
      {"x = </^", "Empty"},
      // A component (no Roblox class): its props come from luau-lsp.
      {"x = <Card ^", "Props 10 ''"},
      {"x = <Card Ti^", "Props 10 'Ti'"},
      {"x = <Card Title='a' On^/>", "Props 20 'On'"},
      {"x = <ui.Button ^", "Props 15 ''"},
      // Half-typed documents still answer.
      {"x = <Frame>\n  <TextLabel Text=\"unclosed\n  <Fr^", "List"},
      {"local s = 'unterminated <Frame></^", "List"},
      // In a tag left open, between "=" and the value: no name is typed.
      {"x = <Frame Text=^'", "Empty"},
      {"x = <Frame Text ^= 'a", "Empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const Answer answer = complete_at(c.fixture);
    EXPECT_EQ(std::holds_alternative<List>(answer) ? "List" : describe(answer), c.expected);
  }
}

TEST(Completion, ClosingTag) {
  struct Case {
    const char* fixture;
    json expected;
  } cases[] = {
      {"x = <Frame></^",
       {{"detail", "close this element"},
        {"kind", 7},
        {"label", "Frame"},
        {"sortText", "0"},
        {"textEdit", {{"newText", "Frame>"}, {"range", range(0, 13, 13)}}}}},
      {"x = <Frame></^ \n >",
       {{"detail", "close this element"},
        {"kind", 7},
        {"label", "Frame"},
        {"sortText", "0"},
        {"textEdit", {{"newText", "Frame"}, {"range", range(0, 13, 13)}}}}},
      {"x = <></^",
       {{"detail", "close this element"},
        {"kind", 7},
        {"label", "</>"},
        {"sortText", "0"},
        {"textEdit", {{"newText", ">"}, {"range", range(0, 8, 8)}}}}},
      // The range covers what is typed, in UTF-16 units: the emoji is two.
      {"s = '😀'; y = <A><ui.B></u^",
       {{"detail", "close this element"},
        {"kind", 7},
        {"label", "ui.B"},
        {"sortText", "0"},
        {"textEdit", {{"newText", "ui.B>"}, {"range", range(0, 25, 26)}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(describe(complete_at(c.fixture)), "List " + list({c.expected}).dump());
  }
}

TEST(Completion, ElementNamesAreClassesThenComponents) {
  const Answer answer =
      complete_at("local Card = 1\nlocal card = 2\nlocal Frame = 3\nlocal function Button() end\nx = <Te^");
  const std::vector<json> items = items_of(answer);
  const std::size_t classes = tovix::roblox::creatable_classes().size();
  ASSERT_EQ(items.size(), classes + 2);
  EXPECT_EQ(items.front(), item(tovix::roblox::creatable_classes().front(), 7, "Roblox class", "1", range(4, 5, 7)));
  EXPECT_EQ(*find_label(items, "TextLabel"), item("TextLabel", 7, "Roblox class", "1", range(4, 5, 7)));
  // Components last, in byte order; lower-case names and classes left out.
  EXPECT_EQ(items[classes], item("Button", 3, "component", "0", range(4, 5, 7)));
  EXPECT_EQ(items[classes + 1], item("Card", 3, "component", "0", range(4, 5, 7)));
}

// Components are what the file's Luau binds; attribute names and other
// text in markup never count, whether that markup is finished or not.
TEST(Completion, ComponentsAreBoundInLuauOnly) {
  struct Case {
    const char* text;
    std::vector<std::string> components;
  };
  const Case cases[] = {
      {"local x = <\nlocal y = <Frame Size={1} Name=\"a\" BackgroundColor3={nil}/>", {}},
      {"local Card = 1\nlocal x = <\nlocal y = <Frame Size={1} Name=\"a\"/>\nlocal Panel = 2", {"Card", "Panel"}},
      {"local Card = 1\nlocal x = <Card Size={ Offset = 2 } Name='a'", {"Card"}},
      {"local x = <Frame>\n  Label = 1\n</Frame>\nlocal function Card() end", {"Card"}},
      {"local s = 'unterminated <Frame Title={1}/>\nlocal Card = 1", {"Card"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(components(project_with("").config, c.text), c.components);
  }
  // And so does element completion, after the first "<" of the first case.
  const std::vector<json> items = items_of(complete_at(std::string("local x = <^\n") + "local y = <Frame Size={1}/>"));
  EXPECT_EQ(items.size(), tovix::roblox::creatable_classes().size());
}

// A "<" typed where a child may start offers every element name, at the
// cursor, whatever follows it on the line.
TEST(Completion, ElementNamesAfterALoneLessThan) {
  struct Case {
    const char* fixture;
    json range;
  } cases[] = {
      {"return <Frame>\n\t<^\n</Frame>", range(1, 2, 2)},
      {"return <Frame>\n\t<^ \n</Frame>", range(1, 2, 2)},
      {"return <Frame>\n\t<^/>\n</Frame>", range(1, 2, 2)},
      {"return <Frame>\n\t<^</Frame>", range(1, 2, 2)},
      {"return <Frame>\n\t<^", range(1, 2, 2)},
      {"return <Frame><^", range(0, 15, 15)},
      {"return <Frame><^</Frame>", range(0, 15, 15)},
      {"local x = <^", range(0, 11, 11)},
      {"return <Frame>\n\t<T^\n</Frame>", range(1, 2, 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::vector<json> items = items_of(complete_at(c.fixture));
    ASSERT_EQ(items.size(), tovix::roblox::creatable_classes().size());
    EXPECT_EQ(find_label(items, "TextLabel")->at("textEdit").at("range"), c.range);
  }
  // The closing tag after "</" on such a line is still the one item.
  EXPECT_EQ(items_of(complete_at("return <Frame>\n\t<\n</^")).size(), 1u);
}

// Each name is offered once, as what it stands for when the compiler
// resolves it: a binding never makes a second item of a class name, alias
// or not.
TEST(Completion, ElementNamesResolveAsTheCompilerDoes) {
  const char* const ALIAS = "[elements]\nTextLabel = \"Label\"\n";
  struct Case {
    const char* toml;
    const char* fixture;
    const char* label;
    std::vector<std::string> details;  // of every item with that label
  } cases[] = {
      {ALIAS, "local Label = 1\nx = <La^", "Label", {"Roblox class TextLabel"}},
      // Under its Roblox name an aliased class is refused, bound or not.
      {ALIAS, "local TextLabel = 1\nx = <Te^", "TextLabel", {}},
      {"", "local Frame = 1\nx = <Fr^", "Frame", {"Roblox class"}},
      {"", "local Label = 1\nx = <La^", "Label", {"component"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    std::vector<std::string> details;
    for (const json& item : items_of(complete_at(c.fixture, {.toml = c.toml}))) {
      if (item.at("label") == c.label) details.push_back(item.at("detail").get<std::string>());
    }
    EXPECT_EQ(details, c.details);
  }
}

// After a dotted prefix whose first segment the file binds, only a member
// of that binding can follow: no class, no binding, but luau-lsp asked at
// the segment under the cursor ($1) of the whole name written ($0 to $2).
TEST(Completion, AfterADottedPrefixOnlyMembers) {
  const char* const members[] = {
      "local Widgets = require(script.Widgets)\nx = <$Widgets.$^$",
      "local Widgets = require(script.Widgets)\nx = <$Widgets.$Bu^tton$ text='x'/>",
      "local Widgets = require(script.Widgets)\nx = <$Widgets.$^Button$></Widgets.Button>",
      "local A = {}\nx = <$A.B.$^$",
      "local A = {}\nx = <$A.$^B.C$/>",
      "local A = {}\nx = <$A.B.$C^$/>",
  };
  for (const char* fixture : members) {
    SCOPED_TRACE(fixture);
    const MarkedText f(fixture);
    const Answer answer = complete_at(fixture);
    const auto* member = std::get_if<MemberOf>(&answer);
    ASSERT_TRUE(member) << describe(answer);
    EXPECT_EQ(member->name, (line_index::ByteRange{f.marks.at(0), f.marks.at(2)}));
    EXPECT_EQ(member->at, f.marks.at(1));
  }
  // Elements as before: no dot, a first segment bound nowhere, a closing tag.
  const std::size_t classes = tovix::roblox::creatable_classes().size();
  EXPECT_EQ(items_of(complete_at("local Widgets = 1\nx = <Wid^")).size(), classes + 1);
  EXPECT_EQ(items_of(complete_at("x = <Widgets.^")).size(), classes);
  EXPECT_EQ(items_of(complete_at("local Widgets = 1\nx = <Widgets.Button></Widgets.^")).size(), 1u);
}

TEST(Completion, ElementNamesSpelledTheProjectsWay) {
  const std::vector<json> aliased = items_of(complete_at("x = <^", {.toml = "[elements]\nTextLabel = \"Label\"\n"}));
  EXPECT_EQ(*find_label(aliased, "Label"), item("Label", 7, "Roblox class TextLabel", "1", range(0, 5, 5)));
  EXPECT_EQ(find_label(aliased, "TextLabel"), nullptr);

  const std::vector<json> cased = items_of(complete_at("x = <^", {.toml = "[elements]\nall = \"camelCase\"\n"}));
  EXPECT_EQ(*find_label(cased, "frame"), item("frame", 7, "Roblox class Frame", "1", range(0, 5, 5)));
}

TEST(Completion, MembersWithoutFacts) {
  const std::vector<json> items = items_of(complete_at("x = <TextButton Te^"));
  const json text = {{"detail", "property"},
                     {"kind", 10},
                     {"label", "Text"},
                     {"sortText", "0Text"},
                     {"textEdit", {{"newText", "Text"}, {"range", range(0, 16, 18)}}}};
  const json activated = {{"detail", "event"},
                          {"kind", 23},
                          {"label", "Activated"},
                          {"sortText", "1Activated"},
                          {"textEdit", {{"newText", "Activated"}, {"range", range(0, 16, 18)}}}};
  EXPECT_EQ(*find_label(items, "Text"), text);
  EXPECT_EQ(*find_label(items, "Activated"), activated);
  // Between attributes the range is empty, at the cursor.
  const std::vector<json> between = items_of(complete_at("x = <TextButton Text='a' ^/>"));
  EXPECT_EQ(find_label(between, "Text")->at("textEdit").at("range"), range(0, 25, 25));
  // An aliased class written under the alias; under its own name it is not
  // the class.
  EXPECT_FALSE(items_of(complete_at("x = <Label ^", {.toml = "[elements]\nTextLabel = \"Label\"\n"})).empty());
  EXPECT_EQ(describe(complete_at("x = <TextLabel ^", {.toml = "[elements]\nTextLabel = \"Label\"\n"})), "Props 15 ''");
  // Attribute names follow the project's casing.
  const std::vector<json> cased =
      items_of(complete_at("x = <Frame s^", {.toml = "[properties]\nall = \"camelCase\"\n"}));
  EXPECT_EQ(find_label(cased, "size")->at("detail"), "property");
}

TEST(Completion, MembersWithFacts) {
  const api::Api facts = small_facts();
  const std::vector<json> snippets = items_of(complete_at("x = <TextButton ^", {.snippets = true, .facts = &facts}));
  EXPECT_EQ(*find_label(snippets, "Activated"),
            (json{{"detail", "RBXScriptSignal<(InputObject, number)>"},
                  {"documentation",
                   {{"kind", "markdown"},
                    {"value",
                     "```luau\nRBXScriptSignal<(InputObject, number)>\n```\n\nFires when **activated**.\n\n"
                     "[Learn more](https://l/Activated)"}}},
                  {"insertTextFormat", 2},
                  {"kind", 23},
                  {"label", "Activated"},
                  {"sortText", "1Activated"},
                  {"textEdit",
                   {{"newText", "Activated={function(${1:p1}: InputObject, ${2:p2}: number) $3 end}"},
                    {"range", range(0, 16, 16)}}}}));
  EXPECT_EQ(find_label(snippets, "MouseEnter")->at("textEdit").at("newText"), "MouseEnter={function() $1 end}");
  EXPECT_EQ(*find_label(snippets, "Text"),
            (json{{"detail", "string"},
                  {"documentation", {{"kind", "markdown"}, {"value", "```luau\nstring\n```\n\nThe text."}}},
                  {"kind", 10},
                  {"label", "Text"},
                  {"sortText", "0Text"},
                  {"textEdit", {{"newText", "Text"}, {"range", range(0, 16, 16)}}}}));
  // A member the facts do not know keeps the plain words.
  EXPECT_EQ(find_label(snippets, "Size")->at("detail"), "property");

  const std::vector<json> plain = items_of(complete_at("x = <TextButton ^", {.snippets = false, .facts = &facts}));
  const json& activated = *find_label(plain, "Activated");
  EXPECT_FALSE(activated.contains("insertTextFormat"));
  EXPECT_EQ(activated.at("textEdit").at("newText"), "Activated");
  EXPECT_EQ(activated.at("detail"), "RBXScriptSignal<(InputObject, number)>");
}

TEST(Completion, MembersWithTheRealFacts) {
  const std::string defs = ROBLOX + "/globalTypes.None.d.luau";
  if (!std::filesystem::exists(defs)) GTEST_SKIP() << "no Roblox type files at " << ROBLOX;
  const api::Api facts = api::load(defs, ROBLOX + "/api-docs.json");
  const std::vector<json> items = items_of(complete_at("x = <TextLabel Si^", {.snippets = true, .facts = &facts}));
  const json& size = *find_label(items, "Size");
  EXPECT_EQ(size.at("detail"), "UDim2");
  // Documented under the class that declares it.
  EXPECT_EQ(size.at("documentation").at("value"),
            "```luau\nUDim2\n```\n\nDetermine the pixel and scalar size of a `GuiObject|GUI`\n\n"
            "[Learn more](https://create.roblox.com/docs/reference/engine/classes/GuiObject#Size)");
  const json& input = *find_label(items, "InputBegan");
  EXPECT_EQ(input.at("textEdit").at("newText"), "InputBegan={function(${1:p1}: InputObject) $2 end}");
}

TEST(Completion, HtmlToMarkdown) {
  EXPECT_EQ(html_to_markdown("<b>Note</b>: use <code>x</code><br/>then <i>y</i>"), "**Note**: use `x`\nthen *y*");
  EXPECT_EQ(html_to_markdown("a<br>b <a href=\"x\">l</a> &amp; <B>c</B>"), "a\nb <a href=\"x\">l</a> &amp; <B>c</B>");
  EXPECT_EQ(html_to_markdown(""), "");
}

TEST(CompletionProps, ChildItemsBecomeAttributes) {
  const json r = range(2, 5, 7);
  const std::vector<json> child = {
      {{"label", "Text"}, {"kind", 5}, {"sortText", "1"}, {"detail", "string"}},
      {{"label", "OnClick"}, {"kind", 3}, {"sortText", "1"}},
      {{"label", "Float"}, {"kind", 3.0}, {"sortText", "1"}},
      {{"label", "Docs"}, {"sortText", "1"}, {"documentation", "plain"}},
      {{"label", "Markup"}, {"sortText", "1"}, {"documentation", {{"kind", "markdown"}, {"value", "*m*"}}}},
      {{"label", "NullDocs"}, {"sortText", "1"}, {"documentation", nullptr}},
      {{"label", "BadDocs"}, {"sortText", "1"}, {"documentation", {{"value", 1}}}},
      {{"label", "_private1"}, {"sortText", "1"}, {"detail", 4}},
      // Dropped: not a table field, not a plain name, a keyword.
      {{"label", "Two"}, {"sortText", "2"}},
      {{"label", "Ten"}, {"sortText", "10"}},
      {{"label", "Number"}, {"sortText", 1}},
      {{"label", "None"}},
      {{"label", "end"}, {"sortText", "1"}},
      {{"label", "function"}, {"sortText", "1"}},
      {{"label", "nil"}, {"sortText", "1"}},
      {{"label", "foo bar"}, {"sortText", "1"}},
      {{"label", " Text"}, {"sortText", "1"}},
      {{"label", "[\"key\"]"}, {"sortText", "1"}},
      {{"label", ""}, {"sortText", "1"}},
      {{"label", 5}, {"sortText", "1"}},
      {{"sortText", "1"}},
      "not an item",
  };
  auto expected = [&](bool snippets) {
    json on_click = item("OnClick", 23, "prop", "0", r);
    if (snippets) {
      on_click["insertTextFormat"] = 2;
      on_click["textEdit"]["newText"] = "OnClick={function() $1 end}";
    }
    json docs = item("Docs", 10, "prop", "0", r);
    docs["documentation"] = "plain";
    json markup = item("Markup", 10, "prop", "0", r);
    markup["documentation"] = {{"kind", "markdown"}, {"value", "*m*"}};
    return list({item("Text", 10, "string", "0", r), on_click, item("Float", 10, "prop", "0", r), docs, markup,
                 item("NullDocs", 10, "prop", "0", r), item("BadDocs", 10, "prop", "0", r),
                 item("_private1", 10, "prop", "0", r)});
  };
  EXPECT_EQ(props(child, r, true), expected(true));
  EXPECT_EQ(props(child, r, false), expected(false));
  EXPECT_EQ(props({}, r, true), list({}));
  EXPECT_EQ(props(child, r, true).at("items").at(0), (json{{"detail", "string"},
                                                           {"kind", 10},
                                                           {"label", "Text"},
                                                           {"sortText", "0Text"},
                                                           {"textEdit", {{"newText", "Text"}, {"range", r}}}}));
}

// luau-lsp's members at a tag's member access become names to write in the
// tag: the label alone, never a call snippet or the signature help after it.
TEST(CompletionMembers, ChildItemsInsertTheirNameAlone) {
  const json button = {{"label", "Button"},
                       {"kind", 3},
                       {"detail", "({ text: string }) -> nil"},
                       {"sortText", "1"},
                       {"insertText", "Button(${1:props})$0"},
                       {"insertTextFormat", 2},
                       {"command", {{"command", "editor.action.triggerParameterHints"}, {"title", "x"}}},
                       {"additionalTextEdits", json::array()},
                       {"textEdit", {{"newText", "Button()"}, {"range", range(1, 2, 3)}}}};
  const json label = {{"label", "Label"}, {"kind", 5}, {"documentation", "d"}};
  const json dropped[] = {{{"label", "end"}}, {{"label", "a b"}}, {{"label", 1}}, {{"kind", 5}}, "not an item"};
  json items = json::array({button, label});
  for (const json& d : dropped) items.push_back(d);

  json written_button = {{"label", "Button"},
                         {"kind", 3},
                         {"detail", "({ text: string }) -> nil"},
                         {"sortText", "1"},
                         {"insertText", "Button"}};
  json written_label = label;
  written_label["insertText"] = "Label";
  const json expected = list({written_button, written_label});
  EXPECT_EQ(members(empty_list(), items, false), expected);
  json incomplete = expected;
  incomplete["isIncomplete"] = true;
  EXPECT_EQ(members(empty_list(), {{"isIncomplete", true}, {"items", items}}, false), incomplete);
  // The child has nothing: the local part, the empty list.
  EXPECT_EQ(members(empty_list(), nullptr, false), empty_list());
  EXPECT_EQ(members(empty_list(), "odd", false), empty_list());
}

}  // namespace
}  // namespace tovix_lsp::completion
