#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "tovix/config/config.h"
#include "tovix/imports.h"
#include "tovix/resolve.h"

namespace {

using tovix::config::Config;
using tovix::imports::HelperUse;
using tovix::imports::inject;
using tovix::imports::MERGE_HELPER;
using tovix::imports::READ_HELPER;
using tovix::resolve::NameSet;

std::string merge_then(std::string_view rest) { return std::string(MERGE_HELPER) + "; " + std::string(rest); }

TEST(Imports, HelperTextsAreOneLineOfFixedLength) {
  EXPECT_EQ(MERGE_HELPER.size(), 234u);
  EXPECT_EQ(READ_HELPER.size(), 97u);
  EXPECT_EQ(MERGE_HELPER.find('\n'), std::string_view::npos);
  EXPECT_EQ(READ_HELPER.find('\n'), std::string_view::npos);
}

TEST(Imports, HelpersGoBeforeTheFirstStatementOnItsLine) {
  const HelperUse merge{.needs_merge = true};
  const HelperUse read{.needs_read = true};
  const HelperUse both{.needs_read = true, .needs_merge = true};
  struct Case {
    std::string_view name;
    std::string_view code;
    HelperUse use;
    NameSet bindings;
    std::string expected;
  };
  const Case cases[] = {
      {"after a leading comment",
       "--!strict\nlocal vide = require(x)\n",
       merge,
       {},
       "--!strict\n" + merge_then("local vide = require(x)\n")},
      {"after comments and blank lines",
       "-- a\n\n--[[ b\n]]  return 1",
       read,
       {},
       "-- a\n\n--[[ b\n]]  " + std::string(READ_HELPER) + "; return 1"},
      {"both, merge first", "x()", both, {}, merge_then(std::string(READ_HELPER) + "; x()")},
      {"a file's own helper is kept", "x()", both, {"__tovix_read"}, merge_then("x()")},
      {"both defined by the file", "x()", both, {"__tovix_read", "__tovix_merge"}, "x()"},
      {"nothing needed", "-- c\nx()", HelperUse{}, {}, "-- c\nx()"},
      {"only comments", "-- c\n", both, {}, "-- c\n"},
      {"empty", "", both, {}, ""},
      {"lexer error before any token", "--[[ open", merge, {}, "--[[ open"},
      // A lexer error after the first token does not matter.
      {"lexer error later", "x = 'open", merge, {}, merge_then("x = 'open")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto injected = inject(c.code, c.use, c.bindings, Config{});
    ASSERT_TRUE(injected.has_value());
    EXPECT_EQ(*injected, c.expected);
    EXPECT_EQ(std::count(injected->begin(), injected->end(), '\n'), std::count(c.code.begin(), c.code.end(), '\n'));
  }
}

TEST(Imports, FactoryRootMustBeBound) {
  const HelperUse factory{.uses_factory = true, .needs_merge = true};
  Config config;
  struct Case {
    std::string_view create;
    std::string_view root;
  };
  for (const Case c : {Case{"create", "create"}, Case{"vide.create", "vide"}, Case{"scope:New", "scope"},
                       Case{" ui . make", "ui"}, Case{"a:b.c", "a"}}) {
    SCOPED_TRACE(c.create);
    config.create = c.create;
    auto missing = inject("x()", factory, NameSet{}, config);
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().message, "`" + std::string(c.root) + "` is not in scope");
    EXPECT_EQ(missing.error().help,
              "import it, or point [factory] create at something else (currently `" + std::string(c.create) + "`)");
    EXPECT_EQ(missing.error().offset, 0u);
    EXPECT_EQ(missing.error().len, 0u);

    auto found = inject("x()", factory, NameSet{std::string(c.root)}, config);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, merge_then("x()"));
  }
  // Without the factory in use, nothing is checked.
  EXPECT_EQ(inject("x()", HelperUse{}, NameSet{}, config), "x()");
}

}  // namespace
