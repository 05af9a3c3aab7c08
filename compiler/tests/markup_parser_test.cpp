#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <variant>

#include "tovix/markup/ast.h"
#include "tovix/markup/parser.h"

namespace tovix::markup::parser {
void PrintTo(const ParseError& error, std::ostream* out) { *out << '"' << error.message << "\" at " << error.offset; }
}  // namespace tovix::markup::parser

namespace {

using namespace tovix::markup;
using parser::MAX_DEPTH;
using parser::parse_node;
using parser::ParseError;
using ast::Attribute;
using ast::AttributeValue;
using ast::Child;

// A tree rendered on one line. Attributes and non-node children show the
// source their span covers after `@`, so spans are checked without counting.
struct Dump {
  std::string_view source;
  std::string out;

  void span(std::size_t start, std::size_t end) {
    out += "@'";
    out += source.substr(start, end - start);
    out += "'";
  }

  void node(const ast::Node& node) {
    if (const auto* element = std::get_if<ast::Element>(&node.kind)) {
      out += "<";
      out += std::holds_alternative<ast::ElementName::Dotted>(element->name.kind) ? "dotted:" : "";
      out += element->name.as_written();
      for (const Attribute& attribute : element->attributes) {
        out += " ";
        if (const auto* spread = std::get_if<Attribute::Spread>(&attribute.kind)) {
          out += "{..." + spread->code + "}";
        } else {
          const auto& named = std::get<Attribute::Named>(attribute.kind);
          out += named.name;
          if (const auto* e = std::get_if<AttributeValue::Expression>(&named.value.kind)) {
            out += "={" + e->code + "}";
          } else if (const auto* l = std::get_if<AttributeValue::Literal>(&named.value.kind)) {
            out += "=" + l->text;
          }
        }
        span(attribute.start(), attribute.end());
      }
      out += ">";
      children(element->children);
    } else {
      out += "<>";
      children(std::get<ast::Fragment>(node.kind).children);
    }
  }

