// The markup requests over the wire, with no luau-lsp: completion, hover,
// go to definition and the closing tag answered by the server alone, names
// spelled the way the project's `tovix.toml` writes them.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "editor_session.h"
#include "features/api.h"
#include "lsp_process.h"
#include "marked_text.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::LspProcess;
using testing_support::MarkedText;

const std::string BINARY = TOVIX_LSP_BINARY;

json notification(const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

// A session in a project directory of its own, whose `tovix.toml` aliases
// TextLabel and writes elements in camelCase.
class Session {
 public:
  Session() : lsp_(BINARY, {"--stdio"}) {
    dir_ = std::filesystem::temp_directory_path() / ("tovix_e2e_markup_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "tovix.toml") << "[elements]\nall = \"camelCase\"\nTextLabel = \"Label\"\n";
    request("initialize",
            {{"capabilities", {{"textDocument", {{"completion", {{"completionItem", {{"snippetSupport", true}}}}}}}}}});
    lsp_.send(notification("initialized", json::object()));
    auto config = lsp_.receive_until([](const json& m) { return m.value("method", "") == "workspace/configuration"; });
    EXPECT_TRUE(config);
    if (config) lsp_.send({{"jsonrpc", "2.0"}, {"id", config->at("id")}, {"result", {nullptr, nullptr}}});
  }
  ~Session() {
    lsp_.close_stdin();
    lsp_.wait();
    std::filesystem::remove_all(dir_);
  }

  // Opens the fixture's text as a new document; returns its URI.
  std::string open(const MarkedText& fixture) {
    const std::string uri = "file://" + (dir_ / ("doc" + std::to_string(++documents_) + ".tovix")).string();
    lsp_.send(notification("textDocument/didOpen",
                           {{"textDocument", {{"uri", uri}, {"version", 1}, {"text", fixture.text}}}}));
    return uri;
  }

  // The result of `method` at the fixture's cursor in a new document.
  json at_cursor(const std::string& method, std::string_view fixture_text, std::string* uri_out = nullptr) {
    const MarkedText fixture(fixture_text);
    const std::string uri = open(fixture);
    if (uri_out) *uri_out = uri;
    return request(
        method, {{"textDocument", {{"uri", uri}}}, {"position", testing::position_of(fixture.text, *fixture.cursor)}});
  }

  json request(const std::string& method, json params) {
    const int id = ++requests_;
    lsp_.send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
    auto answer = lsp_.receive_until(
        [&](const json& m) { return m.contains("id") && m.at("id") == id && !m.contains("method"); });
    EXPECT_TRUE(answer) << method;
    if (!answer) return nullptr;
    EXPECT_FALSE(answer->contains("error")) << answer->dump();
    return answer->value("result", json());
  }

 private:
  LspProcess lsp_;
  std::filesystem::path dir_;
  int documents_ = 0;
  int requests_ = 0;
};

const json* find_label(const json& list, std::string_view label) {
  for (const json& item : list.at("items")) {
    if (item.at("label") == label) return &item;
  }
  return nullptr;
}

json range(int line, int start, int end) {
  return {{"start", {{"line", line}, {"character", start}}}, {"end", {{"line", line}, {"character", end}}}};
}

TEST(MarkupE2E, ElementNamesSpelledTheProjectsWay) {
  Session s;
  const json list = s.at_cursor("textDocument/completion",
                                "local create = nil\nlocal function TextCard() end\n\nlocal s, x = \"é\", <Text^");
  ASSERT_TRUE(list.is_object());
  EXPECT_EQ(list.at("isIncomplete"), false);
  const json label = {{"detail", "Roblox class TextLabel"},
                      {"kind", 7},
                      {"label", "Label"},
                      {"sortText", "1Label"},
                      {"textEdit", {{"newText", "Label"}, {"range", range(3, 19, 23)}}}};
  ASSERT_TRUE(find_label(list, "Label"));
  EXPECT_EQ(*find_label(list, "Label"), label);
  ASSERT_TRUE(find_label(list, "textButton"));
  EXPECT_EQ(find_label(list, "textButton")->at("detail"), "Roblox class TextButton");
  EXPECT_EQ(find_label(list, "TextLabel"), nullptr);
  ASSERT_TRUE(find_label(list, "TextCard"));
  EXPECT_EQ(*find_label(list, "TextCard"),
            (json{{"detail", "component"},
                  {"kind", 3},
                  {"label", "TextCard"},
                  {"sortText", "0TextCard"},
                  {"textEdit", {{"newText", "TextCard"}, {"range", range(3, 19, 23)}}}}));
}

// The usual way to add a child: a new line, then "<" typed as the trigger
// character. The alias bound in the file is still offered once, as the class.
TEST(MarkupE2E, ALoneLessThanOnANewLineOffersEachElementOnce) {
  Session s;
  const MarkedText fixture("local Label = 1\nreturn <frame>\n\t<^\n</frame>");
  const std::string uri = s.open(fixture);
  const json list =
      s.request("textDocument/completion", {{"textDocument", {{"uri", uri}}},
                                            {"position", testing::position_of(fixture.text, *fixture.cursor)},
                                            {"context", {{"triggerKind", 2}, {"triggerCharacter", "<"}}}});
  ASSERT_TRUE(list.is_object());
  std::vector<json> labels;
  for (const json& item : list.at("items")) {
    if (item.at("label") == "Label") labels.push_back(item);
  }
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels.front().at("detail"), "Roblox class TextLabel");
  EXPECT_EQ(labels.front().at("textEdit").at("range"), range(2, 2, 2));
  EXPECT_TRUE(find_label(list, "frame"));
}

TEST(MarkupE2E, ClosingTagsAndAttributes) {
  Session s;
  EXPECT_EQ(s.at_cursor("textDocument/completion", "local x = <frame><Label/></^"),
            (json{{"isIncomplete", false},
                  {"items",
                   {{{"detail", "close this element"},
                     {"kind", 7},
                     {"label", "frame"},
                     {"sortText", "0"},
                     {"textEdit", {{"newText", "frame>"}, {"range", range(0, 27, 27)}}}}}}}));
  const json attributes = s.at_cursor("textDocument/completion", "local x = <Label Te^");
  ASSERT_TRUE(find_label(attributes, "Text"));
  EXPECT_EQ(*find_label(attributes, "Text"), (json{{"detail", "property"},
                                                   {"kind", 10},
                                                   {"label", "Text"},
                                                   {"sortText", "0Text"},
                                                   {"textEdit", {{"newText", "Text"}, {"range", range(0, 17, 19)}}}}));
  EXPECT_EQ(s.at_cursor("textDocument/completion", "local x = <Label Text=\"a^\"/>"),
            (json{{"isIncomplete", false}, {"items", json::array()}}));
  EXPECT_EQ(s.at_cursor("tovix/closingTag", "local x = <frame>^"), (json{{"tagName", "frame"}}));
  EXPECT_EQ(s.at_cursor("tovix/closingTag", "local x = <frame/>^"), json(nullptr));
}

TEST(MarkupE2E, HoverAndDefinition) {
  Session s;
  EXPECT_EQ(s.at_cursor("textDocument/hover", "local x = <La^bel/>"),
            (json{{"contents",
                   {{"kind", "markdown"},
                    {"value",
                     "```luau\nTextLabel\n```\n\nRoblox class, written `Label` in this project\n\n"
                     "Inherits `GuiLabel`.\n\nText between the tags becomes its `Text` property."}}},
                  {"range", range(0, 11, 16)}}));
  EXPECT_EQ(s.at_cursor("textDocument/hover", "local x = <Label ^TextSize={1}/>"),
            (json{{"contents", {{"kind", "markdown"}, {"value", "```luau\nTextSize\n```\n\nProperty of `TextLabel`."}}},
                  {"range", range(0, 17, 25)}}));
  // Without luau-lsp a component's hover is the local part alone.
  EXPECT_EQ(
      s.at_cursor("textDocument/hover", "local function Card() end\nlocal x = <Ca^rd/>").at("contents").at("value"),
      "```luau\nCard\n```\n\nComponent, bound on line 1.");
  // Luau code belongs to luau-lsp, which is not there.
  EXPECT_EQ(s.at_cursor("textDocument/hover", "local x^ = 1"), json(nullptr));

  std::string uri;
  const json definition = s.at_cursor("textDocument/definition",
                                      "local Other = 1\nlocal function Card() end\nlocal x = <Card></Ca^rd>", &uri);
  EXPECT_EQ(definition, (json{{"range", range(1, 15, 19)}, {"uri", uri}}));
  EXPECT_EQ(s.at_cursor("textDocument/definition", "local x = <Fr^ame/>"), json(nullptr));
}

// Type files named in the settings that cannot be read are said once and
// fix nothing: once they can be read, the next configuration installs them.
TEST(MarkupE2E, TypeFilesNamedInTheSettingsCanComeLater) {
  testing::TempTree files;
  const std::filesystem::path definitions = files.root() / "types" / "roblox.d.luau";
  const std::filesystem::path documentation = files.root() / "types" / "docs.json";
  testing::SessionOptions options;
  options.env = {{"HOME", files.dir("home").string()}, {"PATH", files.dir("bin").string()}};
  options.luau_lsp = {
      {"types",
       {{"definitionFiles", {{"@roblox", definitions.string()}}}, {"documentationFiles", {documentation.string()}}}}};
  testing::EditorSession s(options);
  const std::string not_found = "luau-lsp not found — markup features only, no Luau types";
  const std::string unreadable = "could not read " + definitions.string() +
                                 ", named in the luau-lsp type settings — markup hovers and completion go without it";
  ASSERT_TRUE(s.log_line(not_found));
  ASSERT_TRUE(s.log_line(unreadable));
  const MarkedText fixture("return <TextLabel Text^Size={1} />");
  const std::string uri = s.open("a.tovix", fixture.text);
  const json at = testing::EditorSession::at(uri, testing::position_of(fixture.text, *fixture.cursor));
  EXPECT_EQ(s.result("textDocument/hover", at).at("contents").at("value"),
            "```luau\nTextSize\n```\n\nProperty of `TextLabel`.");

  s.notify("workspace/didChangeConfiguration", json::object());
  ASSERT_TRUE(s.log_line(not_found));
  EXPECT_EQ(s.logged(unreadable), 1u);

  files.file("types/roblox.d.luau", "declare extern type TextLabel extends GuiLabel with\n\tTextSize: number\nend\n");
  files.file("types/docs.json", R"({"@roblox/globaltype/TextLabel.TextSize": {"documentation": "<b>Height</b>"}})");
  s.notify("workspace/didChangeConfiguration", json::object());
  ASSERT_TRUE(s.log_line(not_found));
  const std::string rich = "```luau\nTextSize: number\n```\n\nProperty of `TextLabel`.\n\n---\n\n**Height**";
  EXPECT_EQ(s.result_when("textDocument/hover", at,
                          [&](const json& hover) { return hover.at("contents").at("value") == rich; })
                .at("contents")
                .at("value"),
            rich);
  EXPECT_EQ(s.logged(unreadable), 1u);
  EXPECT_EQ(s.logged("could not read " + documentation.string() +
                     ", named in the luau-lsp type settings — markup hovers and completion go without it"),
            0u);  // without definitions to read, it was never read
}

// A type file named in the settings that is no regular file, or is larger
// than any real one, is refused unread with its line, at once: a pipe
// nobody writes holds nothing, an endless device fills no memory. The real
// file named in the next configuration is installed.
TEST(MarkupE2E, TypeFilesThatAreNoRegularFilesAreRefusedUnread) {
  testing::TempTree files;
  const std::filesystem::path real = files.file(
      "types/roblox.d.luau", "declare extern type TextLabel extends GuiLabel with\n\tTextSize: number\nend\n");
  const std::filesystem::path pipe = files.root() / "pipe.d.luau";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::filesystem::path folder = files.dir("folder.d.luau");
  const std::filesystem::path big = files.file("big.d.luau");
  std::filesystem::resize_file(big, api::MAX_FILE_SIZE + 1);  // sparse: nothing is written
  auto named = [](const std::filesystem::path& definitions, std::optional<std::string> documentation = {}) {
    json types = {{"definitionFiles", json::array({definitions.string()})}};
    if (documentation) types["documentationFiles"] = json::array({*documentation});
    return json{{"types", types}};
  };
  struct Case {
    const char* what;
    json first;
    std::string refused;
    // The settings of the next configuration; null: the first already
    // installs the facts (without the documentation refused).
    json then;
  };
  const Case cases[] = {
      {"a pipe", named(pipe), pipe.string(), named(real)},
      {"an endless device", named(real, "/dev/zero"), "/dev/zero", nullptr},
      {"a directory", named(folder), folder.string(), named(real)},
      {"a file past the cap", named(big), big.string(), named(real)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::SessionOptions options;
    options.env = {{"HOME", files.dir("home").string()}, {"PATH", files.dir("bin").string()}};
    options.auto_answer = false;
    testing::EditorSession s(options);
    auto configure = [&](const json& luau_lsp) {
      const auto asked = s.server_request("workspace/configuration");
      if (asked) s.respond(asked->at("id"), json::array({luau_lsp, json::object()}));
    };
    configure(c.first);
    ASSERT_TRUE(s.log_line("could not read " + c.refused +
                           ", named in the luau-lsp type settings — markup hovers and completion go without it"));
    if (!c.then.is_null()) {
      s.notify("workspace/didChangeConfiguration", json::object());
      configure(c.then);
    }
    const MarkedText fixture("return <TextLabel Text^Size={1} />");
    const json at = testing::EditorSession::at(s.open("a.tovix", fixture.text),
                                               testing::position_of(fixture.text, *fixture.cursor));
    const std::string rich = "```luau\nTextSize: number\n```\n\nProperty of `TextLabel`.";
    EXPECT_EQ(s.result_when("textDocument/hover", at,
                            [&](const json& hover) { return hover.at("contents").at("value") == rich; })
                  .at("contents")
                  .at("value"),
              rich);
  }
}

TEST(MarkupE2E, HalfTypedDocumentsAnswer) {
  Session s;
  for (const char* fixture : {"local x = <frame>{^", "local x = <frame Name=\"ab^", "local x = <frame>\n<Label ^",
                              "local s = 'unclosed <Label Te^"}) {
    SCOPED_TRACE(fixture);
    for (const char* method : {"textDocument/completion", "textDocument/hover", "textDocument/definition"}) {
      (void)s.at_cursor(method, fixture);
    }
  }
}

}  // namespace
}  // namespace tovix_lsp
