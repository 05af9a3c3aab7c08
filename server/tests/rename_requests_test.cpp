#include "core/rename_requests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/sync.h"
#include "marked_text.h"
#include "reply_fixture.h"

namespace tovix_lsp::rename_requests {
namespace {

using json = nlohmann::json;
using testing_support::at;
using testing_support::describe;
using Fixture = testing_support::ReplyFixture;

TEST(RenameRequestsReplies, WhatIsForwardedAndHow) {
  Fixture f("local count = 1\nreturn <Frame>{count}</Frame>\n");
  json params = at(0, 8);
  params["newName"] = "total";
  // Forwarded params are the editor's, unchanged.
  const server::Reply luau = rename(f.server, 1, params);
  ASSERT_TRUE(std::holds_alternative<server::AskChild>(luau));
  EXPECT_EQ(std::get<server::AskChild>(luau).params, params);
  EXPECT_EQ(describe(luau), "forward textDocument/rename rename");
  // prepareRename in Luau code waits for a ready child; the name under the
  // cursor answers when the child has nothing to say.
  EXPECT_EQ(describe(prepare_rename(f.server, 1, at(1, 17))), "null");
  f.server.child.mark_ready(true);
  EXPECT_EQ(
      describe(prepare_rename(f.server, 1, at(1, 17))),
      R"(forward textDocument/prepareRename local={"end":{"character":20,"line":1},"start":{"character":15,"line":1}})");
  EXPECT_EQ(describe(prepare_rename(f.server, 1, at(0, 2))), "forward textDocument/prepareRename");
  f.server.child.mark_ready(false);

  // A rename without "newName" renames to the empty name: refused, saying so.
  EXPECT_EQ(describe(rename(f.server, 1, at(1, 9))), "error -32803 the new name is empty");
}

// A compiled document in a folder of its own, as the editor opens it.
struct Compiled {
  explicit Compiled(std::string_view fixture_text) : fixture(fixture_text) {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "tovix.toml") << "";
    uri = project::path_to_uri(dir / "a.tovix");
    sync::did_open(server, {uri, fixture.text, 1});
  }
  ~Compiled() { std::filesystem::remove_all(dir); }

  json at(std::size_t offset, json extra = json::object()) const {
    json params = {{"textDocument", {{"uri", uri}}},
                   {"position", server.documents.get(uri)->document.position_at(offset)}};
    for (auto& [key, value] : extra.items()) params[key] = value;
    return params;
  }

  testing_support::MarkedText fixture;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tovix_rename_" + std::to_string(::getpid()));
  std::string uri;
  io::StringOutput out;
  std::pair<events::Events::Sender, events::Events::Receiver> channel = events::Events::make();
  server::Server server{out, channel.first};
};

// A component's name is renamed by the child at the opening name, which the
// generated call copies; prepareRename keeps the name under the cursor as
// its stand-in, and the cursor to check the child's range against.
TEST(RenameRequestsReplies, ComponentsAreAskedAtTheirOpeningName) {
  Compiled f(
      "local function Card(props: any) return nil end\nlocal UI = { Card = Card }\n"
      "local x = <$Card Title=\"x\"></$Ca^rd$>\nlocal y = <UI.$Card/>\n");
  ASSERT_TRUE(f.server.documents.get(f.uri)->compiled);
  const json cursor = f.at(*f.fixture.cursor, {{"newName", "Panel"}});
  server::Reply reply = rename(f.server, 1, cursor);
  auto* forward = std::get_if<server::AskChild>(&reply);
  ASSERT_TRUE(forward);
  EXPECT_EQ(describe(reply), "forward textDocument/rename rename");
  EXPECT_EQ(forward->params, f.at(f.fixture.marks[0], {{"newName", "Panel"}}));

  EXPECT_EQ(describe(prepare_rename(f.server, 1, f.at(*f.fixture.cursor))), "null");  // no child ready
  f.server.child.mark_ready(true);
  reply = prepare_rename(f.server, 1, f.at(*f.fixture.cursor));
  forward = std::get_if<server::AskChild>(&reply);
  ASSERT_TRUE(forward);
  const document::Document& document = f.server.documents.get(f.uri)->document;
  EXPECT_EQ(forward->params, f.at(f.fixture.marks[0]));
  EXPECT_EQ(forward->local, document.range_at(f.fixture.marks[1], f.fixture.marks[2]));
  EXPECT_EQ(forward->cursor, f.at(*f.fixture.cursor).at("position"));
  EXPECT_FALSE(forward->rename);

  // A dotted name: asked at the segment under the cursor.
  reply = rename(f.server, 1, f.at(f.fixture.marks[3] + 1, {{"newName", "Panel"}}));
  forward = std::get_if<server::AskChild>(&reply);
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->params.at("position"), document.position_at(f.fixture.marks[3]));
}

