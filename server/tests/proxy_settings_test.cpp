// What the child is started with: its options and fast flags, and which of
// its messages only the editor can serve.

#include "core/proxy.h"

#include <gtest/gtest.h>

#include "temp_tree.h"

namespace tovix_lsp::proxy {
namespace {

using namespace events;

namespace fs = std::filesystem;
using json = nlohmann::json;

TEST(Arguments, FromSettings) {
  struct Case {
    const char* name;
    const char* settings;
    bool roblox_files;  // the extension's storage holds both type files
    // "$D" and "$H" stand for the storage's definition and documentation files.
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty settings and no storage: --stdio only", "{}", false, {"--stdio"}},
      {"settings that are not an object", "null", false, {"--stdio"}},
      {"the Roblox files, then the configured ones; non-strings skipped",
       R"({"types":{"definitionFiles":["a.d.luau",3,""],"documentationFiles":["docs.json",{}]}})",
       true,
       {"--stdio", "--definitions=$D", "--definitions=a.d.luau", "--definitions=", "--docs=$H", "--docs=docs.json"}},
      {"definition files by package name, in key order, each marked with @",
       R"({"types":{"definitionFiles":{"roblox2":"b.d.luau","@pkg":"a.d.luau","bad":1}}})",
       false,
       {"--stdio", "--definitions=@pkg=a.d.luau", "--definitions=@roblox2=b.d.luau"}},
      {"values are never split or quoted",
       R"({"types":{"definitionFiles":["my file=x.d.luau"]}})",
       false,
       {"--stdio", "--definitions=my file=x.d.luau"}},
      {"Roblox types switched off", R"({"types":{"roblox":false}})", true, {"--stdio"}},
      {"base luaurc", R"({"platform":{"baseLuaurc":"/p/.luaurc"}})", false, {"--stdio", "--base-luaurc=/p/.luaurc"}},
      {"an empty base luaurc is left out", R"({"platform":{"baseLuaurc":""}})", false, {"--stdio"}},
      {"a base luaurc that is not a string is left out", R"({"platform":{"baseLuaurc":5}})", false, {"--stdio"}},
      {"the server's base luaurc when the platform has none",
       R"({"server":{"baseLuaurc":"/s/.luaurc"}})",
       false,
       {"--stdio", "--base-luaurc=/s/.luaurc"}},
      {"the platform's base luaurc first",
       R"({"platform":{"baseLuaurc":"/p"},"server":{"baseLuaurc":"/s"}})",
       false,
       {"--stdio", "--base-luaurc=/p"}},
      {"flags off by default", R"({"fflags":{"enableByDefault":false}})", false, {"--stdio", "--no-flags-enabled"}},
      {"flags on by default", R"({"fflags":{"enableByDefault":true}})", false, {"--stdio"}},
      {"a string is not false", R"({"fflags":{"enableByDefault":"false"}})", false, {"--stdio"}},
      {"everything, in order",
       R"({"fflags":{"enableByDefault":false},"platform":{"baseLuaurc":"rc"},)"
       R"("types":{"definitionFiles":["d"],"documentationFiles":["h"]}})",
       true,
       {"--stdio", "--definitions=$D", "--definitions=d", "--docs=$H", "--docs=h", "--base-luaurc=rc",
        "--no-flags-enabled"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempTree tree;
    locate::Environment env;
    env.home = tree.root();
    fs::path storage = tree.dir(".config/Code/User/globalStorage/zentravolmira.luau-lsp");
    std::string definitions = (storage / "globalTypes.PluginSecurity.d.luau").string();
    std::string documentation = (storage / "api-docs.json").string();
    if (c.roblox_files) {
      tree.file(definitions);
      tree.file(documentation);
    }
    std::vector<std::string> expected;
    for (std::string arg : c.expected) {
      if (auto at = arg.find("$D"); at != std::string::npos) arg.replace(at, 2, definitions);
      if (auto at = arg.find("$H"); at != std::string::npos) arg.replace(at, 2, documentation);
      expected.push_back(arg);
    }
    EXPECT_EQ(arguments(json::parse(c.settings), env), expected);
  }
}

TEST(Fflags, FromSettingsAndTheEditor) {
  struct Case {
    const char* name;
    const char* settings;
    const char* editor;  // nullptr: the editor sent none
    const char* expected;
  };
  const Case cases[] = {
      {"nothing", "{}", nullptr, "{}"},
      {"overrides: one prefix off, values trimmed, empty names and values skipped",
       R"({"fflags":{"override":{"FFlagFoo":" 1 ","DFIntBar":"2","FInt":"3","Baz":""}}})", nullptr,
       R"({"Bar":"2","Foo":"1"})"},
      {"DFFlag goes whole, and only the first prefix goes",
       R"({"fflags":{"override":{"DFFlagX":"1","FFlagDFIntY":"2"}}})", nullptr, R"({"DFIntY":"2","X":"1"})"},
      {"keys are trimmed before the prefix test", R"({"fflags":{"override":{" FFlagZ ":"1"}}})", nullptr,
       R"({"Z":"1"})"},
      {"Unicode blanks are trimmed",
       "{\"fflags\":{\"override\":{\"FFlagZ\":\"\xc2\xa0"
       "1\xc2\xa0\"}}}",
       nullptr, R"({"Z":"1"})"},
      {"an override that is not a string is skipped", R"({"fflags":{"override":{"FFlagZ":1}}})", nullptr, "{}"},
      {"of two overrides of one name the later key wins", R"({"fflags":{"override":{"FFlagX":"1","X":"2"}}})", nullptr,
       R"({"X":"2"})"},
      {"the new solver", R"({"fflags":{"enableNewSolver":true}})", nullptr, R"({"LuauSolverV2":"true"})"},
      {"an override wins over the solver flag",
       R"({"fflags":{"enableNewSolver":true,"override":{"FFlagLuauSolverV2":"false"}}})", nullptr,
       R"({"LuauSolverV2":"false"})"},
      {"the editor's own flags are kept, an override replaces one", R"({"fflags":{"override":{"FFlagA":"2"}}})",
       R"({"A":"1","B":"x"})", R"({"A":"2","B":"x"})"},
      {"the editor's values that are not strings become their JSON text", "{}",
       R"({"N":1,"T":true,"F":1.5,"O":{"k":[1]},"Z":null})",
       R"({"F":"1.5","N":"1","O":"{\"k\":[1]}","T":"true","Z":"null"})"},
      {"the editor's flags that are not an object are ignored", R"({"fflags":{"enableNewSolver":true}})", "[1]",
       R"({"LuauSolverV2":"true"})"},
      {"settings that are not an object", "7", R"({"A":"1"})", R"({"A":"1"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<json> editor;
    if (c.editor) editor = json::parse(c.editor);
    EXPECT_EQ(fflags(json::parse(c.settings), editor ? &*editor : nullptr).dump(), json::parse(c.expected).dump());
  }
}

TEST(NeedsTheEditor, SevenMethods) {
  const char* editor_methods[] = {
      "workspace/applyEdit",
      "workspace/configuration",
      "window/showMessageRequest",
      "client/registerCapability",
      "workspace/workspaceFolders",
      "client/unregisterCapability",
      "window/workDoneProgress/create",
  };
  for (const char* method : editor_methods) {
    SCOPED_TRACE(method);
    EXPECT_TRUE(needs_the_editor(jsonrpc::Request{0, method, nullptr}));
    EXPECT_TRUE(needs_the_editor(jsonrpc::Notification{method, nullptr}));
  }
  for (const char* method : {"window/showMessage", "workspace/diagnostic/refresh", "textDocument/publishDiagnostics",
                             "window/logMessage", "$/progress", "workspace/configuration/"}) {
    SCOPED_TRACE(method);
    EXPECT_FALSE(needs_the_editor(jsonrpc::Request{0, method, nullptr}));
    EXPECT_FALSE(needs_the_editor(jsonrpc::Notification{method, nullptr}));
  }
  EXPECT_FALSE(needs_the_editor(jsonrpc::Response{0, json{{"id", 0}, {"result", nullptr}}}));
}

}  // namespace
}  // namespace tovix_lsp::proxy
