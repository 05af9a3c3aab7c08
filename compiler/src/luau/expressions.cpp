#include "tovix/luau/expressions.h"

#include <optional>

#include "tovix/lexer.h"
#include "tovix/luau/statements.h"
#include "tovix/luau/types.h"

namespace tovix::luau::expressions {

namespace {

using ast::BinaryOp;
using cursor::Cursor;
using cursor::Deeper;
using cursor::Scratch;
using cursor::Tok;
using cursor::Token;

ast::Expr* parse_simple_expr(Cursor& c);

ast::ExprError* error_expr(Cursor& c, std::uint32_t start) { return c.make<ast::ExprError>(start); }

std::optional<ast::UnaryOp> unary_op(Tok kind) {
  switch (kind) {
    case Tok::Not: return ast::UnaryOp::Not;
    case Tok::Minus: return ast::UnaryOp::Minus;
    case Tok::Hash: return ast::UnaryOp::Len;
    default: return std::nullopt;
  }
}

std::optional<BinaryOp> binary_op(Tok kind) {
  switch (kind) {
    case Tok::Plus: return BinaryOp::Add;
    case Tok::Minus: return BinaryOp::Sub;
    case Tok::Star: return BinaryOp::Mul;
    case Tok::Slash: return BinaryOp::Div;
    case Tok::DoubleSlash: return BinaryOp::FloorDiv;
    case Tok::Percent: return BinaryOp::Mod;
    case Tok::Caret: return BinaryOp::Pow;
    case Tok::Concat: return BinaryOp::Concat;
    case Tok::Ne: return BinaryOp::CompareNe;
    case Tok::Eq: return BinaryOp::CompareEq;
    case Tok::Lt: return BinaryOp::CompareLt;
    case Tok::Le: return BinaryOp::CompareLe;
    case Tok::Gt: return BinaryOp::CompareGt;
    case Tok::Ge: return BinaryOp::CompareGe;
    case Tok::And: return BinaryOp::And;
    case Tok::Or: return BinaryOp::Or;
    default: return std::nullopt;
  }
}

struct Priority {
  int left;
  int right;
};

// Indexed by BinaryOp. A right priority below the left one makes an operator
// right-associative.
constexpr Priority PRIORITIES[] = {
    {6, 6},   // +
    {6, 6},   // -
    {7, 7},   // *
    {7, 7},   // /
    {7, 7},   // //
    {7, 7},   // %
    {10, 9},  // ^
    {5, 4},   // ..
    {3, 3},   // ~=
    {3, 3},   // ==
    {3, 3},   // <
    {3, 3},   // <=
    {3, 3},   // >
    {3, 3},   // >=
    {2, 2},   // and
    {1, 1},   // or
};
constexpr int UNARY_PRIORITY = 8;

// SubExpr ::= (AssertionExpr | UnOp SubExpr) {BinOp SubExpr}, taking only
// operators that bind tighter than `limit`.
ast::Expr* parse_subexpr(Cursor& c, int limit) {
  std::uint32_t start = c.current().start;
  Deeper deeper(c);
  if (!deeper.ok) return error_expr(c, start);
  ast::Expr* left = nullptr;
  if (auto op = unary_op(c.kind())) {
    c.advance();
    ast::Expr* operand = parse_subexpr(c, UNARY_PRIORITY);
    auto* node = c.make<ast::ExprUnary>(start);
    node->op = *op;
    node->expr = operand;
    left = node;
  } else {
    left = parse_simple_expr(c);
    // AssertionExpr ::= SimpleExpr {'::' Type}
    int levels = 0;
    while (c.at(Tok::DoubleColon)) {
      ++levels;
      if (!c.deeper()) break;
      c.advance();
      ast::Type* type = types::parse_type(c);
      auto* node = c.make<ast::ExprTypeAssertion>(start);
      node->expr = left;
      node->annotation = type;
      left = node;
    }
    c.shallower(levels);
  }
  // Each operator of a chain adds a level to the tree, so it counts as depth.
  int levels = 0;
  while (auto op = binary_op(c.kind())) {
    Priority priority = PRIORITIES[static_cast<int>(*op)];
    if (priority.left <= limit) break;
    ++levels;
    if (!c.deeper()) break;
    ast::Span op_span{c.current().start, c.current().end};
    c.advance();
    ast::Expr* right = parse_subexpr(c, priority.right);
    auto* node = c.make<ast::ExprBinary>(start);
    node->op = *op;
    node->op_span = op_span;
    node->left = left;
    node->right = right;
    left = node;
  }
  c.shallower(levels);
  return left;
}

arena::Array<ast::Expr*> parse_call_args(Cursor& c) {
  Token open = c.current();
  c.advance();
  Scratch<ast::Expr*> args(c.exprs);
  if (!c.at(Tok::RParen)) {
    while (true) {
      args.push(parse_expr(c));
      if (!c.accept(Tok::Comma)) break;
    }
  }
  c.expect_closing(Tok::RParen, open);
  return c.copy(args);
}

ast::Expr* parse_string(Cursor& c) {
  std::uint32_t start = c.current().start;
  std::string_view text = c.text();
  c.advance();
  auto* node = c.make<ast::ExprString>(start);
  node->text = text;
  return node;
}

// TableConstructor ::= '{' [Field {(',' | ';') Field} [',' | ';']] '}'
// Field ::= '[' Expr ']' '=' Expr | Name '=' Expr | Expr
ast::Expr* parse_table(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token open = c.current();
  c.advance();
  Scratch<ast::TableItem> items(c.table_items);
  while (!c.at(Tok::RBrace) && !c.at(Tok::Eof)) {
    ast::TableItem item;
    if (c.at(Tok::LBracket)) {
      Token bracket = c.current();
      c.advance();
      item.kind = ast::TableItemKind::General;
      item.key = parse_expr(c);
      c.expect_closing(Tok::RBracket, bracket);
      c.expect(Tok::Assign, "table field");
      item.value = parse_expr(c);
    } else if (c.at(Tok::Name) && c.peek().kind == Tok::Assign) {
      item.kind = ast::TableItemKind::Record;
      item.name = c.name(c.current());
      c.advance();
      c.advance();
      item.value = parse_expr(c);
    } else {
      item.value = parse_expr(c);
    }
    items.push(item);
    if (!c.accept(Tok::Comma) && !c.accept(Tok::Semicolon)) break;
  }
  c.expect_closing(Tok::RBrace, open);
  auto* node = c.make<ast::ExprTable>(start);
  node->items = c.copy(items);
  return node;
}

// A string argument or table constructor directly after a callee.
arena::Array<ast::Expr*> parse_single_arg(Cursor& c) {
  ast::Expr* arg = c.at(Tok::LBrace) ? parse_table(c) : parse_string(c);
  return c.arena.copy<ast::Expr*>({&arg, 1});
}

// The holes of a backtick string are parsed by moving the cursor into the
// string and back. Each nested string is lexed again as its enclosing hole is
// parsed, so nesting is bounded on its own, well below the general depth.
ast::Expr* parse_interp_string(Cursor& c) {
  Token token = c.current();
  c.advance();
  std::string_view source = c.source();
  Scratch<ast::Span> strings(c.spans);
  Scratch<ast::Expr*> holes(c.exprs);
  std::uint32_t end = token.end - 1;  // the closing backtick
  std::uint32_t piece = token.start + 1;
  std::uint32_t i = piece;
  bool parse_holes = true;
  if (++c.interpolation_depth > parser::MAX_INTERPOLATION_NESTING) {
    c.error(token.start, "Exceeded allowed nesting of interpolated strings");
    parse_holes = false;
  }
  while (i < end) {
    char ch = source[i];
    if (ch == '\\') {
      i += 2;
      continue;
    }
    if (ch != '{') {
      ++i;
      continue;
    }
    strings.push({piece, i});
    cursor::Position after = c.save();
    c.enter(i + 1, end);
    std::uint32_t close = 0;
    if (c.at(Tok::RBrace)) {
      c.error(i, "Malformed interpolated string, expected expression inside '{}'");
      holes.push(error_expr(c, i + 1));
    } else if (parse_holes) {
      holes.push(parse_expr(c));
    } else {
      holes.push(error_expr(c, i + 1));
    }
    if (c.at(Tok::RBrace)) {
      close = c.current().start;
    } else {
      if (parse_holes) c.error_expected("'}' after interpolated string expression");
      auto found = lexer::find_matching_brace(source, i);
      // The lexer accepted the whole string, so the brace is there.
      close = found && *found < end ? static_cast<std::uint32_t>(*found) : end;
    }
    c.restore(after);
    i = close + 1;
    piece = i;
  }
  --c.interpolation_depth;
  strings.push({piece < end ? piece : end, end});
  auto* node = c.make<ast::ExprInterpString>(token.start);
  node->strings = c.copy(strings);
  node->exprs = c.copy(holes);
  return node;
}

// IfElseExpr ::= 'if' Expr 'then' Expr {'elseif' Expr 'then' Expr} 'else' Expr
ast::Expr* parse_if_else_expr(Cursor& c) {
  std::uint32_t start = c.current().start;
  c.advance();
  Scratch<ast::IfExprBranch> branches(c.if_expr_branches);
  while (true) {
    ast::Expr* condition = parse_expr(c);
    c.expect(Tok::Then, "if-then-else expression");
    ast::Expr* value = parse_expr(c);
    branches.push({condition, value});
    if (!c.accept(Tok::Elseif)) break;
  }
  ast::Expr* else_value = nullptr;
  if (c.expect(Tok::Else, "if-then-else expression")) else_value = parse_expr(c);
  auto* node = c.make<ast::ExprIfElse>(start);
  node->branches = c.copy(branches);
  node->else_value = else_value;
  return node;
}

// SimpleExpr ::= nil | true | false | Number | String | InterpString | '...'
//              | TableConstructor | [Attributes] 'function' FuncBody | IfElseExpr
//              | PrimaryExpr
ast::Expr* parse_simple_expr(Cursor& c) {
  std::uint32_t start = c.current().start;
  switch (c.kind()) {
    case Tok::Nil: c.advance(); return c.make<ast::ExprNil>(start);
    case Tok::True:
    case Tok::False: {
      bool value = c.at(Tok::True);
      c.advance();
      auto* node = c.make<ast::ExprBool>(start);
      node->value = value;
      return node;
    }
    case Tok::Number: {
      std::string_view text = c.text();
      c.advance();
      auto* node = c.make<ast::ExprNumber>(start);
      node->text = text;
      return node;
    }
    case Tok::String: return parse_string(c);
    case Tok::InterpString: return parse_interp_string(c);
    case Tok::Dots: c.advance(); return c.make<ast::ExprVarargs>(start);
    case Tok::LBrace: return parse_table(c);
    case Tok::If: return parse_if_else_expr(c);
    case Tok::Function: {
      Token keyword = c.current();
      c.advance();
      return parse_function_body(c, start, {}, false, keyword);
    }
    case Tok::At: {
      arena::Array<ast::Attribute> attributes = parse_attributes(c);
      if (!c.at(Tok::Function)) {
        c.error_expected("'function' after attributes");
        return error_expr(c, start);
      }
      Token keyword = c.current();
      c.advance();
      return parse_function_body(c, start, attributes, false, keyword);
    }
    default: return parse_primary_expr(c);
  }
}

// PrefixExpr ::= Name | '(' Expr ')'
ast::Expr* parse_prefix_expr(Cursor& c) {
  std::uint32_t start = c.current().start;
  if (c.at(Tok::LParen)) {
    Token open = c.current();
    c.advance();
    ast::Expr* inner = parse_expr(c);
    c.expect_closing(Tok::RParen, open);
    auto* node = c.make<ast::ExprGroup>(start);
    node->expr = inner;
    return node;
  }
  if (c.at(Tok::Name)) {
    ast::Name name = c.name(c.current());
    c.advance();
    auto* node = c.make<ast::ExprName>(start);
    node->name = name;
    return node;
  }
  c.error_expected("identifier when parsing expression");
  return error_expr(c, start);
}

// The name after '.' or ':'; an empty name at the current token when missing.
ast::Name parse_index_name(Cursor& c) {
  if (c.at(Tok::Name)) {
    ast::Name name = c.name(c.current());
    c.advance();
    return name;
  }
  c.error_expected("identifier when parsing index");
  return {c.source().substr(c.current().start, 0), {c.current().start, c.current().start}};
}

// '<<' TypeArgs '>>', the two closing brackets being two tokens.
ast::Expr* parse_instantiation(Cursor& c, std::uint32_t start, ast::Expr* expr) {
  Token open = c.current();
  c.advance();
  arena::Array<ast::TypeOrPack> types = types::parse_type_args(c);
  if (c.expect_closing(Tok::Gt, open)) c.expect_closing(Tok::Gt, open);
  auto* node = c.make<ast::ExprInstantiate>(start);
  node->expr = expr;
  node->types = types;
  return node;
}

}  // namespace

ast::Expr* parse_expr(Cursor& c) { return parse_subexpr(c, 0); }

ast::Expr* parse_primary_expr(Cursor& c) {
  std::uint32_t start = c.current().start;
  ast::Expr* expr = parse_prefix_expr(c);
  // Each suffix adds a level to the tree, so a chain counts as depth.
  int levels = 0;
  while (true) {
    Tok kind = c.kind();
    if (kind != Tok::Dot && kind != Tok::LBracket && kind != Tok::Colon && kind != Tok::LParen && kind != Tok::String &&
        kind != Tok::LBrace && kind != Tok::LtLt) {
      break;
    }
    ++levels;
    if (!c.deeper()) break;
    if (kind == Tok::Dot) {
      c.advance();
      auto* node = c.arena.make<ast::ExprIndexName>();
      node->object = expr;
      node->index = parse_index_name(c);
      node->span = {start, c.previous_end()};
      expr = node;
    } else if (kind == Tok::LBracket) {
      Token open = c.current();
      c.advance();
      ast::Expr* index = parse_expr(c);
      c.expect_closing(Tok::RBracket, open);
      auto* node = c.make<ast::ExprIndexExpr>(start);
      node->object = expr;
      node->index = index;
      expr = node;
    } else if (kind == Tok::Colon) {
      c.advance();
      auto* method = c.arena.make<ast::ExprIndexName>();
      method->object = expr;
      method->op = ':';
      method->index = parse_index_name(c);
      method->span = {start, c.previous_end()};
      ast::Expr* callee = method;
      if (c.at(Tok::LtLt)) callee = parse_instantiation(c, start, callee);
      arena::Array<ast::Expr*> args;
      if (c.at(Tok::LParen)) {
        args = parse_call_args(c);
      } else if (c.at(Tok::String) || c.at(Tok::LBrace)) {
        args = parse_single_arg(c);
      } else {
        c.error_expected("'(', '{' or string when parsing method call");
      }
      auto* node = c.make<ast::ExprCall>(start);
      node->func = callee;
      node->args = args;
      node->self = true;
      expr = node;
    } else if (kind == Tok::LtLt) {
      expr = parse_instantiation(c, start, expr);
    } else {
      arena::Array<ast::Expr*> args = kind == Tok::LParen ? parse_call_args(c) : parse_single_arg(c);
      auto* node = c.make<ast::ExprCall>(start);
      node->func = expr;
      node->args = args;
      expr = node;
    }
  }
  c.shallower(levels);
  return expr;
}

arena::Array<ast::Expr*> parse_expr_list(Cursor& c) {
  Scratch<ast::Expr*> list(c.exprs);
  while (true) {
    list.push(parse_expr(c));
    if (!c.accept(Tok::Comma)) break;
  }
  return c.copy(list);
}

ast::Binding parse_binding(Cursor& c) {
  ast::Binding binding;
  binding.name = c.name(c.current());
  c.advance();
  if (c.accept(Tok::Colon)) binding.annotation = types::parse_type(c);
  return binding;
}

arena::Array<ast::Binding> parse_binding_list(Cursor& c, std::string_view context) {
  Scratch<ast::Binding> list(c.bindings);
  while (true) {
    if (!c.at(Tok::Name)) {
      std::string what = "identifier when parsing ";
      what += context;
      c.error_expected(what);
      break;
    }
    list.push(parse_binding(c));
    if (!c.accept(Tok::Comma)) break;
  }
  return c.copy(list);
}

ast::ExprFunction* parse_function_body(Cursor& c, std::uint32_t start, arena::Array<ast::Attribute> attributes,
                                       bool is_method, const Token& keyword) {
  Deeper deeper(c);
  auto* node = c.arena.make<ast::ExprFunction>();
  node->attributes = attributes;
  node->is_method = is_method;
  if (!deeper.ok) {
    node->span = {start, c.previous_end()};
    return node;
  }
  if (c.at(Tok::Lt)) {
    types::Generics generics = types::parse_generics(c, false);
    node->generics = generics.types;
    node->generic_packs = generics.packs;
  }
  Token open = c.current();
  if (c.expect(Tok::LParen, "function")) {
    Scratch<ast::Binding> params(c.bindings);
    while (!c.at(Tok::RParen)) {
      if (c.at(Tok::Dots)) {
        node->vararg = true;
        node->vararg_span = {c.current().start, c.current().end};
        c.advance();
        if (c.accept(Tok::Colon)) node->vararg_annotation = types::parse_vararg_annotation(c);
        break;
      }
      if (!c.at(Tok::Name)) {
        c.error_expected("identifier when parsing function parameter");
        break;
      }
      params.push(parse_binding(c));
      if (!c.accept(Tok::Comma)) break;
    }
    c.expect_closing(Tok::RParen, open);
    node->params = c.copy(params);
  }
  if (c.accept(Tok::Colon)) node->return_types = types::parse_return_type(c);
  node->body = statements::parse_block(c);
  c.expect_closing(Tok::End, keyword);
  node->span = {start, c.previous_end()};
  return node;
}

arena::Array<ast::Attribute> parse_attributes(Cursor& c) {
  Scratch<ast::Attribute> attributes(c.attributes);
  while (c.at(Tok::At)) {
    std::uint32_t start = c.current().start;
    c.advance();
    if (c.at(Tok::LBracket)) {
      Token open = c.current();
      c.advance();
      while (c.at(Tok::Name)) {
        ast::Attribute attribute;
        attribute.name = c.name(c.current());
        c.advance();
        if (c.at(Tok::LParen)) {
          attribute.args = parse_call_args(c);
        } else if (c.at(Tok::LBrace) || c.at(Tok::String)) {
          attribute.args = parse_single_arg(c);
        }
        attribute.span = {attribute.name.span.start, c.previous_end()};
        attributes.push(attribute);
        if (!c.accept(Tok::Comma)) break;
      }
      c.expect_closing(Tok::RBracket, open);
    } else if (c.at(Tok::Name)) {
      ast::Attribute attribute;
      attribute.name = c.name(c.current());
      c.advance();
      attribute.span = {start, c.previous_end()};
      attributes.push(attribute);
    } else {
      c.error_expected("identifier after '@'");
    }
  }
  return c.copy(attributes);
}

}  // namespace tovix::luau::expressions