  void children(const std::vector<Child>& children) {
    if (children.empty()) return;
    out += "[";
    bool first = true;
    for (const Child& child : children) {
      if (!first) out += ", ";
      first = false;
      if (const auto* nested = std::get_if<ast::Node>(&child.kind)) {
        node(*nested);
        continue;
      }
      if (const auto* e = std::get_if<Child::Expression>(&child.kind)) {
        out += "E\"" + e->code + "\"";
      } else if (const auto* t = std::get_if<Child::Text>(&child.kind)) {
        out += "T\"" + t->text + "\"";
      } else {
        out += "C\"" + std::get<Child::Comment>(child.kind).text + "\"";
      }
      span(child.start(), child.end());
    }
    out += "]";
  }
};

// Parses the markup at the first `<` and checks the rendering; the node must
// span the whole source unless `rest` says what follows it.
void check(std::string_view source, std::string_view expected, std::string_view rest = "") {
  SCOPED_TRACE(testing::Message() << "source: " << source);
  auto parsed = parse_node(source, 0);
  ASSERT_TRUE(parsed.has_value()) << parsed.error().message << " at " << parsed.error().offset;
  Dump dump{source, {}};
  dump.node(parsed->node);
  EXPECT_EQ(dump.out, expected);
  EXPECT_EQ(parsed->node.start(), 0u);
  EXPECT_EQ(parsed->node.end(), parsed->end);
  EXPECT_EQ(source.substr(parsed->end), rest);
}

TEST(MarkupParser, Trees) {
  struct Case {
    std::string_view source;
    std::string_view tree;
    std::string_view rest = "";
  };
  const Case cases[] = {
      {"<Frame/>", "<Frame>"},
      {"< Frame />", "<Frame>"},
      {"<Frame/> + 1", "<Frame>", " + 1"},
      {"<Frame></Frame>", "<Frame>"},
      {"<Frame></ Frame >)", "<Frame>", ")"},
      {"<></>", "<>"},
      {"< ></ >", "<>"},
      {"<><A/><B/></>", "<>[<A>, <B>]"},
      {"<ui.Button/>", "<dotted:ui.Button>"},
      {"<a.b.c></a.b.c>", "<dotted:a.b.c>"},
      // attributes
      {"<Frame Visible/>", "<Frame Visible@'Visible'>"},
      {"<Frame Visible />", "<Frame Visible@'Visible'>"},
      {"<Frame Visible = {true}/>", "<Frame Visible={true}@'Visible = {true}'>"},
      {"<Frame Size={ UDim2.new(1, 0) }/>", "<Frame Size={UDim2.new(1, 0)}@'Size={ UDim2.new(1, 0) }'>"},
      {"<T Text='a\\'b'/>", "<T Text='a\\'b'@'Text='a\\'b''>"},
      {"<T Text=\"x\\\ny\"/>", "<T Text=\"x\\\ny\"@'Text=\"x\\\ny\"'>"},
      {"<Frame {props}/>", "<Frame {...props}@'{props}'>"},
      {"<Frame {--[[c]] props}/>", "<Frame {...--[[c]] props}@'{--[[c]] props}'>"},
      {"<A a={1}b c/>", "<A a={1}@'a={1}' b@'b' c@'c'>"},
      {"<A a={'}'}/>", "<A a={'}'}@'a={'}'}'>"},
      {"<A f={function() return {x = 1} end}/>",
       "<A f={function() return {x = 1} end}@'f={function() return {x = 1} end}'>"},
      // children
      {"<A>{ x }</A>", "<A>[E\"x\"@'{ x }']"},
      {"<A>{-- note\n}</A>", "<A>[C\"-- note\"@'{-- note\n}']"},
      {"<A>{--[[a]] --[[b]]}</A>", "<A>[C\"--[[a]] --[[b]]\"@'{--[[a]] --[[b]]}']"},
      {"<A> Hi </A>", "<A>[T\" Hi \"@' Hi ']"},
      {"<A>  Hello\n    world  </A>", "<A>[T\"  Hello world  \"@'  Hello\n    world  ']"},
      {"<A>a\r\n  b\r\n</A>", "<A>[T\"a b\"@'a\r\n  b\r\n']"},
      {"<A>\n  one\n\n  two\n</A>", "<A>[T\"one two\"@'\n  one\n\n  two\n']"},
      {"<A>\xC2\xA0x\n\xE3\x80\x80y\xE2\x80\x83\n</A>",
       "<A>[T\"\xC2\xA0x y\"@'\xC2\xA0x\n\xE3\x80\x80y\xE2\x80\x83\n']"},
      {"<A>\n  <B/>\n  <C/>\n</A>", "<A>[<B>, <C>]"},
      {"<A>\\{x\\}</A>", "<A>[T\"{x}\"@'\\{x\\}']"},
      {"<A>a \\< b</A>", "<A>[T\"a \\< b\"@'a \\< b']"},
      {"<A>\\\\ \\` \\n \\\xC3\xA9</A>", "<A>[T\"\\ ` \\n \\\xC3\xA9\"@'\\\\ \\` \\n \\\xC3\xA9']"},
      {"<A>x}y</A>", "<A>[T\"x}y\"@'x}y']"},
      {"<A>Name: {name}!</A>", "<A>[T\"Name: \"@'Name: ', E\"name\"@'{name}', T\"!\"@'!']"},
      {"<A><B>{<C/>}</B></A>", "<A>[<B>[E\"<C/>\"@'{<C/>}']]"},
      // Markup nested in a hole is parsed, not lexed: its text may hold
      // anything, a brace too.
      {"<A>{c and <B>Don't</B>}</A>", "<A>[E\"c and <B>Don't</B>\"@'{c and <B>Don't</B>}']"},
      {"<A>{`x` .. <B>a`b</B>}</A>", "<A>[E\"`x` .. <B>a`b</B>\"@'{`x` .. <B>a`b</B>}']"},
      {"<A b={<B>a -- b</B>} {f(<B>it's</B>)}/>",
       "<A b={<B>a -- b</B>}@'b={<B>a -- b</B>}' {...f(<B>it's</B>)}@'{f(<B>it's</B>)}'>"},
      {"<A>{f({<B>'</B>}, <C>x}y</C>)}</A>", "<A>[E\"f({<B>'</B>}, <C>x}y</C>)\"@'{f({<B>'</B>}, <C>x}y</C>)}']"},
      {"<A>{<B/> .. '}' .. <C>\\{</C>}</A>", "<A>[E\"<B/> .. '}' .. <C>\\{</C>\"@'{<B/> .. '}' .. <C>\\{</C>}']"},
      {"<A>{a < b}</A>", "<A>[E\"a < b\"@'{a < b}']"},
      // Nested markup that does not parse is read on as Luau, as before; the
      // code keeps it, so compiling the code reports it.
      {"<A>{<B>}</A>", "<A>[E\"<B>\"@'{<B>}']"},
      {"<A>{f(<B x=)}</A>", "<A>[E\"f(<B x=)\"@'{f(<B x=)}']"},
      // comments
      {"<A><!-- hi --></A>", "<A>[C\"--[[ hi ]]\"@'<!-- hi -->']"},
      {"<A><!----></A>", "<A>[C\"--[[  ]]\"@'<!---->']"},
      {"<A><!-- a ]] b --></A>", "<A>[C\"--[=[ a ]] b ]=]\"@'<!-- a ]] b -->']"},
      {"<A><!--]--></A>", "<A>[C\"--[[ ] ]]\"@'<!--]-->']"},
      {"<A><!--x]--></A>", "<A>[C\"--[[ x] ]]\"@'<!--x]-->']"},
      {"<A><!-- ]] ]=] --></A>", "<A>[C\"--[==[ ]] ]=] ]==]\"@'<!-- ]] ]=] -->']"},
      {"<A><!--a\n b --></A>", "<A>[C\"--[[a\n b ]]\"@'<!--a\n b -->']"},
      {"<A><!-- <B/> {x} --></A>", "<A>[C\"--[[ <B/> {x} ]]\"@'<!-- <B/> {x} -->']"},
  };
  for (const Case& c : cases) check(c.source, c.tree, c.rest);
}

TEST(MarkupParser, NestedNodeSpans) {
  std::string_view source = "<A>\n  <B x={1}>t</B>\n  <>{y}</>\n</A>";
  auto parsed = parse_node(source, 0);
  ASSERT_TRUE(parsed.has_value());
  const auto& a = std::get<ast::Element>(parsed->node.kind);
  ASSERT_EQ(a.children.size(), 2u);
  auto text = [&](const Child& child) { return source.substr(child.start(), child.end() - child.start()); };
  EXPECT_EQ(text(a.children[0]), "<B x={1}>t</B>");
  EXPECT_EQ(text(a.children[1]), "<>{y}</>");
}

TEST(MarkupParser, StartsAtTheGivenOffset) {
  std::string_view source = "local x = <A>{y}</A> + 1";
  auto parsed = parse_node(source, 10);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->end, 20u);
  const auto& a = std::get<ast::Element>(parsed->node.kind);
  EXPECT_EQ(a.start, 10u);
  EXPECT_EQ(a.children.at(0).start(), 13u);
}

