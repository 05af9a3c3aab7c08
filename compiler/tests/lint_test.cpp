#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/lint.h"

namespace {

using Sites = std::vector<std::pair<std::size_t, std::size_t>>;

// The sites of the fixture: every "<" opening an uppercase tag name or a
// fragment, up to its "/>" or "</…>". Enough for the flat markup used here.
Sites sites_of(std::string_view expression) {
  Sites sites;
  std::size_t at = 0;
  while ((at = expression.find('<', at)) != std::string_view::npos) {
    std::size_t end = expression.find("/>", at);
    end = end == std::string_view::npos ? expression.size() : end + 2;
    if (std::size_t closing = expression.find("</", at); closing < end) {
      std::size_t gt = expression.find('>', closing);
      end = gt == std::string_view::npos ? expression.size() : gt + 1;
    }
    sites.emplace_back(at, end);
    at = end;
  }
  return sites;
}

TEST(Lint, MarkupOutsideEveryFunctionIsUnwrapped) {
  struct Case {
    std::string_view expression;
    bool unwrapped;
  };
  const Case cases[] = {
      {"cond and <Frame/>", true},
      {"<Frame/>", true},
      {"function() return cond and <Frame/> end", false},
      {"function() if a then return <A/> end end", false},
      {"function() for i = 1, 3 do end return <A/> end", false},
      // The loop's "end" closes its own level, the function's "end" the
      // function: the site after them is outside.
      {"(function() while x do end end)() or <B/>", true},
      {"function() return <A/> end, <B/>", true},
      {"function() return function() return <A/> end end", false},
      // Stray "end"s never make the count negative.
      {"end end <A/>", true},
      // No sites at all.
      {"cond and x", false},
      // Only the Luau around the sites is lexed: text in markup may hold
      // anything, and its words are not keywords.
      {"cond and <TextLabel>don't</TextLabel>", true},
      {"cond and <TextLabel>a`b -- c</TextLabel>", true},
      {"function() return <T>if</T> end, <B/>", true},
      {"function() return <T>end</T>, <B/> end", false},
      // Luau that does not lex gives no finding.
      {"f('x) or <A/>", false},
      {"cond and <A>x</A> .. 'y", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(tovix::lint::has_unwrapped_tovix(c.expression, sites_of(c.expression)), c.unwrapped);
  }
}

TEST(Lint, SiteBeforeEveryTokenIsUnwrapped) {
  // A site at offset 0 of an expression whose first token comes later.
  EXPECT_TRUE(tovix::lint::has_unwrapped_tovix("  x", Sites{{0, 1}}));
}

TEST(Lint, StaticConditionalChildWarningSpansTheBraces) {
  tovix::compile::Warning warning = tovix::lint::static_conditional_child(10, 17);
  EXPECT_EQ(warning.message, "this child is built once, so a condition around it will not update the UI");
  EXPECT_EQ(warning.help, "wrap it in a function so Vide tracks it: {function() return ... end}");
  EXPECT_EQ(warning.offset, 10u);
  EXPECT_EQ(warning.len, 19u);
}

TEST(Lint, AndNilSeenThroughParenthesesOnly) {
  struct Case {
    std::string_view expression;
    bool found;
  };
  const Case cases[] = {
      {"ok and nil or fallback()", true},
      {"ok and nil", true},
      {"(ok and (nil)) or x", true},
      {"((ok and nil))", true},
      {"a or b and nil", true},
      {"x == 1 and nil or 2", true},
      {"nil and ok", false},
      {"f(ok and nil)", false},
      {"{ ok and nil }", false},
      {"not (ok and nil)", false},
      {"if c then ok and nil else 1", false},
      {"ok and false or x", false},
      {"ok and \"nil\"", false},
      {"ok and", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    std::optional<tovix::backend::EmitError> error = tovix::lint::check_conditional_child(c.expression, 4, 10);
    ASSERT_EQ(error.has_value(), c.found);
    if (!error) continue;
    EXPECT_EQ(error->message, "`and nil or` always yields the right-hand side in Lua, so this condition has no effect");
    EXPECT_EQ(error->help, "write `if cond then ... else ...` instead");
    EXPECT_EQ(error->offset, 4u);
    EXPECT_EQ(error->len, 12u);
  }
}

}  // namespace
