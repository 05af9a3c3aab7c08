#include "core/server.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

namespace tovix_lsp::server {
namespace {

using json = nlohmann::json;

// Splits what the server wrote into message bodies.
std::vector<json> messages(const std::string& wire) {
  std::vector<json> out;
  std::size_t pos = 0;
  while (pos < wire.size()) {
    auto end = wire.find("\r\n\r\n", pos);
    std::size_t length = std::stoul(wire.substr(pos + 16, end - pos - 16));
    out.push_back(json::parse(wire.substr(end + 4, length)));
    pos = end + 4 + length;
  }
  return out;
}

struct Fixture {
  Fixture() : handlers(Handlers::standard()) {
    auto fail = [](Server&, const json&, json) -> Reply { throw std::runtime_error("boom"); };
    handlers.requests["textDocument/hover"] = fail;
    handlers.notifications["test/fail"] = [](Server&, json) { throw std::logic_error("boom"); };
  }
  void editor(const std::string& text) {
    auto message = jsonrpc::from_value(json::parse(text));
    ASSERT_TRUE(message);
    server.guarded(std::move(*message), true);
  }
  Handlers handlers;
  io::StringOutput out;
  std::pair<events::Events::Sender, events::Events::Receiver> channel = events::Events::make();
  Server server{out, channel.first, handlers};
};

TEST(Guard, FailingRequestIsLoggedAndAnswered) {
  Fixture f;
  f.editor(R"({"id":5,"method":"textDocument/hover","params":{}})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].dump(),
            R"({"jsonrpc":"2.0","method":"window/logMessage","params":{"message":"tovix: internal error handling )"
            R"(textDocument/hover — please report it","type":1}})");
  EXPECT_EQ(sent[1].dump(),
            R"({"error":{"code":-32603,"message":"tovix-lsp could not handle this request"},"id":5,"jsonrpc":"2.0"})");
}

TEST(Guard, FailingNotificationIsOnlyLogged) {
  Fixture f;
  f.editor(R"({"method":"test/fail"})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.at(0).at("params").at("message"), "tovix: internal error handling test/fail — please report it");
}

TEST(Guard, FailuresOtherThanEditorRequestsAreOnlyLogged) {
  Fixture f;
  f.handlers.response = [](Server&, json, json) { throw std::runtime_error("boom"); };
  f.handlers.child = [](Server&, jsonrpc::Message) { throw std::runtime_error("boom"); };
  struct Case {
    const char* message;
    bool from_editor;
    const char* label;
  } cases[] = {
      {R"({"id":1,"method":"workspace/configuration"})", false, "workspace/configuration"},
      {R"({"method":"textDocument/publishDiagnostics"})", false, "textDocument/publishDiagnostics"},
      {R"({"id":2,"result":null})", false, "a response"},
      {R"({"id":3,"result":[null,null]})", true, "a response"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    f.out.data.clear();
    auto message = jsonrpc::from_value(json::parse(c.message));
    ASSERT_TRUE(message);
    f.server.guarded(std::move(*message), c.from_editor);
    auto sent = messages(f.out.data);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dump(), R"({"jsonrpc":"2.0","method":"window/logMessage","params":{"message":)"
                              R"("tovix: internal error handling )" +
                                  std::string(c.label) + R"( — please report it","type":1}})");
  }
}

TEST(Requests, UnknownMethodIsRefused) {
  Fixture f;
  f.editor(R"({"id":"a","method":"textDocument/formatting"})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(
      sent[0].dump(),
      R"({"error":{"code":-32601,"message":"textDocument/formatting is not supported"},"id":"a","jsonrpc":"2.0"})");
}

