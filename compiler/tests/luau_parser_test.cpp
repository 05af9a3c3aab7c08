// The grammar: each case parses a snippet and compares the tree, printed as an
// S-expression, with what it should be.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"

namespace {

using namespace tovix::luau::ast;
using tovix::luau::parser::parse;

// ---- a compact printer for trees ------------------------------------------

// The text being printed, for the pieces of interpolated strings.
std::string_view printed_source;

std::string print(const Expr* e);
std::string print(const Type* t);
std::string print(const TypePack* p);
std::string print(const Stat* s);

template <typename T>
std::string join(Array<T*> items) {
  std::string out;
  for (const T* item : items) {
    if (!out.empty()) out += ' ';
    out += print(item);
  }
  return out;
}

std::string print(const TypeOrPack& arg) { return arg.type ? print(arg.type) : print(arg.pack); }

std::string print_type_args(Array<TypeOrPack> args) {
  std::string out;
  for (const TypeOrPack& arg : args) {
    if (!out.empty()) out += ", ";
    out += print(arg);
  }
  return out;
}

std::string print(const Binding& b) {
  std::string out(b.name.text);
  if (b.annotation) out += ":" + print(b.annotation);
  return out;
}

std::string print_bindings(Array<Binding> bindings) {
  std::string out;
  for (const Binding& b : bindings) {
    if (!out.empty()) out += ' ';
    out += print(b);
  }
  return out;
}

std::string print_generics(Array<GenericType> types, Array<GenericTypePack> packs) {
  if (types.empty() && packs.empty()) return "";
  std::string out = "<";
  bool first = true;
  for (const GenericType& g : types) {
    if (!first) out += ", ";
    first = false;
    out += g.name.text;
    if (g.default_type) out += " = " + print(g.default_type);
  }
  for (const GenericTypePack& g : packs) {
    if (!first) out += ", ";
    first = false;
    out += std::string(g.name.text) + "...";
    if (g.default_pack) out += " = " + print(g.default_pack);
  }
  return out + ">";
}

std::string print_list(const TypeList& list) {
  std::string out = join(list.types);
  if (list.tail) out += (out.empty() ? "" : " ") + print(list.tail);
  return out;
}

std::string print_attributes(Array<Attribute> attributes) {
  std::string out;
  for (const Attribute& a : attributes) {
    out += "@" + std::string(a.name.text);
    if (!a.args.empty()) out += "(" + join(a.args) + ")";
    out += " ";
  }
  return out;
}

std::string print_function(const ExprFunction* f) {
  std::string out =
      "(function " + print_attributes(f->attributes) + print_generics(f->generics, f->generic_packs) + "(";
  if (f->is_method) out += "self ";
  out += print_bindings(f->params);
  if (f->vararg) {
    if (!f->params.empty()) out += ' ';
    out += "...";
    if (f->vararg_annotation) out += ":" + print(f->vararg_annotation);
  }
  out += ")";
  if (f->return_types) out += ":" + print(f->return_types);
  if (f->body && !f->body->body.empty()) out += " " + join(f->body->body);
  return out + ")";
}

std::string print(const Expr* e) {
  if (e == nullptr) return "<null>";
  switch (e->kind) {
    case Kind::ExprGroup: return "(group " + print(e->as<ExprGroup>()->expr) + ")";
    case Kind::ExprNil: return "nil";
    case Kind::ExprBool: return e->as<ExprBool>()->value ? "true" : "false";
    case Kind::ExprNumber: return std::string(e->as<ExprNumber>()->text);
    case Kind::ExprString: return std::string(e->as<ExprString>()->text);
    case Kind::ExprVarargs: return "...";
    case Kind::ExprName: return std::string(e->as<ExprName>()->name.text);
    case Kind::ExprInterpString: {
      const auto* n = e->as<ExprInterpString>();
      std::string out = "(interp";
      for (std::size_t i = 0; i < n->strings.size; ++i) {
        Span piece = n->strings[i];
        out += " '" + std::string(printed_source.substr(piece.start, piece.end - piece.start)) + "'";
        if (i < n->exprs.size) out += " " + print(n->exprs[i]);
      }
      return out + ")";
    }
    case Kind::ExprIndexName: {
      const auto* n = e->as<ExprIndexName>();
      return "(" + std::string(1, n->op) + " " + print(n->object) + " " + std::string(n->index.text) + ")";
    }
    case Kind::ExprIndexExpr: {
      const auto* n = e->as<ExprIndexExpr>();
      return "([] " + print(n->object) + " " + print(n->index) + ")";
    }
    case Kind::ExprCall: {
      const auto* n = e->as<ExprCall>();
      std::string args = join(n->args);
      return "(call " + print(n->func) + (args.empty() ? "" : " " + args) + ")";
    }
    case Kind::ExprInstantiate: {
      const auto* n = e->as<ExprInstantiate>();
      return "(inst " + print(n->expr) + " <" + print_type_args(n->types) + ">)";
    }
    case Kind::ExprFunction: return print_function(e->as<ExprFunction>());
    case Kind::ExprTable: {
      std::string out = "(table";
      for (const TableItem& item : e->as<ExprTable>()->items) {
        out += " ";
        if (item.kind == TableItemKind::Record) out += std::string(item.name.text) + "=";
        if (item.kind == TableItemKind::General) out += "[" + print(item.key) + "]=";
        out += print(item.value);
      }
      return out + ")";
    }
    case Kind::ExprUnary: {
      const auto* n = e->as<ExprUnary>();
      return "(" + std::string(to_string(n->op)) + " " + print(n->expr) + ")";
    }
    case Kind::ExprBinary: {
      const auto* n = e->as<ExprBinary>();
      return "(" + std::string(to_string(n->op)) + " " + print(n->left) + " " + print(n->right) + ")";
    }
    case Kind::ExprTypeAssertion: {
      const auto* n = e->as<ExprTypeAssertion>();
      return "(:: " + print(n->expr) + " " + print(n->annotation) + ")";
    }
    case Kind::ExprIfElse: {
      const auto* n = e->as<ExprIfElse>();
      std::string out = "(if";
      for (const IfExprBranch& b : n->branches) out += " " + print(b.condition) + " " + print(b.value);
      return out + " else " + print(n->else_value) + ")";
    }
    case Kind::ExprError: {
      std::string inner = join(e->as<ExprError>()->exprs);
      return "(error" + (inner.empty() ? "" : " " + inner) + ")";
    }
    default: return "?";
  }
}

std::string print(const Type* t) {
  if (t == nullptr) return "<null>";
  switch (t->kind) {
    case Kind::TypeReference: {
      const auto* n = t->as<TypeReference>();
      std::string out = n->prefix ? std::string(n->prefix->text) + "." : "";
      out += n->name.text;
      if (n->has_params) out += "<" + print_type_args(n->params) + ">";
      return out;
    }
    case Kind::TypeTable: {
      const auto* n = t->as<TypeTable>();
      std::string out = "{";
      auto access = [](Access a) { return a == Access::Read ? "read " : a == Access::Write ? "write " : ""; };
      for (const TableProp& p : n->props) {
        if (out.size() > 1) out += ", ";
        out += access(p.access) + std::string(p.name.text) + ": " + print(p.type);
      }
      if (n->indexer) {
        if (out.size() > 1) out += ", ";
        out += access(n->indexer->access);
        if (n->indexer->key) out += "[" + print(n->indexer->key) + "]: ";
        out += print(n->indexer->value);
      }
      return out + "}";
    }
    case Kind::TypeFunction: {
      const auto* n = t->as<TypeFunction>();
      std::string out = "(fn " + print_attributes(n->attributes) + print_generics(n->generics, n->generic_packs) + "(";
      for (std::size_t i = 0; i < n->args.types.size; ++i) {
        if (i > 0) out += " ";
        if (n->arg_names[i]) out += std::string(n->arg_names[i]->text) + ":";
        out += print(n->args.types[i]);
      }
      if (n->args.tail) out += (n->args.types.empty() ? "" : " ") + print(n->args.tail);
      return out + ") -> " + print(n->returns) + ")";
    }
    case Kind::TypeTypeof: return "(typeof " + print(t->as<TypeTypeof>()->expr) + ")";
    case Kind::TypeUnion: return "(| " + join(t->as<TypeUnion>()->types) + ")";
    case Kind::TypeIntersection: return "(& " + join(t->as<TypeIntersection>()->types) + ")";
    case Kind::TypeOptional: return "(? " + print(t->as<TypeOptional>()->type) + ")";
    case Kind::TypeSingletonBool: return t->as<TypeSingletonBool>()->value ? "true" : "false";
    case Kind::TypeSingletonString: return std::string(t->as<TypeSingletonString>()->text);
    case Kind::TypeGroup: return "(group " + print(t->as<TypeGroup>()->type) + ")";
    case Kind::TypeError: return "(error)";
    default: return "?";
  }
}

std::string print(const TypePack* p) {
  if (p == nullptr) return "<null>";
  switch (p->kind) {
    case Kind::TypePackExplicit:
      return "(pack" +
             std::string(p->as<TypePackExplicit>()->list.types.empty() && !p->as<TypePackExplicit>()->list.tail ? ""
                                                                                                                : " ") +
             print_list(p->as<TypePackExplicit>()->list) + ")";
    case Kind::TypePackVariadic: return "..." + print(p->as<TypePackVariadic>()->type);
    case Kind::TypePackGeneric: return std::string(p->as<TypePackGeneric>()->name.text) + "...";
    default: return "?";
  }
}

std::string print_block(const StatBlock* b) {
  if (b == nullptr) return "<null>";
  return "[" + join(b->body) + "]";
}

std::string print(const Stat* s) {
  if (s == nullptr) return "<null>";
  switch (s->kind) {
    case Kind::StatBlock: return "(do " + print_block(s->as<StatBlock>()) + ")";
    case Kind::StatIf: {
      const auto* n = s->as<StatIf>();
      std::string out = "(if";
      for (const IfBranch& b : n->branches) out += " " + print(b.condition) + " " + print_block(b.body);
      if (n->else_body) out += " else " + print_block(n->else_body);
      return out + ")";
    }
    case Kind::StatWhile: {
      const auto* n = s->as<StatWhile>();
      return "(while " + print(n->condition) + " " + print_block(n->body) + ")";
    }
    case Kind::StatRepeat: {
      const auto* n = s->as<StatRepeat>();
      return "(repeat " + print_block(n->body) + " " + print(n->condition) + ")";
    }
    case Kind::StatBreak: return "(break)";
    case Kind::StatContinue: return "(continue)";
    case Kind::StatReturn: {
      std::string list = join(s->as<StatReturn>()->list);
      return "(return" + (list.empty() ? "" : " " + list) + ")";
    }
    case Kind::StatExpr: return "(expr " + print(s->as<StatExpr>()->expr) + ")";
    case Kind::StatLocal:
    case Kind::StatConst: {
      bool is_local = s->is<StatLocal>();
      Array<Binding> vars = is_local ? s->as<StatLocal>()->vars : s->as<StatConst>()->vars;
      Array<Expr*> values = is_local ? s->as<StatLocal>()->values : s->as<StatConst>()->values;
      std::string out = std::string(is_local ? "(local " : "(const ") + print_bindings(vars);
      if (!values.empty()) out += " = " + join(values);
      return out + ")";
    }
    case Kind::StatAssign: {
      const auto* n = s->as<StatAssign>();
      return "(= " + join(n->vars) + " = " + join(n->values) + ")";
    }
    case Kind::StatCompoundAssign: {
      const auto* n = s->as<StatCompoundAssign>();
      return "(" + std::string(to_string(n->op)) + "= " + print(n->var) + " " + print(n->value) + ")";
    }
    case Kind::StatFor: {
      const auto* n = s->as<StatFor>();
      std::string out = "(for " + print(n->var) + " " + print(n->from) + " " + print(n->to);
      if (n->step) out += " " + print(n->step);
      return out + " " + print_block(n->body) + ")";
    }
    case Kind::StatForIn: {
      const auto* n = s->as<StatForIn>();
      return "(for-in " + print_bindings(n->vars) + " in " + join(n->values) + " " + print_block(n->body) + ")";
    }
    case Kind::StatFunction: {
      const auto* n = s->as<StatFunction>();
      return "(function-stat " + print(n->name) + " " + print(n->func) + ")";
    }
    case Kind::StatLocalFunction: {
      const auto* n = s->as<StatLocalFunction>();
      return "(local-function " + std::string(n->name.text) + " " + print(n->func) + ")";
    }
    case Kind::StatConstFunction: {
      const auto* n = s->as<StatConstFunction>();
      return "(const-function " + std::string(n->name.text) + " " + print(n->func) + ")";
    }
    case Kind::StatTypeAlias: {
      const auto* n = s->as<StatTypeAlias>();
      return std::string(n->exported ? "(export-type " : "(type ") + std::string(n->name.text) +
             print_generics(n->generics, n->generic_packs) + " " + print(n->type) + ")";
    }
    case Kind::StatTypeFunction: {
      const auto* n = s->as<StatTypeFunction>();
      return std::string(n->exported ? "(export-type-function " : "(type-function ") + std::string(n->name.text) + " " +
             print(n->body) + ")";
    }
    case Kind::StatError: {
      const auto* n = s->as<StatError>();
      std::string inner = join(n->exprs);
      std::string stats = join(n->stats);
      return "(error" + (inner.empty() ? "" : " " + inner) + (stats.empty() ? "" : " " + stats) + ")";
    }
    default: return "?";
  }
}

struct Case {
  std::string_view source;
  std::string_view tree;
};

// Parses `source` and compares the printed statements; the parse must be clean.
void check(std::string_view source, std::string_view tree) {
  SCOPED_TRACE(testing::Message() << "source: " << source);
  auto result = parse(source);
  printed_source = source;
  for (const auto& error : result.errors) ADD_FAILURE() << error.message << " at " << error.offset;
  EXPECT_EQ(join(result.root->body), tree);
}

// Parses `local _ = <expression>` and prints the value.
void check_expr(std::string_view expression, std::string_view tree) {
  std::string source = "local _ = " + std::string(expression);
  SCOPED_TRACE(testing::Message() << "expression: " << expression);
  auto result = parse(source);
  printed_source = source;
  for (const auto& error : result.errors) ADD_FAILURE() << error.message << " at " << error.offset;
  const auto* local = result.root->body.empty() ? nullptr : result.root->body[0]->as<StatLocal>();
  ASSERT_TRUE(local != nullptr && local->values.size == 1);
  EXPECT_EQ(print(local->values[0]), tree);
}

// Parses `type _ = <type>` and prints the type.
void check_type(std::string_view type, std::string_view tree) {
  std::string source = "type _ = " + std::string(type);
  SCOPED_TRACE(testing::Message() << "type: " << type);
  auto result = parse(source);
  printed_source = source;
  for (const auto& error : result.errors) ADD_FAILURE() << error.message << " at " << error.offset;
  const auto* alias = result.root->body.empty() ? nullptr : result.root->body[0]->as<StatTypeAlias>();
  ASSERT_TRUE(alias != nullptr);
  EXPECT_EQ(print(alias->type), tree);
}

TEST(LuauParser, OperatorPrecedenceAndAssociativity) {
  const Case cases[] = {
      {"1 + 2 * 3", "(+ 1 (* 2 3))"},
      {"1 * 2 + 3", "(+ (* 1 2) 3)"},
      {"1 - 2 - 3", "(- (- 1 2) 3)"},
      {"a // b % c / d", "(/ (% (// a b) c) d)"},
      {"2 ^ 3 ^ 4", "(^ 2 (^ 3 4))"},
      {"-2 ^ 2", "(- (^ 2 2))"},
      {"a .. b .. c", "(.. a (.. b c))"},
      {"1 + 2 .. 3 + 4", "(.. (+ 1 2) (+ 3 4))"},
      {"a .. b == c", "(== (.. a b) c)"},
      {"a < b and b <= c or d", "(or (and (< a b) (<= b c)) d)"},
      {"a > b ~= c >= d", "(>= (~= (> a b) c) d)"},
      {"a or b and c", "(or a (and b c))"},
      {"not a == b", "(== (not a) b)"},
      {"#t + 1", "(+ (# t) 1)"},
      {"- - x", "(- (- x))"},
      {"not not x", "(not (not x))"},
      {"ok and nil or fallback", "(or (and ok nil) fallback)"},
      {"(ok and (nil)) or x", "(or (group (and ok (group nil))) x)"},
      {"(a + b) * c", "(* (group (+ a b)) c)"},
      {"a + b :: number", "(+ a (:: b number))"},
      {"-x :: number", "(- (:: x number))"},
      {"x :: A :: B", "(:: (:: x A) B)"},
      {"2 ^ -3", "(^ 2 (- 3))"},
  };
  for (const Case& c : cases) check_expr(c.source, c.tree);
}

TEST(LuauParser, Expressions) {
  const Case cases[] = {
      {"nil", "nil"},
      {"true", "true"},
      {"0x1F", "0x1F"},
      {"'s'", "'s'"},
      {"[[long]]", "[[long]]"},
      {"...", "..."},
      {"a.b.c", "(. (. a b) c)"},
      {"a[b][1]", "([] ([] a b) 1)"},
      {"f(1, 2)(3)", "(call (call f 1 2) 3)"},
      {"f 'x'", "(call f 'x')"},
      {"f { 1 }", "(call f (table 1))"},
      {"o:m(1)", "(call (: o m) 1)"},
      {"o:m 'x'", "(call (: o m) 'x')"},
      {"o:m { }", "(call (: o m) (table))"},
      {"o.p:m().q", "(. (call (: (. o p) m)) q)"},
      {"('x'):rep(2)", "(call (: (group 'x') rep) 2)"},
      {"{ 1, x = 2, [k] = 3; 4, }", "(table 1 x=2 [k]=3 4)"},
      {"{ a == b }", "(table (== a b))"},
      {"function(a, b, ...) end", "(function (a b ...))"},
      {"function(...: number) end", "(function (...:...number))"},
      {"function<T, U...>(x: T, ...: U...): (T, U...) return x end",
       "(function <T, U...>(x:T ...:U...):(pack T U...) (return x))"},
      {"function(): number end", "(function ():(pack number))"},
      {"function(): ...number end", "(function ():...number)"},
      {"function(): () -> () end", "(function ():(pack (fn () -> (pack))))"},
      {"function(): (number)? end", "(function ():(pack (? (group number))))"},
      {"@native function() end", "(function @native ())"},
      {"if a then b else c", "(if a b else c)"},
      {"if a then b elseif c then d else e", "(if a b c d else e)"},
      {"if a then if b then c else d else e", "(if a (if b c else d) else e)"},
      {"f<<number>>(1)", "(call (inst f <number>) 1)"},
      {"o:m<<A, (B, C), ...D>>()", "(call (inst (: o m) <A, (pack B C), ...D>))"},
  };
  for (const Case& c : cases) check_expr(c.source, c.tree);
}

TEST(LuauParser, InterpolatedStrings) {
  const Case cases[] = {
      {"`plain`", "(interp 'plain')"},
      {"`a{x}b`", "(interp 'a' x 'b')"},
      {"`{x}{y}`", "(interp '' x '' y '')"},
      {"`{a + f(1)}`", "(interp '' (+ a (call f 1)) '')"},
      {"`a{`b{c}`}d`", "(interp 'a' (interp 'b' c '') 'd')"},
      {"`\\{x}`", "(interp '\\{x}')"},
      {"`\\`{x}`", "(interp '\\`' x '')"},
      {"`{ {1} }`", "(interp '' (table 1) '')"},
      {"`{\"}\"}`", "(interp '' \"}\" '')"},
      {"`line\n{x}`", "(interp 'line\n' x '')"},
      {"`{x}'s {y}`", "(interp '' x ''s ' y '')"},
      {"`{t.x}\"{ {a = 1} }`", "(interp '' (. t x) '\"' (table a=1) '')"},
  };
  for (const Case& c : cases) check_expr(c.source, c.tree);
}

TEST(LuauParser, Types) {
  const Case cases[] = {
      {"number", "number"},
      {"nil", "nil"},
      {"a.B<C>", "a.B<C>"},
      {"T?", "(? T)"},
      {"T??", "(? (? T))"},
      {"A | B?", "(| A (? B))"},
      {"| A | B", "(| A B)"},
      {"A & B & C", "(& A B C)"},
      {"& A", "(& A)"},
      {"'on' | \"off\" | true | false", "(| 'on' \"off\" true false)"},
      {"{ number }", "{number}"},
      {"{ [string]: number, n: number }", "{n: number, [string]: number}"},
      {"{ read x: number, write [K]: V }", "{read x: number, write [K]: V}"},
      {"{ read: number, write: string }", "{read: number, write: string}"},
      {"{ [\"a key\"]: number; b: string; }", "{\"a key\": number, b: string}"},
      {"typeof(x.y)", "(typeof (. x y))"},
      {"(number)", "(group number)"},
      {"(A | B)?", "(? (group (| A B)))"},
      {"() -> ()", "(fn () -> (pack))"},
      {"(a: number, string) -> boolean", "(fn (a:number string) -> (pack boolean))"},
      {"(number, ...string) -> ...number", "(fn (number ...string) -> ...number)"},
      {"(T...) -> T...", "(fn (T...) -> T...)"},
      {"<T, U...>(T) -> (T, U...)", "(fn <T, U...>(T) -> (pack T U...))"},
      {"(number) -> (number) -> number", "(fn (number) -> (pack (fn (number) -> (pack number))))"},
      {"() -> number?", "(fn () -> (pack (? number)))"},
      {"() -> (number)?", "(fn () -> (pack (? (group number))))"},
      {"((number) -> ())?", "(? (group (fn (number) -> (pack))))"},
      {"@checked (number) -> number", "(fn @checked (number) -> (pack number))"},
      {"F<(A, B), (), ...C, D...>", "F<(pack A B), (pack), ...C, D...>"},
      {"F<(A) -> B, (A)>", "F<(fn (A) -> (pack B)), (group A)>"},
      {"F<(A)?>", "F<(? (group A))>"},
      {"F<G<H<I>>>", "F<G<H<I>>>"},
      {"F<<T>(T) -> T>", "F<(fn <T>(T) -> (pack T))>"},
  };
  for (const Case& c : cases) check_type(c.source, c.tree);
}

TEST(LuauParser, Statements) {
  const Case cases[] = {
      {"local a", "(local a)"},
      {"local a: number, b = 1, 2", "(local a:number b = 1 2)"},
      {"const a, b = 1, 2", "(const a b = 1 2)"},
      {"local function f(x) return x end", "(local-function f (function (x) (return x)))"},
      {"const function f() end", "(const-function f (function ()))"},
      {"function a.b.c:m(x) end", "(function-stat (: (. (. a b) c) m) (function (self x)))"},
      {"function f() end", "(function-stat f (function ()))"},
      {"@native local function f() end", "(local-function f (function @native ()))"},
      {"@[deprecated { use = 'g' }] function f() end", "(function-stat f (function @deprecated((table use='g')) ()))"},
      {"@native @checked const function f() end", "(const-function f (function @native @checked ()))"},
      {"a, b.c, d[1] = 1, 2, 3", "(= a (. b c) ([] d 1) = 1 2 3)"},
      {"a += 1 b -= 2 c *= 3 d /= 4", "(+= a 1) (-= b 2) (*= c 3) (/= d 4)"},
      {"a //= 1 b %= 2 c ^= 3 d ..= 'x'", "(//= a 1) (%= b 2) (^= c 3) (..= d 'x')"},
      {"t.x += 1", "(+= (. t x) 1)"},
      {"f() g:h()", "(expr (call f)) (expr (call (: g h)))"},
      {";(f)()", "(expr (call (group f)))"},
      {"if a then elseif b then x() else y() end", "(if a [] b [(expr (call x))] else [(expr (call y))])"},
      {"while a do break end", "(while a [(break)])"},
      {"repeat local x until x", "(repeat [(local x)] x)"},
      {"for i = 1, 10, 2 do end", "(for i 1 10 2 [])"},
      {"for i: number = 1, 2 do end", "(for i:number 1 2 [])"},
      {"for k, v: string in pairs(t) do end", "(for-in k v:string in (call pairs t) [])"},
      {"do local x end", "(do [(local x)])"},
      {"return", "(return)"},
      {"return 1, 2;", "(return 1 2)"},
      {"do return end", "(do [(return)])"},
      {"type T<U = number, V... = ...string> = (V...) -> U",
       "(type T<U = number, V... = ...string> (fn (V...) -> (pack U)))"},
      {"export type T = number", "(export-type T number)"},
      {"type T<A>= A", "(type T<A> A)"},
      {"type function f(t) return t end", "(type-function f (function (t) (return t)))"},
      {"export type function f() end", "(export-type-function f (function ()))"},
  };
  for (const Case& c : cases) check(c.source, c.tree);
}

TEST(LuauParser, ContextualKeywordsAreNamesElsewhere) {
  const Case cases[] = {
      {"continue", "(continue)"},
      {"while x do continue end", "(while x [(continue)])"},
      {"continue = 1", "(= continue = 1)"},
      {"continue()", "(expr (call continue))"},
      {"continue.x = 1", "(= (. continue x) = 1)"},
      {"type = 1", "(= type = 1)"},
      {"type(x)", "(expr (call type x))"},
      {"type.x = 1", "(= (. type x) = 1)"},
      {"export = 1", "(= export = 1)"},
      {"export.type = 1", "(= (. export type) = 1)"},
      {"const = 1", "(= const = 1)"},
      {"const += 1", "(+= const 1)"},
      {"const(1)", "(expr (call const 1))"},
      {"local type, const, continue = 1, 2, 3", "(local type const continue = 1 2 3)"},
      {"typeof(x)", "(expr (call typeof x))"},
  };
  for (const Case& c : cases) check(c.source, c.tree);
}

TEST(LuauParser, SpansCoverTheirSourceWithoutTrivia) {
  std::string_view source = "local x = f( a ) -- comment\nreturn x";
  auto result = parse(source);
  ASSERT_TRUE(result.errors.empty());
  const Stat* local = result.root->body[0];
  EXPECT_EQ(source.substr(local->span.start, local->span.end - local->span.start), "local x = f( a )");
  const auto* call = local->as<StatLocal>()->values[0]->as<ExprCall>();
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(source.substr(call->span.start, call->span.end - call->span.start), "f( a )");
  const Name& name = local->as<StatLocal>()->vars[0].name;
  EXPECT_EQ(name.text, "x");
  EXPECT_EQ(source.substr(name.span.start, name.span.end - name.span.start), "x");
  ASSERT_NE(result.root->final_return(), nullptr);
  EXPECT_EQ(result.root->span.end, source.size());
}

}  // namespace