TEST(MarkupParser, ElementNames) {
  ast::ElementName simple{ast::ElementName::Simple{"Frame"}};
  ast::ElementName dotted{ast::ElementName::Dotted{{"ui", "Button"}}};
  EXPECT_EQ(simple.as_written(), "Frame");
  EXPECT_EQ(dotted.as_written(), "ui.Button");
  EXPECT_NE(simple, (ast::ElementName{ast::ElementName::Dotted{{"Frame"}}}));
  EXPECT_EQ(dotted, (ast::ElementName{ast::ElementName::Dotted{{"ui", "Button"}}}));
}

// `marker` holds one `^` under the byte the error must report (it may stand
// just past the end of the source).
TEST(MarkupParser, Errors) {
  struct Case {
    std::string_view source;
    std::string_view marker;
    std::string_view message;
  };
  const Case cases[] = {
      {"x<A/>", "^", "expected `<`"},
      {"<>a</A>", "     ^", "expected `>` to close fragment"},
      {"<>a</ x>", "      ^", "expected `>` to close fragment"},
      {"<A", "  ^", "expected `>` or `/>`"},
      {"<A b={1} ", "         ^", "expected `>` or `/>`"},
      {"<A></A x>", "       ^", "expected `>` to close tag"},
      {"<A></A", "      ^", "expected `>` to close tag"},
      {"<A></B>", "   ^", "closing </B> does not match opening <A>"},
      {"<a.b><c/></a.c>", "         ^", "closing </a.c> does not match opening <a.b>"},
      {"<A>x</ >", "       ^", "expected an element or attribute name"},
      {"<ui .Button/>", "    ^", "expected an element or attribute name"},
      {"<ui./>", "    ^", "expected an element or attribute name"},
      {"<1/>", " ^", "expected an element or attribute name"},
      {"<A / >", "   ^", "expected an element or attribute name"},
      {"<A b=c/>", "     ^", "expected `{expression}` or a quoted string after `=`"},
      {"<A b=", "     ^", "expected `{expression}` or a quoted string after `=`"},
      {"<A b='x\n'/>", "     ^", "unterminated attribute string"},
      {"<A b=\"x\\", "     ^", "unterminated attribute string"},
      {"<Frame a={ }/>", "         ^", "this `{}` is empty"},
      {"<Frame>{}</Frame>", "       ^", "this `{}` is empty"},
      {"<Frame {--[[x]]}/>", "       ^", "this `{}` contains no value"},
      {"<Frame a={-- c\n}/>", "         ^", "this `{}` contains no value"},
      {"<A>{-- note}</A>", "   ^", "unterminated interpolation"},
      {"<A b={1/>", "     ^", "unterminated interpolation"},
      {"<A>{'x}</A>", "    ^", "unterminated string"},
      // A hole really unclosed, or holding a really unterminated string, keeps
      // its error however the markup inside it reads.
      {"<A>{c and <B>Don't</B>", "   ^", "unterminated interpolation"},
      {"<A>{<B>it's</B> .. 'x}</A>", "                   ^", "unterminated string"},
      {"<A>{<B>a</B> -- c}</A>", "   ^", "unterminated interpolation"},
      // Nested markup that does not parse is read on as Luau, as before.
      {"<A>{<B>Don't</C>}</A>", "          ^", "unterminated string"},
      {"<A>", "   ^", "unclosed element"},
      {"<A><B>text", "          ^", "unclosed element"},
      {"<>", "  ^", "unclosed element"},
      {"<A><!-- x </A>", "   ^", "unterminated `<!--` comment"},
      {"<A><!--></A>", "   ^", "unterminated `<!--` comment"},
      {"<A><B></A>", "      ^", "closing </A> does not match opening <B>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    auto parsed = parse_node(c.source, 0);
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error(), (ParseError{std::string(c.message), c.marker.find('^')}));
  }
}

