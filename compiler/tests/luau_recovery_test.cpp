// Broken input: errors with their offsets, recovery that keeps later code in
// the tree, and bounded work on hostile input.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"
#include "tovix/luau/visitor.h"

namespace {

using namespace tovix::luau;
using parser::parse;

// The names that the declarations of a file bind, collected the way the
// compiler's own binding pass does: locals, constants, functions (the first
// segment of a path), parameters, loop names and plain assignment targets.
class Declared : public visitor::Visitor {
 public:
  std::set<std::string> names;

  bool visit_stat_local(const ast::StatLocal& n) override { return add(n.vars); }
  bool visit_stat_const(const ast::StatConst& n) override { return add(n.vars); }
  bool visit_stat_local_function(const ast::StatLocalFunction& n) override {
    names.emplace(n.name.text);
    return true;
  }
  bool visit_stat_const_function(const ast::StatConstFunction& n) override {
    names.emplace(n.name.text);
    return true;
  }
  bool visit_stat_function(const ast::StatFunction& n) override {
    const ast::Expr* root = n.name;
    while (const auto* index = root->as<ast::ExprIndexName>()) root = index->object;
    if (const auto* name = root->as<ast::ExprName>()) names.emplace(name->name.text);
    return true;
  }
  bool visit_expr_function(const ast::ExprFunction& n) override { return add(n.params); }
  bool visit_stat_for(const ast::StatFor& n) override {
    names.emplace(n.var.name.text);
    return true;
  }
  bool visit_stat_for_in(const ast::StatForIn& n) override { return add(n.vars); }
  bool visit_stat_assign(const ast::StatAssign& n) override {
    for (const ast::Expr* var : n.vars) {
      if (const auto* name = var->as<ast::ExprName>()) names.emplace(name->name.text);
    }
    return true;
  }

