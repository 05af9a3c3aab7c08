#include "core/child_session.h"

#include <gtest/gtest.h>

namespace tovix_lsp::child_session {
namespace {

using json = nlohmann::json;

TEST(Merged, FollowsTheRulesInOrder) {
  struct Case {
    const char* what;
    std::optional<json> local;
    json child;
    json expected;
  };
  const json hover = {{"contents", {{"kind", "markdown"}, {"value", "x"}}}};
  const Case cases[] = {
      {"no local part", std::nullopt, json{{"a", 1}}, json{{"a", 1}}},
      {"no local part, null child", std::nullopt, nullptr, nullptr},
      {"arrays join, local first", json::array({1}), json::array({2, 3}), json::array({1, 2, 3})},
      {"null child keeps the local array", json::array({1}), nullptr, json::array({1})},
      {"null child keeps a local hover", hover, nullptr, hover},
      {"an object replaces a local array", json::array({1}), json{{"o", 1}}, json{{"o", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(merged(c.local ? &*c.local : nullptr, c.child), c.expected);
  }
}

TEST(LostTheDocument, NeedsTheCodeAndTheMarker) {
  EXPECT_TRUE(
      lost_the_document(json::parse(R"({"code":-32803,"message":"No managed text document for file:///x.luau"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803,"message":"something else"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32802,"message":"No managed text document"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803.0,"message":"No managed text document"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803})")));
  EXPECT_FALSE(lost_the_document(nullptr));
}

}  // namespace
}  // namespace tovix_lsp::child_session

#include <stdexcept>

#include "core/server.h"
#include "features/completion.h"

namespace tovix_lsp::child_session {
namespace {

// What the server wrote, one message body each.
std::vector<json> written(const std::string& wire) {
  std::vector<json> out;
  for (std::size_t pos = 0; pos < wire.size();) {
    const auto end = wire.find("\r\n\r\n", pos);
    const std::size_t length = std::stoul(wire.substr(pos + 16, end - pos - 16));
    out.push_back(json::parse(wire.substr(end + 4, length)));
    pos = end + 4 + length;
  }
  return out;
}

TEST(ChildAnswers, AFailureWhileHandlingOneStillAnswersTheEditorsRequest) {
  server::Handlers handlers = server::Handlers::standard();
  handlers.child = [](server::Server&, jsonrpc::Message) { throw std::runtime_error("boom"); };
  io::StringOutput out;
  auto channel = events::Events::make();
  server::Server s(out, channel.first, handlers);
  s.child.pending().emplace(4, child_session::Pending{child_session::Pending::Asked{json(9), "file:///a.tovix",
                                                                                    std::nullopt, false, nullptr}});
  s.child.pending().emplace(5,
                            child_session::Pending{child_session::Pending::Props{json("p"), "Card", nullptr, false}});
  s.child.pending().emplace(6, child_session::Pending{child_session::Pending::Initialize{}});
  const json log = {
      {"jsonrpc", "2.0"},
      {"method", "window/logMessage"},
      {"params", {{"message", "tovix: internal error handling a response — please report it"}, {"type", 1}}}};
  struct Case {
    int child_id;
    json editor_id;  // null: nobody waits
  } cases[] = {{4, 9}, {5, "p"}, {6, nullptr}, {7, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.child_id);
    out.data.clear();
    auto message = jsonrpc::from_value({{"jsonrpc", "2.0"}, {"id", c.child_id}, {"result", nullptr}});
    ASSERT_TRUE(message);
    s.guarded(std::move(*message), false);
    std::vector<json> expected = {log};
    if (!c.editor_id.is_null())
      expected.push_back(json{{"error", {{"code", -32603}, {"message", "tovix-lsp could not handle this request"}}},
                              {"id", c.editor_id},
                              {"jsonrpc", "2.0"}});
    EXPECT_EQ(written(out.data), expected);
  }
}

// A body of the child's read past for its length: said in one line; what
// waited for it, if it was an answer, is answered as when the child cannot.
TEST(ChildAnswers, AnAnswerTooLongToReadStillAnswersWhatWaited) {
  open_documents::OpenDocuments documents;
  std::int64_t next_id = 1;
  ChildSession session;
  session.pending().emplace(4, Pending{Pending::Asked{json(9), "file:///a.tovix", json::array({1}), false, nullptr}});
  session.pending().emplace(5, Pending{Pending::Props{json("p"), "Card", nullptr, false}});
  const json said = jsonrpc::build::notification(
      "window/logMessage", {{"message", "tovix: luau-lsp sent a message of 70000000 bytes, over the " +
                                            std::to_string(proxy::MAX_CHILD_BODY) + "-byte limit — skipped"},
                            {"type", 2}});
  struct Case {
    const char* what;
    json id;
    bool response;
    bool owed_answer;
    std::vector<json> expected;
  } cases[] = {
      // The local part was worked out on a text no longer known: not sent.
      {"an answer to a request", 4, true, false, {said, jsonrpc::build::result(9, nullptr)}},
      {"an answer to a props question", 5, true, false, {said, jsonrpc::build::result("p", completion::empty_list())}},
      {"an answer nothing waits for", 4, true, false, {said}},
      {"an answer under an id that is no number", "4", true, false, {said}},
      {"a request of the child's", 4, false, true, {said}},
      {"a notification", nullptr, false, false, {said}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    jsonrpc::Refused refused{"", c.owed_answer, jsonrpc::INVALID_REQUEST, c.id, c.response, 70000000};
    Effects effects = session.skipped({documents, next_id}, refused);
    std::vector<json> sent;
    for (Effect& effect : effects) sent.push_back(std::get<json>(effect));
    EXPECT_EQ(sent, c.expected);
  }
  EXPECT_TRUE(session.pending().empty());
}

}  // namespace
}  // namespace tovix_lsp::child_session

#include <fcntl.h>

#include "temp_tree.h"
#include "workspace/project.h"

namespace tovix_lsp::child_session {
namespace {

// A server with one document open and compiled and a ready child that
// reads nothing back: what it is asked waits until the test answers.
struct Bridge {
  Bridge() {
    tree.file("tovix.toml");
    editor({{"method", "textDocument/didOpen"},
            {"params", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", TEXT}}}}}});
    auto child = proxy::Proxy::attach(process::Fd(::open("/dev/null", O_WRONLY | O_CLOEXEC)), channel.first);
    EXPECT_TRUE(child);
    server.child.adopt(std::move(*child), true);
    out.data.clear();
  }
  void editor(json message) {
    auto m = jsonrpc::from_value(std::move(message));
    ASSERT_TRUE(m);
    server.guarded(std::move(*m), true);
  }
  void ask(const char* method, int line, int character) {
    editor({{"id", 7},
            {"method", method},
            {"params", {{"textDocument", {{"uri", uri}}}, {"position", {{"line", line}, {"character", character}}}}}});
  }
  // The one request waiting at the child.
  std::int64_t waiting() const {
    EXPECT_EQ(server.child.pending().size(), 1u);
    return server.child.pending().empty() ? 0 : server.child.pending().begin()->first;
  }
  void edit() {
    json change = json::parse(R"({"method":"textDocument/didChange","params":{"textDocument":{"version":2},
        "contentChanges":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}},
                           "text":"-- a line more\n"}]}})");
    change["params"]["textDocument"]["uri"] = uri;
    editor(std::move(change));
  }
  // The editor's answer to request 7, the one message of that id.
  json answer() const {
    std::optional<json> found;
    for (const json& m : written(out.data)) {
      if (!m.contains("id") || m.at("id") != 7) continue;
      EXPECT_FALSE(found) << "answered twice";
      found = m;
    }
    EXPECT_TRUE(found) << out.data;
    return found ? (found->contains("result") ? found->at("result") : found->at("error")) : json();
  }

  static constexpr const char* TEXT =
      "local create = require(script.vide).create\n"
      "local function Card(props: { title: string })\n"
      "\treturn <TextLabel Text={props.title} />\n"
      "end\n"
      "return <Card title=\"x\" />\n";
  testing::TempTree tree;
  std::string uri = project::path_to_uri(tree.root() / "a.tovix");
  io::StringOutput out;
  std::pair<events::Events::Sender, events::Events::Receiver> channel = events::Events::make();
  server::Server server{out, channel.first};
};

// What the server worked out on the text a request was asked of (a hover's
// local part, the range component props replace) is of that text: once the
// text has changed, the child's answer, or its end, comes without it.
TEST(ChildAnswers, WhatWasWorkedOutOnAnEarlierTextIsNotSent) {
  struct Case {
    const char* what;
    const char* method;
    int character;  // on line 4
    bool edited;
    bool child_ends;  // rather than answering null
    bool local;       // the answer is what the server worked out
  };
  const Case cases[] = {
      {"hover on a component, unchanged", "textDocument/hover", 9, false, false, true},
      {"hover on a component, edited", "textDocument/hover", 9, true, false, false},
      {"hover on a component, unchanged, child gone", "textDocument/hover", 9, false, true, true},
      {"hover on a component, edited, child gone", "textDocument/hover", 9, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bridge b;
    b.ask(c.method, 4, c.character);
    const std::int64_t child_id = b.waiting();
    if (c.edited) b.edit();
    if (c.child_ends)
      b.server.child_exited(b.server.child.child()->number());
    else
      b.server.guarded(*jsonrpc::from_value({{"id", child_id}, {"result", nullptr}}), false);
    const json answer = b.answer();
    if (c.local) {
      EXPECT_EQ(answer.at("range"),
                json::parse(R"({"start":{"line":4,"character":8},"end":{"line":4,"character":12}})"));
    } else {
      EXPECT_EQ(answer, nullptr);
    }
  }
}

TEST(ChildAnswers, PropsForAnEarlierTextAreNotSent) {
  const json items = json::parse(R"({"items":[{"label":"title","sortText":"1","kind":5}]})");
  for (bool edited : {false, true}) {
    SCOPED_TRACE(edited ? "edited" : "unchanged");
    Bridge b;
    b.ask("textDocument/completion", 4, 15);  // in "title"
    const std::int64_t child_id = b.waiting();
    if (edited) b.edit();
    b.server.guarded(*jsonrpc::from_value({{"id", child_id}, {"result", items}}), false);
    const json answer = b.answer();
    ASSERT_TRUE(answer.contains("items")) << answer;
    EXPECT_EQ(answer.at("items").size(), edited ? 0u : 1u) << answer;
  }
}

}  // namespace
}  // namespace tovix_lsp::child_session