// Not taken for a response, which would go unanswered.
TEST(Requests, ARequestWhoseMethodIsNoStringIsRefusedUnderItsId) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"jsonrpc":"2.0","id":13,"method":5})", "13"},
      {R"({"id":"q","method":null,"params":{}})", R"("q")"},
      {R"({"id":[1],"method":{"m":1}})", "[1]"},
  };
  for (const auto& [message, id] : cases) {
    SCOPED_TRACE(message);
    Fixture f;
    f.editor(message);
    auto sent = messages(f.out.data);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].dump(), std::string(R"({"error":{"code":-32600,"message":"invalid request"},"id":)") + id +
                                  R"(,"jsonrpc":"2.0"})");
  }
}

TEST(Requests, InitializeAnswersTheCapabilities) {
  Fixture f;
  f.editor(R"({"id":1,"method":"initialize","params":{"capabilities":{"textDocument":{"completion":)"
           R"({"completionItem":{"snippetSupport":true}}}}}})");
  EXPECT_TRUE(f.server.snippet_support);
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.at(0).at("result").dump(),
            R"({"capabilities":{"codeActionProvider":{"codeActionKinds":["quickfix"]},"completionProvider":)"
            R"({"resolveProvider":false,"triggerCharacters":["<","/"," ",".",":","'","\"","\n"]},)"
            R"("definitionProvider":true,"documentHighlightProvider":true,"documentSymbolProvider":true,)"
            R"("foldingRangeProvider":true,"hoverProvider":true,"inlayHintProvider":true,"referencesProvider":true,)"
            R"("renameProvider":{"prepareProvider":true},"selectionRangeProvider":true,"semanticTokensProvider":)"
            R"({"full":true,"legend":{"tokenModifiers":[],"tokenTypes":["class","function"]}},)"
            R"("signatureHelpProvider":{"triggerCharacters":["(",","]},"textDocumentSync":{"change":2,)"
            R"("openClose":true,"save":{"includeText":false}},"typeDefinitionProvider":true},)"
            R"x("serverInfo":{"name":"tovix-lsp","version":"0.1.2 (tovix 0.1.3)"}})x");

  for (const char* snippet : {R"("true")", "false", "null"}) {
    SCOPED_TRACE(snippet);
    f.editor(std::string(R"({"id":2,"method":"initialize","params":{"capabilities":{"textDocument":)"
                         R"({"completion":{"completionItem":{"snippetSupport":)") +
             snippet + "}}}}}}");
    EXPECT_FALSE(f.server.snippet_support);
  }
  f.editor(R"({"id":3,"method":"initialize","params":[]})");
  EXPECT_FALSE(f.server.snippet_support);
  EXPECT_EQ(f.server.init_params, json::array());
}

