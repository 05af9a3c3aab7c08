#include "tovix/luau/visitor.h"

namespace tovix::luau::visitor {

namespace {

using namespace ast;

void visit(const Node* node, Visitor& v) {
  if (node != nullptr) walk(*node, v);
}

template <typename T>
void visit_all(Array<T*> nodes, Visitor& v) {
  for (const T* node : nodes) visit(node, v);
}

void visit_list(const TypeList& list, Visitor& v) {
  visit_all(list.types, v);
  visit(list.tail, v);
}

void visit_attributes(Array<Attribute> attributes, Visitor& v) {
  for (const Attribute& attribute : attributes) visit_all(attribute.args, v);
}

template <typename T>
void visit_generics(const T& node, Visitor& v) {
  for (const GenericType& generic : node.generics) visit(generic.default_type, v);
  for (const GenericTypePack& pack : node.generic_packs) visit(pack.default_pack, v);
}

void visit_bindings(Array<Binding> bindings, Visitor& v) {
  for (const Binding& binding : bindings) visit(binding.annotation, v);
}

void visit_type_args(Array<TypeOrPack> args, Visitor& v) {
  for (const TypeOrPack& arg : args) {
    visit(arg.type, v);
    visit(arg.pack, v);
  }
}

// Leaves.
void children(const ExprNil&, Visitor&) {}
void children(const ExprBool&, Visitor&) {}
void children(const ExprNumber&, Visitor&) {}
void children(const ExprString&, Visitor&) {}
void children(const ExprVarargs&, Visitor&) {}
void children(const ExprName&, Visitor&) {}
void children(const StatBreak&, Visitor&) {}
void children(const StatContinue&, Visitor&) {}
void children(const TypeSingletonBool&, Visitor&) {}
void children(const TypeSingletonString&, Visitor&) {}
void children(const TypePackGeneric&, Visitor&) {}

// Expressions.
void children(const ExprGroup& n, Visitor& v) { visit(n.expr, v); }
void children(const ExprInterpString& n, Visitor& v) { visit_all(n.exprs, v); }
void children(const ExprIndexName& n, Visitor& v) { visit(n.object, v); }
void children(const ExprIndexExpr& n, Visitor& v) {
  visit(n.object, v);
  visit(n.index, v);
}
void children(const ExprCall& n, Visitor& v) {
  visit(n.func, v);
  visit_all(n.args, v);
}
void children(const ExprInstantiate& n, Visitor& v) {
  visit(n.expr, v);
  visit_type_args(n.types, v);
}
void children(const ExprFunction& n, Visitor& v) {
  visit_attributes(n.attributes, v);
  visit_generics(n, v);
  visit_bindings(n.params, v);
  visit(n.vararg_annotation, v);
  visit(n.return_types, v);
  visit(n.body, v);
}
void children(const ExprTable& n, Visitor& v) {
  for (const TableItem& item : n.items) {
    visit(item.key, v);
    visit(item.value, v);
  }
}
void children(const ExprUnary& n, Visitor& v) { visit(n.expr, v); }
void children(const ExprBinary& n, Visitor& v) {
  visit(n.left, v);
  visit(n.right, v);
}
void children(const ExprTypeAssertion& n, Visitor& v) {
  visit(n.expr, v);
  visit(n.annotation, v);
}
void children(const ExprIfElse& n, Visitor& v) {
  for (const IfExprBranch& branch : n.branches) {
    visit(branch.condition, v);
    visit(branch.value, v);
  }
  visit(n.else_value, v);
}
void children(const ExprError& n, Visitor& v) { visit_all(n.exprs, v); }

// Statements.
void children(const StatBlock& n, Visitor& v) { visit_all(n.body, v); }
void children(const StatIf& n, Visitor& v) {
  for (const IfBranch& branch : n.branches) {
    visit(branch.condition, v);
    visit(branch.body, v);
  }
  visit(n.else_body, v);
}
void children(const StatWhile& n, Visitor& v) {
  visit(n.condition, v);
  visit(n.body, v);
}
void children(const StatRepeat& n, Visitor& v) {
  visit(n.body, v);
  visit(n.condition, v);
}
void children(const StatReturn& n, Visitor& v) { visit_all(n.list, v); }
void children(const StatExpr& n, Visitor& v) { visit(n.expr, v); }
void children(const StatLocal& n, Visitor& v) {
  visit_bindings(n.vars, v);
  visit_all(n.values, v);
}
void children(const StatConst& n, Visitor& v) {
  visit_bindings(n.vars, v);
  visit_all(n.values, v);
}
void children(const StatAssign& n, Visitor& v) {
  visit_all(n.vars, v);
  visit_all(n.values, v);
}
void children(const StatCompoundAssign& n, Visitor& v) {
  visit(n.var, v);
  visit(n.value, v);
}
void children(const StatFor& n, Visitor& v) {
  visit(n.var.annotation, v);
  visit(n.from, v);
  visit(n.to, v);
  visit(n.step, v);
  visit(n.body, v);
}
void children(const StatForIn& n, Visitor& v) {
  visit_bindings(n.vars, v);
  visit_all(n.values, v);
  visit(n.body, v);
}
void children(const StatFunction& n, Visitor& v) {
  visit(n.name, v);
  visit(n.func, v);
}
void children(const StatLocalFunction& n, Visitor& v) { visit(n.func, v); }
void children(const StatConstFunction& n, Visitor& v) { visit(n.func, v); }
void children(const StatTypeAlias& n, Visitor& v) {
  visit_generics(n, v);
  visit(n.type, v);
}
void children(const StatTypeFunction& n, Visitor& v) { visit(n.body, v); }
void children(const StatError& n, Visitor& v) {
  visit_all(n.exprs, v);
  visit_all(n.stats, v);
}

// Types.
void children(const TypeReference& n, Visitor& v) { visit_type_args(n.params, v); }
void children(const TypeTable& n, Visitor& v) {
  // The indexer may stand anywhere among the properties.
  bool indexer_done = !n.indexer;
  auto visit_indexer = [&] {
    visit(n.indexer->key, v);
    visit(n.indexer->value, v);
    indexer_done = true;
  };
  for (const TableProp& prop : n.props) {
    if (!indexer_done && n.indexer->value->span.start < prop.name.span.start) visit_indexer();
    visit(prop.type, v);
  }
  if (!indexer_done) visit_indexer();
}
void children(const TypeFunction& n, Visitor& v) {
  visit_attributes(n.attributes, v);
  visit_generics(n, v);
  visit_list(n.args, v);
  visit(n.returns, v);
}
void children(const TypeTypeof& n, Visitor& v) { visit(n.expr, v); }
void children(const TypeUnion& n, Visitor& v) { visit_all(n.types, v); }
void children(const TypeIntersection& n, Visitor& v) { visit_all(n.types, v); }
void children(const TypeOptional& n, Visitor& v) { visit(n.type, v); }
void children(const TypeGroup& n, Visitor& v) { visit(n.type, v); }
void children(const TypeError& n, Visitor& v) { visit_all(n.types, v); }

// Type packs.
void children(const TypePackExplicit& n, Visitor& v) { visit_list(n.list, v); }
void children(const TypePackVariadic& n, Visitor& v) { visit(n.type, v); }

}  // namespace

void walk(const ast::Node& node, Visitor& v) {
  switch (node.kind) {
    case Kind::ExprGroup: {
      const auto& n = static_cast<const ExprGroup&>(node);
      if (v.visit_expr_group(n)) children(n, v);
      return;
    }
    case Kind::ExprNil: {
      const auto& n = static_cast<const ExprNil&>(node);
      if (v.visit_expr_nil(n)) children(n, v);
      return;
    }
    case Kind::ExprBool: {
      const auto& n = static_cast<const ExprBool&>(node);
      if (v.visit_expr_bool(n)) children(n, v);
      return;
    }
    case Kind::ExprNumber: {
      const auto& n = static_cast<const ExprNumber&>(node);
      if (v.visit_expr_number(n)) children(n, v);
      return;
    }
    case Kind::ExprString: {
      const auto& n = static_cast<const ExprString&>(node);
      if (v.visit_expr_string(n)) children(n, v);
      return;
    }
    case Kind::ExprInterpString: {
      const auto& n = static_cast<const ExprInterpString&>(node);
      if (v.visit_expr_interp_string(n)) children(n, v);
      return;
    }
    case Kind::ExprVarargs: {
      const auto& n = static_cast<const ExprVarargs&>(node);
      if (v.visit_expr_varargs(n)) children(n, v);
      return;
    }
    case Kind::ExprName: {
      const auto& n = static_cast<const ExprName&>(node);
      if (v.visit_expr_name(n)) children(n, v);
      return;
    }
    case Kind::ExprIndexName: {
      const auto& n = static_cast<const ExprIndexName&>(node);
      if (v.visit_expr_index_name(n)) children(n, v);
      return;
    }
    case Kind::ExprIndexExpr: {
      const auto& n = static_cast<const ExprIndexExpr&>(node);
      if (v.visit_expr_index_expr(n)) children(n, v);
      return;
    }
    case Kind::ExprCall: {
      const auto& n = static_cast<const ExprCall&>(node);
      if (v.visit_expr_call(n)) children(n, v);
      return;
    }
    case Kind::ExprInstantiate: {
      const auto& n = static_cast<const ExprInstantiate&>(node);
      if (v.visit_expr_instantiate(n)) children(n, v);
      return;
    }
    case Kind::ExprFunction: {
      const auto& n = static_cast<const ExprFunction&>(node);
      if (v.visit_expr_function(n)) children(n, v);
      return;
    }
    case Kind::ExprTable: {
      const auto& n = static_cast<const ExprTable&>(node);
      if (v.visit_expr_table(n)) children(n, v);
      return;
    }
    case Kind::ExprUnary: {
      const auto& n = static_cast<const ExprUnary&>(node);
      if (v.visit_expr_unary(n)) children(n, v);
      return;
    }
    case Kind::ExprBinary: {
      const auto& n = static_cast<const ExprBinary&>(node);
      if (v.visit_expr_binary(n)) children(n, v);
      return;
    }
    case Kind::ExprTypeAssertion: {
      const auto& n = static_cast<const ExprTypeAssertion&>(node);
      if (v.visit_expr_type_assertion(n)) children(n, v);
      return;
    }
    case Kind::ExprIfElse: {
      const auto& n = static_cast<const ExprIfElse&>(node);
      if (v.visit_expr_if_else(n)) children(n, v);
      return;
    }
    case Kind::ExprError: {
      const auto& n = static_cast<const ExprError&>(node);
      if (v.visit_expr_error(n)) children(n, v);
      return;
    }
    case Kind::StatBlock: {
      const auto& n = static_cast<const StatBlock&>(node);
      if (v.visit_stat_block(n)) children(n, v);
      return;
    }
    case Kind::StatIf: {
      const auto& n = static_cast<const StatIf&>(node);
      if (v.visit_stat_if(n)) children(n, v);
      return;
    }
    case Kind::StatWhile: {
      const auto& n = static_cast<const StatWhile&>(node);
      if (v.visit_stat_while(n)) children(n, v);
      return;
    }
    case Kind::StatRepeat: {
      const auto& n = static_cast<const StatRepeat&>(node);
      if (v.visit_stat_repeat(n)) children(n, v);
      return;
    }
    case Kind::StatBreak: {
      const auto& n = static_cast<const StatBreak&>(node);
      if (v.visit_stat_break(n)) children(n, v);
      return;
    }
    case Kind::StatContinue: {
      const auto& n = static_cast<const StatContinue&>(node);
      if (v.visit_stat_continue(n)) children(n, v);
      return;
    }
    case Kind::StatReturn: {
      const auto& n = static_cast<const StatReturn&>(node);
      if (v.visit_stat_return(n)) children(n, v);
      return;
    }
    case Kind::StatExpr: {
      const auto& n = static_cast<const StatExpr&>(node);
      if (v.visit_stat_expr(n)) children(n, v);
      return;
    }
    case Kind::StatLocal: {
      const auto& n = static_cast<const StatLocal&>(node);
      if (v.visit_stat_local(n)) children(n, v);
      return;
    }
    case Kind::StatConst: {
      const auto& n = static_cast<const StatConst&>(node);
      if (v.visit_stat_const(n)) children(n, v);
      return;
    }
    case Kind::StatAssign: {
      const auto& n = static_cast<const StatAssign&>(node);
      if (v.visit_stat_assign(n)) children(n, v);
      return;
    }
    case Kind::StatCompoundAssign: {
      const auto& n = static_cast<const StatCompoundAssign&>(node);
      if (v.visit_stat_compound_assign(n)) children(n, v);
      return;
    }
    case Kind::StatFor: {
      const auto& n = static_cast<const StatFor&>(node);
      if (v.visit_stat_for(n)) children(n, v);
      return;
    }
    case Kind::StatForIn: {
      const auto& n = static_cast<const StatForIn&>(node);
      if (v.visit_stat_for_in(n)) children(n, v);
      return;
    }
    case Kind::StatFunction: {
      const auto& n = static_cast<const StatFunction&>(node);
      if (v.visit_stat_function(n)) children(n, v);
      return;
    }
    case Kind::StatLocalFunction: {
      const auto& n = static_cast<const StatLocalFunction&>(node);
      if (v.visit_stat_local_function(n)) children(n, v);
      return;
    }
    case Kind::StatConstFunction: {
      const auto& n = static_cast<const StatConstFunction&>(node);
      if (v.visit_stat_const_function(n)) children(n, v);
      return;
    }
    case Kind::StatTypeAlias: {
      const auto& n = static_cast<const StatTypeAlias&>(node);
      if (v.visit_stat_type_alias(n)) children(n, v);
      return;
    }
    case Kind::StatTypeFunction: {
      const auto& n = static_cast<const StatTypeFunction&>(node);
      if (v.visit_stat_type_function(n)) children(n, v);
      return;
    }
    case Kind::StatError: {
      const auto& n = static_cast<const StatError&>(node);
      if (v.visit_stat_error(n)) children(n, v);
      return;
    }
    case Kind::TypeReference: {
      const auto& n = static_cast<const TypeReference&>(node);
      if (v.visit_type_reference(n)) children(n, v);
      return;
    }
    case Kind::TypeTable: {
      const auto& n = static_cast<const TypeTable&>(node);
      if (v.visit_type_table(n)) children(n, v);
      return;
    }
    case Kind::TypeFunction: {
      const auto& n = static_cast<const TypeFunction&>(node);
      if (v.visit_type_function(n)) children(n, v);
      return;
    }
    case Kind::TypeTypeof: {
      const auto& n = static_cast<const TypeTypeof&>(node);
      if (v.visit_type_typeof(n)) children(n, v);
      return;
    }
    case Kind::TypeUnion: {
      const auto& n = static_cast<const TypeUnion&>(node);
      if (v.visit_type_union(n)) children(n, v);
      return;
    }
    case Kind::TypeIntersection: {
      const auto& n = static_cast<const TypeIntersection&>(node);
      if (v.visit_type_intersection(n)) children(n, v);
      return;
    }
    case Kind::TypeOptional: {
      const auto& n = static_cast<const TypeOptional&>(node);
      if (v.visit_type_optional(n)) children(n, v);
      return;
    }
    case Kind::TypeSingletonBool: {
      const auto& n = static_cast<const TypeSingletonBool&>(node);
      if (v.visit_type_singleton_bool(n)) children(n, v);
      return;
    }
    case Kind::TypeSingletonString: {
      const auto& n = static_cast<const TypeSingletonString&>(node);
      if (v.visit_type_singleton_string(n)) children(n, v);
      return;
    }
    case Kind::TypeGroup: {
      const auto& n = static_cast<const TypeGroup&>(node);
      if (v.visit_type_group(n)) children(n, v);
      return;
    }
    case Kind::TypeError: {
      const auto& n = static_cast<const TypeError&>(node);
      if (v.visit_type_error(n)) children(n, v);
      return;
    }
    case Kind::TypePackExplicit: {
      const auto& n = static_cast<const TypePackExplicit&>(node);
      if (v.visit_type_pack_explicit(n)) children(n, v);
      return;
    }
    case Kind::TypePackVariadic: {
      const auto& n = static_cast<const TypePackVariadic&>(node);
      if (v.visit_type_pack_variadic(n)) children(n, v);
      return;
    }
    case Kind::TypePackGeneric: {
      const auto& n = static_cast<const TypePackGeneric&>(node);
      if (v.visit_type_pack_generic(n)) children(n, v);
      return;
    }
  }
}

}  // namespace tovix::luau::visitor
