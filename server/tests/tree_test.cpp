#include "workspace/tree.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "marked_text.h"
#include "tovix/markup/parser.h"

namespace tovix_lsp::tree {
namespace {

using testing_support::MarkedText;

// One line per tag, pre-order, indented by depth: the name ("<>" for a
// fragment), the opening name's range, the closing name's ("/ none" when
// absent), the span in brackets, and the Name attribute. Offsets are named
// by the fixture's markers.
void describe(const std::vector<Tag>& tags, const MarkedText& f, std::string& out, std::string indent = "") {
  auto range = [&](line_index::ByteRange r) { return f.name(r.start) + ".." + f.name(r.end); };
  for (const Tag& t : tags) {
    out += indent + (t.name.empty() ? "<>" : t.name) + " " + range(t.open);
    out += " /" + (t.close ? range(*t.close) : std::string(" none"));
    out += " [" + range(t.span) + "]";
    if (t.name_attr) out += " Name=" + *t.name_attr;
    out += "\n";
    describe(t.children, f, out, indent + "  ");
  }
}

void check(std::string_view fixture_text, std::string_view expected) {
  SCOPED_TRACE(fixture_text);
  const MarkedText fixture(fixture_text);
  std::string out;
  describe(tree(fixture.text), fixture, out);
  EXPECT_EQ(out, expected);
}

struct Case {
  const char* fixture;
  const char* expected;
};

TEST(Tree, NamesSpansAndChildren) {
  const Case cases[] = {
      {"$<$Frame$></$Frame$>$", "Frame $1..$2 /$3..$4 [$0..$5]\n"},
      {"$< $Frame$ />$", "Frame $1..$2 / none [$0..$3]\n"},
      {"x = $<$A$></  $A$ >$", "A $1..$2 /$3..$4 [$0..$5]\n"},
      {"$<$List$>{items.map(function(i) return $<$Item$ Name='x'/>$ end)}</$List$>$",
       "List $1..$2 /$7..$8 [$0..$9]\n"
       "  Item $4..$5 / none [$3..$6] Name=x\n"},
      {"$<$Item$ Name=\"x\" Name='y'/>$", "Item $1..$2 / none [$0..$3] Name=x\n"},
      {"$<$Item$ Name={n} Name/>$", "Item $1..$2 / none [$0..$3]\n"},
      // An attribute value's markup sorts before a later element child.
      {"$<$A$ render={$<$B$/>$}>$<$C$/>$</$A$>$",
       "A $1..$2 /$11..$12 [$0..$13]\n"
       "  B $4..$5 / none [$3..$6]\n"
       "  C $8..$9 / none [$7..$10]\n"},
      {"$<$>$<$A$/>$</>$",
       "<> $1..$1 / none [$0..$6]\n"
       "  A $3..$4 / none [$2..$5]\n"},
      {"$<$A$>{$<$B$>{$<$C$/>$}</$B$>$}</$A$>$",
       "A $1..$2 /$13..$14 [$0..$15]\n"
       "  B $4..$5 /$10..$11 [$3..$12]\n"
       "    C $7..$8 / none [$6..$9]\n"},
      // A spread hole holds markup too.
      {"$<$A$ {...f($<$B$/>$)}/>$",
       "A $1..$2 / none [$0..$7]\n"
       "  B $4..$5 / none [$3..$6]\n"},
      {"$<$ui.Button$></$ui.Button$>$", "ui.Button $1..$2 /$3..$4 [$0..$5]\n"},
      {"local x = 1\n", ""},
      // Nothing after a region that does not parse.
      {"a = $<$A$/>$\nb = <B>\nc = <C/>", "A $1..$2 / none [$0..$3]\n"},
  };
  for (const Case& c : cases) check(c.fixture, c.expected);
}

// A closing name belongs to an element only when it is that element's own
// closing tag: not one inside its attributes, and not a longer name.
TEST(Tree, ClosingNameIsTheElementsOwn) {
  const Case cases[] = {
      {"$<$Frame$ child={$<$Frame$></$Frame$>$}/>$",
       "Frame $1..$2 / none [$0..$9]\n"
       "  Frame $4..$5 /$6..$7 [$3..$8]\n"},
      {"$<$Frame$ Text=\"</Frame\"/>$", "Frame $1..$2 / none [$0..$3]\n"},
      {"$<$Frame$ Text=\"</Frame\"></$Frame$>$", "Frame $1..$2 /$3..$4 [$0..$5]\n"},
  };
  for (const Case& c : cases) check(c.fixture, c.expected);
}

TEST(Tree, InnermostAt) {
  const MarkedText f("$<A>$<$B/>$<C/></A$>$ x");
  const std::vector<Tag> tags = tree(f.text);
  auto at = [&](std::size_t offset) {
    const Tag* t = innermost_at(tags, offset);
    return t ? t->name : std::string("none");
  };
  EXPECT_EQ(at(f.marks[2]), "B");
  EXPECT_EQ(at(f.marks[1]), "B");  // B's `<`
  EXPECT_EQ(at(f.marks[3]), "C");  // B ends where C begins: the later wins
  EXPECT_EQ(at(f.marks[4]), "A");  // A's closing `>`
  EXPECT_EQ(at(f.marks[5]), "A");  // just after it
  EXPECT_EQ(at(f.text.size()), "none");
  EXPECT_EQ(flatten(tags).size(), 3u);
}

// Nesting through holes is cut where the parser cuts it, so no walk over
// the tree (or while building it) goes deeper than the parser's bound.
TEST(Tree, NestingThroughHolesIsBounded) {
  auto nested = [](std::size_t depth) {
    std::string text = "x = ";
    for (std::size_t i = 0; i < depth; ++i) text += "<A>{";
    text += "y";
    for (std::size_t i = 0; i < depth; ++i) text += "}</A>";
    return text;
  };
  const std::size_t limit = tovix::markup::parser::MAX_DEPTH;
  EXPECT_EQ(flatten(tree(nested(limit))).size(), limit);
  EXPECT_EQ(flatten(tree(nested(limit + 1))).size(), limit);
  EXPECT_EQ(flatten(tree(nested(2000))).size(), limit);
}

// At every offset, the regions around it and nothing else, built the same.
TEST(Tree, TreeAtIsTheTreeAroundTheOffset) {
  const std::string text = "a = <A>{<B/>}</A> b = f(<C x={<D/>}/>, <>t</>)\nc = 1";
  const std::vector<Tag> all = tree(text);
  ASSERT_EQ(all.size(), 3u);
  for (std::size_t offset = 0; offset <= text.size(); ++offset) {
    std::vector<Tag> expected;
    for (const Tag& t : all) {
      if (t.span.start <= offset && offset <= t.span.end) expected.push_back(t);
    }
    EXPECT_EQ(tree_at(text, offset), expected) << offset;
  }
}

TEST(Tree, EmbeddedFindsTheFirstHoleFrom) {
  const MarkedText f("$f({ $<$A$/>$ }, { <B/> })");
  const std::vector<Tag> tags = embedded(f.text, f.marks[0]);
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].name, "A");
  EXPECT_EQ(tags[0].span, (line_index::ByteRange{f.marks[1], f.marks[4]}));
  EXPECT_TRUE(embedded(f.text, f.text.size()).empty());
}

}  // namespace
}  // namespace tovix_lsp::tree
