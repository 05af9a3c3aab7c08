#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tovix/backend/context.h"
#include "tovix/backend/vide.h"
#include "tovix/backend/writer.h"
#include "tovix/config/config.h"
#include "tovix/markup/parser.h"
#include "tovix/resolve.h"

namespace {

using namespace tovix;
using backend::context::EmitContext;
using backend::writer::Writer;

// A resolver that knows only the bindings given.
resolve::Resolver resolver_with(std::vector<std::string> bound = {}, config::Config config = {}) {
  resolve::Resolver resolver("", std::move(config));
  for (std::string& name : bound) resolver.bindings.insert(std::move(name));
  return resolver;
}

TEST(EmitContext, LineStartsAndLineOfAnOffset) {
  auto resolver = resolver_with();
  EmitContext ctx("a\nb\n", resolver);
  EXPECT_EQ(ctx.line_starts, (std::vector<std::size_t>{0, 2, 4}));
  EXPECT_EQ(ctx.line_of(0), 0u);
  EXPECT_EQ(ctx.line_of(1), 0u) << "a line feed belongs to the line it ends";
  EXPECT_EQ(ctx.line_of(2), 1u) << "a line start belongs to its line";
  EXPECT_EQ(ctx.line_of(4), 2u);
  EXPECT_EQ(ctx.line_of(99), 2u);
}

TEST(EmitContext, IndentIsLeadingUnicodeWhitespaceWithoutTheLineBreak) {
  auto resolver = resolver_with();
  EmitContext ctx("x\n    y = 1\r\n\t\xC2\xA0z\n   \n  \r\n", resolver);
  EXPECT_EQ(ctx.indent_of(0), "");
  EXPECT_EQ(ctx.indent_of(1), "    ");
  EXPECT_EQ(ctx.indent_of(2), "\t\xC2\xA0");
  EXPECT_EQ(ctx.indent_of(3), "   ");
  EXPECT_EQ(ctx.indent_of(4), "  ") << "a blank line of a CRLF file keeps its CR out";
  EXPECT_EQ(ctx.indent_of(5), "");
  EXPECT_EQ(ctx.indent_of(9), "");
}

TEST(EmitContext, FailedResolutionsAreRecordedAndGenerationGoesOn) {
  auto resolver = resolver_with();
  std::string_view text = "<Fram/>";
  EmitContext ctx(text, resolver);
  auto parsed = markup::parser::parse_node(text, 0);
  ASSERT_TRUE(parsed);
  const auto& element = std::get<markup::ast::Element>(parsed->node.kind);
  resolve::Resolution resolution = ctx.resolve(element.name, 0);
  ASSERT_TRUE(std::holds_alternative<resolve::Resolution::Unresolved>(resolution.kind));
  EXPECT_EQ(std::get<resolve::Resolution::Unresolved>(resolution.kind).name, "Fram");
  ASSERT_EQ(ctx.errors.size(), 1u);
  EXPECT_EQ(ctx.errors[0].offset, 0u);
  EXPECT_EQ(ctx.errors[0].len, 5u);

  EXPECT_EQ(ctx.resolve_attribute("Frame", "Sise", 3), "Sise");
  EXPECT_EQ(ctx.errors.size(), 2u);
}

TEST(Writer, MovesDownWithIndentationAndNeverUp) {
  auto resolver = resolver_with();
  std::string_view text = "a\nb\n    x = 1\n";
  EmitContext ctx(text, resolver);
  Writer writer(ctx, 0);
  EXPECT_TRUE(writer.to(text.find('x')));
  EXPECT_EQ(writer.out, "\n\n    ");
  EXPECT_EQ(writer.line, 2u);
  EXPECT_FALSE(writer.to(text.find('1')));
  EXPECT_FALSE(writer.to(0));
  EXPECT_EQ(writer.out, "\n\n    ");
  writer.break_or_space(text.find('1'));
  EXPECT_EQ(writer.out, "\n\n     ");
}

TEST(Writer, PushCountsLineFeeds) {
  auto resolver = resolver_with();
  std::string_view text = "a\nb\nc\n";
  EmitContext ctx(text, resolver);
  Writer writer(ctx, 0);
  writer.push("f(\n\n)");
  EXPECT_EQ(writer.line, 2u);
  EXPECT_FALSE(writer.to(text.find('c')));
  EXPECT_EQ(writer.out, "f(\n\n)");
}

// Splices the generated code of the first markup expression of `source`
// back into it, as the pipeline does.
struct Emitted {
  std::string code;
  std::string error;  // "message | help @offset+len"
  std::vector<backend::EmitError> recorded;
  bool uses_factory = false, needs_read = false, needs_merge = false;
};

Emitted emit(std::string_view source, std::vector<std::string> bound = {}, config::Config config = {}) {
  auto resolver = resolver_with(std::move(bound), std::move(config));
  EmitContext ctx(source, resolver);
  std::size_t start = source.find('<');
  auto parsed = markup::parser::parse_node(source, start);
  EXPECT_TRUE(parsed) << parsed.error().message;
  if (!parsed) return {};
  auto out = backend::vide::Vide{}.emit(parsed->node, ctx);
  Emitted result;
  if (out) {
    result.code = std::string(source.substr(0, start)) + *out + std::string(source.substr(parsed->end));
  } else {
    const auto& e = out.error();
    result.error =
        e.message + " | " + e.help.value_or("") + " @" + std::to_string(e.offset) + "+" + std::to_string(e.len);
  }
  result.recorded = ctx.errors;
  result.uses_factory = ctx.uses_factory;
  result.needs_read = ctx.needs_read;
  result.needs_merge = ctx.needs_merge;
  return result;
}

struct Shape {
  const char* name;
  std::string_view source;
  std::string_view expected;
};

TEST(Vide, CodeShapes) {
  const Shape shapes[] = {
      {"attribute literal", "local e = <TextLabel Text='Hi'/>", "local e = create(\"TextLabel\")({ Text = 'Hi' })"},
      {"empty element", "<Frame/>", "create(\"Frame\")({})"},
      {"empty element over two lines", "<Frame>\n</Frame>", "create(\"Frame\")({\n})"},
      {"component with bare attribute and spread", "<Button Primary {props}/>",
       "Button(__tovix_merge({ Primary = true }, props))"},
      {"dotted component", "<ui.Button Label=\"x\"/>", "ui.Button({ Label = \"x\" })"},
      {"reactive text with spread", "<TextLabel Size={s} {p}>Hello {name}</TextLabel>",
       "create(\"TextLabel\")(__tovix_merge({ Size = s }, p, { Text = function() return `Hello "
       "{__tovix_read(name)}` end }))"},
      {"fragment", "<>{a}{b}</>", "{ a, b }"},
      {"element over four lines", "<Frame\n    Size={s}>\n    <TextLabel Text='a'/>\n</Frame>",
       "create(\"Frame\")({\n    Size = s,\n    create(\"TextLabel\")({ Text = 'a' }),\n})"},
      {"single expression text", "<TextLabel>{label}</TextLabel>", "create(\"TextLabel\")({ Text = label })"},
      {"quoted text escapes", "<TextLabel>say \"hi\" \\ now</TextLabel>",
       "create(\"TextLabel\")({ Text = \"say \\\"hi\\\" \\\\ now\" })"},
      {"function text escapes", "<TextLabel>a`b \\{c\\} {x}</TextLabel>",
       "create(\"TextLabel\")({ Text = function() return `a\\`b \\{c\\} {__tovix_read(x)}` end })"},
      {"multi-line text joins with a blank", "<TextLabel>\n  Hello\n  world\n</TextLabel>",
       "create(\"TextLabel\")({ Text = \"Hello world\",\n\n\n})"},
      {"written Text dropped in text mode", "<TextLabel Text='x'>y</TextLabel>",
       "create(\"TextLabel\")({ Text = \"y\" })"},
      {"written Text kept otherwise", "<TextLabel Text='x'/>", "create(\"TextLabel\")({ Text = 'x' })"},
      {"expression child of a class without Text", "<Frame>{x}</Frame>", "create(\"Frame\")({ x })"},
      {"unresolved element keeps its name", "<Fram a={1}/>", "create(\"Fram\")({ a = 1 })"},
      {"comments take no comma", "<Frame><A/><!-- c --></Frame>", "create(\"Frame\")({ A({}) --[[ c ]] })"},
      {"only comments over lines: no trailing comma", "<Frame>\n  <!-- c -->\n</Frame>",
       "create(\"Frame\")({\n  --[[ c ]]\n})"},
      {"two spreads in a row", "<Frame {a} {b}/>", "create(\"Frame\")(__tovix_merge(a, b))"},
      {"attributes after a spread start a table", "<Frame {a} Visible/>",
       "create(\"Frame\")(__tovix_merge(a, { Visible = true }))"},
      {"a table followed by a group closes where it begins", "<Frame a={1}\n  {p}\n  b={2}/>",
       "create(\"Frame\")(__tovix_merge({ a = 1,\n  }, p,\n  { b = 2 }))"},
      {"spread on a later line first", "<Frame\n  {p}/>", "create(\"Frame\")(__tovix_merge(\n  p))"},
      {"nested fragment child", "<Frame><>{a}</></Frame>", "create(\"Frame\")({ { a } })"},
      {"empty fragment", "<></>", "{}"},
      {"text mode with element children", "<TextButton>Go<UICorner/></TextButton>",
       "create(\"TextButton\")({ Text = \"Go\", create(\"UICorner\")({}) })"},
      {"tab in text is copied", "<TextLabel>a\tb</TextLabel>", "create(\"TextLabel\")({ Text = \"a\tb\" })"},
      {"code ending in a line comment gets its line break", "<Frame a={x -- c\n}/>",
       "create(\"Frame\")({ a = x -- c\n })"},
      {"a line comment does not swallow the text string", "<TextLabel>{x -- c\n} y</TextLabel>",
       "create(\"TextLabel\")({ Text = function() return `{__tovix_read(x -- c\n)} y` end })"},
      {"hole comment as last entry", "<Frame><A/>{-- c\n}</Frame>", "create(\"Frame\")({ A({}) -- c\n })"},
      {"long comment needs no break", "<Frame a={x --[[c]]}/>", "create(\"Frame\")({ a = x --[[c]] })"},
      {"text takes its place among the children", "<TextLabel>\n  <UICorner/>\n  Hello\n</TextLabel>",
       "create(\"TextLabel\")({\n  create(\"UICorner\")({}), Text = \"Hello\",\n\n})"},
      {"non-ASCII text", "<TextLabel>h\xC3\xA9 {n}</TextLabel>",
       "create(\"TextLabel\")({ Text = function() return `h\xC3\xA9 {__tovix_read(n)}` end })"},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    Emitted emitted = emit(shape.source, {"Button", "A"});
    EXPECT_EQ(emitted.error, "");
    EXPECT_EQ(emitted.code, shape.expected);
  }
}

TEST(Vide, ConfiguredFactoryAndRenamedAttributes) {
  config::Config config;
  config.create = "vide.create";
  Emitted emitted = emit("<Frame Size={s}/>", {}, config);
  EXPECT_EQ(emitted.code, "vide.create(\"Frame\")({ Size = s })");
}

TEST(Vide, FlagsFollowWhatTheOutputCalls) {
  Emitted plain = emit("<Button a={1}/>", {"Button"});
  EXPECT_FALSE(plain.uses_factory || plain.needs_read || plain.needs_merge);

  Emitted read = emit("<TextLabel>a {b}</TextLabel>");
  EXPECT_TRUE(read.uses_factory && read.needs_read && !read.needs_merge);

  Emitted single = emit("<TextLabel>{__tovix_read(x)}</TextLabel>");
  EXPECT_TRUE(single.needs_read) << "an expression's own call counts too";

  Emitted merge = emit("<Button {p}/>", {"Button"});
  EXPECT_TRUE(merge.needs_merge && !merge.uses_factory);

  Emitted unresolved = emit("<Fram/>");
  EXPECT_EQ(unresolved.code, "create(\"Fram\")({})");
  EXPECT_TRUE(unresolved.uses_factory);
  EXPECT_EQ(unresolved.recorded.size(), 1u);
}

TEST(Vide, TextContentErrors) {
  struct Case {
    std::string_view source;
    std::string_view error;
  };
  const Case cases[] = {
      {"x = <Frame>hi</Frame>", "<Frame> has no Text property | wrap the text in a <TextLabel> @4+6"},
      {"<Frame> </Frame>", "<Frame> has no Text property | wrap the text in a <TextLabel> @0+6"},
      {"<TextLabel>{x}<Frame/></TextLabel>",
       "<TextLabel> has both an expression child and element children, so it is unclear whether the expression is "
       "text or a child | write it as Text={...} instead @0+10"},
      {"<ui.Card>hi</ui.Card>",
       "<ui.Card> is a component, so it cannot take bare text | pass the text as a prop "
       "instead @0+8"},
      {"<Frame><Frame><Frame>x</Frame></Frame></Frame>",
       "<Frame> has no Text property | wrap the text in a <TextLabel> @14+6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(emit(c.source).error, c.error);
  }
}

TEST(Vide, LineCountFollowsTheSource) {
  std::string_view sources[] = {
      "<Frame\n  a={1}\n\n  {p}\n  b={f(\n1)}>\n  <TextLabel>\n    x {y}\n  </TextLabel>\n  {-- note\n  }\n</Frame>",
      "<>\n\n  <Frame/>\n  {z}\n</>",
      "<TextLabel Text='a'\n/>",
      "<TextLabel>\n  <UICorner CornerRadius={UDim.new(\n0, 4)}/>\n  Hello\n</TextLabel>",
      "<Frame {p}>\n  {items:map(function(i)\n    return i\n  end)}\n</Frame>",
      "<Frame a={1} {p}>\n  {f(\n  )}\n  {-- a\n  -- b\n  }<A/>\n</Frame>",
  };
  for (std::string_view source : sources) {
    SCOPED_TRACE(source);
    Emitted emitted = emit(source);
    EXPECT_EQ(emitted.error, "");
    EXPECT_EQ(std::count(emitted.code.begin(), emitted.code.end(), '\n'),
              std::count(source.begin(), source.end(), '\n'));
  }
}

TEST(Vide, Name) { EXPECT_EQ(backend::vide::Vide{}.name(), "vide"); }

}  // namespace
