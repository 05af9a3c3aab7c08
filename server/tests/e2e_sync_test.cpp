// An editor's session over the wire: open, edit, close, with the compiler's
// diagnostics published after every change.

#include <gtest/gtest.h>

#include "lsp_process.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::LspProcess;

const std::string BINARY = TOVIX_LSP_BINARY;
const std::string URI = "file:///tmp/tovix-e2e/doc.tovix";

json notification(const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

json change(int line, int character, int end_line, int end_character, const std::string& text) {
  return {{"range",
           {{"start", {{"line", line}, {"character", character}}},
            {"end", {{"line", end_line}, {"character", end_character}}}}},
          {"text", text}};
}

json did_change(const std::string& uri, int version, json changes) {
  return notification("textDocument/didChange",
                      {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", std::move(changes)}});
}

// Waits for the diagnostics of `uri`; other messages are kept in `skipped`.
// The timeout is generous: sanitizer builds compile a large document slowly.
std::optional<json> diagnostics_of(LspProcess& lsp, const std::string& uri, std::vector<json>* skipped = nullptr) {
  return lsp.receive_until(
      [&](const json& m) {
        return m.value("method", "") == "textDocument/publishDiagnostics" && m.at("params").at("uri") == uri;
      },
      skipped, std::chrono::seconds(120));
}

void start(LspProcess& lsp) {
  lsp.send({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", {{"capabilities", json::object()}}}});
  auto init = lsp.receive();
  ASSERT_TRUE(init);
  ASSERT_EQ(init->at("id"), 1);
  lsp.send(notification("initialized", json::object()));
  auto config = lsp.receive();
  ASSERT_TRUE(config);
  EXPECT_EQ(config->dump(), R"({"id":1,"jsonrpc":"2.0","method":"workspace/configuration","params":{"items":)"
                            R"([{"section":"luau-lsp"},{"section":"tovix"}]}})");
  lsp.send({{"jsonrpc", "2.0"}, {"id", 1}, {"result", {nullptr, nullptr}}});
}

TEST(Sync, DiagnosticsFollowEveryEdit) {
  LspProcess lsp(BINARY, {"--stdio"});
  start(lsp);

  lsp.send(notification(
      "textDocument/didOpen",
      {{"textDocument",
        {{"uri", URI}, {"languageId", "tovix"}, {"version", 1}, {"text", "local s = \"abc\nreturn s\n"}}}}));
  auto opened = diagnostics_of(lsp, URI);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->dump(),
            R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[{"message":)"
            R"("unterminated string","range":{"end":{"character":11,"line":0},"start":{"character":10,"line":0}},)"
            R"("severity":1,"source":"tovix"}],"uri":"file:///tmp/tovix-e2e/doc.tovix"}})");

  // Close the string: the file compiles.
  lsp.send(did_change(URI, 2, json::array({change(0, 14, 0, 14, "\"")})));
  auto fixed = diagnostics_of(lsp, URI);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->at("params").at("diagnostics"), json::array());

  // Break it again on the second line, after a non-ASCII character: the
  // column counts UTF-16 units.
  lsp.send(did_change(URI, 3, json::array({change(1, 0, 1, 0, "local a = \"é😀\" .. "), change(1, 19, 1, 19, "'x ")})));
  auto broken = diagnostics_of(lsp, URI);
  ASSERT_TRUE(broken);
  EXPECT_EQ(broken->at("params").at("diagnostics").at(0).at("message"), "unterminated string");
  EXPECT_EQ(broken->at("params").at("diagnostics").at(0).at("range").dump(),
            R"({"end":{"character":20,"line":1},"start":{"character":19,"line":1}})");

  lsp.send(notification("textDocument/didClose", {{"textDocument", {{"uri", URI}}}}));
  auto closed = diagnostics_of(lsp, URI);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->dump(), R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[],)"
                            R"("uri":"file:///tmp/tovix-e2e/doc.tovix"}})");

  lsp.send({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "shutdown"}});
  auto down = lsp.receive_until([](const json& m) { return m.contains("id") && m.at("id") == 2; });
  ASSERT_TRUE(down);
  lsp.send(notification("exit", nullptr));
  EXPECT_EQ(lsp.wait(), 0);
}

TEST(Sync, MarkupDiagnosticsCarryHelpAndQuickFixData) {
  LspProcess lsp(BINARY, {});
  start(lsp);
  const std::string uri = "file:///tmp/tovix-e2e/ui.tovix";
  lsp.send(notification(
      "textDocument/didOpen",
      {{"textDocument",
        {{"uri", uri}, {"version", 1}, {"text", "local create = vide.create\nreturn <Txtlabel Text=\"é\" />\n"}}}}));
  auto d = diagnostics_of(lsp, uri);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->at("params").at("diagnostics").dump(),
            R"([{"data":{"candidates":["TextLabel"],"kind":"element","range":{"end":{"character":16,"line":1},)"
            R"("start":{"character":8,"line":1}}},"message":"<Txtlabel> is not a Roblox class and is not defined",)"
            R"("range":{"end":{"character":16,"line":1},"start":{"character":7,"line":1}},"relatedInformation":)"
            R"([{"location":{"range":{"end":{"character":16,"line":1},"start":{"character":7,"line":1}},)"
            R"("uri":"file:///tmp/tovix-e2e/ui.tovix"},"message":"did you mean <TextLabel>?"}],"severity":1,)"
            R"("source":"tovix"}])");
  // Fix the name: no diagnostics left.
  lsp.send(did_change(uri, 2, json::array({change(1, 8, 1, 16, "TextLabel")})));
  auto fixed = diagnostics_of(lsp, uri);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->at("params").at("diagnostics"), json::array());
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(), 0);
}

