#pragma once

// The Luau syntax tree. Nodes are plain structs with public fields, allocated
// in a `tovix::luau::arena::Arena` and never destroyed one by one; children are
// arena arrays. Every node carries its byte span in the source; leaves keep
// their text as views into the source (a name's text never includes trivia).
//
// Recovery from syntax errors keeps what was parsed: `ExprError`, `StatError`
// and `TypeError` hold the pieces around the fault, so a walk still sees them.

#include <cstdint>
#include <optional>
#include <string_view>

#include "tovix/luau/arena.h"

namespace tovix::luau::ast {

template <typename T>
using Array = arena::Array<T>;

// Byte offsets into the source, `end` exclusive.
struct Span {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// A name token: its text without surrounding whitespace or comments.
struct Name {
  std::string_view text;
  Span span;
};

enum class Kind : std::uint8_t {
  // expressions
  ExprGroup,
  ExprNil,
  ExprBool,
  ExprNumber,
  ExprString,
  ExprInterpString,
  ExprVarargs,
  ExprName,
  ExprIndexName,
  ExprIndexExpr,
  ExprCall,
  ExprInstantiate,
  ExprFunction,
  ExprTable,
  ExprUnary,
  ExprBinary,
  ExprTypeAssertion,
  ExprIfElse,
  ExprError,
  // statements
  StatBlock,
  StatIf,
  StatWhile,
  StatRepeat,
  StatBreak,
  StatContinue,
  StatReturn,
  StatExpr,
  StatLocal,
  StatConst,
  StatAssign,
  StatCompoundAssign,
  StatFor,
  StatForIn,
  StatFunction,
  StatLocalFunction,
  StatConstFunction,
  StatTypeAlias,
  StatTypeFunction,
  StatError,
  // types
  TypeReference,
  TypeTable,
  TypeFunction,
  TypeTypeof,
  TypeUnion,
  TypeIntersection,
  TypeOptional,
  TypeSingletonBool,
  TypeSingletonString,
  TypeGroup,
  TypeError,
  // type packs
  TypePackExplicit,
  TypePackVariadic,
  TypePackGeneric,
};

[[nodiscard]] std::string_view kind_name(Kind kind);

struct Node {
  Kind kind;
  Span span;

  explicit Node(Kind k) : kind(k) {}

