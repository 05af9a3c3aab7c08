// The read-only walk: hook defaults, descent control and reach.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tovix/luau/arena.h"
#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"
#include "tovix/luau/visitor.h"

namespace {

using namespace tovix::luau;

// Names read as expressions and types referenced, in visiting order.
class Reads : public visitor::Visitor {
 public:
  std::string out;
  bool skip_functions = false;

  bool visit_expr_name(const ast::ExprName& n) override { return add(n.name.text); }
  bool visit_type_reference(const ast::TypeReference& n) override { return add("T:" + std::string(n.name.text)); }
  bool visit_type_pack_generic(const ast::TypePackGeneric& n) override { return add("P:" + std::string(n.name.text)); }
  bool visit_expr_function(const ast::ExprFunction&) override { return !skip_functions; }

 private:
  bool add(std::string_view text) {
    out += (out.empty() ? "" : " ") + std::string(text);
    return true;
  }
};

std::string reads(std::string_view source, bool skip_functions = false) {
  auto result = parser::parse(source);
  EXPECT_TRUE(result.errors.empty()) << result.errors[0].message;
  Reads visitor;
  visitor.skip_functions = skip_functions;
  visitor::walk(*result.root, visitor);
  return visitor.out;
}

TEST(LuauVisitor, WalksEverythingInSourceOrder) {
  struct Case {
    std::string_view source;
    std::string_view reads;
  };
  const Case cases[] = {
      {"local x: A = b + c * d", "T:A b c d"},
      {"f(a, g(b))[c].d = e", "f a g b c e"},
      {"local t = { a, k = b, [c] = d }", "a b c d"},
      {"local s = `x{a}y{b .. `{c}`}`", "a b c"},
      {"if a then b() elseif c then d() else e() end", "a b c d e"},
      {"local v = if a then b elseif c then d else e", "a b c d e"},
      {"while a do b() end repeat c() until d", "a b c d"},
      {"for i = a, b, c do d() end for k, v: V in e do f() end", "a b c d T:V e f"},
      {"local function f<T>(x: T, ...: U...): (T, ...V) return y end", "T:T P:U T:T T:V y"},
      {"@[deprecated {use = a}] function f() end", "f a"},
      {"type A<T = B, U... = C...> = { [D]: E, f: (G) -> H, read i: typeof(j) }", "T:B P:C T:D T:E T:G T:H j"},
      {"type F = (a: A, ...B) -> ((C | D) & E)", "T:A T:B T:C T:D T:E"},
      {"local c = a :: B", "a T:B"},
      {"local c = f<<A, ...B>>(d)", "f T:A T:B d"},
      {"x += a return b, c", "x a b c"},
      {"type function f(t) return g(t) end", "g t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    EXPECT_EQ(reads(c.source), c.reads);
  }
}

TEST(LuauVisitor, AFalseAnswerSkipsTheChildren) {
  EXPECT_EQ(reads("a(function(x) return b end, c)", true), "a c");
  EXPECT_EQ(reads("a(function(x) return b end, c)", false), "a b c");
}

// Hooks default to their category, and categories to `visit_node`.
class Counts : public visitor::Visitor {
 public:
  int nodes = 0, exprs = 0, stats = 0, types = 0, packs = 0;
  bool visit_node(const ast::Node&) override { return ++nodes, true; }
  bool visit_expr(const ast::Expr& n) override { return ++exprs, visit_node(n); }
  bool visit_stat(const ast::Stat& n) override { return ++stats, visit_node(n); }
  bool visit_type(const ast::Type& n) override { return ++types, visit_node(n); }
  bool visit_type_pack(const ast::TypePack& n) override { return ++packs, visit_node(n); }
};

TEST(LuauVisitor, HooksDefaultToTheirCategory) {
  auto result = parser::parse("local function f(a: number): ...string return a + 1 end");
  Counts counts;
  visitor::walk(*result.root, counts);
  // root block, local function, body block, return; function, a + 1, a, 1;
  // number, string; ...string
  EXPECT_EQ(counts.stats, 4);
  EXPECT_EQ(counts.exprs, 4);
  EXPECT_EQ(counts.types, 2);
  EXPECT_EQ(counts.packs, 1);
  EXPECT_EQ(counts.nodes, 11);
}

TEST(LuauArena, AllocatesAlignedMemoryThatSurvivesAMove) {
  arena::Arena a;
  auto* small = a.make<ast::ExprNil>();
  auto* big = static_cast<char*>(a.allocate(1 << 20, 64));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(big) % 64, 0u);
  big[(1 << 20) - 1] = 'x';
  auto* after = a.make<ast::ExprBool>();
  after->value = true;
  std::uint32_t items[] = {1, 2, 3};
  arena::Array<std::uint32_t> copied = a.copy<std::uint32_t>(items);
  for (int i = 0; i < 100000; ++i) (void)a.make<ast::ExprNumber>();
  arena::Arena moved = std::move(a);
  EXPECT_TRUE(small->is<ast::ExprNil>());
  EXPECT_TRUE(after->value);
  EXPECT_EQ(big[(1 << 20) - 1], 'x');
  EXPECT_EQ(copied.size, 3u);
  EXPECT_EQ(copied[2], 3u);
  EXPECT_GE(moved.used(), (1u << 20) + 100000 * sizeof(ast::ExprNumber));
  EXPECT_TRUE(a.copy<std::uint32_t>({}).empty());
}

}  // namespace
