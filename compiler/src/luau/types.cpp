#include "tovix/luau/types.h"

#include <optional>

#include "tovix/luau/expressions.h"

namespace tovix::luau::types {

namespace {

using cursor::Cursor;
using cursor::Deeper;
using cursor::Scratch;
using cursor::Tok;
using cursor::Token;

ast::Type* parse_simple_type(Cursor& c);

// What a parenthesised list turned out to be.
struct Parsed {
  ast::Type* type = nullptr;
  ast::TypePack* pack = nullptr;
};
Parsed parse_function_type(Cursor& c, bool allow_pack, arena::Array<ast::Attribute> attributes);

ast::TypeError* error_type(Cursor& c, std::uint32_t start) { return c.make<ast::TypeError>(start); }

bool at_generic_pack(Cursor& c) { return c.at(Tok::Name) && c.peek().kind == Tok::Dots; }

// Name '...'
ast::TypePackGeneric* parse_generic_pack(Cursor& c) {
  std::uint32_t start = c.current().start;
  ast::Name name = c.name(c.current());
  c.advance();
  c.advance();
  auto* pack = c.make<ast::TypePackGeneric>(start);
  pack->name = name;
  return pack;
}

// '...' Type
ast::TypePackVariadic* parse_variadic_pack(Cursor& c) {
  std::uint32_t start = c.current().start;
  c.advance();
  ast::Type* type = parse_type(c);
  auto* pack = c.make<ast::TypePackVariadic>(start);
  pack->type = type;
  return pack;
}

ast::TypePackExplicit* single_pack(Cursor& c, std::uint32_t start, ast::Type* type) {
  auto* pack = c.make<ast::TypePackExplicit>(start);
  pack->list.types = c.arena.copy<ast::Type*>({&type, 1});
  return pack;
}

// Closes a `<…>` list; a `>=` (as in `type T<U>= …`) gives up its `>` alone.
void close_angle(Cursor& c, const Token& open) {
  if (c.at(Tok::Ge)) {
    c.consume_first_character();
    return;
  }
  c.expect_closing(Tok::Gt, open);
}

ast::Type* parse_type_suffix(Cursor& c, ast::Type* first, std::uint32_t start, Tok leading) {
  Scratch<ast::Type*> parts(c.types);
  parts.push(first);
  bool is_union = leading == Tok::Pipe;
  bool is_intersection = leading == Tok::Ampersand;
  int levels = 0;
  while (true) {
    if (c.at(Tok::Pipe)) {
      c.advance();
      is_union = true;
      parts.push(parse_simple_type(c));
    } else if (c.at(Tok::Ampersand)) {
      c.advance();
      is_intersection = true;
      parts.push(parse_simple_type(c));
    } else if (c.at(Tok::Question)) {
      // `T?` wraps the part before it; a chain of `?` nests, so it counts as depth.
      ++levels;
      if (!c.deeper()) break;
      ast::Type* inner = parts[parts.size() - 1];
      c.advance();
      auto* optional = c.make<ast::TypeOptional>(inner->span.start);
      optional->type = inner;
      parts[parts.size() - 1] = optional;
    } else {
      break;
    }
  }
  c.shallower(levels);
  if (parts.size() == 1 && !is_union && !is_intersection) return parts[0];
  if (is_union && is_intersection) {
    c.error(start, "Mixing union and intersection types is not allowed; consider wrapping in parentheses");
  }
  if (is_intersection && !is_union) {
    auto* node = c.make<ast::TypeIntersection>(start);
    node->types = c.copy(parts);
    return node;
  }
  auto* node = c.make<ast::TypeUnion>(start);
  node->types = c.copy(parts);
  return node;
}

// TypeOrPack ::= Type | '...' Type | Name '...' | '(' [TypeList] ')'
ast::TypeOrPack parse_type_or_pack(Cursor& c) {
  std::uint32_t start = c.current().start;
  if (c.at(Tok::Dots)) return {nullptr, parse_variadic_pack(c)};
  if (at_generic_pack(c)) return {nullptr, parse_generic_pack(c)};
  if (c.at(Tok::LParen)) {
    Deeper deeper(c);
    if (!deeper.ok) return {error_type(c, start), nullptr};
    Parsed parsed = parse_function_type(c, true, {});
    if (parsed.pack != nullptr) return {nullptr, parsed.pack};
    return {parse_type_suffix(c, parsed.type, start, Tok::Eof), nullptr};
  }
  return {parse_type(c), nullptr};
}

// Reference ::= Name ['.' Name] ['<' [TypeArgs] '>']
ast::Type* parse_reference(Cursor& c) {
  std::uint32_t start = c.current().start;
  auto* node = c.arena.make<ast::TypeReference>();
  node->name = c.name(c.current());
  c.advance();
  if (c.at(Tok::Dot) && c.peek().kind == Tok::Name) {
    c.advance();
    node->prefix = node->name;
    node->name = c.name(c.current());
    c.advance();
  }
  if (c.at(Tok::Lt) || c.at(Tok::LtLt)) {
    Token open = c.current();
    // In `Foo<<T>() -> T>` the first `<` opens the arguments, the second a
    // generic function type.
    if (c.at(Tok::LtLt)) {
      c.consume_first_character();
    } else {
      c.advance();
    }
    node->has_params = true;
    node->params = parse_type_args(c);
    close_angle(c, open);
  }
  node->span = {start, c.previous_end()};
  return node;
}

// TableType ::= '{' [Field {(',' | ';') Field} [',' | ';']] '}' | '{' Type '}'
// Field ::= [Access] Name ':' Type | [Access] '[' Type ']' ':' Type
ast::Type* parse_table_type(Cursor& c) {
  std::uint32_t start = c.current().start;
  Token open = c.current();
  c.advance();
  Scratch<ast::TableProp> props(c.props);
  std::optional<ast::TableIndexer> indexer;
  while (!c.at(Tok::RBrace) && !c.at(Tok::Eof)) {
    ast::Access access = ast::Access::ReadWrite;
    if ((c.at_word("read") || c.at_word("write")) && (c.peek().kind == Tok::Name || c.peek().kind == Tok::LBracket)) {
      access = c.at_word("read") ? ast::Access::Read : ast::Access::Write;
      c.advance();
    }
    if (c.at(Tok::LBracket)) {
      Token bracket = c.current();
      c.advance();
      if (c.at(Tok::String) && c.peek().kind == Tok::RBracket) {
        // ["key"]: T is a property with a name that is not an identifier.
        ast::Name name = c.name(c.current());
        c.advance();
        c.advance();
        c.expect(Tok::Colon, "table property");
        props.push({name, access, parse_type(c)});
      } else {
        ast::Type* key = parse_type(c);
        c.expect_closing(Tok::RBracket, bracket);
        c.expect(Tok::Colon, "table indexer");
        ast::Type* value = parse_type(c);
        if (indexer) {
          c.error(bracket.start, "Cannot have more than one table indexer");
        } else {
          indexer = ast::TableIndexer{access, key, value};
        }
      }
    } else if (c.at(Tok::Name) && c.peek().kind == Tok::Colon) {
      ast::Name name = c.name(c.current());
      c.advance();
      c.advance();
      props.push({name, access, parse_type(c)});
    } else if (props.empty() && !indexer) {
      // The array shorthand `{ T }`.
      indexer = ast::TableIndexer{access, nullptr, parse_type(c)};
    } else {
      c.error_expected("identifier when parsing table field");
      break;
    }
    if (!c.accept(Tok::Comma) && !c.accept(Tok::Semicolon)) break;
  }
  c.expect_closing(Tok::RBrace, open);
  auto* node = c.make<ast::TypeTable>(start);
  node->props = c.copy(props);
  node->indexer = indexer;
  return node;
}

// FunctionType ::= [Generics] '(' [ArgList] ')' '->' ReturnType
// ArgList ::= [Name ':'] Type {',' [Name ':'] Type} [',' Tail] | Tail
// Tail ::= '...' Type | Name '...'
// Without the arrow, `(T)` is a parenthesised type and, where `allow_pack`,
// any other list is a type pack.
Parsed parse_function_type(Cursor& c, bool allow_pack, arena::Array<ast::Attribute> attributes) {
  Deeper deeper(c);
  std::uint32_t start = attributes.empty() ? c.current().start : attributes[0].span.start;
  if (!deeper.ok) return {error_type(c, start), nullptr};
  Generics generics;
  if (c.at(Tok::Lt)) generics = parse_generics(c, false);
  Token open = c.current();
  if (!c.expect(Tok::LParen, "function type")) return {error_type(c, start), nullptr};

  Scratch<ast::Type*> args(c.types);
  Scratch<std::optional<ast::Name>> names(c.arg_names);
  ast::TypePack* tail = nullptr;
  bool any_named = false;
  if (!c.at(Tok::RParen)) {
    while (true) {
      if (c.at(Tok::Dots)) {
        tail = parse_variadic_pack(c);
        break;
      }
      if (at_generic_pack(c)) {
        tail = parse_generic_pack(c);
        break;
      }
      if (c.at(Tok::Name) && c.peek().kind == Tok::Colon) {
        names.push(c.name(c.current()));
        any_named = true;
        c.advance();
        c.advance();
      } else {
        names.push(std::nullopt);
      }
      args.push(parse_type(c));
      if (!c.accept(Tok::Comma)) break;
    }
  }
  c.expect_closing(Tok::RParen, open);

  bool is_function = c.at(Tok::Arrow);
  if (!is_function && generics.types.empty() && generics.packs.empty() && attributes.empty() && !any_named) {
    if (args.size() == 1 && tail == nullptr) {
      auto* group = c.make<ast::TypeGroup>(start);
      group->type = args[0];
      return {group, nullptr};
    }
    if (allow_pack) {
      auto* pack = c.make<ast::TypePackExplicit>(start);
      pack->list = {c.copy(args), tail};
      return {nullptr, pack};
    }
  }
  ast::TypePack* returns = nullptr;
  if (is_function) {
    c.advance();
    returns = parse_return_type(c);
  } else {
    c.error_expected("'->' when parsing function type");
  }
  auto* node = c.make<ast::TypeFunction>(start);
  node->attributes = attributes;
  node->generics = generics.types;
  node->generic_packs = generics.packs;
  node->args = {c.copy(args), tail};
  node->arg_names = c.copy(names);
  node->returns = returns;
  return {node, nullptr};
}

// SimpleType ::= 'nil' | 'true' | 'false' | String | Reference | 'typeof' '(' Expr ')'
//              | TableType | FunctionType | '(' Type ')' | Attributes FunctionType
ast::Type* parse_simple_type(Cursor& c) {
  std::uint32_t start = c.current().start;
  switch (c.kind()) {
    case Tok::Nil: {
      auto* node = c.arena.make<ast::TypeReference>();
      node->name = c.name(c.current());
      c.advance();
      node->span = {start, c.previous_end()};
      return node;
    }
    case Tok::True:
    case Tok::False: {
      bool value = c.at(Tok::True);
      c.advance();
      auto* node = c.make<ast::TypeSingletonBool>(start);
      node->value = value;
      return node;
    }
    case Tok::String: {
      std::string_view text = c.text();
      c.advance();
      auto* node = c.make<ast::TypeSingletonString>(start);
      node->text = text;
      return node;
    }
    case Tok::InterpString:
      c.error(start, "Interpolated string literals cannot be used as types");
      c.advance();
      return error_type(c, start);
    case Tok::Name:
      if (c.at_word("typeof") && c.peek().kind == Tok::LParen) {
        c.advance();
        Token open = c.current();
        c.advance();
        ast::Expr* expr = expressions::parse_expr(c);
        c.expect_closing(Tok::RParen, open);
        auto* node = c.make<ast::TypeTypeof>(start);
        node->expr = expr;
        return node;
      }
      return parse_reference(c);
    case Tok::LBrace: return parse_table_type(c);
    case Tok::LParen:
    case Tok::Lt: return parse_function_type(c, false, {}).type;
    case Tok::At: {
      arena::Array<ast::Attribute> attributes = expressions::parse_attributes(c);
      return parse_function_type(c, false, attributes).type;
    }
    case Tok::Function:
      c.error(start,
              "Using 'function' as a type annotation is not supported, consider replacing with a "
              "function type annotation e.g. '(...any) -> ...any'");
      c.advance();
      return error_type(c, start);
    default: c.error_expected("type"); return error_type(c, start);
  }
}

}  // namespace

ast::Type* parse_type(Cursor& c) {
  std::uint32_t start = c.current().start;
  Deeper deeper(c);
  if (!deeper.ok) return error_type(c, start);
  Tok leading = Tok::Eof;
  if (c.at(Tok::Pipe) || c.at(Tok::Ampersand)) {
    leading = c.kind();
    c.advance();
  }
  ast::Type* first = parse_simple_type(c);
  return parse_type_suffix(c, first, start, leading);
}

ast::TypePack* parse_return_type(Cursor& c) {
  std::uint32_t start = c.current().start;
  Deeper deeper(c);
  if (!deeper.ok) return single_pack(c, start, error_type(c, start));
  if (c.at(Tok::Dots)) return parse_variadic_pack(c);
  if (at_generic_pack(c)) return parse_generic_pack(c);
  if (c.at(Tok::LParen)) {
    // `(A, B)` is a pack; `(A) -> B` a function type; `(A)?` a type.
    Parsed parsed = parse_function_type(c, true, {});
    if (parsed.pack != nullptr) return parsed.pack;
    return single_pack(c, start, parse_type_suffix(c, parsed.type, start, Tok::Eof));
  }
  return single_pack(c, start, parse_type(c));
}

ast::TypePack* parse_vararg_annotation(Cursor& c) {
  if (at_generic_pack(c)) return parse_generic_pack(c);
  std::uint32_t start = c.current().start;
  ast::Type* type = parse_type(c);
  auto* pack = c.make<ast::TypePackVariadic>(start);
  pack->type = type;
  return pack;
}

Generics parse_generics(Cursor& c, bool allow_defaults) {
  Token open = c.current();
  c.advance();
  Scratch<ast::GenericType> types(c.generics);
  Scratch<ast::GenericTypePack> packs(c.generic_packs);
  while (!c.at(Tok::Gt) && !c.at(Tok::Ge)) {
    if (!c.at(Tok::Name)) {
      c.error_expected("identifier when parsing generic");
      break;
    }
    ast::Name name = c.name(c.current());
    c.advance();
    if (c.accept(Tok::Dots)) {
      ast::TypePack* fallback = nullptr;
      if (c.at(Tok::Assign)) {
        if (!allow_defaults) c.error(c.current().start, "Default type packs are not allowed here");
        c.advance();
        fallback = parse_return_type(c);
      }
      packs.push({name, fallback});
    } else {
      if (!packs.empty()) c.error(name.span.start, "Generic types come before generic type packs");
      ast::Type* fallback = nullptr;
      if (c.at(Tok::Assign)) {
        if (!allow_defaults) c.error(c.current().start, "Default types are not allowed here");
        c.advance();
        fallback = parse_type(c);
      }
      types.push({name, fallback});
    }
    if (!c.accept(Tok::Comma)) break;
  }
  close_angle(c, open);
  return {c.copy(types), c.copy(packs)};
}

arena::Array<ast::TypeOrPack> parse_type_args(Cursor& c) {
  Scratch<ast::TypeOrPack> args(c.type_args);
  while (!c.at(Tok::Gt) && !c.at(Tok::Ge) && !c.at(Tok::Eof)) {
    args.push(parse_type_or_pack(c));
    if (!c.accept(Tok::Comma)) break;
  }
  return c.copy(args);
}

}  // namespace tovix::luau::types