TEST(Notifications, ConfigurationRequestsTakeConsecutiveIds) {
  Fixture f;
  f.editor(R"({"method":"initialized","params":{}})");
  f.editor(R"({"method":"workspace/didChangeConfiguration","params":{}})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].dump(), R"({"id":1,"jsonrpc":"2.0","method":"workspace/configuration","params":{"items":)"
                            R"([{"section":"luau-lsp"},{"section":"tovix"}]}})");
  EXPECT_EQ(sent.at(1).at("id"), 2);
  EXPECT_EQ(f.server.config_requests, (std::unordered_set<std::int64_t>{1, 2}));
  f.editor(R"({"id":1,"result":[null,null]})");
  EXPECT_EQ(f.server.config_requests, (std::unordered_set<std::int64_t>{2}));
}

TEST(Notifications, SetTrace) {
  Fixture f;
  struct Case {
    const char* params;
    bool trace;
  } cases[] = {
      {R"({"value":"off"})", false},
      {R"({"value":"messages"})", true},
      {R"({"value":""})", true},
      {R"({"value":"off"})", false},
      {R"({"value":3})", true},
      {R"({"value":"off"})", false},
      {R"({})", true},
      {R"({"value":"off"})", false},
      {R"(null)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    f.editor(std::string(R"({"method":"$/setTrace","params":)") + c.params + "}");
    EXPECT_EQ(f.server.trace, c.trace);
  }
}

TEST(Logging, OnceKeysStayForTheRun) {
  Fixture f;
  EXPECT_TRUE(f.server.first_time("sent:file:///a.luau"));
  EXPECT_FALSE(f.server.first_time("sent:file:///a.luau"));
  EXPECT_TRUE(f.server.first_time("heard:file:///a.luau"));
}

TEST(ChildExit, OnlyTheCurrentChildsEndCountsAndWarnsUnlessShuttingDown) {
  Fixture f;
  f.editor(R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///a.tovix","text":""}}})");
  auto start = [&] {
    auto child = proxy::Proxy::spawn(TOVIX_STAND_IN_BINARY, {"--stdio"}, f.channel.first);
    ASSERT_TRUE(child) << child.error().message;
    f.server.child.adopt(std::move(*child), true);
    f.server.documents.get("file:///a.tovix")->child.open = true;
  };
  start();
  const std::uint64_t first = f.server.child.child()->number();
  f.out.data.clear();
  f.server.child_exited(first + 1);  // not ours: nothing happens
  EXPECT_TRUE(f.server.child.running());
  EXPECT_EQ(f.out.data, "");

  f.server.child_exited(first);
  EXPECT_FALSE(f.server.child.running());
  EXPECT_FALSE(f.server.child.ready());
  EXPECT_FALSE(f.server.documents.get("file:///a.tovix")->child.open);
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.at(0).at("params").dump(), R"({"message":"tovix: luau-lsp exited — markup features only","type":2})");

  start();
  f.out.data.clear();
  f.server.shutdown_requested = true;
  f.server.child_exited(f.server.child.child()->number());
  EXPECT_FALSE(f.server.child.running());
  EXPECT_EQ(f.out.data, "");
}

}  // namespace
}  // namespace tovix_lsp::server

namespace tovix_lsp::server {
namespace {

TEST(DocumentSync, ChangeThatCannotApplyIsLoggedAndWhatAppliedIsPublished) {
  Fixture f;
  f.editor(
      R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///a.tovix","text":"ab\ncd","version":1.5}}})");
  ASSERT_NE(f.server.documents.get("file:///a.tovix"), nullptr);
  EXPECT_EQ(f.server.documents.get("file:///a.tovix")->document.version(), 0);
  f.out.data.clear();
  f.editor(
      R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///a.tovix","version":2},)"
      R"("contentChanges":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":1}},"text":"X"},)"
      R"({"range":{"start":{"line":9,"character":0},"end":{"line":9,"character":1}},"text":"Y"},)"
      R"({"range":{"start":{"line":1,"character":1},"end":{"line":1,"character":2}},"text":"Z"}]}})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent.at(0).at("params").dump(),
            R"({"message":"tovix: lost track of an edit — reopen the file to resynchronise","type":1})");
  EXPECT_EQ(sent.at(1).at("method"), "textDocument/publishDiagnostics");
  EXPECT_EQ(f.server.documents.get("file:///a.tovix")->document.text(), "Xb\ncZ");

  f.out.data.clear();
  f.editor(
      R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///never.tovix"},"contentChanges":[]}})");
  EXPECT_EQ(messages(f.out.data).size(), 1u);
}

TEST(DocumentSync, CloseClearsDiagnosticsEvenForUnknownDocuments) {
  Fixture f;
  f.editor(R"({"method":"textDocument/didClose","params":{"textDocument":{"uri":"file:///x.tovix"}}})");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(
      sent[0].dump(),
      R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[],"uri":"file:///x.tovix"}})");
}

TEST(DocumentSync, MalformedNotificationsAreIgnored) {
  Fixture f;
  for (const char* params : {"null", "[]", R"({"textDocument":3})", R"({"textDocument":{"uri":1,"text":"x"}})",
                             R"({"textDocument":{"uri":"file:///a"}})"}) {
    SCOPED_TRACE(params);
    f.editor(std::string(R"({"method":"textDocument/didOpen","params":)") + params + "}");
    f.editor(std::string(R"({"method":"textDocument/didSave","params":)") + params + "}");
    if (!std::string_view(params).contains("file:"))
      f.editor(std::string(R"({"method":"textDocument/didClose","params":)") + params + "}");
  }
  EXPECT_EQ(f.out.data, "");
  EXPECT_TRUE(f.server.documents.uris().empty());
}

}  // namespace
}  // namespace tovix_lsp::server

