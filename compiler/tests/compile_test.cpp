#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "backend/vide.h"
#include "compile.h"
#include "config.h"
#include "imports.h"

namespace {

using namespace tovix;
using compile::CompileError;

std::string describe(const CompileError& e) {
  return e.message + " | " + e.help.value_or("") + " @" + std::to_string(e.offset) + "+" + std::to_string(e.len);
}

std::expected<compile::Compiled, CompileError> run(std::string_view source, config::Config config = {}) {
  return compile::compile_recovering(source, backend::vide::Vide{}, std::move(config));
}

// Compiles and compares the code; errors and warnings must be none.
void check(std::string_view source, std::string_view expected, config::Config config = {}) {
  auto compiled = run(source, std::move(config));
  ASSERT_TRUE(compiled) << describe(compiled.error());
  EXPECT_EQ(compiled->code, expected);
  for (const auto& error : compiled->errors) ADD_FAILURE() << "error: " << describe(error);
  EXPECT_TRUE(compiled->warnings.empty());
}

// Compiles and expects the compile to fail with `expected`.
void check_fails(std::string_view source, std::string_view expected, config::Config config = {}) {
  auto compiled = run(source, std::move(config));
  ASSERT_FALSE(compiled) << compiled->code;
  EXPECT_EQ(describe(compiled.error()), expected);
}

TEST(Compile, FileWithoutMarkupIsItself) {
  std::string_view source = "--!strict\nlocal x = a < b\nreturn `x{y}` .. [[<Frame/>]]\n";
  check(source, source);
}

TEST(Compile, MarkupIsReplacedInPlace) {
  check("local e = <ui.Card a={1}/> -- done\nreturn e", "local e = ui.Card({ a = 1 }) -- done\nreturn e");
  check("local a, b = <>{x}</>, <ui.A/>", "local a, b = { x }, ui.A({})");
}

TEST(Compile, MarkupNestedInHolesIsCompiled) {
  check("local e = <ui.Card Child={<ui.Icon/>}/>", "local e = ui.Card({ Child = ui.Icon({}) })");
  check("local e = <ui.List>{items:map(function(i) return <ui.Row i={i}/> end)}</ui.List>",
        "local e = ui.List({ items:map(function(i) return ui.Row({ i = i }) end) })");
  check("local e = <ui.Card {<>{a}</>}/>",
        std::string(imports::MERGE_HELPER) + "; local e = ui.Card(__tovix_merge({ a }))");
}

TEST(Compile, HelpersNeededInNestedMarkupCountForTheFile) {
  check("--!strict\nlocal e = <ui.Card Child={<ui.Icon {p}/>}/>",
        "--!strict\n" + std::string(imports::MERGE_HELPER) +
            "; local e = ui.Card({ Child = ui.Icon(__tovix_merge(p)) })");
}

TEST(Compile, FatalErrors) {
  struct Case {
    const char* name;
    std::string_view source;
    std::string_view error;
  };
  const Case cases[] = {
      {"unterminated string in Luau", "local s = 'abc\n", "unterminated string |  @10+0"},
      {"markup syntax", "x = <ui.A></ui.B>", "closing </ui.B> does not match opening <ui.A> |  @10+0"},
      {"empty hole", "x = <ui.A a={ }/>", "this `{}` is empty | remove it, or put an expression in it @12+0"},
      {"comment-only attribute hole", "x = <ui.A a={--[[x]]}/>",
       "this `{}` contains no value | a comment only stands in for a child, not a prop @12+0"},
      {"text in a fragment", "x = <>hello</>",
       "a fragment cannot hold text | a fragment is a plain table, so there is no element for the text to belong "
       "to; wrap it in one, as <TextLabel>hello</TextLabel> @6+5"},
      {"nested parse error points into the file", "x = <ui.A a={<ui.B b=1/>}/>",
       "expected `{expression}` or a quoted string after `=` |  @21+0"},
      {"nested error in a child hole", "x = <ui.A>\n  {  <>hi</>  }\n</ui.A>",
       "a fragment cannot hold text | a fragment is a plain table, so there is no element for the text to belong "
       "to; wrap it in one, as <TextLabel>hi</TextLabel> @18+2"},
      {"component with bare text", "x = <ui.A>hi</ui.A>",
       "<ui.A> is a component, so it cannot take bare text | pass the text as a prop instead @4+5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    check_fails(c.source, c.error);
  }
}

TEST(Compile, StaticConditionalChildLintFollowsItsLevel) {
  std::string_view source = "x = <ui.A>{cond and <ui.B/>}</ui.A>";
  std::string_view code = "x = ui.A({ cond and ui.B({}) })";

  config::Config off;
  off.static_conditional_child = config::LintLevel::Off;
  check(source, code, off);

  auto warned = run(source);
  ASSERT_TRUE(warned);
  EXPECT_EQ(warned->code, code);
  ASSERT_EQ(warned->warnings.size(), 1u);
  EXPECT_EQ(warned->warnings[0].message, "this child is built once, so a condition around it will not update the UI");
  EXPECT_EQ(warned->warnings[0].offset, 10u);
  EXPECT_EQ(warned->warnings[0].len, 18u);

  config::Config error;
  error.static_conditional_child = config::LintLevel::Error;
  check_fails(source,
              "this child is built once, so a condition around it will not update the UI | wrap it in a function so "
              "Vide tracks it: {function() return ... end} @10+18",
              error);

  check("x = <ui.A>{function() return cond and <ui.B/> end}</ui.A>",
        "x = ui.A({ function() return cond and ui.B({}) end })");
}

TEST(Compile, WarningsOfNestedHolesPointIntoTheFile) {
  auto compiled = run("x = <ui.A a={<ui.B>{c and <ui.C/>}</ui.B>}/>");
  ASSERT_TRUE(compiled) << describe(compiled.error());
  ASSERT_EQ(compiled->warnings.size(), 1u);
  EXPECT_EQ(compiled->warnings[0].offset, 19u);
}

TEST(Compile, MarkupNestedTooDeeplyAcrossHolesIsRefused) {
  std::string source = "x = ";
  for (int i = 0; i < 300; ++i) source += "<ui.A a={";
  source += "1";
  for (int i = 0; i < 300; ++i) source += "}/>";
  auto compiled = run(source);
  ASSERT_FALSE(compiled);
  EXPECT_EQ(compiled.error().message, "markup is nested too deeply");
}

TEST(Compile, SpansOfTopLevelMarkup) {
  auto spans = compile::tovix_spans("a = <ui.A b={<ui.B/>}/> < c\nreturn <></>");
  ASSERT_TRUE(spans);
  EXPECT_EQ(*spans, (std::vector<compile::Span>{{4, 23}, {35, 40}}));
  auto broken = compile::tovix_spans("a = <ui.A");
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().message, "expected `>` or `/>`");
}

}  // namespace

