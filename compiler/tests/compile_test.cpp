#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "tovix/imports.h"
#include "tovix/markup/parser.h"

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

// Every occurrence of `from` in `text` replaced by `to`.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Markup nested in a hole may hold any text: the file compiles to what it
// would with the troublesome characters left out of the text, apart from the
// text itself, with the same warnings.
TEST(Compile, TextInMarkupNestedInHolesMayHoldAnything) {
  struct Case {
    std::string source;
    std::string_view text;
    std::string_view without;
  };
  std::vector<Case> cases = {
      {"local create = f\nx = <Frame>{visible and <TextLabel>Don't go</TextLabel>}</Frame>", "Don't go", "Dont go"},
      {"local create = f\nx = <Frame>{items:map(function(i) return <TextLabel>It's {i}</TextLabel> end)}</Frame>",
       "It's ", "Its "},
  };
  // Child, attribute and spread holes in turn, one to three deep.
  struct Hole {
    std::string_view open;
    std::string_view close;
  };
  const Hole holes[] = {{"<Frame>{c and ", "}</Frame>"}, {"<ui.Card body={", "}/>"}, {"<ui.Card {f(", ")}/>"}};
  const std::pair<std::string_view, std::string_view> texts[] = {{"it's", "its"}, {"a`b", "ab"}, {"a -- b", "a  b"}};
  for (const auto& [text, without] : texts) {
    for (std::size_t depth = 1; depth <= 3; ++depth) {
      std::string markup = "<TextLabel>" + std::string(text) + "</TextLabel>";
      for (std::size_t level = 0; level < depth; ++level) {
        markup = std::string(holes[level].open) + markup + std::string(holes[level].close);
      }
      cases.push_back({"local create = f\nreturn " + markup + "\n", text, without});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    auto compiled = run(c.source);
    ASSERT_TRUE(compiled) << describe(compiled.error());
    auto plain = run(replaced(c.source, c.text, c.without));
    ASSERT_TRUE(plain) << describe(plain.error());
    EXPECT_EQ(replaced(compiled->code, c.text, c.without), plain->code);
    EXPECT_TRUE(compiled->errors.empty());
    ASSERT_EQ(compiled->warnings.size(), plain->warnings.size());
    for (std::size_t i = 0; i < plain->warnings.size(); ++i) {
      EXPECT_EQ(compiled->warnings[i].message, plain->warnings[i].message);
      EXPECT_EQ(compiled->warnings[i].offset, plain->warnings[i].offset);
    }
  }
}

// A hole that is really unclosed, or really holds an unterminated string,
// and nested markup that does not parse keep the errors they always gave.
TEST(Compile, ReallyBrokenHolesKeepTheirErrors) {
  struct Case {
    std::string_view source;
    std::string_view error;
  };
  const Case cases[] = {
      {"x = <ui.A>{c and d</ui.A>", "unterminated interpolation |  @10+0"},
      {"x = <ui.A>{c and <ui.B>Don't</ui.B>", "unterminated interpolation |  @10+0"},
      {"x = <ui.A>{<ui.B>a</ui.B> -- c}</ui.A>", "unterminated interpolation |  @10+0"},
      {"x = <ui.A>{'x}</ui.A>", "unterminated string |  @11+0"},
      {"x = <ui.A>{<ui.B>it's</ui.B> .. 'x}</ui.A>", "unterminated string |  @32+0"},
      {"x = <ui.A b={<ui.B>it's</ui.B> .. \"x}/>", "unterminated string |  @34+0"},
      {"x = <A>{<B>}</A>", "unclosed element |  @11+0"},
      {"x = <ui.A>{f(<ui.B>)}</ui.A>", "unclosed element |  @20+0"},
      {"x = <ui.A>{<ui.B>{<ui.C>}</ui.B>}</ui.A>", "unclosed element |  @24+0"},
      {"x = <ui.A>{<ui.B/>}{<ui.C>}</ui.A>", "unclosed element |  @26+0"},
      {"x = <ui.A>{c and <ui.B x=}</ui.A>", "expected `{expression}` or a quoted string after `=` |  @25+0"},
      {"x = <ui.A>{c and <ui.B>Don't</ui.C>}</ui.A>", "unterminated string |  @26+0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    check_fails(c.source, c.error);
  }
}

TEST(Compile, StaticConditionalChildLintSeesPastTextInMarkup) {
  auto compiled = run("local create = f\nx = <Frame>{cond and <TextLabel>Don't</TextLabel>}</Frame>");
  ASSERT_TRUE(compiled) << describe(compiled.error());
  ASSERT_EQ(compiled->warnings.size(), 1u);
  EXPECT_EQ(compiled->warnings[0].message, "this child is built once, so a condition around it will not update the UI");
  EXPECT_EQ(compiled->warnings[0].offset, 28u);
  EXPECT_EQ(compiled->warnings[0].len, 39u);
}

// Ten thousand levels of markup nested through holes: refused at the 257th
// level's `<`, without exhausting the stack. Beyond the bound holes are read
// as Luau, so an apostrophe down there is an unterminated string, as it
// always was.
TEST(Compile, MarkupNestedTenThousandDeepThroughHolesIsRefused) {
  for (auto [open, close] : {std::pair{"<ui.A>{", "}</ui.A>"}, {"<ui.A a={", "}/>"}, {"<ui.A {", "}/>"}}) {
    SCOPED_TRACE(open);
    std::string opened = "x = ";
    for (int i = 0; i < 10000; ++i) opened += open;
    std::string closing;
    for (int i = 0; i < 10000; ++i) closing += close;
    check_fails(opened + "<ui.T>x</ui.T>" + closing,
                "markup is nested too deeply |  @" +
                    std::to_string(4 + std::string_view(open).size() * markup::parser::MAX_DEPTH) + "+0");
    check_fails(opened + "<ui.T>it's</ui.T>" + closing,
                "unterminated string |  @" + std::to_string(opened.size() + 8) + "+0");
  }
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
  EXPECT_EQ(
      compiled->code,
      "local create = f\nx = create(\"Fram\")({ a = create(\"Fran\")({}) })\ny = create(\"Frame\")({ Sise = 1 })");
}

TEST(CompileResolution, AGeneratorErrorEndsTheCompileDespiteCollectedErrors) {
  check_fails("local create = f\nx = <Fram/>\ny = <Frame>hi</Frame>",
              "<Frame> has no Text property | wrap the text in a <TextLabel> @33+6");
}

TEST(CompileResolution, FactoryMustBeInScope) {
  check_fails(
      "x = <Frame/>",
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
