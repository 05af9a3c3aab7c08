// Tag renames, the outline, semantic tokens and quick fixes over the wire,
// with no child running.

#include <algorithm>
#include <array>
#include <tuple>

#include <gtest/gtest.h>

#include "lsp_process.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::LspProcess;

const std::string URI = "file:///tmp/tovix-e2e/outline.tovix";

// An editor's side of one session: requests by id, notifications, and the
// diagnostics published for the document.
class Session {
 public:
  Session() : lsp_(TOVIX_LSP_BINARY, {}) {
    auto init = request("initialize", {{"capabilities", json::object()}});
    EXPECT_TRUE(init.is_object());
    notify("initialized", json::object());
    // The configuration request; no settings.
    auto config = lsp_.receive();
    EXPECT_TRUE(config && config->value("method", "") == "workspace/configuration");
    if (config) lsp_.send({{"jsonrpc", "2.0"}, {"id", config->at("id")}, {"result", {nullptr, nullptr}}});
  }
  ~Session() {
    lsp_.close_stdin();
    EXPECT_EQ(lsp_.wait(), 0);
  }

  void notify(const std::string& method, json params) {
    lsp_.send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }

  // The whole response to a request (result or error).
  json respond(const std::string& method, json params) {
    const int id = next_id_++;
    lsp_.send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    auto answer = lsp_.receive_until(
        [&](const json& m) { return m.contains("id") && m.at("id") == id && !m.contains("method"); });
    EXPECT_TRUE(answer) << method;
    return answer ? *answer : json();
  }
  json request(const std::string& method, json params) { return respond(method, std::move(params)).at("result"); }

  // Opens the document and returns its first diagnostics.
  json open(const std::string& text) {
    notify("textDocument/didOpen", {{"textDocument", {{"uri", URI}, {"version", version_}, {"text", text}}}});
    return diagnostics();
  }

  // Applies a WorkspaceEdit's edits of the document as the editor would (one
  // didChange, the later edits first so earlier positions stay put) and
  // returns the diagnostics published after it.
  json apply(const json& edit) {
    json edits = edit.at("changes").at(URI);
    std::vector<json> sorted(edits.begin(), edits.end());
    std::sort(sorted.begin(), sorted.end(), [](const json& a, const json& b) {
      auto key = [](const json& e) {
        return std::make_tuple(e.at("range").at("start").at("line").get<int>(),
                               e.at("range").at("start").at("character").get<int>());
      };
      return key(a) > key(b);
    });
    json changes = json::array();
    for (const json& e : sorted) changes.push_back({{"range", e.at("range")}, {"text", e.at("newText")}});
    notify("textDocument/didChange",
           {{"textDocument", {{"uri", URI}, {"version", ++version_}}}, {"contentChanges", std::move(changes)}});
    return diagnostics();
  }

  static json at(int line, int character) {
    return {{"position", {{"character", character}, {"line", line}}}, {"textDocument", {{"uri", URI}}}};
  }

 private:
  json diagnostics() {
    auto published = lsp_.receive_until([](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m.at("params").at("uri") == URI;
    });
    EXPECT_TRUE(published);
    return published ? published->at("params").at("diagnostics") : json();
  }

  LspProcess lsp_;
  int next_id_ = 1;
  int version_ = 1;
};

TEST(OutlineRequests, QuickFixForAMisspeltClassRemovesItsDiagnostic) {
  Session session;
  json diagnostics = session.open("local create = vide.create\nreturn <Txtlabel Text=\"x\">\n</Txtlabel>\n");
  ASSERT_EQ(diagnostics.size(), 1u);

  json params = {{"context", {{"diagnostics", diagnostics}}},
                 {"range", diagnostics.at(0).at("range")},
                 {"textDocument", {{"uri", URI}}}};
  json actions = session.request("textDocument/codeAction", params);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions.at(0).at("title"), "Change element to TextLabel");
  EXPECT_EQ(actions.at(0).at("diagnostics"), diagnostics);
  // Both tags are fixed, so the fix leaves nothing to report.
  EXPECT_EQ(actions.at(0).at("edit").at("changes").at(URI).size(), 2u);
  EXPECT_EQ(session.apply(actions.at(0).at("edit")), json::array());

  // Without the context's diagnostics there is nothing to fix.
  params.erase("context");
  EXPECT_EQ(session.request("textDocument/codeAction", params), json::array());
}

