#include "core/requests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include "core/rename_requests.h"
#include "core/sync.h"
#include "features/completion.h"
#include "marked_text.h"
#include "workspace/remap.h"

namespace tovix_lsp::requests {
namespace {

using json = nlohmann::json;
using testing_support::MarkedText;

// A server with one document open under a file URI, in a directory of its
// own (so no `tovix.toml` of the machine is found).
struct Fixture {
  explicit Fixture(std::string_view fixture_text) : fixture(fixture_text) {
    dir = std::filesystem::temp_directory_path() / ("tovix_requests_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "tovix.toml") << "";
    uri = project::path_to_uri(dir / "a.tovix");
    sync::did_open(server, {uri, fixture.text, 1});
  }
  ~Fixture() { std::filesystem::remove_all(dir); }

  json at(std::size_t offset) const {
    const auto position = server.documents.get(uri)->document.position(offset);
    return {{"textDocument", {{"uri", uri}}},
            {"position", {{"line", position.line}, {"character", position.character}}}};
  }
  json at_cursor() const { return at(*fixture.cursor); }

  MarkedText fixture;
  std::filesystem::path dir;
  std::string uri;
  io::StringOutput out;
  std::pair<events::Events::Sender, events::Events::Receiver> channel = events::Events::make();
  server::Server server{out, channel.first};
};

json value_of(const server::Reply& reply) {
  const auto* value = std::get_if<json>(&reply);
  EXPECT_TRUE(value) << "not a value";
  return value ? *value : json("not a value");
}

TEST(Requests, ClosingTag) {
  Fixture f("x = <Frame>^");
  EXPECT_EQ(value_of(closing_tag(f.server, 1, f.at_cursor())), (json{{"tagName", "Frame"}}));
  EXPECT_EQ(value_of(closing_tag(f.server, 1, f.at(0))), json(nullptr));
}

TEST(Requests, UnusableParamsAnswerNull) {
  Fixture f("x = <Frame>^");
  json elsewhere = f.at_cursor();
  elsewhere["textDocument"]["uri"] = "file:///not/open.tovix";
  json negative = f.at_cursor();
  negative["position"]["line"] = -1;
  json fraction = f.at_cursor();
  fraction["position"]["character"] = 1.5;
  for (const json& params : {elsewhere, negative, fraction, json::object(), json(nullptr)}) {
    SCOPED_TRACE(params.dump());
    EXPECT_EQ(value_of(closing_tag(f.server, 1, params)), json(nullptr));
    EXPECT_EQ(value_of(hover(f.server, 1, params)), json(nullptr));
    EXPECT_EQ(value_of(definition(f.server, 1, params)), json(nullptr));
    EXPECT_EQ(value_of(completion(f.server, 1, params)), json(nullptr));
  }
}

TEST(Requests, HoverAnswersForwardsAndMerges) {
  Fixture f("local Card = 1\nlocal y = ^Card\nx = <$Card></Ca$rd>\nz = <Fr$ame/>");
  const server::Reply forwarded = hover(f.server, 1, f.at_cursor());
  const auto* forward = std::get_if<server::AskChild>(&forwarded);
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->method, "textDocument/hover");
  EXPECT_EQ(forward->params, f.at_cursor());
  EXPECT_FALSE(forward->local);

  // On the closing name: the child is asked at the opening one.
  server::Reply merged = hover(f.server, 1, f.at(f.fixture.marks[1]));
  const auto* merge = std::get_if<server::AskChild>(&merged);
  ASSERT_TRUE(merge);
  EXPECT_EQ(merge->method, "textDocument/hover");
  EXPECT_EQ(merge->params, f.at(f.fixture.marks[0]));
  ASSERT_TRUE(merge->local);
  EXPECT_EQ(merge->local->at("contents").at("value"), "```luau\nCard\n```\n\nComponent, bound on line 1.");