// Without a compile there is no generated call to ask at: renaming the tags
// alone would break the file, so nothing is offered.
TEST(RenameRequestsReplies, AComponentWithoutItsGeneratedCallIsNotRenamed) {
  Compiled f("local function Card() return nil end\nlocal x = <Ca^rd></Card>\nlocal y = <Frame");
  ASSERT_FALSE(f.server.documents.get(f.uri)->compiled);
  f.server.child.mark_ready(true);
  EXPECT_EQ(describe(rename(f.server, 1, f.at(*f.fixture.cursor, {{"newName", "Panel"}}))), "null");
  EXPECT_EQ(describe(prepare_rename(f.server, 1, f.at(*f.fixture.cursor))), "null");
}

// References on a tag name, opening or closing, are asked at the start of
// the segment under the cursor in the opening name, which the generated code
// copies; elsewhere at the editor's place.
// Every answer has the closing names joined.
TEST(RenameRequestsReplies, ReferencesOnAClosingNameAreAskedAtTheOpeningName) {
  const testing_support::MarkedText text(
      "local function Card() return nil end\nlocal ui = { Card = Card }\n"
      "x = <$Card$ T='x'></$Card$>\ny = <ui.$Card$></ui.$Card$>\n");
  Fixture f(text.text);
  const document::Document& document = f.server.documents.get(testing_support::REPLY_URI)->document;
  auto params_at = [&](std::size_t offset) {
    const json position = document.position_at(offset);
    json params = at(position.at("line"), position.at("character"));
    params["context"] = {{"includeDeclaration", true}};
    return params;
  };
  const auto& m = text.marks;
  struct Case {
    const char* what;
    std::size_t cursor;
    std::size_t asked;
  };
  const Case cases[] = {
      {"an opening name", m[0] + 2, m[0]},
      {"a closing name", m[2] + 2, m[0]},
      {"the end of a closing name", m[3], m[0]},
      {"a dotted closing name's segment", m[6] + 1, m[4]},
      {"the dotted closing name's first segment", m[6] - 2, m[4] - 3},
      {"Luau code", 16, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const server::Reply reply = references(f.server, 1, params_at(c.cursor));
    EXPECT_EQ(describe(reply), "forward textDocument/references join");
    ASSERT_TRUE(std::holds_alternative<server::AskChild>(reply));
    EXPECT_EQ(std::get<server::AskChild>(reply).params, params_at(c.asked));
  }
  // A document that is not open goes as it is, answered as any other.
  const json closed = at(0, 1, "file:///tmp/tovix-requests/closed.tovix");
  const server::Reply reply = references(f.server, 1, closed);
  ASSERT_TRUE(std::holds_alternative<server::AskChild>(reply));
  EXPECT_EQ(std::get<server::AskChild>(reply).params, closed);
}

// A new name that would break the file is refused without asking the
// child; in Luau code one that markup takes for a class goes with the
// refusal to make if the child's edits reach a tag.
TEST(RenameRequestsReplies, NewNamesThatWouldBreakTheFileAreRefused) {
  Compiled f("local function Card(props: any) return nil end\nlocal x = <Ca^rd Title=\"x\"></Card>\n");
  ASSERT_TRUE(f.server.documents.get(f.uri)->compiled);
  f.server.child.mark_ready(true);
  const std::size_t tag = *f.fixture.cursor;
  const std::size_t luau = f.fixture.text.find("Card");
  struct Case {
    std::size_t at;
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {tag, "Panel", "forward textDocument/rename rename"},
      {tag, "end", "error -32803 `end` is a Luau keyword"},
      {tag, "Frame", "error -32803 `Frame` is a Roblox class in markup"},
      {tag, "a-b", "error -32803 `a-b` is not a Luau identifier"},
      {luau, "Panel", "forward textDocument/rename rename"},
      {luau, "end", "error -32803 `end` is a Luau keyword"},
      {luau, "Frame", "forward textDocument/rename rename on_tags=`Frame` is a Roblox class in markup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.at) + " " + c.name);
    EXPECT_EQ(describe(rename(f.server, 1, f.at(c.at, {{"newName", c.name}}))), c.expected);
  }
}

TEST(RenameRequestsReplies, UnusableParamsAnswerNull) {
  Fixture f("return <Frame/>\n");
  const std::string other = "file:///tmp/tovix-requests/closed.tovix";
  for (const json& params : {at(-1, 0), at(0, 1.5), at(5, 0), at(0, 9, other), json::array(), json(nullptr)}) {
    SCOPED_TRACE(params.dump());
    EXPECT_EQ(describe(rename(f.server, 1, params)), "null");
    EXPECT_EQ(describe(prepare_rename(f.server, 1, params)), "null");
  }
}

}  // namespace
}  // namespace tovix_lsp::rename_requests