 private:
  bool add(ast::Array<ast::Binding> bindings) {
    for (const ast::Binding& b : bindings) {
      if (!b.name.text.empty()) names.emplace(b.name.text);
    }
    return true;
  }
};

std::string declared(std::string_view source) {
  auto result = parse(source);
  Declared visitor;
  visitor::walk(*result.root, visitor);
  std::string out;
  for (const std::string& name : visitor.names) out += (out.empty() ? "" : " ") + name;
  return out;
}

std::string errors(std::string_view source) {
  auto result = parse(source);
  std::string out;
  for (const auto& e : result.errors) {
    if (!out.empty()) out += " | ";
    out += std::to_string(e.offset) + ": " + e.message;
  }
  return out;
}

TEST(LuauRecovery, TheBindingTableIsReachableThroughTheVisitor) {
  EXPECT_EQ(declared("local a, b = 1\n"
                     "const c = 2\n"
                     "local function d(e, ...) end\n"
                     "const function f(g) end\n"
                     "function h.i.j:k(l) end\n"
                     "for m = 1, 2 do end\n"
                     "for n, o in p do end\n"
                     "q, r.s, t[1] = 1, 2, 3\n"
                     "u += 1\n"
                     "type V = (w: number) -> ()\n"
                     "type function x(y) end\n"
                     "local z = function(aa) return function(bb) end end\n"),
            "a aa b bb c d e f g h l m n o q y z");
}

TEST(LuauRecovery, NamesAfterAnErrorAreStillVisited) {
  struct Case {
    std::string_view source;
    std::string_view names;
  };
  const Case cases[] = {
      {"local a = = 1\nlocal b = 2", "a b"},
      {"local a = f(\nlocal b = 2", "a b"},
      {"local a = (1 +\nlocal b = 2", "a b"},
      {"local t = { 1, 2\nlocal b = 2", "b t"},
      {"function f(a b) end\nlocal c", "a c f"},
      {"if x then\nlocal a = 1\n-- missing end\nlocal b = 2", "a b"},
      {"local a = 1 end local b = 2", "a b"},
      {"end end local a", "a"},
      {"until x local a", "a"},
      {") ] } local a", "a"},
      {"local a = 'unterminated\nlocal b = 2", "a b"},
      {"local x: { a: } = 1\nlocal y", "x y"},
      {"local x: (number -> () = 1\nlocal y", "x y"},
      {"type T<U = > = U\nlocal y", "y"},
      {"local a = `{}`\nlocal b", "a b"},
      {"local a = `{1 2}`\nlocal b", "a b"},
      {"@ local function f() end", "f"},
      {"@native local x = 1", "x"},
      {"return 1\nlocal after = 2", "after"},
      {"for = 1 do end local a", "a"},
      {"local function (x) end local a", "a x"},
      {"x.y:z = 1 local a", "a"},
      {"local a <const> = 1 local b", "a b"},
      {"while true do local a local b", "a b"},
      {"repeat local a", "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    EXPECT_FALSE(errors(c.source).empty());
    EXPECT_EQ(declared(c.source), c.names);
  }
}

TEST(LuauRecovery, ErrorsSayWhatWasExpectedAndWhere) {
  struct Case {
    std::string_view source;
    std::string_view errors;
  };
  const Case cases[] = {
      {"local x = ", "10: Expected identifier when parsing expression, got <eof>"},
      {"f(",
       "2: Expected identifier when parsing expression, got <eof> | 2: Expected ')' to close '(', "
       "got <eof>"},
      {"if x then", "9: Expected 'end' to close 'if', got <eof>"},
      {"x", "0: Incomplete statement: expected assignment or a function call"},
      {"f() = 1", "0: Assigned expression must be a variable or a field"},
      {"local = 1", "6: Expected identifier when parsing local, got '='"},
      {"end", "0: Expected <eof>, got 'end'"},
      {"local s = 'a\nx()", "10: unterminated string"},
      {"local s = [[", "10: unterminated long bracket"},
      {"--[[ open", "2: unterminated long bracket"},
      {"local a = `{}`", "11: Malformed interpolated string, expected expression inside '{}'"},
      {"type T = A | B & C", "9: Mixing union and intersection types is not allowed; consider wrapping in parentheses"},
      {"type T = { [A]: B, [C]: D }", "19: Cannot have more than one table indexer"},
      {"type T = (A, B)", "15: Expected '->' when parsing function type, got <eof>"},
      {"@native local x", "0: Attributes can only be applied to function declarations"},
      {"return 1 x()", "9: Expected end of block after 'return', got 'x'"},
      {"local x = (1 + 2", "16: Expected ')' to close '(', got <eof>"},
      {"x = if a then b", "15: Expected 'else' when parsing if-then-else expression, got <eof>"},
      {"local 1", "6: Expected identifier when parsing local, got '1' | 6: Expected statement, got '1'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    EXPECT_EQ(errors(c.source), c.errors);
  }
}

TEST(LuauRecovery, FactoryProbesParseOnlyWhenTheyNameSomethingCallable) {
  // The configuration check parses `local _ = (<value>("Frame")({}))` and
  // accepts the value when there is no error at all. (An empty value makes
  // `(("Frame")({}))`, which is Luau; the check refuses it before parsing.)
  struct Case {
    std::string_view value;
    bool clean;
  };
  const Case cases[] = {
      {"create", true}, {"vide.create", true}, {"scope:New", true}, {"a.b.c", true}, {"vide.", false}, {"vide:", false},
      {"a b", false},   {"1", false},          {"create)", false},  {"(", false},    {"local", false}, {"a:b.c", false},
      {"f()", true},    {"t[1]", true},        {"`x`", false},      {"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value: " << c.value);
    std::string probe = "local _ = (" + std::string(c.value) + "(\"Frame\")({}))";
    EXPECT_EQ(parse(probe).errors.empty(), c.clean) << errors(probe);
  }
}

// A file that touches most of the grammar, cut at every byte.
constexpr std::string_view SAMPLE = R"luau(--!strict
@native local function f<T>(a: T, ...: number): (T, ...number)
  local t: { [string]: number, read n: number? } = { 1, x = 2, ["k"] = 3; }
  t.x += `a{a}b{if a then 1 else 2}c`
  for i = 1, #t do if i % 2 == 0 then continue end end
  for k, v in pairs(t) do print(k :: string .. v) end
  repeat local done = true until done
  while false do break end
  return a, ...
end
export type F<T = number, U... = ...string> = (x: T, U...) -> U... | nil
type function id(t) return t end
const c = f<<number>>(1) and nil or { [[long]] }
function m.a.b:c() return self end
return -2 ^ 3 .. "s"
)luau";

TEST(LuauRecovery, EveryPrefixOfAValidFileParses) {
  ASSERT_TRUE(parse(SAMPLE).errors.empty()) << errors(SAMPLE);
  for (std::size_t cut = 0; cut <= SAMPLE.size(); ++cut) {
    std::string_view prefix = SAMPLE.substr(0, cut);
    auto result = parse(prefix);
    ASSERT_NE(result.root, nullptr);
    // Spans stay inside the text, and errors point into it.
    EXPECT_LE(result.root->span.end, prefix.size()) << "cut at " << cut;
    for (const auto& e : result.errors) EXPECT_LE(e.offset, prefix.size()) << "cut at " << cut;
  }
}

// Every node of the tree has a span inside the text, and inside its parent.
class SpanChecker : public visitor::Visitor {
 public:
  explicit SpanChecker(std::size_t size) : size_(size) {}
  bool visit_node(const ast::Node& node) override {
    EXPECT_LE(node.span.start, node.span.end) << ast::kind_name(node.kind);
    EXPECT_LE(node.span.end, size_) << ast::kind_name(node.kind);
    ++count;
    return true;
  }
  std::size_t count = 0;

 private:
  std::size_t size_;
};

TEST(LuauRecovery, TokenSoupNeverCrashes) {
  // A fixed pseudo-random mix of tokens; each mix is parsed and walked.
  const std::string_view pieces[] = {"local", "function", "end", "(",   ")",  "{",      "}",  "[",      "]",    "=",
                                     "x",     "1",        "'s'", "`a{", "}`", "::",     ":",  ".",      "...",  "<",
                                     ">",     "->",       "?",   "|",   "&",  "@",      "if", "then",   "else", "type",
                                     "for",   "in",       "do",  ",",   ";",  "return", "+=", "typeof", "\n",   "<<"};
  unsigned state = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 0; i < 60; ++i) {
      state = state * 1103515245 + 12345;
      text += pieces[(state >> 16) % std::size(pieces)];
      text += ' ';
    }
    auto result = parse(text);
    SpanChecker checker(text.size());
    visitor::walk(*result.root, checker);
  }
}