  template <typename T>
  [[nodiscard]] bool is() const {
    return kind == T::KIND;
  }
  // The node as a T, or null when it is of another kind.
  template <typename T>
  [[nodiscard]] const T* as() const {
    return kind == T::KIND ? static_cast<const T*>(this) : nullptr;
  }
  template <typename T>
  [[nodiscard]] T* as() {
    return kind == T::KIND ? static_cast<T*>(this) : nullptr;
  }
};

struct Expr : Node {
  using Node::Node;
};
struct Stat : Node {
  using Node::Node;
};
struct Type : Node {
  using Node::Node;
};
struct TypePack : Node {
  using Node::Node;
};

struct StatBlock;
struct StatReturn;

#define TOVIX_LUAU_NODE(NAME, BASE)        \
  static constexpr Kind KIND = Kind::NAME; \
  NAME() : BASE(KIND) {}

// ---- pieces that are not nodes of their own --------------------------------

enum class BinaryOp : std::uint8_t {
  Add,
  Sub,
  Mul,
  Div,
  FloorDiv,
  Mod,
  Pow,
  Concat,
  CompareNe,
  CompareEq,
  CompareLt,
  CompareLe,
  CompareGt,
  CompareGe,
  And,
  Or,
};
enum class UnaryOp : std::uint8_t { Not, Minus, Len };

// The operator as written: "+", "..", "and" …
[[nodiscard]] std::string_view to_string(BinaryOp op);
[[nodiscard]] std::string_view to_string(UnaryOp op);

// A declared name with its optional annotation (locals, parameters, loop names).
struct Binding {
  Name name;
  Type* annotation = nullptr;
};

// `@native`, or one entry of `@[deprecated {use = "x"}]` with its arguments.
struct Attribute {
  Name name;
  Span span;
  Array<Expr*> args;
};

struct GenericType {
  Name name;
  Type* default_type = nullptr;
};
struct GenericTypePack {
  Name name;
  TypePack* default_pack = nullptr;
};

// A type argument `Foo<T, (A, B), U...>`: exactly one of the two is set.
struct TypeOrPack {
  Type* type = nullptr;
  TypePack* pack = nullptr;
};

// Types in order, then an optional variadic or generic tail.
struct TypeList {
  Array<Type*> types;
  TypePack* tail = nullptr;
};

enum class Access : std::uint8_t { ReadWrite, Read, Write };

// ---- expressions -----------------------------------------------------------

struct ExprGroup : Expr {  // ( expr )
  TOVIX_LUAU_NODE(ExprGroup, Expr)
  Expr* expr = nullptr;
};
struct ExprNil : Expr {
  TOVIX_LUAU_NODE(ExprNil, Expr)
};
struct ExprBool : Expr {
  TOVIX_LUAU_NODE(ExprBool, Expr)
  bool value = false;
};
// The literal's text is the span's source text, as written.
struct ExprNumber : Expr {
  TOVIX_LUAU_NODE(ExprNumber, Expr)
  std::string_view text;
};
// Quoted or long-bracket string; `text` includes its delimiters, escapes kept.
struct ExprString : Expr {
  TOVIX_LUAU_NODE(ExprString, Expr)
  std::string_view text;
};
// `a{x}b{y}c`: strings hold the literal pieces (one more than expressions),
// as raw source text between the backticks and holes.
struct ExprInterpString : Expr {
  TOVIX_LUAU_NODE(ExprInterpString, Expr)
  Array<Span> strings;
  Array<Expr*> exprs;
};
struct ExprVarargs : Expr {
  TOVIX_LUAU_NODE(ExprVarargs, Expr)
};
struct ExprName : Expr {
  TOVIX_LUAU_NODE(ExprName, Expr)
  Name name;
};
// `object.index`, or `object:index` as the callee of a method call.
struct ExprIndexName : Expr {
  TOVIX_LUAU_NODE(ExprIndexName, Expr)
  char op = '.';
  Expr* object = nullptr;
  Name index;
};
struct ExprIndexExpr : Expr {  // object[index]
  TOVIX_LUAU_NODE(ExprIndexExpr, Expr)
  Expr* object = nullptr;
  Expr* index = nullptr;
};
// `f(a)`, `f "s"`, `f {t}`; a method call `o:m(a)` has `self` set and an
// `ExprIndexName` with op ':' as `func`.
struct ExprCall : Expr {
  TOVIX_LUAU_NODE(ExprCall, Expr)
  bool self = false;
  Expr* func = nullptr;
  Array<Expr*> args;
};
// Explicit type arguments `f<<T>>`.
struct ExprInstantiate : Expr {
  TOVIX_LUAU_NODE(ExprInstantiate, Expr)
  Expr* expr = nullptr;
  Array<TypeOrPack> types;
};
// A function body; also the value of every function statement.
struct ExprFunction : Expr {
  TOVIX_LUAU_NODE(ExprFunction, Expr)
  bool is_method = false;  // `function a:m()`: an implicit `self` comes first
  bool vararg = false;
  Span vararg_span;
  Array<Attribute> attributes;
  Array<GenericType> generics;
  Array<GenericTypePack> generic_packs;
  Array<Binding> params;
  TypePack* vararg_annotation = nullptr;
  TypePack* return_types = nullptr;
  StatBlock* body = nullptr;
};

enum class TableItemKind : std::uint8_t { List, Record, General };
// `value`, `name = value` or `[key] = value`.
struct TableItem {
  TableItemKind kind = TableItemKind::List;
  Name name;            // Record
  Expr* key = nullptr;  // General
  Expr* value = nullptr;
};
struct ExprTable : Expr {
  TOVIX_LUAU_NODE(ExprTable, Expr)
  Array<TableItem> items;
};
struct ExprUnary : Expr {
  TOVIX_LUAU_NODE(ExprUnary, Expr)
  UnaryOp op = UnaryOp::Not;
  Expr* expr = nullptr;
};
struct ExprBinary : Expr {
  TOVIX_LUAU_NODE(ExprBinary, Expr)
  BinaryOp op = BinaryOp::Add;
  Span op_span;  // the operator token
  Expr* left = nullptr;
  Expr* right = nullptr;
};
struct ExprTypeAssertion : Expr {  // expr :: Type
  TOVIX_LUAU_NODE(ExprTypeAssertion, Expr)
  Expr* expr = nullptr;
  Type* annotation = nullptr;
};
struct IfExprBranch {
  Expr* condition = nullptr;
  Expr* value = nullptr;
};
// `if c then a elseif d then b else e`: the `if` branch first, then each `elseif`.
struct ExprIfElse : Expr {
  TOVIX_LUAU_NODE(ExprIfElse, Expr)
  Array<IfExprBranch> branches;
  Expr* else_value = nullptr;
};
struct ExprError : Expr {
  TOVIX_LUAU_NODE(ExprError, Expr)
  Array<Expr*> exprs;
};

// ---- statements ------------------------------------------------------------

// A block: the file, a `do … end`, or the body of a function, loop or branch.
// A `return` can only be its last statement.
struct StatBlock : Stat {
  TOVIX_LUAU_NODE(StatBlock, Stat)
  Array<Stat*> body;

