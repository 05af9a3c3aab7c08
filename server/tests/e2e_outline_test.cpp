// Tag renames, the outline, semantic tokens and quick fixes over the wire,
// with no child running.

#include <algorithm>
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
    if (config) lsp_.send({{"jsonrpc", "2.0"}, {"id", (*config)["id"]}, {"result", {nullptr, nullptr}}});
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
    auto answer = lsp_.receive_until([&](const json& m) { return m.contains("id") && m["id"] == id && !m.contains("method"); });
    EXPECT_TRUE(answer) << method;
    return answer ? *answer : json();
  }
  json request(const std::string& method, json params) { return respond(method, std::move(params))["result"]; }

  // Opens the document and returns its first diagnostics.
  json open(const std::string& text) {
    notify("textDocument/didOpen", {{"textDocument", {{"uri", URI}, {"version", version_}, {"text", text}}}});
    return diagnostics();
  }

  // Applies a WorkspaceEdit's edits of the document as the editor would (one
  // didChange, the later edits first so earlier positions stay put) and
  // returns the diagnostics published after it.
  json apply(const json& edit) {
    json edits = edit["changes"][URI];
    std::vector<json> sorted(edits.begin(), edits.end());
    std::sort(sorted.begin(), sorted.end(), [](const json& a, const json& b) {
      auto key = [](const json& e) {
        return std::make_tuple(e["range"]["start"]["line"].get<int>(), e["range"]["start"]["character"].get<int>());
      };
      return key(a) > key(b);
    });
    json changes = json::array();
    for (const json& e : sorted) changes.push_back({{"range", e["range"]}, {"text", e["newText"]}});
    notify("textDocument/didChange", {{"textDocument", {{"uri", URI}, {"version", ++version_}}},
                                      {"contentChanges", std::move(changes)}});
    return diagnostics();
  }

  static json at(int line, int character) {
    return {{"position", {{"character", character}, {"line", line}}}, {"textDocument", {{"uri", URI}}}};
  }

 private:
  json diagnostics() {
    auto published = lsp_.receive_until([](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == URI;
    });
    EXPECT_TRUE(published);
    return published ? (*published)["params"]["diagnostics"] : json();
  }

  LspProcess lsp_;
  int next_id_ = 1;
  int version_ = 1;
};

TEST(OutlineRequests, QuickFixForAMisspeltClassRemovesItsDiagnostic) {
  Session session;
  json diagnostics = session.open("local create = vide.create\nreturn <Txtlabel Text=\"x\" />\n");
  ASSERT_EQ(diagnostics.size(), 1u);

  json params = {{"context", {{"diagnostics", diagnostics}}},
                 {"range", diagnostics[0]["range"]},
                 {"textDocument", {{"uri", URI}}}};
  json actions = session.request("textDocument/codeAction", params);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0]["title"], "Change element to TextLabel");
  EXPECT_EQ(actions[0]["diagnostics"], diagnostics);
  EXPECT_EQ(session.apply(actions[0]["edit"]), json::array());

  // Without the context's diagnostics there is nothing to fix.
  params.erase("context");
  EXPECT_EQ(session.request("textDocument/codeAction", params), json::array());
}

}  // namespace
}  // namespace tovix_lsp
