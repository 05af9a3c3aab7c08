#include "tovix/luau/ast.h"

namespace tovix::luau::ast {

std::string_view kind_name(Kind kind) {
  switch (kind) {
    case Kind::ExprGroup: return "ExprGroup";
    case Kind::ExprNil: return "ExprNil";
    case Kind::ExprBool: return "ExprBool";
    case Kind::ExprNumber: return "ExprNumber";
    case Kind::ExprString: return "ExprString";
    case Kind::ExprInterpString: return "ExprInterpString";
    case Kind::ExprVarargs: return "ExprVarargs";
    case Kind::ExprName: return "ExprName";
    case Kind::ExprIndexName: return "ExprIndexName";
    case Kind::ExprIndexExpr: return "ExprIndexExpr";
    case Kind::ExprCall: return "ExprCall";
    case Kind::ExprInstantiate: return "ExprInstantiate";
    case Kind::ExprFunction: return "ExprFunction";
    case Kind::ExprTable: return "ExprTable";
    case Kind::ExprUnary: return "ExprUnary";
    case Kind::ExprBinary: return "ExprBinary";
    case Kind::ExprTypeAssertion: return "ExprTypeAssertion";
    case Kind::ExprIfElse: return "ExprIfElse";
    case Kind::ExprError: return "ExprError";
    case Kind::StatBlock: return "StatBlock";
    case Kind::StatIf: return "StatIf";
    case Kind::StatWhile: return "StatWhile";
    case Kind::StatRepeat: return "StatRepeat";
    case Kind::StatBreak: return "StatBreak";
    case Kind::StatContinue: return "StatContinue";
    case Kind::StatReturn: return "StatReturn";
    case Kind::StatExpr: return "StatExpr";
    case Kind::StatLocal: return "StatLocal";
    case Kind::StatConst: return "StatConst";
    case Kind::StatAssign: return "StatAssign";
    case Kind::StatCompoundAssign: return "StatCompoundAssign";
    case Kind::StatFor: return "StatFor";
    case Kind::StatForIn: return "StatForIn";
    case Kind::StatFunction: return "StatFunction";
    case Kind::StatLocalFunction: return "StatLocalFunction";
    case Kind::StatConstFunction: return "StatConstFunction";
    case Kind::StatTypeAlias: return "StatTypeAlias";
    case Kind::StatTypeFunction: return "StatTypeFunction";
    case Kind::StatError: return "StatError";
    case Kind::TypeReference: return "TypeReference";
    case Kind::TypeTable: return "TypeTable";
    case Kind::TypeFunction: return "TypeFunction";
    case Kind::TypeTypeof: return "TypeTypeof";
    case Kind::TypeUnion: return "TypeUnion";
    case Kind::TypeIntersection: return "TypeIntersection";
    case Kind::TypeOptional: return "TypeOptional";
    case Kind::TypeSingletonBool: return "TypeSingletonBool";
    case Kind::TypeSingletonString: return "TypeSingletonString";
    case Kind::TypeGroup: return "TypeGroup";
    case Kind::TypeError: return "TypeError";
    case Kind::TypePackExplicit: return "TypePackExplicit";
    case Kind::TypePackVariadic: return "TypePackVariadic";
    case Kind::TypePackGeneric: return "TypePackGeneric";
  }
  return "?";
}

std::string_view to_string(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add: return "+";
    case BinaryOp::Sub: return "-";
    case BinaryOp::Mul: return "*";
    case BinaryOp::Div: return "/";
    case BinaryOp::FloorDiv: return "//";
    case BinaryOp::Mod: return "%";
    case BinaryOp::Pow: return "^";
    case BinaryOp::Concat: return "..";
    case BinaryOp::CompareNe: return "~=";
    case BinaryOp::CompareEq: return "==";
    case BinaryOp::CompareLt: return "<";
    case BinaryOp::CompareLe: return "<=";
    case BinaryOp::CompareGt: return ">";
    case BinaryOp::CompareGe: return ">=";
    case BinaryOp::And: return "and";
    case BinaryOp::Or: return "or";
  }
  return "?";
}

std::string_view to_string(UnaryOp op) {
  switch (op) {
    case UnaryOp::Not: return "not";
    case UnaryOp::Minus: return "-";
    case UnaryOp::Len: return "#";
  }
  return "?";
}

const StatReturn* StatBlock::final_return() const {
  return body.empty() ? nullptr : body[body.size - 1]->as<StatReturn>();
}

}  // namespace tovix::luau::ast