  // The trailing `return`, if the block has one.
  [[nodiscard]] const StatReturn* final_return() const;
};
struct IfBranch {
  Expr* condition = nullptr;
  StatBlock* body = nullptr;
};
// `if`, each `elseif`, then the optional `else` block.
struct StatIf : Stat {
  TOVIX_LUAU_NODE(StatIf, Stat)
  Array<IfBranch> branches;
  StatBlock* else_body = nullptr;
};
struct StatWhile : Stat {
  TOVIX_LUAU_NODE(StatWhile, Stat)
  Expr* condition = nullptr;
  StatBlock* body = nullptr;
};
struct StatRepeat : Stat {
  TOVIX_LUAU_NODE(StatRepeat, Stat)
  StatBlock* body = nullptr;
  Expr* condition = nullptr;
};
struct StatBreak : Stat {
  TOVIX_LUAU_NODE(StatBreak, Stat)
};
struct StatContinue : Stat {
  TOVIX_LUAU_NODE(StatContinue, Stat)
};
struct StatReturn : Stat {
  TOVIX_LUAU_NODE(StatReturn, Stat)
  Array<Expr*> list;
};
struct StatExpr : Stat {  // a call used as a statement
  TOVIX_LUAU_NODE(StatExpr, Stat)
  Expr* expr = nullptr;
};
// `local a: T, b = …`; values may be empty.
struct StatLocal : Stat {
  TOVIX_LUAU_NODE(StatLocal, Stat)
  Array<Binding> vars;
  Array<Expr*> values;
};
// `const a, b = …`
struct StatConst : Stat {
  TOVIX_LUAU_NODE(StatConst, Stat)
  Array<Binding> vars;
  Array<Expr*> values;
};
struct StatAssign : Stat {
  TOVIX_LUAU_NODE(StatAssign, Stat)
  Array<Expr*> vars;
  Array<Expr*> values;
};
// `var op= value`; `op` is the arithmetic or concatenation operator.
struct StatCompoundAssign : Stat {
  TOVIX_LUAU_NODE(StatCompoundAssign, Stat)
  BinaryOp op = BinaryOp::Add;
  Expr* var = nullptr;
  Expr* value = nullptr;
};
struct StatFor : Stat {  // for var = from, to[, step] do … end
  TOVIX_LUAU_NODE(StatFor, Stat)
  Binding var;
  Expr* from = nullptr;
  Expr* to = nullptr;
  Expr* step = nullptr;
  StatBlock* body = nullptr;
};
struct StatForIn : Stat {  // for a, b in values do … end
  TOVIX_LUAU_NODE(StatForIn, Stat)
  Array<Binding> vars;
  Array<Expr*> values;
  StatBlock* body = nullptr;
};
// `function a.b.c:m() … end`: `name` is an `ExprName`, or a chain of
// `ExprIndexName` over one (the last with op ':' for a method).
struct StatFunction : Stat {
  TOVIX_LUAU_NODE(StatFunction, Stat)
  Expr* name = nullptr;
  ExprFunction* func = nullptr;
};
struct StatLocalFunction : Stat {
  TOVIX_LUAU_NODE(StatLocalFunction, Stat)
  Name name;
  ExprFunction* func = nullptr;
};
struct StatConstFunction : Stat {
  TOVIX_LUAU_NODE(StatConstFunction, Stat)
  Name name;
  ExprFunction* func = nullptr;
};
struct StatTypeAlias : Stat {  // [export] type Name<generics> = Type
  TOVIX_LUAU_NODE(StatTypeAlias, Stat)
  bool exported = false;
  Name name;
  Array<GenericType> generics;
  Array<GenericTypePack> generic_packs;
  Type* type = nullptr;
};
struct StatTypeFunction : Stat {  // [export] type function Name(…) … end
  TOVIX_LUAU_NODE(StatTypeFunction, Stat)
  bool exported = false;
  Name name;
  ExprFunction* body = nullptr;
};
struct StatError : Stat {
  TOVIX_LUAU_NODE(StatError, Stat)
  Array<Expr*> exprs;
  Array<Stat*> stats;
};

// ---- types -----------------------------------------------------------------

// `name`, `prefix.name`, `name<params>`; `nil` is a reference named "nil".
struct TypeReference : Type {
  TOVIX_LUAU_NODE(TypeReference, Type)
  bool has_params = false;
  std::optional<Name> prefix;
  Name name;
  Array<TypeOrPack> params;
};
struct TableProp {
  Name name;  // a `["key"]` property keeps the quoted string as its name
  Access access = Access::ReadWrite;
  Type* type = nullptr;
};
// `[key]: value`; the array shorthand `{ T }` has no key.
struct TableIndexer {
  Access access = Access::ReadWrite;
  Type* key = nullptr;
  Type* value = nullptr;
};
struct TypeTable : Type {
  TOVIX_LUAU_NODE(TypeTable, Type)
  Array<TableProp> props;
  std::optional<TableIndexer> indexer;
};
// `<T>(a: A, B, ...C) -> R`
struct TypeFunction : Type {
  TOVIX_LUAU_NODE(TypeFunction, Type)
  Array<Attribute> attributes;
  Array<GenericType> generics;
  Array<GenericTypePack> generic_packs;
  TypeList args;
  Array<std::optional<Name>> arg_names;  // one per entry of args.types
  TypePack* returns = nullptr;
};
struct TypeTypeof : Type {  // typeof(expr)
  TOVIX_LUAU_NODE(TypeTypeof, Type)
  Expr* expr = nullptr;
};
struct TypeUnion : Type {
  TOVIX_LUAU_NODE(TypeUnion, Type)
  Array<Type*> types;
};
struct TypeIntersection : Type {
  TOVIX_LUAU_NODE(TypeIntersection, Type)
  Array<Type*> types;
};
struct TypeOptional : Type {  // T?
  TOVIX_LUAU_NODE(TypeOptional, Type)
  Type* type = nullptr;
};
struct TypeSingletonBool : Type {
  TOVIX_LUAU_NODE(TypeSingletonBool, Type)
  bool value = false;
};
struct TypeSingletonString : Type {  // text includes the quotes
  TOVIX_LUAU_NODE(TypeSingletonString, Type)
  std::string_view text;
};
struct TypeGroup : Type {  // ( T )
  TOVIX_LUAU_NODE(TypeGroup, Type)
  Type* type = nullptr;
};
struct TypeError : Type {
  TOVIX_LUAU_NODE(TypeError, Type)
  Array<Type*> types;
};

// ---- type packs ------------------------------------------------------------

struct TypePackExplicit : TypePack {  // (A, B, ...C), or a single return type
  TOVIX_LUAU_NODE(TypePackExplicit, TypePack)
  TypeList list;
};
struct TypePackVariadic : TypePack {  // ...T
  TOVIX_LUAU_NODE(TypePackVariadic, TypePack)
  Type* type = nullptr;
};
struct TypePackGeneric : TypePack {  // T...
  TOVIX_LUAU_NODE(TypePackGeneric, TypePack)
  Name name;
};

#undef TOVIX_LUAU_NODE

}  // namespace tovix::luau::ast