  EXPECT_EQ(value_of(hover(f.server, 1, f.at(f.fixture.marks[2]))).at("range"),
            (json{{"start", {{"line", 3}, {"character", 5}}}, {"end", {{"line", 3}, {"character", 10}}}}));
}

TEST(Requests, Definition) {
  Fixture f("local Card = 1\nx = <Ca^rd/>\ny = Ca$rd");
  EXPECT_EQ(value_of(definition(f.server, 1, f.at_cursor())),
            (json{{"range", {{"start", {{"line", 0}, {"character", 6}}}, {"end", {{"line", 0}, {"character", 10}}}}},
                  {"uri", f.uri}}));
  const server::Reply forwarded = definition(f.server, 1, f.at(f.fixture.marks[0]));
  const auto* forward = std::get_if<server::AskChild>(&forwarded);
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->method, "textDocument/definition");
  EXPECT_FALSE(forward->local);
}

TEST(Requests, CompletionAnswers) {
  {
    Fixture f("x = <Frame></^");
    EXPECT_EQ(value_of(completion(f.server, 1, f.at_cursor())).at("items").size(), 1u);
  }
  {
    Fixture f("x = <Frame Te^");
    EXPECT_GT(value_of(completion(f.server, 1, f.at_cursor())).at("items").size(), 10u);
  }
  {
    // No child: the props of a component cannot be had.
    Fixture f("local function Card(props) return nil end\nx = <Card Ti^/>");
    EXPECT_EQ(value_of(completion(f.server, 1, f.at_cursor())), completion::empty_list());
  }
  {
    Fixture f("x = (^)");
    const server::Reply reply = completion(f.server, 1, f.at_cursor());
    const auto* forward = std::get_if<server::AskChild>(&reply);
    ASSERT_TRUE(forward);
    EXPECT_EQ(forward->method, "textDocument/completion");
    EXPECT_EQ(forward->params, f.at_cursor());
    EXPECT_FALSE(forward->local);
  }
}

// A space typed in Luau code is not a question for luau-lsp (it would list
// every global); in markup it asks for attribute names.
TEST(Requests, CompletionAfterASpace) {
  struct Case {
    const char* fixture;
    json context;          // null: none
    const char* expected;  // "empty", "forward" or "items"
  };
  const json space = {{"triggerKind", 2}, {"triggerCharacter", " "}};
  const json dot = {{"triggerKind", 2}, {"triggerCharacter", "."}};
  const json invoked = {{"triggerKind", 1}};
  const Case cases[] = {
      {"local x = ^", space, "empty"},          {"local x = <Frame Size={a ^}/>", space, "empty"},
      {"local x = <Frame ^/>", space, "items"}, {"local x = t.^", dot, "forward"},
      {"local x = ^", invoked, "forward"},      {"local x = ^", nullptr, "forward"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.context.dump());
    Fixture f(c.fixture);
    json params = f.at_cursor();
    if (!c.context.is_null()) params["context"] = c.context;
    const server::Reply reply = completion(f.server, 1, params);
    std::string got = "other";
    if (std::holds_alternative<server::AskChild>(reply)) got = "forward";
    if (const auto* value = std::get_if<json>(&reply))
      got = *value == completion::empty_list() ? "empty" : value->at("items").empty() ? "other" : "items";
    EXPECT_EQ(got, c.expected);
  }
}

// What the generated code reads where a request's position lands in it
// (the document's compile), from `back` bytes before it; "unmapped" when it
// lands nowhere.
std::string generated_at(const Fixture& f, const json& params, std::size_t back) {
  const open_documents::OpenDocument& open = *f.server.documents.get(f.uri);
  const auto offset =
      open.document.index().offset(open.document.text(), params.at("position").at("line").get<std::uint32_t>(),
                                   params.at("position").at("character").get<std::uint32_t>());
  if (!offset || !open.compiled) return "unmapped";
  const auto mapped = remap::to_output(remap_pair(open), *offset);
  if (!mapped || *mapped < back) return "unmapped";
  const std::string& code = open.compiled->code;
  return code.substr(*mapped - back, code.find('(', *mapped) - (*mapped - back));
}

// Hover, definition and references on a dotted tag name ask the child at
// the segment under the cursor: in the generated call, that segment's
// member access (from the closing name too, which the call does not copy).
TEST(Requests, DottedNamesAreAskedAtTheSegmentUnderTheCursor) {
  struct Case {
    const char* fixture;
    std::size_t back;      // bytes of the name before the segment
    const char* expected;  // the generated code from there to the call's "("
  };
  const Case cases[] = {
      {"local Widgets = require(script.Widgets)\nx = <Wid^gets.Button text=\"x\"></Widgets.Button>\n", 0,
       "Widgets.Button"},
      {"local Widgets = require(script.Widgets)\nx = <Widgets.But^ton text=\"x\"></Widgets.Button>\n", 8,
       "Widgets.Button"},
      {"local Widgets = require(script.Widgets)\nx = <Widgets.Button text=\"x\"></Widgets.B^utton>\n", 8,
       "Widgets.Button"},
      {"local Widgets = require(script.Widgets)\nx = <Widgets.Button text=\"x\"></W^idgets.Button>\n", 0,
       "Widgets.Button"},
      {"local A = {}\nx = <^A.B.C></A.B.C>\n", 0, "A.B.C"},
      {"local A = {}\nx = <A.^B.C></A.B.C>\n", 2, "A.B.C"},
      {"local A = {}\nx = <A.B.C^></A.B.C>\n", 4, "A.B.C"},
      {"local A = {}\nx = <A.B.C></A.B^.C>\n", 2, "A.B.C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    Fixture f(c.fixture);
    ASSERT_TRUE(f.server.documents.get(f.uri)->compiled);
    using Handler = server::Reply (*)(server::Server&, const json&, json);
    for (const auto& [method, handler] : {std::pair<const char*, Handler>{"textDocument/hover", hover},
                                          {"textDocument/definition", definition},
                                          {"textDocument/references", rename_requests::references}}) {
      SCOPED_TRACE(method);
      const server::Reply reply = handler(f.server, 1, f.at_cursor());
      const auto* forward = std::get_if<server::AskChild>(&reply);
      ASSERT_TRUE(forward);
      EXPECT_EQ(forward->method, method);
      EXPECT_EQ(generated_at(f, forward->params, c.back), c.expected);
    }
  }
}

// After a dotted prefix bound in the file only a member can follow: the
// child's completion at the member access of the generated call, where the
// last compile maps the segment being written; else nothing at all.
TEST(Requests, CompletionAfterADottedPrefix) {
  struct Case {
    const char* fixture;
    std::size_t back;
    const char* expected;  // "empty", or what the generated code reads as for hover
  };
  const Case cases[] = {
      {"local Widgets = require(script.Widgets)\nx = <Widgets.^Button text=\"x\"/>\n", 8, "Widgets.Button"},
      {"local Widgets = require(script.Widgets)\nx = <Widgets.Bu^tton text=\"x\"/>\n", 8, "Widgets.Button"},
      {"local A = {}\nx = <A.B.^C/>\n", 4, "A.B.C"},
      {"local A = {}\nx = <A.^B.C/>\n", 2, "A.B.C"},
      // Being typed: the text does not compile, so nothing maps.
      {"local Widgets = require(script.Widgets)\nx = <Widgets.^\n", 0, "empty"},
      {"local A = {}\nx = <A.B.^\n", 0, "empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    Fixture f(c.fixture);
    const server::Reply reply = completion(f.server, 1, f.at_cursor());
    if (std::string_view(c.expected) == "empty") {
      EXPECT_EQ(value_of(reply), completion::empty_list());
      continue;
    }
    const auto* forward = std::get_if<server::AskChild>(&reply);
    ASSERT_TRUE(forward);
    EXPECT_EQ(forward->method, "textDocument/completion");
    EXPECT_EQ(generated_at(f, forward->params, c.back), c.expected);
    // Without the child, nothing: no Roblox class, no binding.
    EXPECT_EQ(forward->local, completion::empty_list());
    EXPECT_EQ(forward->finish, &completion::members);
  }
}

// Where the child would be asked for a component's props: just inside the
// table of the generated call.
TEST(Requests, PropsQuestion) {
  Fixture f("local function Card(props) return nil end\nlocal x = <Card Title=\"a\" $Ti^/>\n");
  const open_documents::OpenDocument& open = *f.server.documents.get(f.uri);
  ASSERT_TRUE(open.compiled) << open.diagnostics.size();
  const auto question =
      props::question(remap_pair(open), open.snapshot.get(), *f.fixture.cursor, f.fixture.marks[0], "Ti");
  ASSERT_TRUE(question);
  EXPECT_EQ(question->name, "Card");
  EXPECT_EQ(question->generated_uri, open.generated_uri());
  EXPECT_EQ(question->range,
            (json{{"start", {{"line", 1}, {"character", 26}}}, {"end", {{"line", 1}, {"character", 28}}}}));
  const line_index::LineIndex generated(open.compiled->code);
  const auto inside = generated.offset(open.compiled->code, question->position.line, question->position.character);
  ASSERT_TRUE(inside);
  EXPECT_TRUE(open.compiled->code.substr(0, *inside).ends_with("Card({")) << open.compiled->code;

  // Outside every element there is nothing to ask about.
  EXPECT_FALSE(props::question(remap_pair(open), open.snapshot.get(), 0, 0, ""));
}

TEST(Requests, PropsQuestionNeedsTheCallInTheGeneratedCode) {
  // A class is created through the factory, not called by its name.
  Fixture f("local create = nil\nlocal x = <Frame ^/>\n");
  const open_documents::OpenDocument& open = *f.server.documents.get(f.uri);
  ASSERT_TRUE(open.compiled);
  EXPECT_FALSE(props::question(remap_pair(open), open.snapshot.get(), *f.fixture.cursor, *f.fixture.cursor, ""));
}

}  // namespace
}  // namespace tovix_lsp::requests
