#include "tovix/luau/statements.h"

#include <optional>

#include "tovix/luau/expressions.h"
#include "tovix/luau/types.h"

namespace tovix::luau::statements {

namespace {

using ast::BinaryOp;
using cursor::Cursor;
using cursor::Deeper;
using cursor::Scratch;
using cursor::Tok;
using cursor::Token;
using expressions::parse_expr;
using expressions::parse_expr_list;

ast::Stat* parse_stat(Cursor& c);
ast::StatBlock* parse_statements(Cursor& c, bool chunk);

bool block_follows(Tok kind) {
  return kind == Tok::End || kind == Tok::Else || kind == Tok::Elseif || kind == Tok::Until || kind == Tok::Eof;
}

// Tokens at which skipping stops after a statement that could not be parsed.
bool starts_statement(Tok kind) {
  switch (kind) {
    case Tok::If:
    case Tok::While:
    case Tok::Do:
    case Tok::For:
    case Tok::Repeat:
    case Tok::Function:
    case Tok::Local:
    case Tok::Return:
    case Tok::Break:
    case Tok::Name:
    case Tok::LParen:
    case Tok::At:
    case Tok::Semicolon: return true;
    default: return block_follows(kind);
  }
}

std::optional<BinaryOp> compound_op(Tok kind) {
  switch (kind) {
    case Tok::PlusAssign: return BinaryOp::Add;
    case Tok::MinusAssign: return BinaryOp::Sub;
    case Tok::StarAssign: return BinaryOp::Mul;
    case Tok::SlashAssign: return BinaryOp::Div;
    case Tok::DoubleSlashAssign: return BinaryOp::FloorDiv;
    case Tok::PercentAssign: return BinaryOp::Mod;
    case Tok::CaretAssign: return BinaryOp::Pow;
    case Tok::ConcatAssign: return BinaryOp::Concat;
    default: return std::nullopt;
  }
}

ast::StatError* error_stat(Cursor& c, std::uint32_t start, ast::Expr* expr) {
  auto* node = c.make<ast::StatError>(start);
  if (expr != nullptr) node->exprs = c.arena.copy<ast::Expr*>({&expr, 1});
  return node;
}

// A name that a declaration requires; reported and left empty when missing.
ast::Name parse_declared_name(Cursor& c, std::string_view context) {
  if (c.at(Tok::Name)) {
    ast::Name name = c.name(c.current());
    c.advance();
    return name;
  }
  std::string what = "identifier when parsing ";
  what += context;
  c.error_expected(what);
  return {c.source().substr(c.current().start, 0), {c.current().start, c.current().start}};
}

// 'do' Block 'end'
ast::Stat* parse_do(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token keyword = c.current();
  c.advance();
  ast::StatBlock* body = parse_block(c);
  c.expect_closing(Tok::End, keyword);
  body->span = {start, c.previous_end()};
  return body;
}

// 'if' Expr 'then' Block {'elseif' Expr 'then' Block} ['else' Block] 'end'
ast::Stat* parse_if(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token keyword = c.current();
  c.advance();
  Scratch<ast::IfBranch> branches(c.if_branches);
  while (true) {
    ast::Expr* condition = parse_expr(c);
    c.expect(Tok::Then, "if statement");
    ast::StatBlock* body = parse_block(c);
    branches.push({condition, body});
    if (!c.accept(Tok::Elseif)) break;
  }
  ast::StatBlock* else_body = nullptr;
  if (c.accept(Tok::Else)) else_body = parse_block(c);
  c.expect_closing(Tok::End, keyword);
  auto* node = c.make<ast::StatIf>(start);
  node->branches = c.copy(branches);
  node->else_body = else_body;
  return node;
}

// 'while' Expr 'do' Block 'end'
ast::Stat* parse_while(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token keyword = c.current();
  c.advance();
  ast::Expr* condition = parse_expr(c);
  c.expect(Tok::Do, "while loop");
  ast::StatBlock* body = parse_block(c);
  c.expect_closing(Tok::End, keyword);
  auto* node = c.make<ast::StatWhile>(start);
  node->condition = condition;
  node->body = body;
  return node;
}

// 'repeat' Block 'until' Expr
ast::Stat* parse_repeat(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token keyword = c.current();
  c.advance();
  ast::StatBlock* body = parse_block(c);
  ast::Expr* condition = nullptr;
  if (c.expect_closing(Tok::Until, keyword)) condition = parse_expr(c);
  auto* node = c.make<ast::StatRepeat>(start);
  node->body = body;
  node->condition = condition;
  return node;
}

// 'for' Binding '=' Expr ',' Expr [',' Expr] 'do' Block 'end'
// 'for' BindingList 'in' ExprList 'do' Block 'end'
ast::Stat* parse_for(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token keyword = c.current();
  c.advance();
  if (!c.at(Tok::Name)) {
    c.error_expected("identifier when parsing for loop");
    return error_stat(c, start, nullptr);
  }
  ast::Binding first = expressions::parse_binding(c);
  if (c.accept(Tok::Assign)) {
    auto* node = c.arena.make<ast::StatFor>();
    node->var = first;
    node->from = parse_expr(c);
    c.expect(Tok::Comma, "numeric for loop");
    node->to = parse_expr(c);
    if (c.accept(Tok::Comma)) node->step = parse_expr(c);
    c.expect(Tok::Do, "for loop");
    node->body = parse_block(c);
    c.expect_closing(Tok::End, keyword);
    node->span = {start, c.previous_end()};
    return node;
  }
  Scratch<ast::Binding> vars(c.bindings);
  vars.push(first);
  while (c.accept(Tok::Comma)) {
    if (!c.at(Tok::Name)) {
      c.error_expected("identifier when parsing for loop");
      break;
    }
    vars.push(expressions::parse_binding(c));
  }
  auto* node = c.arena.make<ast::StatForIn>();
  node->vars = c.copy(vars);
  c.expect(Tok::In, "for loop");
  node->values = parse_expr_list(c);
  c.expect(Tok::Do, "for loop");
  node->body = parse_block(c);
  c.expect_closing(Tok::End, keyword);
  node->span = {start, c.previous_end()};
  return node;
}

// 'function' Name {'.' Name} [':' Name] FuncBody
ast::Stat* parse_function(Cursor& c, std::uint32_t start, arena::Array<ast::Attribute> attributes) {
  Token keyword = c.current();
  c.advance();
  ast::Expr* name = nullptr;
  bool is_method = false;
  if (c.at(Tok::Name)) {
    auto* root = c.arena.make<ast::ExprName>();
    root->name = c.name(c.current());
    root->span = root->name.span;
    c.advance();
    name = root;
    // The path is flat in the source, so it costs no depth to parse; the tree
    // it makes is as deep as it is long.
    int levels = 0;
    while (c.at(Tok::Dot) || c.at(Tok::Colon)) {
      ++levels;
      if (!c.deeper()) break;
      bool method = c.at(Tok::Colon);
      c.advance();
      auto* index = c.arena.make<ast::ExprIndexName>();
      index->object = name;
      index->op = method ? ':' : '.';
      if (c.at(Tok::Name)) {
        index->index = c.name(c.current());
        c.advance();
      } else {
        c.error_expected("identifier when parsing function name");
      }
      index->span = {root->span.start, c.previous_end()};
      name = index;
      if (method) {
        is_method = true;
        break;
      }
    }
    c.shallower(levels);
  } else {
    c.error_expected("identifier when parsing function name");
    name = c.make<ast::ExprError>(c.current().start);
  }
  auto* node = c.arena.make<ast::StatFunction>();
  node->name = name;
  node->func = expressions::parse_function_body(c, start, attributes, is_method, keyword);
  node->span = {start, c.previous_end()};
  return node;
}

// 'local' 'function' Name FuncBody | 'local' BindingList ['=' ExprList]
// and the same with 'const'; `keyword` is on 'local' or 'const'.
template <typename Declaration, typename FunctionDeclaration>
ast::Stat* parse_declaration(Cursor& c, std::uint32_t start, arena::Array<ast::Attribute> attributes,
                             std::string_view what) {
  c.advance();
  if (c.at(Tok::Function)) {
    Token keyword = c.current();
    c.advance();
    auto* node = c.arena.make<FunctionDeclaration>();
    node->name = parse_declared_name(c, what);
    node->func = expressions::parse_function_body(c, start, attributes, false, keyword);
    node->span = {start, c.previous_end()};
    return node;
  }
  if (!attributes.empty()) {
    c.error(attributes[0].span.start, "Attributes can only be applied to function declarations");
  }
  auto* node = c.arena.make<Declaration>();
  node->vars = expressions::parse_binding_list(c, what);
  if (c.accept(Tok::Assign)) node->values = parse_expr_list(c);
  node->span = {start, c.previous_end()};
  return node;
}

// ['export'] 'type' Name [Generics] '=' Type | ['export'] 'type' 'function' Name FuncBody
// With the cursor on 'type'.
ast::Stat* parse_type_declaration(Cursor& c, std::uint32_t start, bool exported) {
  c.advance();
  if (c.at(Tok::Function)) {
    Token keyword = c.current();
    c.advance();
    auto* node = c.arena.make<ast::StatTypeFunction>();
    node->exported = exported;
    node->name = parse_declared_name(c, "type function");
    node->body = expressions::parse_function_body(c, start, {}, false, keyword);
    node->span = {start, c.previous_end()};
    return node;
  }
  auto* node = c.arena.make<ast::StatTypeAlias>();
  node->exported = exported;
  node->name = parse_declared_name(c, "type alias");
  if (c.at(Tok::Lt)) {
    types::Generics generics = types::parse_generics(c, true);
    node->generics = generics.types;
    node->generic_packs = generics.packs;
  }
  if (c.expect(Tok::Assign, "type alias")) node->type = types::parse_type(c);
  node->span = {start, c.previous_end()};
  return node;
}

bool is_assignable(const ast::Expr* expr) {
  if (const auto* index = expr->as<ast::ExprIndexName>()) return index->op == '.';
  return expr->is<ast::ExprName>() || expr->is<ast::ExprIndexExpr>();
}

void check_assignable(Cursor& c, const ast::Expr* expr) {
  if (!is_assignable(expr) && !expr->is<ast::ExprError>()) {
    c.error(expr->span.start, "Assigned expression must be a variable or a field");
  }
}

// Call ::= PrimaryExpr
// Assignment ::= PrimaryExpr {',' PrimaryExpr} '=' ExprList
// CompoundAssignment ::= PrimaryExpr CompoundOp Expr
ast::Stat* parse_expression_statement(Cursor& c) {
  std::uint32_t start = c.current().start;
  ast::Expr* first = expressions::parse_primary_expr(c);
  if (c.at(Tok::Comma) || c.at(Tok::Assign)) {
    Scratch<ast::Expr*> vars(c.exprs);
    check_assignable(c, first);
    vars.push(first);
    while (c.accept(Tok::Comma)) {
      ast::Expr* var = expressions::parse_primary_expr(c);
      check_assignable(c, var);
      vars.push(var);
    }
    auto* node = c.arena.make<ast::StatAssign>();
    node->vars = c.copy(vars);
    if (c.expect(Tok::Assign, "assignment")) node->values = parse_expr_list(c);
    node->span = {start, c.previous_end()};
    return node;
  }
  if (auto op = compound_op(c.kind())) {
    check_assignable(c, first);
    c.advance();
    auto* node = c.arena.make<ast::StatCompoundAssign>();
    node->op = *op;
    node->var = first;
    node->value = parse_expr(c);
    node->span = {start, c.previous_end()};
    return node;
  }
  if (first->is<ast::ExprCall>()) {
    auto* node = c.make<ast::StatExpr>(start);
    node->expr = first;
    return node;
  }
  if (!first->is<ast::ExprError>()) {
    c.error(start, "Incomplete statement: expected assignment or a function call");
  }
  return error_stat(c, start, first);
}

// `continue`, `type`, `export` and `const` are keywords only where a plain
// name could not stand.
bool is_call_or_assignment_follow(Tok kind) {
  switch (kind) {
    case Tok::LParen:
    case Tok::String:
    case Tok::LBrace:
    case Tok::Dot:
    case Tok::Colon:
    case Tok::LBracket:
    case Tok::Assign:
    case Tok::Comma:
    case Tok::LtLt: return true;
    default: return compound_op(kind).has_value();
  }
}

ast::Stat* parse_name_statement(Cursor& c) {
  std::uint32_t start = c.current().start;
  Tok next = c.peek().kind;
  if (c.at_word("const") && (next == Tok::Name || next == Tok::Function)) {
    return parse_declaration<ast::StatConst, ast::StatConstFunction>(c, start, {}, "const declaration");
  }
  if (c.at_word("type") && (next == Tok::Name || next == Tok::Function)) {
    return parse_type_declaration(c, start, false);
  }
  if (c.at_word("export") && next == Tok::Name && c.text(c.peek()) == "type") {
    c.advance();
    return parse_type_declaration(c, start, true);
  }
  if (c.at_word("continue") && !is_call_or_assignment_follow(next)) {
    c.advance();
    return c.make<ast::StatContinue>(start);
  }
  return parse_expression_statement(c);
}

// Attributes ('function' … | 'local' 'function' … | 'const' 'function' …)
ast::Stat* parse_attributed(Cursor& c) {
  std::uint32_t start = c.current().start;
  arena::Array<ast::Attribute> attributes = expressions::parse_attributes(c);
  if (c.at(Tok::Function)) return parse_function(c, start, attributes);
  if (c.at(Tok::Local)) {
    return parse_declaration<ast::StatLocal, ast::StatLocalFunction>(c, start, attributes, "local");
  }
  if (c.at_word("const")) {
    return parse_declaration<ast::StatConst, ast::StatConstFunction>(c, start, attributes, "const declaration");
  }
  c.error_expected("'function', 'local function' or 'const function' after attributes");
  return parse_stat(c);
}

ast::Stat* parse_stat(Cursor& c) {
  std::uint32_t start = c.current().start;
  switch (c.kind()) {
    case Tok::If: return parse_if(c);
    case Tok::While: return parse_while(c);
    case Tok::Do: return parse_do(c);
    case Tok::For: return parse_for(c);
    case Tok::Repeat: return parse_repeat(c);
    case Tok::Function: return parse_function(c, start, {});
    case Tok::Local: return parse_declaration<ast::StatLocal, ast::StatLocalFunction>(c, start, {}, "local");
    case Tok::Return: {
      c.advance();
      auto* node = c.arena.make<ast::StatReturn>();
      if (!block_follows(c.kind()) && !c.at(Tok::Semicolon)) node->list = parse_expr_list(c);
      node->span = {start, c.previous_end()};
      return node;
    }
    case Tok::Break: c.advance(); return c.make<ast::StatBreak>(start);
    case Tok::At: return parse_attributed(c);
    case Tok::Name: return parse_name_statement(c);
    case Tok::LParen: return parse_expression_statement(c);
    default: {
      // Not a statement: report once and skip to something that can start one.
      c.error_expected("statement");
      do {
        c.advance();
      } while (!starts_statement(c.kind()));
      return error_stat(c, start, nullptr);
    }
  }
}

ast::StatBlock* parse_statements(Cursor& c, bool chunk) {
  std::uint32_t start = c.current().start;
  Deeper deeper(c);
  Scratch<ast::Stat*> body(c.stats);
  bool returned = false;
  while (deeper.ok) {
    if (c.accept(Tok::Semicolon)) continue;
    if (block_follows(c.kind())) {
      if (!chunk || c.at(Tok::Eof)) break;
      c.error_expected("<eof>");
      c.advance();
      continue;
    }
    if (returned) {
      c.error_expected("end of block after 'return'");
      returned = false;
    }
    Token before = c.current();
    ast::Stat* stat = parse_stat(c);
    body.push(stat);
    returned = stat->is<ast::StatReturn>();
    // Whatever went wrong, every statement moves the cursor on.
    if (c.current().start == before.start && c.kind() == before.kind) c.advance();
  }
  auto* node = c.make<ast::StatBlock>(start);
  node->body = c.copy(body);
  return node;
}

}  // namespace

ast::StatBlock* parse_block(Cursor& c) { return parse_statements(c, false); }

ast::StatBlock* parse_chunk(Cursor& c) {
  ast::StatBlock* block = parse_statements(c, true);
  block->span = {0, static_cast<std::uint32_t>(c.source().size())};
  return block;
}

}  // namespace tovix::luau::statements
