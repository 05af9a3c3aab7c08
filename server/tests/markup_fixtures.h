#pragma once

// What the markup feature tests share: a project with a given `tovix.toml`
// text, and a small set of Roblox API facts shaped like the real files.

#include <gtest/gtest.h>

#include <string_view>

#include "features/api.h"
#include "workspace/project.h"

namespace tovix_lsp::testing_support {

inline project::Project project_with(std::string_view toml) {
  project::Project project = project::Project::bare("/nowhere");
  auto config = tovix::config::Config::parse_reporting(toml);
  EXPECT_TRUE(config) << toml;
  if (config) project.config = std::move(*config);
  return project;
}

// GuiButton declares Activated (two parameters) and MouseEnter (none);
// TextButton declares Text. Activated and Text are documented.
inline api::Api small_facts() {
  return api::Api{
      api::parse_definitions("declare extern type GuiButton extends GuiObject with\n"
                             "\tActivated: RBXScriptSignal<(InputObject, number)>\n"
                             "\tMouseEnter: RBXScriptSignal<()>\n"
                             "end\n"
                             "declare extern type TextButton extends GuiButton with\n"
                             "\tText: string\n"
                             "end\n"),
      api::parse_docs(R"({"@roblox/globaltype/GuiButton.Activated": {"documentation": "Fires when <b>activated</b>.",
                          "learn_more_link": "https://l/Activated"},
                          "@roblox/globaltype/TextButton.Text": {"documentation": "The text."}})"),
  };
}

}  // namespace tovix_lsp::testing_support
