#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/markup/parser.h"
#include "tovix/markup/walk.h"
#include "tovix/markup_scan.h"

namespace {

using tovix::markup_scan::is_keyword;
using tovix::markup_scan::Scanner;

// Walks `source` as every caller does and lists the markup expressions found,
// as source text.
std::vector<std::string> markup_in(std::string_view source) {
  std::vector<std::string> found;
  tovix::lexer::Lexer lexer(source);
  Scanner scanner(source);
  while (auto next = lexer.next_token()) {
    if (!*next) {
      found.push_back("lex error: " + next->error().message);
      break;
    }
    if (!scanner.feed(**next, lexer)) continue;
    auto parsed = tovix::markup::parser::parse_node(source, (*next)->start);
    if (!parsed) {
      found.push_back("parse error: " + parsed.error().message);
      break;
    }
    found.emplace_back(source.substr((*next)->start, parsed->end - (*next)->start));
    scanner.resume(lexer, parsed->end);
  }
  return found;
}

TEST(MarkupScan, WhereMarkupBegins) {
  struct Case {
    std::string_view source;
    std::vector<std::string> markup;
  };
  const Case cases[] = {
      {"local a = <Frame/>", {"<Frame/>"}},
      {"if a < b then end", {}},
      {"return <Frame/>", {"<Frame/>"}},
      {"<Frame/>", {"<Frame/>"}},
      {"  -- c\n<Frame/>", {"<Frame/>"}},
      {"x = 1 < 2", {}},
      {"s = 'a' < b", {}},
      {"s = `a` < b", {}},
      {"f() < 3", {}},
      {"t[1] < 3", {}},
      {"t = {} < 3", {}},
      {"nil < x", {}},
      {"true < x", {}},
      {"if x then end < y", {}},
      {"not <A/>", {"<A/>"}},
      {"x = a and <A/> or <B/>", {"<A/>", "<B/>"}},
      {"function<T>(x: T) end", {}},
      {"local f = function<T>(x: T) end", {}},
      {"f(<A/>, <B/>)", {"<A/>", "<B/>"}},
      {"t = {<A/>, [1] = <B/>}", {"<A/>", "<B/>"}},
      {"x = a .. <A/>", {"<A/>"}},
      {"x = a == <A/>", {"<A/>"}},
      {"x = ... < y", {}},
      {"x = a <= b", {}},
      {"x = a << b", {}},
      // types
      {"local f: (x: number) -> <T>() -> () = g", {}},
      {"local f: (x: number) -> <T>() -> () = <A/>", {"<A/>"}},
      {"local x = y :: T, <Frame/>", {"<Frame/>"}},
      {"local x = y :: T<U>", {}},
      {"local x: A & <T>() -> () = 1", {}},
      {"local x: A | <T>() -> () = 1", {}},
      {"type Props = { a: number }\nlocal e = <Frame/>", {"<Frame/>"}},
      {"type Props = { f: <T>(T) -> T }\nlocal e = <Frame/>", {"<Frame/>"}},
      {"export type F<T> = <U>(U) -> T", {}},
      {"x = 1; type F = <U>(U) -> U", {}},
      {"local type = <A/>", {"<A/>"}},
      {"f(type, <A/>)", {"<A/>"}},
      {"obj:method(<Frame/>)", {"<Frame/>"}},
      {"function f(a: number): <T>() -> () end", {}},
      {"function f(a: number) return <A/> end", {"<A/>"}},
      // after markup
      {"x = <A/> < x", {"<A/>"}},
      {"x = <A/> + <B/>", {"<A/>", "<B/>"}},
      {"x = <A/>--c\n< x", {"<A/>"}},
      {"return --[[c]] <Frame/>", {"<Frame/>"}},
      {"return <A>\n  <B/>\n</A>, <C/>", {"<A>\n  <B/>\n</A>", "<C/>"}},
      {"f(<A x={1}/>)", {"<A x={1}/>"}},
      // walking stops at the first error
      {"x = 'a", {"lex error: unterminated string"}},
      {"x = <A> y = <B/>", {"parse error: unclosed element"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    EXPECT_EQ(markup_in(c.source), c.markup);
  }
}

TEST(MarkupScan, Keywords) {
  for (std::string_view word :
       {"and",   "break", "do",  "else", "elseif", "end",    "false", "for",  "function", "if",   "in",
        "local", "nil",   "not", "or",   "repeat", "return", "then",  "true", "until",    "while"}) {
    EXPECT_TRUE(is_keyword(word)) << word;
  }
  for (std::string_view word : {"continue", "type", "export", "End", "", "self"}) {
    EXPECT_FALSE(is_keyword(word)) << word;
  }
}

TEST(MarkupScan, StateAcrossTokens) {
  std::string_view source = "a = (y :: T) }";
  tovix::lexer::Lexer lexer(source);
  Scanner scanner(source);
  while (auto next = lexer.next_token()) ASSERT_FALSE(scanner.feed(**next, lexer));
  EXPECT_EQ(scanner.depth, -1);  // unbalanced closers are not clamped
  EXPECT_FALSE(scanner.type_context.has_value());
  ASSERT_TRUE(scanner.last.has_value());
  EXPECT_EQ(scanner.last->text(source), "}");
}

TEST(MarkupScan, ResumeStep) {
  std::string_view source = "f(<A/> < b)";
  tovix::lexer::Lexer lexer(source);
  Scanner scanner(source);
  scanner.depth = 3;
  scanner.type_header = true;
  scanner.resume(lexer, 6);
  EXPECT_EQ(lexer.pos, 6u);
  EXPECT_FALSE(scanner.last.has_value());
  EXPECT_TRUE(scanner.after_markup);
  EXPECT_EQ(scanner.depth, 3);
  EXPECT_TRUE(scanner.type_header);
  // Trivia keeps the flag; the next significant token clears it.
  ASSERT_FALSE(scanner.feed(**lexer.next_token(), lexer));
  EXPECT_TRUE(scanner.after_markup);
  ASSERT_FALSE(scanner.feed(**lexer.next_token(), lexer));
  EXPECT_FALSE(scanner.after_markup);
}

// A scanner made from what another carried past markup goes on as that
// one does: type state and bracket depth survive, the markup just left
// makes a `<` a comparison.
TEST(MarkupScan, ResumedFromWhatWasCarried) {
  const std::string_view sources[] = {
      "type T<U> = U\nlocal v = f(<A/>, x < y, {<B/>})",
      "local t: {[string]: <A/>} = g(<B/> < c, (<C/>))",
      "f(<A/> < b) return <B/>",
  };
  for (std::string_view source : sources) {
    SCOPED_TRACE(source);
    tovix::lexer::Lexer lexer(source);
    Scanner scanner(source);
    std::vector<std::size_t> starts;
    while (auto next = lexer.next_token()) {
      ASSERT_TRUE(*next);
      if (!scanner.feed(**next, lexer)) continue;
      auto parsed = tovix::markup::parser::parse_node(source, (*next)->start);
      ASSERT_TRUE(parsed);
      scanner.resume(lexer, parsed->end);
      // From here on, a scanner made anew must report what this one reports.
      tovix::lexer::Lexer fresh_lexer = lexer;
      Scanner fresh(source, scanner.carried());
      EXPECT_EQ(fresh.carried(), scanner.carried());
      EXPECT_TRUE(fresh.after_markup);
      EXPECT_FALSE(fresh.last.has_value());
      tovix::lexer::Lexer ahead = lexer;
      Scanner walked = scanner;
      while (auto token = ahead.next_token()) {
        ASSERT_TRUE(*token);
        auto again = fresh_lexer.next_token();
        ASSERT_TRUE(again && *again);
        EXPECT_EQ(walked.feed(**token, ahead), fresh.feed(**again, fresh_lexer)) << (*token)->start;
        EXPECT_EQ(walked.carried(), fresh.carried());
      }
      starts.push_back((*next)->start);
    }
    EXPECT_FALSE(starts.empty());
  }
}

// A walk resumed after a markup expression, from what its scanner carried
// past it, gives every event the walk from the start gives after it.
TEST(MarkupScan, WalkResumedAfterMarkup) {
  namespace walk = tovix::markup::walk;
  const std::string_view source =
      "local a = f(<A/>, x < y)\ntype T<U> = U\nlocal b = {<B>{c and <C/>}</B>} < 2\nreturn <>t</>\nlocal s = 'x";
  // The events as (start, kind) pairs; a failure as (offset, 9).
  auto events = [&](walk::Walker walker) {
    std::vector<std::pair<std::size_t, int>> out;
    std::vector<walk::Markup> found;
    while (auto event = walker.next()) {
      if (!*event) {
        out.emplace_back(0, 9);
        break;
      }
      if (auto* markup = std::get_if<walk::Markup>(&**event)) {
        out.emplace_back(markup->start, 8);
        found.push_back(std::move(*markup));
      } else {
        const auto& token = std::get<tovix::lexer::Token>(**event);
        out.emplace_back(token.start, static_cast<int>(token.kind));
      }
    }
    return std::pair(out, std::move(found));
  };
  const auto [all, markup] = events(walk::Walker(source));
  ASSERT_EQ(markup.size(), 3u);
  for (const walk::Markup& m : markup) {
    SCOPED_TRACE(m.start);
    const auto rest = events(walk::Walker(source, m.end, m.carried)).first;
    const auto after = std::find_if(all.begin(), all.end(), [&](const auto& e) { return e.first >= m.end; });
    EXPECT_EQ(rest, std::vector(after, all.end()));
  }
}

}  // namespace
