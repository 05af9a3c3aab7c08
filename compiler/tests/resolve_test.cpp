#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/config/config.h"
#include "tovix/resolve.h"

namespace tovix::backend {
// Readable failures for expected<…, EmitError> comparisons.
void PrintTo(const EmitError& error, std::ostream* out) {
  *out << "{\"" << error.message << "\", " << (error.help ? "\"" + *error.help + "\"" : "no help") << ", "
       << error.offset << ", " << error.len << "}";
}
}  // namespace tovix::backend

namespace {

using tovix::backend::EmitError;
using tovix::config::Config;
using tovix::markup::ast::ElementName;
using tovix::resolve::blank_tovix_regions;
using tovix::resolve::Region;
using tovix::resolve::Resolution;
using tovix::resolve::Resolver;

Config settings(std::string_view toml) {
  auto config = Config::parse_reporting(toml);
  EXPECT_TRUE(config.has_value()) << toml;
  return config.value_or(Config{});
}

ElementName simple(std::string text) { return ElementName{ElementName::Simple{std::move(text)}}; }

Resolution class_named(std::string name) { return Resolution{Resolution::Class{std::move(name)}}; }
const Resolution COMPONENT{Resolution::Component{}};

TEST(Blanking, ReplacesMarkupKeepingOffsetsAndLineFeeds) {
  struct Case {
    std::string_view source;
    std::vector<Region> regions;
    std::string_view expected;
  };
  const Case cases[] = {
      {"local x = <TextLabel/>", {{10, 22}}, "local x = nil         "},
      {"<TextLabel Text={x}/>", {{0, 21}}, "nil                  "},
      // A line feed at offsets 0, 1 or 2 takes its letter's place.
      {"return <>\n<A/></>", {{7, 17}}, "return ni\n       "},
      {"return <\nA/>", {{7, 12}}, "return n\nl  "},
      {"x = \n<A\n/>", {{5, 10}}, "x = \nni\n  "},
      {"<A/>\n", {{0, 4}}, "nil \n"},
      // A carriage return is an ordinary byte.
      {"f(<A\r\n/>)", {{2, 8}}, "f(nil\n  )"},
      // Multi-byte characters become as many letters or blanks as bytes.
      {"<T>é</T>", {{0, 9}}, "nil      "},
      {"<é/>", {{0, 5}}, "nil  "},
      {"s = \"é\" .. <T>ü\n€</T>", {{12, 25}}, "s = \"é\" .. nil  \n       "},
      // Several regions; the text between them is copied unchanged.
      {"a(<A/>, <B/>)", {{2, 6}, {8, 12}}, "a(nil , nil )"},
      // A region starting inside the previous one is skipped whole.
      {"a(<A><B/></A>)", {{2, 13}, {5, 9}}, "a(nil        )"},
      {"<A/>", {}, "<A/>"},
      {"", {}, ""},
      // Out-of-range regions never change the length.
      {"x<A/>", {{1, 99}}, "xnil "},
      {"x<A/>", {{9, 12}}, "x<A/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::string blanked = blank_tovix_regions(c.source, c.regions);
    EXPECT_EQ(blanked, c.expected);
    ASSERT_EQ(blanked.size(), c.source.size());
    for (std::size_t i = 0; i < c.source.size(); ++i) {
      EXPECT_EQ(blanked[i] == '\n', c.source[i] == '\n') << "at " << i;
    }
  }
}

std::vector<std::string> bound_in(std::string_view luau) {
  Resolver resolver(luau, Config{});
  std::vector<std::string> names(resolver.bindings.begin(), resolver.bindings.end());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Bindings, EachConstructBindsItsNames) {
  using Names = std::vector<std::string>;
  struct Case {
    std::string_view luau;
    Names expected;
  };
  const Case cases[] = {
      {"local a, b = 1, 2", {"a", "b"}},
      {"local a: number, b", {"a", "b"}},
      {"const a, b = 1, 2", {"a", "b"}},
      {"local function f() end", {"f"}},
      {"const function f() end", {"f"}},
      {"function f() end", {"f"}},
      {"function M.render() end", {"M"}},
      {"function a.b.c:m() end", {"a"}},
      {"local function f(x, y: T, ...) end", {"f", "x", "y"}},
      {"g(function(p, ...) end)", {"p"}},
      {"function M:m(q) end", {"M", "q"}},
      {"for a, b in pairs(t) do end", {"a", "b"}},
      {"for i = 1, 3 do end", {"i"}},
      {"a, t.x, t[k], b = 1, 2, 3, 4", {"a", "b"}},
      {"t.x = 1", {}},
      {"t[k] = 1", {}},
      {"a += 1", {}},
      {"print(a, b.c)", {}},
      {"type Props = {}", {}},
      {"export type F = (a: number) -> ()", {}},
      {"type function tf(x, y) return x end", {"x", "y"}},
      // Nested blocks, branches and returned expressions feed the same set.
      {"if c then local a = 1 else while x do local b = 2 end end", {"a", "b"}},
      {"do repeat local r = 1 until r end", {"r"}},
      {"return function(x) local y = x return function(z) end end", {"x", "y", "z"}},
      {"local t = { f = function(w) end }", {"t", "w"}},
      // Markup already blanked: "nil" and blanks.
      {"local x = nil         ", {"x"}},
      // Names never include trivia.
      {"local  --[[c]] spaced --[[d]] = 1", {"spaced"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.luau);
    EXPECT_EQ(bound_in(c.luau), c.expected);
  }
}

TEST(Bindings, NamesSurviveEarlierSyntaxErrors) {
  // Each text has a syntax error before the later declarations.
  for (std::string_view luau : {
           "local a = (\nlocal Card = 1\nfunction render() end",
           "x = = 2\nlocal Card = 1\nfunction render() end",
           "if then end\nlocal Card = 1\nfunction render() end",
           "local function (x) end\nlocal Card = 1\nfunction render() end",
       }) {
    SCOPED_TRACE(luau);
    std::vector<std::string> names = bound_in(luau);
    EXPECT_TRUE(std::ranges::find(names, "Card") != names.end());
    EXPECT_TRUE(std::ranges::find(names, "render") != names.end());
  }
}

TEST(Resolve, BlankedFileBindsItsComponents) {
  std::string_view source = "local Frame = 1\nlocal Card = require(x)\nreturn <Frame><Card/></Frame>";
  std::size_t start = source.find('<');
  std::vector<Region> regions{{start, source.size()}};
  Resolver resolver(blank_tovix_regions(source, regions), Config{});
  EXPECT_EQ(resolver.resolve(simple("Frame"), start), class_named("Frame"));
  EXPECT_EQ(resolver.resolve(simple("Card"), start + 7), COMPONENT);
  EXPECT_FALSE(resolver.resolve(simple("Cards"), 0).has_value());
}

TEST(Resolve, ElementNames) {
  Resolver resolver("", Config{});
  resolver.bindings = {"Frame", "Card", "GuiObject"};
  struct Case {
    std::string_view name;
    std::expected<Resolution, EmitError> expected;
  };
  const Case cases[] = {
      {"TextLabel", class_named("TextLabel")},
      // Class checks come first: a binding named like a class changes nothing.
      {"Frame", class_named("Frame")},
      {"Card", COMPONENT},
      // A class that cannot be created resolves only as a bound name.
      {"GuiObject", COMPONENT},
      {"Fram",
       std::unexpected(EmitError{"<Fram> is not a Roblox class and is not defined", "did you mean <Frame>?", 7, 5})},
      {"Zzzzqq", std::unexpected(EmitError{"<Zzzzqq> is not a Roblox class and is not defined",
                                           "if it is a component, it has to be in scope", 7, 7})},
      {"frame",
       std::unexpected(EmitError{"<frame> is not a Roblox class and is not defined", "did you mean <Frame>?", 7, 6})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resolver.resolve(simple(std::string(c.name)), 7), c.expected);
  }
}

TEST(Resolve, UnboundAbstractClassIsAnError) {
  Resolver resolver("", Config{});
  auto resolved = resolver.resolve(simple("GuiObject"), 3);
  ASSERT_FALSE(resolved.has_value());
  EXPECT_EQ(resolved.error().message, "<GuiObject> is not a Roblox class and is not defined");
  // No creatable class is near enough to suggest.
  EXPECT_EQ(resolved.error().help, "if it is a component, it has to be in scope");
  EXPECT_EQ(resolved.error().offset, 3u);
  EXPECT_EQ(resolved.error().len, 10u);
}

TEST(Resolve, DottedNamesAreComponentsWithoutChecks) {
  Resolver resolver("", Config{});
  EXPECT_EQ(resolver.resolve(ElementName{ElementName::Dotted{{"ui", "Card"}}}, 0), COMPONENT);
  EXPECT_EQ(resolver.resolve(ElementName{ElementName::Dotted{{"a", "Frame", "x"}}}, 0), COMPONENT);
}

TEST(Resolve, ConfiguredElementNames) {
  Resolver resolver("", settings("[elements]\nFrame = \"Box\"\n"));
  EXPECT_EQ(resolver.resolve(simple("Box"), 0), class_named("Frame"));
  EXPECT_EQ(resolver.resolve(simple("Frame"), 4),
            (std::unexpected(EmitError{"<Frame> was renamed by tovix.toml; use <Box>", std::nullopt, 4, 6})));

  Resolver cased("", settings("[elements]\nall = \"snake_case\"\n"));
  EXPECT_EQ(cased.resolve(simple("text_label"), 0), class_named("TextLabel"));
  EXPECT_EQ(
      cased.resolve(simple("TextLabel"), 0),
      (std::unexpected(EmitError{"<TextLabel> was renamed by [elements] all; use <text_label>", std::nullopt, 0, 10})));
}

TEST(Resolve, AttributeNames) {
  Resolver resolver("", Config{});
  struct Case {
    std::string_view class_name;
    std::string_view attribute;
    std::expected<std::string, EmitError> expected;
  };
  const Case cases[] = {
      {"TextButton", "Text", "Text"},
      // Inherited properties, then events of the class and its ancestors.
      {"TextButton", "Size", "Size"},
      {"TextButton", "Name", "Name"},
      {"TextButton", "Activated", "Activated"},
      {"TextButton", "ChildAdded", "ChildAdded"},
      // Suggestions: one, two and three candidates, and none.
      {"TextButton", "Sise",
       std::unexpected(EmitError{"TextButton has no property or event named Sise", "did you mean Size?", 9, 4})},
      {"TextButton", "Activate",
       std::unexpected(EmitError{"TextButton has no property or event named Activate",
                                 "did you mean Activated or SecondaryActivated?", 9, 8})},
      {"TextButton", "Tex",
       std::unexpected(EmitError{"TextButton has no property or event named Tex",
                                 "did you mean Text, RichText or TextSize?", 9, 3})},
      {"TextButton", "Zzzzqqq",
       std::unexpected(EmitError{"TextButton has no property or event named Zzzzqqq", std::nullopt, 9, 7})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    EXPECT_EQ(resolver.resolve_attribute(c.class_name, c.attribute, 9), c.expected);
  }
}

TEST(Resolve, ConfiguredAttributeNames) {
  Resolver resolver("", settings("[properties]\nText = \"label\"\n"));
  EXPECT_EQ(resolver.resolve_attribute("TextLabel", "label", 0), "Text");
  EXPECT_EQ(resolver.resolve_attribute("TextLabel", "Text", 5),
            (std::unexpected(EmitError{"Text was renamed by tovix.toml; use label", std::nullopt, 5, 4})));

  // The suggestions are for the member the written name stood for.
  Resolver cased("", settings("[properties]\nall = \"camelCase\"\n"));
  EXPECT_EQ(cased.resolve_attribute("TextLabel", "textColor3", 0), "TextColor3");
  EXPECT_EQ(cased.resolve_attribute("TextLabel", "childAdded", 0), "ChildAdded");

  // A misspelling is reported as written; the help names the Roblox member.
  Resolver snake("", settings("[properties]\nall = \"snake_case\"\n"));
  EXPECT_EQ(snake.resolve_attribute("TextLabel", "text_colr3", 7),
            (std::unexpected(
                EmitError{"TextLabel has no property or event named text_colr3", "did you mean TextColor3?", 7, 10})));
}

}  // namespace
