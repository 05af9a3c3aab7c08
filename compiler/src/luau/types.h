#pragma once

// The type-annotation grammar of Luau. Each function parses at the cursor and
// always returns a node (an error node when nothing fits), reporting what it
// could not parse.

#include "tovix/luau/ast.h"
#include "tovix/luau/cursor.h"

namespace tovix::luau::types {

// Type ::= ['|' | '&'] SimpleType {'|' SimpleType | '&' SimpleType | '?'}
[[nodiscard]] ast::Type* parse_type(cursor::Cursor& c);

// ReturnType ::= Type | '(' [TypeList] ')' | '...' Type | Name '...'
// (after the ':' of a function signature or the '->' of a function type)
[[nodiscard]] ast::TypePack* parse_return_type(cursor::Cursor& c);

// VarargAnnotation ::= Type | Name '...'   (after `...:`)
[[nodiscard]] ast::TypePack* parse_vararg_annotation(cursor::Cursor& c);

// Generics ::= '<' Generic {',' Generic} '>'
// Generic ::= Name ['=' Type] | Name '...' ['=' TypePack]
// With the cursor on '<'. Defaults are only allowed where `allow_defaults`.
struct Generics {
  arena::Array<ast::GenericType> types;
  arena::Array<ast::GenericTypePack> packs;
};
[[nodiscard]] Generics parse_generics(cursor::Cursor& c, bool allow_defaults);

// TypeArgs ::= TypeOrPack {',' TypeOrPack}, with the cursor after the opening
// bracket; used by `Foo<…>` and `f<<…>>`.
[[nodiscard]] arena::Array<ast::TypeOrPack> parse_type_args(cursor::Cursor& c);

}  // namespace tovix::luau::types
