#include "core/settings.h"

#include <gtest/gtest.h>

namespace tovix_lsp::settings {
namespace {

using json = nlohmann::json;

TEST(ConfiguredPath, TheTovixSectionDecidesWhenItHasTheMember) {
  struct Case {
    const char* what;
    const char* own;
    const char* luau;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"own path", R"({"luauLsp":{"path":"/a"}})", R"({"server":{"path":"/b"}})", "/a"},
      {"kept as written", R"({"luauLsp":{"path":" /a "}})", "null", " /a "},
      {"blank own path: no path, luau-lsp's not consulted", R"({"luauLsp":{"path":"  "}})",
       R"({"server":{"path":"/b"}})", std::nullopt},
      {"own member not a string", R"({"luauLsp":{"path":3}})", R"({"server":{"path":"/b"}})", std::nullopt},
      {"no own member", R"({"luauLsp":{}})", R"({"server":{"path":"/b"}})", "/b"},
      {"null sections", "null", "null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(configured_path(json::parse(c.own), json::parse(c.luau)), c.expected);
  }
}

TEST(ChildInitializeParams, ChangesOnlyWhatTheChildMustNotSee) {
  const json editor = json::parse(R"({
    "processId": 7,
    "capabilities": {"textDocument": {"diagnostic": {}, "hover": {"x": 1}},
                     "workspace": {"diagnostics": {}, "applyEdit": true},
                     "general": {"positionEncodings": ["utf-8", "utf-16"]}},
    "initializationOptions": {"fflags": {"Old": "1"}, "keep": 1}})");
  EXPECT_EQ(child_initialize_params(editor, 42, json{{"New", "true"}}), json::parse(R"({
    "processId": 42,
    "capabilities": {"textDocument": {"hover": {"x": 1}}, "workspace": {"applyEdit": true},
                     "general": {"positionEncodings": ["utf-16"]}},
    "initializationOptions": {"fflags": {"New": "true"}, "keep": 1}})"));

  // No flags leave the options as the editor sent them; params that are not
  // an object count as an empty one.
  EXPECT_EQ(child_initialize_params(json::array(), 1, json::object()),
            json::parse(R"({"processId":1,"capabilities":{"general":{"positionEncodings":["utf-16"]}}})"));
  EXPECT_EQ(child_initialize_params(json::parse(R"({"initializationOptions":3})"), 1, json{{"F", "1"}}),
            json::parse(R"({"processId":1,"capabilities":{"general":{"positionEncodings":["utf-16"]}},)"
                        R"("initializationOptions":{"fflags":{"F":"1"}}})"));
}

}  // namespace
}  // namespace tovix_lsp::settings
