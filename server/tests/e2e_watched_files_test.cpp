// Watching `tovix.toml` over the wire: the server asks an editor that can
// register watchers to tell it of every settings file, an edit of one
// recompiles every open document, and the editor's answer to that
// registration is the server's alone.

#include <gtest/gtest.h>

#include "editor_session.h"
#include "stand_in_child.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::EditorSession;
using testing::SessionOptions;
using Child = testing::StandInChild;

bool method_is(const json& m, const std::string& method) { return m.value("method", "") == method; }

// A request of `client/registerCapability` whose first registration has `id`.
auto registration_under(const std::string& id) {
  return [id](const json& m) {
    if (!method_is(m, "client/registerCapability") || !m.contains("id")) return false;
    const json& registrations = m.at("params").at("registrations");
    return !registrations.empty() && registrations.at(0).value("id", "") == id;
  };
}

const json OUR_REGISTRATION = {{"registrations",
                                {{{"id", "tovix-lsp/tovix.toml"},
                                  {"method", "workspace/didChangeWatchedFiles"},
                                  {"registerOptions", {{"watchers", {{{"globPattern", "**/tovix.toml"}}}}}}}}}};

// An editor's initialize params with `watched` as its didChangeWatchedFiles
// capability (none when null).
json initialize_with(const std::string& root, const json& watched) {
  json workspace = {{"configuration", true}};
  if (!watched.is_null()) workspace["didChangeWatchedFiles"] = watched;
  return {{"processId", nullptr}, {"rootUri", root}, {"capabilities", {{"workspace", std::move(workspace)}}}};
}

TEST(WatchedFilesE2E, TheSettingsFileIsWatchedOnlyWhenTheEditorCanRegisterWatchers) {
  const struct {
    const char* name;
    json watched;
    bool registers;
  } cases[] = {
      {"dynamic registration", {{"dynamicRegistration", true}}, true},
      {"no dynamic registration", {{"dynamicRegistration", false}}, false},
      {"registration not a boolean", {{"dynamicRegistration", "yes"}}, false},
      {"no watched files capability", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Child child;
    SessionOptions options = child.options();
    options.initialize = initialize_with(child.uri(""), c.watched);
    EditorSession s(options);
    child.ready(s);
    s.settle();
    std::vector<json> asked;
    for (const json& m : s.history())
      if (method_is(m, "client/registerCapability")) asked.push_back(m);
    if (!c.registers) {
      EXPECT_TRUE(asked.empty()) << asked.front().dump();
      continue;
    }
    ASSERT_EQ(asked.size(), 1u);
    // After the configuration request, under the server's next id.
    EXPECT_EQ(asked.front().at("id"), 2);
    EXPECT_EQ(asked.front().at("params"), OUR_REGISTRATION);
  }
}

TEST(WatchedFilesE2E, AChangedSettingsFileRecompilesEveryOpenDocument) {
  Child child;
  const json watched = {{"dynamicRegistration", true}};
  SessionOptions options = child.options();
  options.initialize = initialize_with(child.uri(""), watched);
  child.files.file("project/tovix.toml", "[lints]\nstatic_conditional_child = \"warn\"\n");
  EditorSession s(options);
  child.ready(s);

  const std::string text = "local create = nil\nreturn <Label Text=\"a\" />\n";
  const std::string a = s.open("a.tovix", text);
  const std::string b = s.open("ui/b.tovix", text);
  auto not_a_class = [](const json& list) {
    return list.size() == 1 && list.at(0).value("message", "") == "<Label> is not a Roblox class and is not defined";
  };
  for (const std::string& uri : {a, b}) {
    SCOPED_TRACE(uri);
    EXPECT_TRUE(s.diagnostics(uri, not_a_class));
  }

  // The alias is added; the editor, watching the file, says so.
  child.files.file("project/tovix.toml", "[elements]\nTextLabel = \"Label\"\n");
  const json changes = {{"changes", {{{"uri", child.uri("tovix.toml")}, {"type", 2}}}}};
  s.notify("workspace/didChangeWatchedFiles", changes);
  for (const std::string& uri : {a, b}) {
    SCOPED_TRACE(uri);
    EXPECT_TRUE(s.diagnostics(uri, [](const json& list) { return list.empty(); }));
  }
  // luau-lsp hears of the change as the editor told it.
  auto passed = child.record.wait_for(s, [](const json& m) { return method_is(m, "workspace/didChangeWatchedFiles"); });
  ASSERT_TRUE(passed);
  EXPECT_EQ(passed->at("params"), changes);
}

TEST(WatchedFilesE2E, TheAnswerToTheServersOwnRegistrationIsNotRelayedToTheChild) {
  // luau-lsp registers its own watchers, which the server relays.
  const json childs = {{"jsonrpc", "2.0"},
                       {"id", 0},
                       {"method", "client/registerCapability"},
                       {"params",
                        {{"registrations",
                          {{{"id", "luau-watch"},
                            {"method", "workspace/didChangeWatchedFiles"},
                            {"registerOptions", {{"watchers", {{{"globPattern", "**/*.luau"}}}}}}}}}}}};
  Child child("", {{"on", {{"initialized", {childs}}}}});
  SessionOptions options = child.options();
  options.initialize = initialize_with(child.uri(""), {{"dynamicRegistration", true}});
  options.auto_answer = false;
  EditorSession s(options);
  auto configuration = s.server_request("workspace/configuration");
  ASSERT_TRUE(configuration);
  auto ours = s.wait_for(registration_under("tovix-lsp/tovix.toml"));
  ASSERT_TRUE(ours);
  s.respond(configuration->at("id"), s.configuration_answer(*configuration));
  child.ready(s);
  auto relayed = s.wait_for(registration_under("luau-watch"));
  ASSERT_TRUE(relayed);
  EXPECT_EQ(relayed->at("params"), childs.at("params"));
  EXPECT_NE(relayed->at("id"), ours->at("id"));

  // Ours is answered while the child runs, then the child's.
  s.respond(ours->at("id"), nullptr);
  s.respond(relayed->at("id"), nullptr);
  auto answered = child.record.wait_for(s, [](const json& m) { return !m.contains("method") && m.contains("id"); });
  ASSERT_TRUE(answered);
  EXPECT_EQ(*answered, (json{{"id", 0}, {"jsonrpc", "2.0"}, {"result", nullptr}}));
  s.settle();
  std::size_t answers = 0;
  for (const json& line : child.lines_of(1)) answers += !line.contains("method");
  EXPECT_EQ(answers, 1u);
}

}  // namespace
}  // namespace tovix_lsp