TEST(LuauRecovery, DeepNestingIsAnErrorNotACrash) {
  const std::size_t depth = 100000;
  auto repeat = [](std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::string sources[] = {
      "local x = " + repeat("(", depth),
      "local x = " + repeat("{", depth),
      "local x = " + repeat("- ", depth) + "1",
      "local x = a" + repeat(".b", depth),
      "local x = f" + repeat("()", depth),
      "local x = a" + repeat("..a", depth),
      "local x = a" + repeat("+a", depth),
      "local x = a" + repeat(" :: T", depth),
      "local x = " + repeat("`{", 5000) + repeat("}`", 5000),
      repeat("do ", depth),
      repeat("function f() ", depth / 10),
      repeat("if x then ", depth / 10),
      "function a" + repeat(".b", depth) + "() end",
      "type T = " + repeat("{", depth),
      "local x: " + repeat("(", depth) + "number",
      "local x: T" + repeat("?", depth),
      "local x: " + repeat("() -> ", depth) + "()",
      "local x: " + repeat("F<", depth),
  };

  // On a thread of its own, as a worker of the server would parse.
  for (const std::string& source : sources) {
    SCOPED_TRACE(testing::Message() << "source starts: " << source.substr(0, 30));
    bool reported = false;
    std::thread worker([&] {
      auto result = parse(source);
      SpanChecker checker(source.size());
      visitor::walk(*result.root, checker);
      reported = std::any_of(result.errors.begin(), result.errors.end(),
                             [](const auto& e) { return e.message.starts_with("Exceeded allowed"); });
      EXPECT_LE(result.errors.size(), parser::MAX_ERRORS);
    });
    worker.join();
    EXPECT_TRUE(reported);
  }
}

TEST(LuauRecovery, NestingWithinTheLimitIsFine) {
  std::string source = "local x = " + std::string(200, '(') + "1" + std::string(200, ')');
  for (int i = 0; i < 100; ++i) source += "\ndo";
  for (int i = 0; i < 100; ++i) source += " end";
  std::string concat = "\nlocal y = a";
  for (int i = 0; i < 300; ++i) concat += " .. a";
  source += concat;
  EXPECT_EQ(errors(source), "");
}

}  // namespace
