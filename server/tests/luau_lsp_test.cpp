// The real luau-lsp as the child: started with the options built from the
// settings and the Roblox type files found in an extension storage folder,
// it answers initialize, asks for its configuration, type-checks a file and
// publishes the error, and is shut down and reaped.

#include <chrono>
#include <fstream>
#include <functional>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/proxy.h"
#include "lsp_process.h"
#include "process_table.h"
#include "temp_tree.h"
#include "workspace/project.h"

namespace tovix_lsp::proxy {
namespace {

using namespace events;

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

TEST(LuauLsp, PublishesATypeErrorAndIsReaped) {
  const fs::path luau_lsp = TOVIX_LUAU_LSP;
  const fs::path roblox = TOVIX_ROBLOX_DATA;
  if (!fs::exists(luau_lsp)) GTEST_SKIP() << "the real luau-lsp is not at " << luau_lsp;

  testing::TempTree tree;
  fs::path storage = tree.dir("home/.config/Code/User/globalStorage/zentravolmira.luau-lsp");
  for (const char* file : {"globalTypes.None.d.luau", "globalTypes.PluginSecurity.d.luau", "api-docs.json"})
    fs::create_symlink(roblox / file, storage / file);
  locate::Environment env;
  env.home = tree.root() / "home";
  std::vector<std::string> args = arguments(json::object(), env);
  ASSERT_EQ(args, (std::vector<std::string>{"--stdio",
                                            "--definitions=" + (storage / "globalTypes.PluginSecurity.d.luau").string(),
                                            "--docs=" + (storage / "api-docs.json").string()}));

  fs::path workspace = tree.dir("workspace");
  const std::string root_uri = project::path_to_uri(workspace);
  const std::string file_uri = project::path_to_uri(workspace / "test.luau");

  auto [sender, receiver] = Events::make();
  auto spawned = Proxy::spawn(luau_lsp, args, sender);
  ASSERT_TRUE(spawned) << spawned.error().message;
  std::optional<Proxy> proxy = std::move(*spawned);
  const std::uint64_t number = proxy->number();
  const int pid = proxy->pid();

  // Messages of the child until one matches; its configuration requests are
  // answered on the way, as the editor would.
  auto until = [&](const std::function<bool(const json&)>& wanted) -> std::optional<json> {
    auto deadline = std::chrono::steady_clock::now() + testing::PATIENCE;
    while (std::chrono::steady_clock::now() < deadline) {
      auto event = receiver.receive_for(1s);
      if (!event) continue;
      json message;
      if (auto* published = std::get_if<ChildPublished>(&*event)) {
        EXPECT_EQ(published->child, number);
        message = tovix_lsp::published::value_of(published->publication);
      } else if (auto* child = std::get_if<Child>(&*event)) {
        EXPECT_EQ(child->child, number);
        message = std::move(child->value);
      } else {
        return std::nullopt;
      }
      if (message.value("method", "") == "workspace/configuration" && message.contains("id")) {
        json settings = json::array();
        for (std::size_t i = 0; i < message.at("params").at("items").size(); ++i) settings.push_back(json::object());
        EXPECT_FALSE(proxy->write(jsonrpc::build::result(message.at("id"), settings)));
      }
      if (wanted(message)) return message;
    }
    return std::nullopt;
  };

  json params = {{"processId", ::getpid()},
                 {"rootUri", root_uri},
                 {"workspaceFolders", {{{"uri", root_uri}, {"name", "workspace"}}}},
                 {"capabilities", {{"workspace", {{"configuration", true}}}}}};
  ASSERT_EQ(proxy->request("initialize", params), 1);
  auto initialized = until([](const json& m) { return m.contains("id") && m.at("id") == 1 && !m.contains("method"); });
  ASSERT_TRUE(initialized);
  ASSERT_TRUE(initialized->contains("result")) << initialized->dump();
  EXPECT_FALSE(proxy->notify("initialized", json::object()));

  // An error only the Roblox type file can explain.
  const std::string text = "local part: number = Instance.new(\"Part\")\n";
  EXPECT_FALSE(
      proxy->notify("textDocument/didOpen",
                    {{"textDocument", {{"uri", file_uri}, {"languageId", "luau"}, {"version", 1}, {"text", text}}}}));
  auto published = until([&](const json& m) {
    return m.value("method", "") == "textDocument/publishDiagnostics" && m.at("params").at("uri") == file_uri &&
           !m.at("params").at("diagnostics").empty();
  });
  ASSERT_TRUE(published);
  const json& diagnostic = published->at("params").at("diagnostics").at(0);
  EXPECT_NE(diagnostic.value("message", "").find("'Part'"), std::string::npos) << diagnostic.dump();
  EXPECT_EQ(diagnostic.at("range").at("start").at("line"), 0);

  proxy->shutdown();
  std::size_t exits = 0;
  while (auto event = receiver.receive_for(exits ? 300ms : testing::PATIENCE))
    if (auto* exited = std::get_if<ChildExited>(&*event)) exits += exited->child == number;
  EXPECT_EQ(exits, 1u);
  proxy.reset();
  EXPECT_TRUE(testing::gone(pid)) << "luau-lsp " << pid << " was not reaped";
}

}  // namespace
}  // namespace tovix_lsp::proxy