namespace {

TEST(CompileResolution, ErrorsAreCollectedShiftedAndSortedByOffset) {
  std::string_view source = "local create = f\nx = <Fram a={<Fran/>}/>\ny = <Frame Sise={1}/>";
  auto compiled = run(source);
  ASSERT_TRUE(compiled) << describe(compiled.error());
  ASSERT_EQ(compiled->errors.size(), 3u);
  EXPECT_EQ(compiled->errors[0].offset, source.find("<Fram "));
  EXPECT_EQ(compiled->errors[0].len, 5u);
  EXPECT_EQ(compiled->errors[1].offset, source.find("<Fran"));
  EXPECT_EQ(compiled->errors[2].offset, source.find("Sise"));
  EXPECT_EQ(compiled->errors[2].message, "Frame has no property or event named Sise");
  EXPECT_EQ(compiled->code,
            "local create = f\nx = create(\"Fram\")({ a = create(\"Fran\")({}) })\ny = create(\"Frame\")({ Sise = 1 })");
}

TEST(CompileResolution, AGeneratorErrorEndsTheCompileDespiteCollectedErrors) {
  check_fails("local create = f\nx = <Fram/>\ny = <Frame>hi</Frame>",
              "<Frame> has no Text property | wrap the text in a <TextLabel> @33+6");
}

TEST(CompileResolution, FactoryMustBeInScope) {
  check_fails("x = <Frame/>",
              "`create` is not in scope | import it, or point [factory] create at something else (currently `create`) @0+0");
  config::Config vide;
  vide.create = "vide.create";
  check("local vide = require(v)\nx = <Frame/>", "local vide = require(v)\nx = vide.create(\"Frame\")({})", vide);
}

TEST(CompileResolution, AndNilOrIsAnErrorOverTheWholeHole) {
  config::Config off;
  off.static_conditional_child = config::LintLevel::Off;
  std::string_view source = "local create = f\nx = <Frame>{ok and nil or <Frame/>}</Frame>";
  check_fails(source,
              "`and nil or` always yields the right-hand side in Lua, so this condition has no effect | write `if cond "
              "then ... else ...` instead @28+24",
              off);
  check("local create = f\nx = <Frame>{nil and ok}</Frame>", "local create = f\nx = create(\"Frame\")({ nil and ok })");
}

TEST(CompileResolution, ComponentsAndClassesThroughTheWholeFile) {
  check("local create, Card = f, g\nreturn <Card title=\"t\"><TextLabel>{n}</TextLabel></Card>",
        "local create, Card = f, g\nreturn Card({ title = \"t\", create(\"TextLabel\")({ Text = n }) })");
}

}  // namespace