namespace tovix_lsp::server {
namespace {

TEST(DocumentSync, OpenRecordsTheGeneratedUriAndSaveOfAnUnopenedFileDoesNothing) {
  Fixture f;
  f.editor(
      R"({"method":"textDocument/didSave","params":{"textDocument":{"uri":"file:///tmp/nowhere/My%20App/a.tovix"}}})");
  EXPECT_EQ(f.out.data, "");  // nothing open, nothing analysed
  f.editor(
      R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///tmp/nowhere/My%20App/a.tovix","text":""}}})");
  EXPECT_EQ(f.server.documents.get("file:///tmp/nowhere/My%20App/a.tovix")->generated_uri(),
            "file:///tmp/nowhere/My%20App/a.luau");
  f.editor(R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"untitled:1","text":""}}})");
  EXPECT_EQ(f.server.documents.get("untitled:1")->generated_uri(), "");
}

}  // namespace
}  // namespace tovix_lsp::server

namespace tovix_lsp::server {
namespace {

namespace fs = std::filesystem;

TEST(DocumentSync, WatchedFilesReloadEveryProject) {
  struct TempDir {
    fs::path path;
    ~TempDir() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } dir{fs::temp_directory_path() / ("tovix-watched-" + std::to_string(std::random_device()()))};
  const fs::path& root = dir.path;
  fs::create_directories(root);
  const fs::path settings = root / "tovix.toml";
  std::ofstream(settings, std::ios::binary) << "[elements]\nTextLabel = \"Label\"\n";
  const std::string a = project::path_to_uri(root / "a.tovix");
  const std::string b = project::path_to_uri(root / "b.tovix");

  Fixture f;
  for (const auto& [uri, text] : {std::pair{a, "local create = vide.create\nreturn <Label />\n"},
                                  std::pair{b, "local create = vide.create\nreturn <Frame />\n"}}) {
    f.editor(json{{"method", "textDocument/didOpen"},
                  {"params", {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", text}}}}}}
                 .dump());
  }
  for (const json& sent : messages(f.out.data)) EXPECT_EQ(sent.at("params").at("diagnostics"), json::array());

  // The new file keeps the old modification time, so only forgetting the
  // cached projects shows it.
  const auto mtime = fs::last_write_time(settings);
  std::ofstream(settings, std::ios::binary | std::ios::trunc) << "[elements]\nTextLabel = 3\n";
  fs::last_write_time(settings, mtime);
  f.out.data.clear();
  f.editor(R"({"method":"workspace/didChangeWatchedFiles","params":{"changes":[]}})");

  // Each open document is published once more, as the new file has it.
  std::map<std::string, std::vector<std::string>> published;
  for (const json& sent : messages(f.out.data)) {
    ASSERT_EQ(sent.at("method"), "textDocument/publishDiagnostics");
    auto& list = published[sent["params"]["uri"]];
    EXPECT_TRUE(list.empty()) << "published twice";
    for (const json& d : sent.at("params").at("diagnostics")) list.push_back(d.at("message"));
  }
  const std::string error = "tovix.toml: invalid type: integer `3`, expected a string for key `elements.TextLabel`";
  EXPECT_EQ(published, (std::map<std::string, std::vector<std::string>>{
                           {a, {error, "<Label> is not a Roblox class and is not defined"}},
                           {b, {error}},
                       }));
}

}  // namespace
}  // namespace tovix_lsp::server

namespace tovix_lsp::server {
namespace {

// The main loop over events already waiting on the channel, no threads.
struct Loop : Fixture {
  Loop() {
    handlers.requests["test/text"] = [](Server& s, const json&, json params) -> Reply {
      return s.documents.get(params.at("uri").get<std::string>())->document.text();
    };
  }
  void editor_event(json value) { channel.first.send(events::Editor{std::move(value)}); }
  std::expected<void, io::Error> run(std::optional<io::Error> error = std::nullopt) {
    channel.first.send(events::EditorClosed{std::move(error)});
    return serve(server, channel.second);
  }
};

json change_at_start(const std::string& uri, int version, const std::string& text) {
  json position = {{"line", 0}, {"character", 0}};
  return {{"jsonrpc", "2.0"},
          {"method", "textDocument/didChange"},
          {"params",
           {{"textDocument", {{"uri", uri}, {"version", version}}},
            {"contentChanges", json::array({{{"range", {{"start", position}, {"end", position}}}, {"text", text}}})}}}};
}

json open_document(const std::string& uri, const std::string& text) {
  return {{"method", "textDocument/didOpen"}, {"params", {{"textDocument", {{"uri", uri}, {"text", text}}}}}};
}

TEST(Loop, EditsWaitingForOneDocumentAreAnalysedOnceAndWhatFollowsSeesTheirText) {
  Loop f;
  const std::string a = "file:///tmp/tovix-loop/a.tovix", b = "file:///tmp/tovix-loop/b.tovix";
  f.editor_event(open_document(a, "return 1\n"));
  f.editor_event(open_document(b, ""));
  for (int i = 0; i < 50; ++i) f.editor_event(change_at_start(a, i + 2, "x"));
  f.editor_event(change_at_start(a, 52, "\""));  // leaves a string open
  json refused = change_at_start(a, 53, "never");
  refused["params"]["contentChanges"][0]["range"]["start"]["line"] = 9;
  f.editor_event(refused);
  f.editor_event(change_at_start(a, 54, "y"));
  f.editor_event(change_at_start(b, 2, "z"));  // another document ends the burst
  f.editor_event(change_at_start(a, 55, "-"));
  f.editor_event({{"id", 1}, {"method", "test/text"}, {"params", {{"uri", a}}}});
  ASSERT_TRUE(f.run());

  std::vector<std::string> seen;
  for (const json& m : messages(f.out.data)) {
    if (m.value("method", "") == "textDocument/publishDiagnostics")
      seen.push_back(m.at("params").at("uri").get<std::string>() + " " +
                     std::to_string(m.at("params").at("diagnostics").size()));
    else if (m.value("method", "") == "window/logMessage")
      seen.push_back(m.at("params").at("message"));
    else
      seen.push_back(m.dump());
  }
  const std::string text = "y\"" + std::string(50, 'x') + "return 1\n";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      a + " 0",
                      b + " 0",
                      "tovix: lost track of an edit — reopen the file to resynchronise",
                      a + " 1",
                      b + " 0",
                      a + " 1",
                      json{{"id", 1}, {"jsonrpc", "2.0"}, {"result", "-" + text}}.dump(),
                  }));
  EXPECT_EQ(f.server.documents.get(a)->document.version(), 55);
}

TEST(Loop, RefusedMessagesAreAnsweredAndABadHeaderEndsWithItsError) {
  Loop f;
  f.channel.first.send(events::EditorRefused{true, nullptr, -32700, "message is not JSON: x"});
  f.editor_event({{"id", 2}, {"method", "nope"}});
  auto ended = f.run(io::Error{io::Error::Kind::InvalidData, "message header carried no Content-Length"});
  ASSERT_FALSE(ended);
  EXPECT_EQ(ended.error().message, "message header carried no Content-Length");
  auto sent = messages(f.out.data);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].dump(),
            R"({"error":{"code":-32700,"message":"message is not JSON: x"},"id":null,"jsonrpc":"2.0"})");
  EXPECT_EQ(sent.at(1).at("id"), 2);
}

}  // namespace
}  // namespace tovix_lsp::server
