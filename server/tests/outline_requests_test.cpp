#include "core/outline_requests.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/sync.h"
#include "features/symbols.h"
#include "marked_text.h"

namespace tovix_lsp::outline_requests {
namespace {

using json = nlohmann::json;

const std::string URI = "file:///tmp/tovix-requests/a.tovix";

// A server with one open document; handlers are called directly, so the
// reply they return is seen before the core carries it out.
struct Fixture {
  explicit Fixture(std::string text) { server.documents.open(URI, std::move(text), 1); }
  io::StringOutput out;
  std::pair<proxy::Events::Sender, proxy::Events::Receiver> channel = proxy::Events::make();
  server::Server server{out, channel.first};
};

json at(json line, json character, std::string uri = URI) {
  return {{"position", {{"character", character}, {"line", line}}}, {"textDocument", {{"uri", std::move(uri)}}}};
}

// The reply as one line: "null", "value <json>" or "forward <method> local=<json> rename".
std::string describe(const server::Reply& reply) {
  if (const auto* value = std::get_if<json>(&reply)) return value->is_null() ? "null" : "value " + value->dump();
  if (const auto* forward = std::get_if<server::Forward>(&reply))
    return "forward " + forward->method + (forward->local ? " local=" + forward->local->dump() : "") +
           (forward->rename ? " rename" : "");
  return "other";
}

TEST(OutlineRequestsReplies, WhatIsForwardedAndHow) {
  Fixture f("local count = 1\nreturn <Frame>{count}</Frame>\n");
  json params = at(0, 8);
  params["newName"] = "total";
  // Forwarded params are the editor's, unchanged.
  const server::Reply luau = rename(f.server, 1, params);
  ASSERT_TRUE(std::holds_alternative<server::Forward>(luau));
  EXPECT_EQ(std::get<server::Forward>(luau).params, params);
  EXPECT_EQ(describe(luau), "forward textDocument/rename rename");
  // prepareRename in Luau code waits for a ready child; the name under the
  // cursor answers when the child has nothing to say.
  EXPECT_EQ(describe(prepare_rename(f.server, 1, at(1, 17))), "null");
  f.server.child_ready = true;
  EXPECT_EQ(describe(prepare_rename(f.server, 1, at(1, 17))),
            R"(forward textDocument/prepareRename local={"end":{"character":20,"line":1},"start":{"character":15,"line":1}})");
  EXPECT_EQ(describe(prepare_rename(f.server, 1, at(0, 2))), "forward textDocument/prepareRename");
  f.server.child_ready = false;

  // A rename without "newName" renames to the empty name: refused.
  EXPECT_EQ(describe(rename(f.server, 1, at(1, 9))), "null");

  json action = {{"textDocument", {{"uri", URI}}}, {"range", at(0, 0)["position"]}};
  EXPECT_EQ(describe(code_action(f.server, 1, action)), "forward textDocument/codeAction local=[]");
  action["context"] = {{"diagnostics", 3}};
  EXPECT_EQ(describe(code_action(f.server, 1, action)), "forward textDocument/codeAction local=[]");
  EXPECT_EQ(describe(code_action(f.server, 1, json::object())), "null");
}

// The outline is written as text, and the core sends it as it is: the
// response an editor reads is the one the value would give.
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
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tovix_outline_" + std::to_string(::getpid()));
  std::string uri;
  io::StringOutput out;
  std::pair<proxy::Events::Sender, proxy::Events::Receiver> channel = proxy::Events::make();
  server::Server server{out, channel.first};
};

// A component's name is renamed by the child at the opening name, which the
// generated call copies; prepareRename keeps the name under the cursor as
// its stand-in, and the cursor to check the child's range against.
TEST(OutlineRequestsReplies, ComponentsAreAskedAtTheirOpeningName) {
  Compiled f("local function Card(props: any) return nil end\nlocal UI = { Card = Card }\n"
             "local x = <$Card Title=\"x\"></$Ca^rd$>\nlocal y = <UI.$Card/>\n");
  ASSERT_TRUE(f.server.documents.get(f.uri)->compiled);
  const json cursor = f.at(*f.fixture.cursor, {{"newName", "Panel"}});
  server::Reply reply = rename(f.server, 1, cursor);
  auto* forward = std::get_if<server::Forward>(&reply);
  ASSERT_TRUE(forward);
  EXPECT_EQ(describe(reply), "forward textDocument/rename rename");
  EXPECT_EQ(forward->params, f.at(f.fixture.marks[0], {{"newName", "Panel"}}));

  EXPECT_EQ(describe(prepare_rename(f.server, 1, f.at(*f.fixture.cursor))), "null");  // no child ready
  f.server.child_ready = true;
  reply = prepare_rename(f.server, 1, f.at(*f.fixture.cursor));
  forward = std::get_if<server::Forward>(&reply);
  ASSERT_TRUE(forward);
  const document::Document& document = f.server.documents.get(f.uri)->document;
  EXPECT_EQ(forward->params, f.at(f.fixture.marks[0]));
  EXPECT_EQ(forward->local, document.range_at(f.fixture.marks[1], f.fixture.marks[2]));
  EXPECT_EQ(forward->cursor, f.at(*f.fixture.cursor)["position"]);
  EXPECT_FALSE(forward->rename);

  // A dotted name: asked at the segment under the cursor.
  reply = rename(f.server, 1, f.at(f.fixture.marks[3] + 1, {{"newName", "Panel"}}));
  forward = std::get_if<server::Forward>(&reply);
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->params["position"], document.position_at(f.fixture.marks[3]));
}