TEST(MarkupParser, DeepNestingIsRefusedNotOverflowed) {
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += "<A>";
  for (int i = 0; i < 10000; ++i) deep += "</A>";
  auto parsed = parse_node(deep, 0);
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error(), (ParseError{"markup is nested too deeply", 3 * MAX_DEPTH}));

  std::string fragments;
  for (std::size_t i = 0; i < MAX_DEPTH; ++i) fragments += "<>";
  for (std::size_t i = 0; i < MAX_DEPTH; ++i) fragments += "</>";
  EXPECT_TRUE(parse_node(fragments, 0).has_value());
}

// An apostrophe, a backtick and "--" in the text of markup nested in holes
// (child, attribute and spread holes in turn) at several depths: every hole
// closes at its own brace and the innermost text is kept as written.
TEST(MarkupParser, AnyTextInMarkupNestedInHoles) {
  struct Hole {
    std::string_view open;
    std::string_view close;
  };
  const Hole holes[] = {{"<A>{c and ", "}</A>"}, {"<A b={", "}/>"}, {"<A {f(", ")}/>"}};
  for (std::string_view text : {"Don't", "a`b", "a -- b", "it's `x` -- \"y"}) {
    for (std::size_t depth = 1; depth <= 4; ++depth) {
      std::string source = "<T>" + std::string(text) + "</T>";
      for (std::size_t level = 0; level < depth; ++level) {
        const Hole& hole = holes[level % std::size(holes)];
        source = std::string(hole.open) + source + std::string(hole.close);
      }
      SCOPED_TRACE(testing::Message() << "source: " << source);
      auto parsed = parse_node(source, 0);
      ASSERT_TRUE(parsed.has_value()) << parsed.error().message << " at " << parsed.error().offset;
      EXPECT_EQ(parsed->end, source.size());

      // Down the holes to the text: each hole's code parsed again, as the
      // compiler does.
      std::string code = source;
      for (std::size_t level = depth; level-- > 0;) {
        const Hole& hole = holes[level % std::size(holes)];
        ASSERT_TRUE(code.starts_with(hole.open));
        auto outer = parse_node(code, 0);
        ASSERT_TRUE(outer.has_value());
        const auto& element = std::get<ast::Element>(outer->node.kind);
        std::string inner;
        if (!element.children.empty()) {
          inner = std::get<Child::Expression>(element.children[0].kind).code;
        } else if (const auto* spread = std::get_if<Attribute::Spread>(&element.attributes[0].kind)) {
          inner = spread->code;
        } else {
          inner =
              std::get<AttributeValue::Expression>(std::get<Attribute::Named>(element.attributes[0].kind).value.kind)
                  .code;
        }
        const std::size_t at = inner.find('<');
        ASSERT_NE(at, std::string::npos);
        code = inner.substr(at, inner.rfind('>') + 1 - at);
      }
      auto innermost = parse_node(code, 0);
      ASSERT_TRUE(innermost.has_value());
      Dump dump{code, {}};
      dump.node(innermost->node);
      EXPECT_EQ(dump.out, "<T>[T\"" + std::string(text) + "\"@'" + std::string(text) + "']");
    }
  }
}

