#pragma once

// The expression grammar of Luau, with function bodies, tables, interpolated
// strings and attributes. Each function parses at the cursor and always
// returns a node (an `ExprError` when nothing fits), reporting what it could
// not parse.

#include "tovix/luau/ast.h"
#include "tovix/luau/cursor.h"

namespace tovix::luau::expressions {

// Expr ::= (SimpleExpr ['::' Type] | UnOp Expr) {BinOp Expr}, with Luau's
// precedence; `..` and `^` are right-associative.
[[nodiscard]] ast::Expr* parse_expr(cursor::Cursor& c);

// PrimaryExpr ::= (Name | '(' Expr ')') {'.' Name | '[' Expr ']' | ':' Name Args | Args
//                 | '<<' TypeArgs '>>'}
// Args ::= '(' [ExprList] ')' | TableConstructor | String
[[nodiscard]] ast::Expr* parse_primary_expr(cursor::Cursor& c);

// ExprList ::= Expr {',' Expr}
[[nodiscard]] arena::Array<ast::Expr*> parse_expr_list(cursor::Cursor& c);

// Binding ::= Name [':' Type], with the cursor on the name.
[[nodiscard]] ast::Binding parse_binding(cursor::Cursor& c);

// BindingList ::= Binding {',' Binding}; reports a missing first name.
[[nodiscard]] arena::Array<ast::Binding> parse_binding_list(cursor::Cursor& c, std::string_view context);

// FuncBody ::= [Generics] '(' [ParList] ')' [':' ReturnType] Block 'end'
// ParList ::= Binding {',' Binding} [',' '...' [':' VarargAnnotation]] | '...' [...]
// With the cursor after the function's name. `start` is where the node's span
// begins; `keyword` is the `function` token that the `end` closes.
[[nodiscard]] ast::ExprFunction* parse_function_body(cursor::Cursor& c, std::uint32_t start,
                                                     arena::Array<ast::Attribute> attributes, bool is_method,
                                                     const cursor::Token& keyword);

// Attributes ::= {'@' Name | '@[' Attribute {',' Attribute} ']'}
// Attribute ::= Name [Args]
[[nodiscard]] arena::Array<ast::Attribute> parse_attributes(cursor::Cursor& c);

}  // namespace tovix::luau::expressions
