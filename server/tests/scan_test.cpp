#include "workspace/scan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "marked_text.h"

namespace tovix_lsp::scan {
namespace {

using testing_support::MarkedText;

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The scan as one line: the context with its offsets named by the fixture's
// markers, then the open elements ("<>" for a fragment).
std::string describe(const Scan& scan, const MarkedText& fixture) {
  struct Visitor {
    const MarkedText& f;
    std::string operator()(const Luau&) const { return "Luau"; }
    std::string operator()(const Hole& h) const { return "Hole " + f.name(h.start) + ".." + f.name(h.end); }
    std::string operator()(const TagName& t) const {
      return "TagName " + quoted(t.prefix) + " @" + f.name(t.start) + (t.closing ? " closing" : "");
    }
    std::string operator()(const AttributeName& a) const {
      return "AttributeName " + a.element + " " + quoted(a.prefix) + " @" + f.name(a.start);
    }
    std::string operator()(const AttributeValue& a) const { return "AttributeValue " + a.element + "." + a.attribute; }
    std::string operator()(const Children& c) const {
      if (!c.parent) return "Children (top)";
      return "Children " + (c.parent->empty() ? std::string("<>") : *c.parent);
    }
  };
  std::string out = std::visit(Visitor{fixture}, scan.context);
  if (!scan.open.empty()) {
    out += " in";
    for (const OpenTag& tag : scan.open) out += " " + (tag.name.empty() ? std::string("<>") : tag.name);
  }
  return out;
}

void check(std::string_view fixture_text, std::string_view expected) {
  const MarkedText fixture(fixture_text);
  ASSERT_TRUE(fixture.cursor) << "no ^ in the fixture";
  EXPECT_EQ(describe(scan(fixture.text, *fixture.cursor), fixture), expected);
}

struct Case {
  const char* fixture;
  const char* expected;
};

void check_all(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    check(c.fixture, c.expected);
  }
}

TEST(Scan, TagNames) {
  check_all({
      {"<$Frame^", "TagName 'Frame' @$0"},
      {"local a = <$Fr^ame/>", "TagName 'Fr' @$0"},
      {"local a = <^Frame/>", "TagName '' @^"},
      {"<$ui.Bu^", "TagName 'ui.Bu' @$0"},
      {"<A><B/><$Te^", "TagName 'Te' @$0 in A"},
      {"<A></^", "TagName '' @^ closing in A"},
      {"<A><B></$B^>", "TagName 'B' @$0 closing in A B"},
      {"return <A>\n  </$A^>\n", "TagName 'A' @$0 closing in A"},
  });
}

TEST(Scan, AttributeNames) {
  check_all({
      {"<Frame ^", "AttributeName Frame '' @^"},
      {"<Frame $Si^", "AttributeName Frame 'Si' @$0"},
      {"<Frame $Si^ze={x}/>", "AttributeName Frame 'Si' @$0"},
      {"<Frame $data.x^", "AttributeName Frame 'data.x' @$0"},
      {"<Frame Size={x} $Vi^", "AttributeName Frame 'Vi' @$0"},
      {"<Frame Visible ^/>", "AttributeName Frame '' @^"},
      {"<Frame\n\t^", "AttributeName Frame '' @^"},
      // Between the name and the end of an unfinished tag.
      {"<A><Frame Text='x' ^", "AttributeName Frame '' @^ in A"},
  });
}

TEST(Scan, QuotedValues) {
  check_all({
      {"<Frame Text='ab^", "AttributeValue Frame.Text"},
      {"<Frame Text='^ab'/>", "AttributeValue Frame.Text"},
      {"<Frame Text=\"ab^", "AttributeValue Frame.Text"},
      {"<Frame Text = \"a\\\"b^\"/>", "AttributeValue Frame.Text"},
      {"<Frame Text='caf\xC3\xA9^'/>", "AttributeValue Frame.Text"},
      {"<Frame Text='ab'^/>", "Luau"},
      // A line feed ends an unclosed value; the tag goes on after it.
      {"<Frame Text='ab\n  $Si^", "AttributeName Frame 'Si' @$0"},
  });
}

TEST(Scan, Holes) {
  check_all({
      {"<A>{$x^}</A>", "Hole $0..^ in A"},
      {"<A>{$ ^x $}</A>", "Hole $0..$1 in A"},
      {"<Frame Size={$UDim2.new(^", "Hole $0..^"},
      {"<Frame {$props^}/>", "Hole $0..^"},
      {"<Frame Size={$f({a = 1}^)$}/>", "Hole $0..$1"},
      // Markup inside a hole is walked too, and its context wins.
      {"<A>{<$B^/>}</A>", "TagName 'B' @$0 in A"},
      {"<A>{items:map(function(i) return <B>^</B> end)}</A>", "Children B in A B"},
      {"<A>{c and <B x={$y^}/>}</A>", "Hole $0..^ in A"},
      // Where markup in a hole gives no better context, the hole's fill-ins
      // still apply to it.
      {"<A>{c and <B>^</B>}</A>", "Children B in A B"},
      {"<A>{c and <B>^}</A>", "Children B in A B"},
  });
}

TEST(Scan, Children) {
  check_all({
      {"<Frame>^", "Children Frame in Frame"},
      {"<A>hello ^world</A>", "Children A in A"},
      {"<A><B></B>^</A>", "Children A in A"},
      {"<A><B>^", "Children B in A B"},
      {"<>^", "Children <> in <>"},
      {"<A>h\xC3\xA9llo ^</A>", "Children A in A"},
      {"<A>{x}^</A>", "Children A in A"},
      // A closing tag closes the innermost element whatever its name.
      {"<A><B></C>^", "Children A in A"},
  });
}

// A child is usually added by opening a line and typing "<": the cursor
// after it is on the new child's name, whatever follows on the line.
TEST(Scan, ALoneLessThanStartsAChildsName) {
  check_all({
      {"return <Frame>\n\t<^\n</Frame>", "TagName '' @^ in Frame"},
      {"return <Frame>\n\t<^ \n</Frame>", "TagName '' @^ in Frame"},
      {"return <Frame>\n\t<^/>\n</Frame>", "TagName '' @^ in Frame"},
      {"return <Frame>\n\t<^</Frame>", "TagName '' @^ in Frame"},
      {"return <Frame><^</Frame>", "TagName '' @^ in Frame"},
      {"return <Frame><^/Frame>", "TagName '' @^ in Frame"},
      {"return <Frame>\n\t<^", "TagName '' @^ in Frame"},
      {"return <Frame>\n\t<^ ", "TagName '' @^ in Frame"},
      {"return <>\n\t<^\n</>", "TagName '' @^ in <>"},
      {"return <A>\n\t<B>\n\t\t<^\n\t</B>\n</A>", "TagName '' @^ in A B"},
      {"<A>{c and <B>\n<^\n</B>}</A>", "TagName '' @^ in A B"},
      // Around it the line is still the element's children, and "</"
      // still closes.
      {"return <Frame>\n\t^<\n</Frame>", "Children Frame in Frame"},
      {"return <Frame>\n\t< ^x\n</Frame>", "Children Frame in Frame"},
      {"return <Frame>\n\t<\n^</Frame>", "Children Frame in Frame"},
      {"return <Frame>\n\t<\n</^Frame>", "TagName '' @^ closing in Frame"},
      {"return <Frame>\n\t</^>\n</Frame>", "TagName '' @^ closing in Frame"},
  });
}

TEST(Scan, LuauAndEndOfFile) {
  check_all({
      {"local x^ = 1", "Luau"},
      {"if a < b then ^ end", "Luau"},
      {"^", "Luau"},
      {"<Frame/>^", "Luau"},
      {"local a = <A>x</A>\nlocal b^ = 1", "Luau"},
      {"local t = { <A/>, ^ }", "Luau"},
      {"x = <A>\n  <B>\n^", "Children B in A B"},
  });
}

TEST(Scan, Comments) {
  check_all({
      {"<!-- never closed^", "Children (top)"},
      {"<!-- never^ closed", "Luau"},
      {"<A><!-- a <B> ^--></A>", "Luau"},
      // The search for "-->" starts at the comment's "<".
      {"x = <!--><A>^</A>", "Children A in A"},
  });
}

TEST(Scan, HalfTypedText) {
  check_all({
      // A lexer error before the markup: the walk goes on byte by byte.
      {"local s = 'unterminated <$Frame^", "TagName 'Frame' @$0"},
      {"local s = \"x\nlocal a = <Frame ^", "AttributeName Frame '' @^"},
      {"local a = <Frame Size={UDim2.new(1, 0)} $Te^", "AttributeName Frame 'Te' @$0"},
      {"local a = <A>\n  <$B^\nlocal b = 1\n", "TagName 'B' @$0 in A"},
      // "</A>" pops "B", so "A" stays open and the walk reads on past it.
      {"local a = <A><B></A>\nlocal b = <C>^", "Children C in A C"},
  });
}

// The markup this walk reads at the top level, for blanking: what it walks
// as markup for a cursor, markup that does not parse included.
TEST(Scan, MarkupSpans) {
  struct Case {
    const char* fixture;              // each span from one `$` to the next
    std::optional<std::size_t> from;  // resumed there (a fresh scanner state)
  };
  const Case cases[] = {
      {"local x = $<$\nlocal y = $<Frame Size={<A/>} />$\nlocal z = 1", std::nullopt},
      {"local x = $<Frame\n  Size={1}\nlocal y = 2$", std::nullopt},
      {"local x = $<A><B></A>\nlocal y = 1$", std::nullopt},
      {"local s = 'unterminated $<Frame/>$ $<B>x</B>$", std::nullopt},
      {"local x = <A/> local y = $<B/>$", 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const MarkedText f(c.fixture);
    std::vector<std::pair<std::size_t, std::size_t>> expected;
    for (std::size_t i = 0; i + 1 < f.marks.size(); i += 2) expected.emplace_back(f.marks[i], f.marks[i + 1]);
    std::optional<Resume> from;
    if (c.from) from = Resume{*c.from, {}};
    EXPECT_EQ(markup_spans(f.text, from), expected);
  }
}

// Text in markup nested inside a hole is markup text, not Luau: an
// apostrophe there opens no string, so the hole still ends at its brace.
TEST(Scan, HoleEndsSkipNestedMarkup) {
  check_all({
      {"<A>{c and <B>Don't</B>}<$C^", "TagName 'C' @$0 in A"},
      {"<A>{c and <B>Don't</B>} ^</A>", "Children A in A"},
      {"<A>{c and <B>`x` -- y</B>} ^</A>", "Children A in A"},
      {"<A>{$c and <B>Don't</B>^}</A>", "Hole $0..^ in A"},
      // Nested markup that does not parse yet is read on as Luau.
      {"<A>{c and <B x=^}</A>", "AttributeName B '' @^ in A"},
      {"<A>{c and <B x ^}</A>", "AttributeName B '' @^ in A"},
      // Too much half-typed markup for the walk: the plain brace match
      // still ends the hole.
      {"<A>{f(<B,<C,<D,<E,<F,<G)} ^</A>", "Children A in A"},
      // An exponent's sign is not the start of a comment, as the walk lexes it.
      {"<A>{1e--} ^</A>", "Children A in A"},
      // A real unterminated string in the hole leaves it open to the end.
      {"<A>{$f('x)^} </A>$", "Hole $0..$1 in A"},
  });
}

// Thousands of holes nested in one another neither exhaust the stack nor
// stop the scan: past a depth no compiled file reaches, a hole's inside is
// no longer walked and the cursor is simply in a hole.
TEST(Scan, DeeplyNestedHolesStillAnswer) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "<a>{";
  text += "<b";
  const Scan result = scan(text, text.size());
  EXPECT_TRUE(std::holds_alternative<Hole>(result.context));
  EXPECT_EQ(std::get<Hole>(result.context).end, text.size());
}

TEST(Scan, OpenTagsKeepTheirStarts) {
  const MarkedText fixture("local a = $<A>\n  $<B x={1}>\n    $<>^");
  const Scan result = scan(fixture.text, *fixture.cursor);
  ASSERT_EQ(result.open.size(), 3u);
  EXPECT_EQ(result.open[0], (OpenTag{"A", fixture.marks[0]}));
  EXPECT_EQ(result.open[1], (OpenTag{"B", fixture.marks[1]}));
  EXPECT_EQ(result.open[2], (OpenTag{"", fixture.marks[2]}));
}

// One walk for many cursors answers what a walk for each alone does, and a
// walk that stops after its cursor answers what a walk of the whole text
// does (a cursor at the end keeps the second walk going).
TEST(Scan, AllCursorsAtOnceAgreeWithOneAtATime) {
  const char* texts[] = {
      "local a = <Frame Size={UDim2.new(1, 0)} Visible>\n  <TextLabel Text=\"hi\"/>\n  {cond and <A "
      "x='1'/>}\n</Frame>\n",
      "<A><B></B>{<C d={e}>Don't {f}</C>}</A> < b > c\n<ui.Card ",
      "local s = 'unterminated\n<Frame a={1\n<>text</> <!-- c --> </A",
      "x = 1 --[[ <Frame> ]] y = <Z {...p} k=\"v\">{`t{1}`}</Z>",
      "return <A>\n\t<\n\t< x</>\n\t<</A>\n",
      "<\xC3\xA9> <Fr\xC3\xA9"
      "ame a=\"\xE2\x82\xAC\"/>",
      "",
  };
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    std::vector<std::size_t> cursors;
    for (std::size_t c = 0; c <= text.size() + 1; ++c) cursors.push_back(c);
    const std::vector<Scan> all = scan_all(text, cursors);
    ASSERT_EQ(all.size(), cursors.size());
    for (std::size_t c : cursors) {
      SCOPED_TRACE(c);
      EXPECT_EQ(all[c], scan(text, c));
      const std::size_t with_end[] = {c, text.size()};
      EXPECT_EQ(scan_all(text, with_end).front(), scan(text, c));
    }
  }
}

}  // namespace
}  // namespace tovix_lsp::scan
