#pragma once

// A read-only walk over the Luau syntax tree. A visitor overrides the hooks it
// cares about; each hook defaults to the hook of its node's category
// (expression, statement, type, type pack), which defaults to `visit_node`.
// A hook answers whether to descend into the node's children.

#include "tovix/luau/ast.h"

namespace tovix::luau::visitor {

class Visitor {
 public:
  virtual ~Visitor() = default;

  virtual bool visit_node(const ast::Node&) { return true; }
  virtual bool visit_expr(const ast::Expr& node) { return visit_node(node); }
  virtual bool visit_stat(const ast::Stat& node) { return visit_node(node); }
  virtual bool visit_type(const ast::Type& node) { return visit_node(node); }
  virtual bool visit_type_pack(const ast::TypePack& node) { return visit_node(node); }

  // expressions
  virtual bool visit_expr_group(const ast::ExprGroup& node) { return visit_expr(node); }
  virtual bool visit_expr_nil(const ast::ExprNil& node) { return visit_expr(node); }
  virtual bool visit_expr_bool(const ast::ExprBool& node) { return visit_expr(node); }
  virtual bool visit_expr_number(const ast::ExprNumber& node) { return visit_expr(node); }
  virtual bool visit_expr_string(const ast::ExprString& node) { return visit_expr(node); }
  virtual bool visit_expr_interp_string(const ast::ExprInterpString& node) { return visit_expr(node); }
  virtual bool visit_expr_varargs(const ast::ExprVarargs& node) { return visit_expr(node); }
  virtual bool visit_expr_name(const ast::ExprName& node) { return visit_expr(node); }
  virtual bool visit_expr_index_name(const ast::ExprIndexName& node) { return visit_expr(node); }
  virtual bool visit_expr_index_expr(const ast::ExprIndexExpr& node) { return visit_expr(node); }
  virtual bool visit_expr_call(const ast::ExprCall& node) { return visit_expr(node); }
  virtual bool visit_expr_instantiate(const ast::ExprInstantiate& node) { return visit_expr(node); }
  virtual bool visit_expr_function(const ast::ExprFunction& node) { return visit_expr(node); }
  virtual bool visit_expr_table(const ast::ExprTable& node) { return visit_expr(node); }
  virtual bool visit_expr_unary(const ast::ExprUnary& node) { return visit_expr(node); }
  virtual bool visit_expr_binary(const ast::ExprBinary& node) { return visit_expr(node); }
  virtual bool visit_expr_type_assertion(const ast::ExprTypeAssertion& node) { return visit_expr(node); }
  virtual bool visit_expr_if_else(const ast::ExprIfElse& node) { return visit_expr(node); }
  virtual bool visit_expr_error(const ast::ExprError& node) { return visit_expr(node); }

  // statements
  virtual bool visit_stat_block(const ast::StatBlock& node) { return visit_stat(node); }
  virtual bool visit_stat_if(const ast::StatIf& node) { return visit_stat(node); }
  virtual bool visit_stat_while(const ast::StatWhile& node) { return visit_stat(node); }
  virtual bool visit_stat_repeat(const ast::StatRepeat& node) { return visit_stat(node); }
  virtual bool visit_stat_break(const ast::StatBreak& node) { return visit_stat(node); }
  virtual bool visit_stat_continue(const ast::StatContinue& node) { return visit_stat(node); }
  virtual bool visit_stat_return(const ast::StatReturn& node) { return visit_stat(node); }
  virtual bool visit_stat_expr(const ast::StatExpr& node) { return visit_stat(node); }
  virtual bool visit_stat_local(const ast::StatLocal& node) { return visit_stat(node); }
  virtual bool visit_stat_const(const ast::StatConst& node) { return visit_stat(node); }
  virtual bool visit_stat_assign(const ast::StatAssign& node) { return visit_stat(node); }
  virtual bool visit_stat_compound_assign(const ast::StatCompoundAssign& node) { return visit_stat(node); }
  virtual bool visit_stat_for(const ast::StatFor& node) { return visit_stat(node); }
  virtual bool visit_stat_for_in(const ast::StatForIn& node) { return visit_stat(node); }
  virtual bool visit_stat_function(const ast::StatFunction& node) { return visit_stat(node); }
  virtual bool visit_stat_local_function(const ast::StatLocalFunction& node) { return visit_stat(node); }
  virtual bool visit_stat_const_function(const ast::StatConstFunction& node) { return visit_stat(node); }
  virtual bool visit_stat_type_alias(const ast::StatTypeAlias& node) { return visit_stat(node); }
  virtual bool visit_stat_type_function(const ast::StatTypeFunction& node) { return visit_stat(node); }
  virtual bool visit_stat_error(const ast::StatError& node) { return visit_stat(node); }

  // types
  virtual bool visit_type_reference(const ast::TypeReference& node) { return visit_type(node); }
  virtual bool visit_type_table(const ast::TypeTable& node) { return visit_type(node); }
  virtual bool visit_type_function(const ast::TypeFunction& node) { return visit_type(node); }
  virtual bool visit_type_typeof(const ast::TypeTypeof& node) { return visit_type(node); }
  virtual bool visit_type_union(const ast::TypeUnion& node) { return visit_type(node); }
  virtual bool visit_type_intersection(const ast::TypeIntersection& node) { return visit_type(node); }
  virtual bool visit_type_optional(const ast::TypeOptional& node) { return visit_type(node); }
  virtual bool visit_type_singleton_bool(const ast::TypeSingletonBool& node) { return visit_type(node); }
  virtual bool visit_type_singleton_string(const ast::TypeSingletonString& node) { return visit_type(node); }
  virtual bool visit_type_group(const ast::TypeGroup& node) { return visit_type(node); }
  virtual bool visit_type_error(const ast::TypeError& node) { return visit_type(node); }

  // type packs
  virtual bool visit_type_pack_explicit(const ast::TypePackExplicit& node) { return visit_type_pack(node); }
  virtual bool visit_type_pack_variadic(const ast::TypePackVariadic& node) { return visit_type_pack(node); }
  virtual bool visit_type_pack_generic(const ast::TypePackGeneric& node) { return visit_type_pack(node); }
};

// Calls the visitor's hook for `node`, then, when it answers true, walks the
// children in source order (a function's attributes are children of its
// `ExprFunction`, so they come after the name of a function statement). Null children are skipped.
// Recursion is as deep as the tree, which the parser keeps within `parser::MAX_DEPTH` levels or so.
void walk(const ast::Node& node, Visitor& visitor);

}  // namespace tovix::luau::visitor
