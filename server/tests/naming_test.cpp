#include "workspace/naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tovix/roblox/roblox.h"

namespace tovix_lsp::naming {
namespace {

using tovix::config::Casing;
using tovix::config::Config;

Config with_element_casing(Casing casing) {
  Config config;
  config.element_casing = casing;
  return config;
}

Config with_property_casing(Casing casing) {
  Config config;
  config.property_casing = casing;
  return config;
}

void alias_element(Config& config, const std::string& cls, const std::string& alias) {
  config.element_aliases[alias] = cls;
  config.element_renames[cls] = alias;
}

const Named* find_name(const std::vector<Named>& list, std::string_view name) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const Named& n) { return n.name == name; });
  return it == list.end() ? nullptr : &*it;
}

TEST(Vocabulary, DefaultElementsAreTheCreatableClasses) {
  const Vocabulary vocabulary;
  const Config config;
  const auto elements = vocabulary.elements(config);
  const auto creatable = tovix::roblox::creatable_classes();
  ASSERT_EQ(elements.size(), creatable.size());
  for (std::size_t i = 0; i < elements.size(); ++i) {
    EXPECT_EQ(elements[i].canonical, creatable[i]);
    EXPECT_EQ(elements[i].name, creatable[i]);
  }
  EXPECT_EQ(vocabulary.element(config, "TextLabel"), "TextLabel");
  EXPECT_EQ(vocabulary.element(config, "GuiObject"), "GuiObject");  // not creatable
}

TEST(Vocabulary, ElementSpellingsUnderEachCasingResolveBack) {
  struct Case {
    Casing casing;
    const char* text_label;
    const char* list_layout;
  };
  const Case cases[] = {
      {Casing::CamelCase, "textLabel", "uiListLayout"},
      {Casing::SnakeCase, "text_label", "ui_list_layout"},
      {Casing::FlatCase, "textlabel", "uilistlayout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.casing));
    const Vocabulary vocabulary;
    const Config config = with_element_casing(c.casing);
    EXPECT_EQ(vocabulary.element(config, "TextLabel"), c.text_label);
    EXPECT_EQ(vocabulary.element(config, "UIListLayout"), c.list_layout);
    // Every spelling leads back to its class, and no two classes share one.
    std::set<std::string> seen;
    for (const Named& named : vocabulary.elements(config)) {
      const auto resolved = config.resolve_element(named.name);
      ASSERT_TRUE(resolved.has_value() && resolved->has_value()) << named.name;
      EXPECT_EQ(**resolved, named.canonical) << named.name;
      EXPECT_TRUE(seen.insert(named.name).second) << named.name;
    }
  }
}

TEST(Vocabulary, AliasedClassIsListedUnderItsAliasOnly) {
  for (const Casing casing : {Casing::PascalCase, Casing::SnakeCase}) {
    SCOPED_TRACE(static_cast<int>(casing));
    Config config = with_element_casing(casing);
    alias_element(config, "TextLabel", "Label");
    const Vocabulary vocabulary;
    const auto elements = vocabulary.elements(config);
    const auto count =
        std::count_if(elements.begin(), elements.end(), [](const Named& n) { return n.canonical == "TextLabel"; });
    EXPECT_EQ(count, 1);
    EXPECT_EQ(vocabulary.element(config, "TextLabel"), "Label");
  }
}

TEST(Vocabulary, ClassWhoseSpellingsLeadElsewhereIsLeftOut) {
  // "text_label" is taken by an alias of Frame, and "TextLabel" itself is
  // refused under snake_case: TextLabel has no spelling of its own.
  Config config = with_element_casing(Casing::SnakeCase);
  alias_element(config, "Frame", "text_label");
  const Vocabulary vocabulary;
  const auto elements = vocabulary.elements(config);
  EXPECT_EQ(elements.size(), tovix::roblox::creatable_classes().size() - 1);
  EXPECT_TRUE(
      std::none_of(elements.begin(), elements.end(), [](const Named& n) { return n.canonical == "TextLabel"; }));
  EXPECT_EQ(vocabulary.element(config, "Frame"), "text_label");
  EXPECT_EQ(vocabulary.element(config, "TextLabel"), "TextLabel");
}

TEST(Vocabulary, TheElementListIsBuiltOnce) {
  const Vocabulary vocabulary;
  EXPECT_EQ(vocabulary.element(with_element_casing(Casing::SnakeCase), "TextLabel"), "text_label");
  EXPECT_EQ(vocabulary.element(Config{}, "TextLabel"), "text_label");
}

TEST(Vocabulary, MembersUnderCamelCase) {
  const Vocabulary vocabulary;
  const Config config = with_property_casing(Casing::CamelCase);
  const std::vector<Named> members = vocabulary.members(config, "TextLabel");
  ASSERT_NE(find_name(members, "text"), nullptr);
  EXPECT_EQ(find_name(members, "text")->canonical, "Text");
  ASSERT_NE(find_name(members, "size"), nullptr);
  EXPECT_EQ(find_name(members, "size")->canonical, "Size");
  ASSERT_NE(find_name(members, "childAdded"), nullptr);  // both ChildAdded and childAdded spell so
  EXPECT_EQ(find_name(members, "childAdded")->canonical, "ChildAdded");
  EXPECT_EQ(find_name(members, "Text"), nullptr);
  EXPECT_TRUE(
      std::is_sorted(members.begin(), members.end(), [](const Named& a, const Named& b) { return a.name < b.name; }));
  for (const Named& named : members) {
    const auto resolved = config.resolve_property("TextLabel", named.name);
    ASSERT_TRUE(resolved.has_value()) << named.name;
    EXPECT_EQ(*resolved, named.canonical) << named.name;
  }
  EXPECT_EQ(vocabulary.members(Config{}, "TextLabel"), members);  // from the cache
  EXPECT_EQ(vocabulary.member(config, "TextLabel", "TextColor3"), "textColor3");
  EXPECT_EQ(vocabulary.member(config, "TextLabel", "NoSuchMember"), "NoSuchMember");
}

TEST(Vocabulary, CollidingMembersKeepTheCurrentName) {
  // BrickColor and the deprecated brickColor are both "brickColor" in camelCase.
  const Vocabulary vocabulary;
  const std::vector<Named> members = vocabulary.members(with_property_casing(Casing::CamelCase), "Part");
  const auto count =
      std::count_if(members.begin(), members.end(), [](const Named& n) { return n.name == "brickColor"; });
  EXPECT_EQ(count, 1);
  ASSERT_NE(find_name(members, "brickColor"), nullptr);
  EXPECT_EQ(find_name(members, "brickColor")->canonical, "BrickColor");
}

TEST(Vocabulary, MemberAliases) {
  Config config;
  config.property_renames["Text"] = "Caption";
  config.class_property_renames["TextButton"]["Text"] = "Words";
  for (const Casing casing : {Casing::PascalCase, Casing::SnakeCase}) {
    SCOPED_TRACE(static_cast<int>(casing));
    config.property_casing = casing;
    const Vocabulary vocabulary;
    EXPECT_EQ(vocabulary.member(config, "TextLabel", "Text"), "Caption");
    EXPECT_EQ(vocabulary.member(config, "TextButton", "Text"), "Words");
    EXPECT_EQ(find_name(vocabulary.members(config, "TextLabel"), "Text"), nullptr);
  }
  const Vocabulary vocabulary;
  EXPECT_EQ(vocabulary.member(Config{}, "Frame", "Size"), "Size");
  EXPECT_EQ(vocabulary.members(Config{}, "NoSuchClass"), std::vector<Named>{});
}

}  // namespace
}  // namespace tovix_lsp::naming
