#include "workspace/regions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "marked_text.h"

namespace tovix_lsp::regions {
namespace {

using testing_support::MarkedText;
using tovix::markup::ast::Child;
using tovix::markup::ast::Element;
using tovix::markup::ast::Fragment;

// The fixture's `$` marks come in pairs: the start and end of each region
// expected, in order.
void check_spans(const char* fixture_text) {
  SCOPED_TRACE(fixture_text);
  const MarkedText fixture(fixture_text);
  ASSERT_EQ(fixture.marks.size() % 2, 0u);
  std::vector<tovix::resolve::Region> expected;
  for (std::size_t i = 0; i < fixture.marks.size(); i += 2) {
    expected.emplace_back(fixture.marks[i], fixture.marks[i + 1]);
  }
  const std::vector<Region> found = regions(fixture.text);
  for (const Region& region : found) {
    EXPECT_EQ(region.start, region.node.start());
    EXPECT_EQ(region.end, region.node.end());
  }
  EXPECT_EQ(spans(found), expected);
}

TEST(Regions, TopLevelMarkupInTextOrder) {
  for (const char* fixture : {
           "local a = $<A/>$\nlocal b = $<>x</>$\n",
           "return $<A><B>{<C/>}</B></A>$",
           "local t = { $<A/>$, $<B/>$ }",
           "f($<A/>$, $<B x=\"it's\"/>$)",
           "if a < b then end\nlocal c = $<C/>$",
           "local s = '<A/>'\n-- <B/>\nlocal d = $<D/>$",
           "return $<A>it's</A>$",
           "return $<A>{c and <B>Don't</B>}</A>$ .. 'x' .. $<C b={<D>`</D>}/>$",
           "local e = $<A/>$ < x",
           "",
       }) {
    check_spans(fixture);
  }
}

TEST(Regions, TheWalkStopsForGoodAtTheFirstError) {
  for (const char* fixture : {
           // An element never closed hides the complete markup after it.
           "local a = <A>\nlocal b = <B/>",
           // So does an unterminated string before any markup.
           "local s = 'open\nlocal b = <B/>",
           // Regions before the error are kept.
           "x = $<A/>$ y = <B> z = <C/>",
           "x = $<A/>$ y = 'open\n z = <C/>",
       }) {
    check_spans(fixture);
  }
}

TEST(Regions, NestedMarkupStaysInsideItsRegion) {
  const std::vector<Region> found = regions("return <A>{c and <B><C/></B>}<>x</></A>");
  ASSERT_EQ(found.size(), 1u);
  const auto* a = std::get_if<Element>(&found[0].node.kind);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->name.as_written(), "A");
  ASSERT_EQ(a->children.size(), 2u);
  EXPECT_TRUE(std::holds_alternative<Child::Expression>(a->children[0].kind));
  const auto* fragment = std::get_if<tovix::markup::ast::Node>(&a->children[1].kind);
  ASSERT_NE(fragment, nullptr);
  EXPECT_TRUE(std::holds_alternative<Fragment>(fragment->kind));
}

TEST(Braced, TrimmedContentsOfTheFirstHole) {
  struct Case {
    const char* fixture;  // `^` is `from`; `$`…`$` the range expected
  };
  const Case found[] = {
      {"^{ $a$ }"},
      {"^x = {\n\t$f(1)$  }"},
      {"{ a } ^<A x={ $b$ }/>"},
      {"^{ $'}'$ }"},
      {"^{ $\xC3\xA9$\xE2\x80\x83}"},  // an em space is trimmed too
      {"^{$t[{1}]$}"},
      // Text in markup nested inside is not Luau: an apostrophe opens no string.
      {"^<A>{ $c and <B>Don't</B>$ }</A>"},
      {"^{ $<B>-- not a comment}</B>$ }"},
  };
  for (const Case& c : found) {
    SCOPED_TRACE(c.fixture);
    const MarkedText fixture(c.fixture);
    EXPECT_EQ(braced(fixture.text, *fixture.cursor), (line_index::ByteRange{fixture.marks[0], fixture.marks[1]}));
  }
  const Case none[] = {
      {"^x = {  }"}, {"^x = {\xE2\x80\x83}"}, {"^x = { a"}, {"^no braces"}, {"{ a }^"}, {"^{ '} "},
  };
  for (const Case& c : none) {
    SCOPED_TRACE(c.fixture);
    const MarkedText fixture(c.fixture);
    EXPECT_EQ(braced(fixture.text, *fixture.cursor), std::nullopt);
  }
}

TEST(Braced, FromOutsideTheTextOrInsideACharacter) {
  EXPECT_EQ(braced("{ a }", 6), std::nullopt);
  EXPECT_EQ(braced("\xC3\xA9{ a }", 1), std::nullopt);
  EXPECT_EQ(braced("\xC3\xA9{ a }", 2), (line_index::ByteRange{4, 5}));
}

}  // namespace
}  // namespace tovix_lsp::regions