TEST(OutlineRequests, RenameOfTagNames) {
  Session session;
  ASSERT_EQ(session.open("local create = vide.create\nreturn <Frame>\n  <TextLabel Text=\"é\" />\n</Frame>\n"),
            json::array());

  json params = Session::at(3, 4);  // on the closing "Frame"
  params["newName"] = "ScrollingFrame";
  EXPECT_EQ(session.request("textDocument/prepareRename", Session::at(3, 4)).dump(),
            R"({"end":{"character":7,"line":3},"start":{"character":2,"line":3}})");
  json both = session.request("textDocument/rename", params);
  EXPECT_EQ(both.dump(),
            R"({"changes":{"file:///tmp/tovix-e2e/outline.tovix":[{"newText":"ScrollingFrame","range":)"
            R"({"end":{"character":13,"line":1},"start":{"character":8,"line":1}}},{"newText":"ScrollingFrame",)"
            R"("range":{"end":{"character":7,"line":3},"start":{"character":2,"line":3}}}]}})");
  EXPECT_EQ(session.apply(both), json::array());

  params = Session::at(2, 3);  // the self-closing TextLabel
  params["newName"] = "TextButton";
  json one = session.request("textDocument/rename", params);
  EXPECT_EQ(one.at("changes").at(URI).size(), 1u);
  EXPECT_EQ(session.apply(one), json::array());

  // A name that cannot be an element's: refused, saying why.
  params["newName"] = "Text Button";
  const json refused = session.respond("textDocument/rename", params);
  ASSERT_TRUE(refused.contains("error")) << refused.dump();
  EXPECT_EQ(refused.at("error").value("message", ""), "`Text Button` is not a tag name");
}

TEST(OutlineRequests, PrepareRenameRefusesFragmentsAndLuauWithoutAChild) {
  Session session;
  session.open("local create = vide.create\nlocal count = 1\nreturn <>\n  <Frame />\n</>\n");
  EXPECT_EQ(session.request("textDocument/prepareRename", Session::at(2, 8)), nullptr);
  EXPECT_EQ(session.request("textDocument/prepareRename", Session::at(4, 2)), nullptr);
  // Luau code is the child's alone to rename: without one, nothing starts.
  EXPECT_EQ(session.request("textDocument/prepareRename", Session::at(1, 8)), nullptr);
  json params = Session::at(1, 8);
  params["newName"] = "total";
  EXPECT_EQ(session.request("textDocument/rename", params), nullptr);
}

// A component's tags alone cannot be renamed soundly: without the child,
// which renames the function and every call, nothing is offered.
TEST(OutlineRequests, AComponentIsNotRenamedWithoutAChild) {
  Session session;
  ASSERT_EQ(session.open("local create = vide.create\nlocal function Card() return nil end\nreturn <Card></Card>\n"),
            json::array());
  EXPECT_EQ(session.request("textDocument/prepareRename", Session::at(2, 9)), nullptr);
  json params = Session::at(2, 16);
  params["newName"] = "Panel";
  EXPECT_EQ(session.request("textDocument/rename", params), nullptr);
}

TEST(OutlineRequests, DocumentSymbolsOfNestedMarkup) {
  Session session;
  session.open(
      "local create = vide.create\nreturn <Frame Name=\"root\">\n  <TextLabel Text=\"a\" />\n"
      "  {items.map(function(i) return <Folder /> end)}\n</Frame>\n");
  json symbols = session.request("textDocument/documentSymbol", {{"textDocument", {{"uri", URI}}}});
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols.at(0).at("name"), "Frame");
  EXPECT_EQ(symbols.at(0).at("detail"), "root");
  EXPECT_EQ(symbols.at(0).at("range").dump(), R"({"end":{"character":8,"line":4},"start":{"character":7,"line":1}})");
  ASSERT_EQ(symbols.at(0).at("children").size(), 2u);
  EXPECT_EQ(symbols.at(0).at("children").at(0).at("name"), "TextLabel");
  EXPECT_EQ(symbols.at(0).at("children").at(1).at("name"), "Folder");
  EXPECT_EQ(symbols.at(0).at("children").at(1).at("selectionRange").dump(),
            R"({"end":{"character":39,"line":3},"start":{"character":33,"line":3}})");
  EXPECT_EQ(session.request("textDocument/documentSymbol", {{"textDocument", {{"uri", "file:///tmp/other.tovix"}}}}),
            nullptr);
}

TEST(OutlineRequests, SemanticTokensDecodeToTheTagNames) {
  Session session;
  session.open(
      "local create = vide.create\nlocal Card = require(script.Card)\n"
      "return <Frame>{'😀'}<Card /><ui.Button /></Frame>\n");
  json tokens = session.request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", URI}}}});
  // (line, column, length, type), decoded from the relative encoding.
  std::vector<std::array<int, 4>> decoded;
  int line = 0;
  int column = 0;
  const json& data = tokens.at("data");
  ASSERT_EQ(data.size() % 5, 0u);
  for (std::size_t i = 0; i < data.size(); i += 5) {
    column = data[i] == 0 ? column + data[i + 1].get<int>() : data[i + 1].get<int>();
    line += data[i].get<int>();
    decoded.push_back({line, column, data[i + 2].get<int>(), data[i + 3].get<int>()});
  }
  EXPECT_EQ(decoded, (std::vector<std::array<int, 4>>{{2, 8, 5, 0}, {2, 21, 4, 1}, {2, 29, 9, 1}, {2, 43, 5, 0}}));
  EXPECT_EQ(session.request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", "untitled:x"}}}}), nullptr);
}

}  // namespace
}  // namespace tovix_lsp