// Markup nesting through holes ten thousand deep: the hole that reaches the
// nesting bound is read on as Luau, never recursed into, so the parse stays
// on the stack (the compiler refuses the nesting; see its tests).
TEST(MarkupParser, DeepNestingThroughHolesStaysOnTheStack) {
  for (auto [open, close] : {std::pair{"<A>{", "}</A>"}, {"<A b={", "}/>"}, {"<A {", "}/>"}, {"<>{c and ", "}</>"}}) {
    std::string opened;
    for (int i = 0; i < 10000; ++i) opened += open;
    std::string closing;
    for (int i = 0; i < 10000; ++i) closing += close;
    SCOPED_TRACE(open);
    const std::string deep = opened + "<T>x</T>" + closing;
    auto parsed = parse_node(deep, 0);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().message << " at " << parsed.error().offset;
    EXPECT_EQ(parsed->end, deep.size());
    EXPECT_EQ(parse_node(opened, 0).error(),
              (ParseError{"unterminated interpolation", std::string_view(open).find('{')}));
    // Past the bound, text is read as Luau again.
    const std::string apostrophe = opened + "<T>it's</T>" + closing;
    EXPECT_EQ(parse_node(apostrophe, 0).error(), (ParseError{"unterminated string", opened.size() + 5}));
  }
}

// A few pieces of nested markup that do not parse are each read on as Luau
// and the other holes still walked; past MAX_NESTED_FAILURES of them the
// parse reads every hole with the brace scan alone, so text in nested markup
// counts as Luau again.
TEST(MarkupParser, ManyBrokenPiecesOfNestedMarkupEndHoleWalks) {
  for (std::size_t broken = 0; broken <= parser::MAX_NESTED_FAILURES + 1; ++broken) {
    std::string source = "<A>";
    for (std::size_t i = 0; i < broken; ++i) source += "{<}";
    source += "{c and <B>Don't</B>}</A>";
    SCOPED_TRACE(source);
    auto parsed = parse_node(source, 0);
    if (broken <= parser::MAX_NESTED_FAILURES) {
      ASSERT_TRUE(parsed.has_value()) << parsed.error().message << " at " << parsed.error().offset;
      EXPECT_EQ(parsed->end, source.size());
    } else {
      EXPECT_EQ(parsed.error(), (ParseError{"unterminated string", source.find('\'')}));
    }
  }
}

// Holes full of markup that does not parse, each of which swallows the rest
// of the text when read as markup: the parse reads it a bounded number of
// times, never once per hole (the test would not finish), and each hole
// reads as it did before.
TEST(MarkupParser, BrokenMarkupInManyHolesStaysLinear) {
  for (std::string_view hole : {"{<B>}", "{c and <B>}", "{<B x={<C>}>}"}) {
    std::string source = "<A>";
    for (int i = 0; i < 20000; ++i) source += hole;
    source += "</A>";
    SCOPED_TRACE(hole);
    auto parsed = parse_node(source, 0);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().message << " at " << parsed.error().offset;
    const auto& children = std::get<ast::Element>(parsed->node.kind).children;
    ASSERT_EQ(children.size(), 20000u);
    EXPECT_EQ(std::get<Child::Expression>(children.back().kind).code, hole.substr(1, hole.size() - 2));
  }
}

}  // namespace