// Without a compile there is no generated call to ask at: renaming the tags
// alone would break the file, so nothing is offered.
TEST(OutlineRequestsReplies, AComponentWithoutItsGeneratedCallIsNotRenamed) {
  Compiled f("local function Card() return nil end\nlocal x = <Ca^rd></Card>\nlocal y = <Frame");
  ASSERT_FALSE(f.server.documents.get(f.uri)->compiled);
  f.server.child_ready = true;
  EXPECT_EQ(describe(rename(f.server, 1, f.at(*f.fixture.cursor, {{"newName", "Panel"}}))), "null");
  EXPECT_EQ(describe(prepare_rename(f.server, 1, f.at(*f.fixture.cursor))), "null");
}

TEST(OutlineRequestsReplies, SymbolsAreSentAsWritten) {
  Fixture f("local a = <Frame Name='top'><TextLabel/></Frame>\nreturn <>{a}</>\n");
  server::Reply reply = document_symbol(f.server, 1, at(0, 0));
  const auto* written = std::get_if<server::Serialized>(&reply);
  ASSERT_TRUE(written);
  const json expected = symbols::symbols(f.server.documents.get(URI)->document);
  EXPECT_EQ(written->json, expected.dump());
  f.server.answer(4, std::move(reply));
  const std::string body = json{{"id", 4}, {"jsonrpc", "2.0"}, {"result", expected}}.dump();
  EXPECT_EQ(f.out.data, "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST(OutlineRequestsReplies, UnusableParamsAnswerNull) {
  Fixture f("return <Frame/>\n");
  const std::string other = "file:///tmp/tovix-requests/closed.tovix";
  for (const json& params : {at(-1, 0), at(0, 1.5), at(5, 0), at(0, 9, other), json::array(), json(nullptr)}) {
    SCOPED_TRACE(params.dump());
    EXPECT_EQ(describe(rename(f.server, 1, params)), "null");
    EXPECT_EQ(describe(prepare_rename(f.server, 1, params)), "null");
  }
  EXPECT_EQ(describe(document_symbol(f.server, 1, at(0, 0, other))), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, at(0, 0, other))), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, json::object())), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, at(0, 0))), R"(value {"data":[0,8,5,0,0]})");
}

}  // namespace
}  // namespace tovix_lsp::outline_requests
