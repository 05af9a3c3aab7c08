#include "workspace/bindings.h"

#include <gtest/gtest.h>

#include <optional>

#include "marked_text.h"

namespace tovix_lsp::bindings {
namespace {

using testing_support::MarkedText;

// `$Card$` marks the declaration expected; a fixture without marks expects
// none.
void check_all(std::initializer_list<const char*> fixtures) {
  for (const char* fixture_text : fixtures) {
    SCOPED_TRACE(fixture_text);
    const MarkedText fixture(fixture_text);
    std::optional<line_index::ByteRange> expected;
    if (fixture.marks.size() == 2) expected = line_index::ByteRange{fixture.marks[0], fixture.marks[1]};
    EXPECT_EQ(find(fixture.text, "Card"), expected);
  }
}

TEST(Bindings, LocalsAndFunctions) {
  check_all({
      "local $Card$ = 1",
      "local a, b, $Card$ = 1, 2, 3",
      "local a,\n  --[[ c ]] $Card$",
      "local function $Card$(props) end",
      "function $Card$(props) end",
      "local x = 1\nlocal $Card$ = function() end\nlocal Card = 2",
      // Only the first declaration counts, whatever its scope.
      "do local $Card$ = 1 end\nlocal Card = 2",
      "local Cards, $Card$",
  });
}

TEST(Bindings, ParametersLoopsAndAssignmentsAreNotDeclarations) {
  check_all({
      "Card = 1",
      "local function f(Card) end",
      "local f = function(a, Card) end",
      "for Card = 1, 3 do end",
      "for i, Card in pairs(t) do end",
      "local a = 1, Card",
      "t.Card = 1",
      "Card",
      "local card = 1",
      // The walk back over a list passes keywords too, like any name.
      "local x\nfor k, $Card$ in pairs(t) do end",
  });
}

TEST(Bindings, MarkupIsBlankedFirst) {
  check_all({
      "local x = <Frame/>\nlocal $Card$ = 2",
      "local x = <A>local Card</A>\nlocal $Card$ = 2",
      "local x = <A>it's</A>\nlocal $Card$ = 2",
      "return <Card/>",
  });
  const MarkedText fixture("local x = <Frame/>\nlocal $Frame$ = 2");
  EXPECT_EQ(find(fixture.text, "Frame"), (line_index::ByteRange{fixture.marks[0], fixture.marks[1]}));
}

TEST(Bindings, ALexerErrorAnswersNone) {
  check_all({
      "local Card = 1\nlocal s = 'open",
      // Markup after a broken region is not blanked, and its apostrophe
      // does not lex.
      "local Card = 1\nlocal a = <A>\nlocal b = <B>it's</B>",
  });
}

}  // namespace
}  // namespace tovix_lsp::bindings