TEST(Sync, BadInputLosesNothingAndTheServerGoesOn) {
  LspProcess lsp(BINARY, {});
  start(lsp);
  const std::string big_uri = "file:///tmp/tovix-e2e/big.tovix";
  std::string big;
  while (big.size() < 5 * 1024 * 1024) big += "local value = { 1, 2, 3 } -- filler line with some text\n";

  for (const json& params :
       {json(nullptr), json::array(), json{{"textDocument", 7}}, json{{"textDocument", {{"uri", 3}, {"text", "x"}}}},
        json{{"textDocument", {{"uri", URI}}}}}) {
    lsp.send(notification("textDocument/didOpen", params));
    lsp.send(notification("textDocument/didChange", params));
    lsp.send(notification("textDocument/didSave", params));
  }
  lsp.send(notification("textDocument/didOpen", {{"textDocument", {{"uri", big_uri}, {"version", 1}, {"text", big}}}}));
  auto big_diagnostics = diagnostics_of(lsp, big_uri);
  ASSERT_TRUE(big_diagnostics);
  EXPECT_EQ(big_diagnostics->at("params").at("diagnostics"), json::array());

  // An edit far out of range is refused and logged; the document stays as it
  // was, and its diagnostics are published again.
  lsp.send(did_change(big_uri, 2, json::array({change(999999, 0, 999999, 1, "x")})));
  std::vector<json> skipped;
  auto unchanged = diagnostics_of(lsp, big_uri, &skipped);
  ASSERT_TRUE(unchanged);
  EXPECT_EQ(unchanged->at("params").at("diagnostics"), json::array());
  lsp.send(did_change("file:///tmp/tovix-e2e/never-opened.tovix", 1, json::array({change(0, 0, 0, 0, "x")})));
  lsp.send(did_change(big_uri, 3, json::array({change(0, 0, 0, 0, "\"")})));  // breaks line 1
  auto after = diagnostics_of(lsp, big_uri, &skipped);
  ASSERT_TRUE(after);
  ASSERT_EQ(after->at("params").at("diagnostics").size(), 1u);
  EXPECT_EQ(after->at("params").at("diagnostics").at(0).at("range").at("start").dump(), R"({"character":0,"line":0})");
  int lost = 0;
  for (const json& m : skipped)
    if (m.value("method", "") == "window/logMessage" &&
        m.at("params").at("message") == "tovix: lost track of an edit — reopen the file to resynchronise")
      ++lost;
  EXPECT_EQ(lost, 2);

  lsp.send({{"jsonrpc", "2.0"}, {"id", 5}, {"method", "workspace/symbol"}, {"params", json::object()}});
  auto answer = lsp.receive_until([](const json& m) { return m.contains("id") && m.at("id") == 5; });
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->at("error").at("code"), -32601);
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(), 0);
}

}  // namespace
}  // namespace tovix_lsp
