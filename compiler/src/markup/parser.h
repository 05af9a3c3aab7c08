#pragma once

// A recursive-descent parser over bytes for one markup expression, from the
// `<` a markup scanner reported to the end of that element or fragment. Luau
// inside holes is only delimited (with the lexer's brace matcher) and kept as
// text. The first error ends the parse.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "markup/ast.h"

namespace tovix::markup::parser {

struct ParseError {
  std::string message;
  std::size_t offset = 0;

  friend bool operator==(const ParseError&, const ParseError&) = default;
};

// Elements and fragments nested deeper than this are refused with "markup is
// nested too deeply", so that the parser, and every walk over its trees,
// stays within a bounded stack.
inline constexpr std::size_t MAX_DEPTH = 256;

struct Parsed {
  ast::Node node;
  std::size_t end = 0;  // just after the node
};

// Parses the markup expression whose `<` is at `start`.
[[nodiscard]] std::expected<Parsed, ParseError> parse_node(std::string_view source, std::size_t start);

struct Parser {
  std::string_view src;  // the whole source text
  std::size_t pos = 0;   // the next byte to read

  Parser(std::string_view source, std::size_t start) : src(source), pos(start) {}

  // node     := element | fragment
  // fragment := "<" ws ">" children "</" ws ">"
  // element  := "<" ws name (ws (attribute | spread))* ws ("/>" | ">" children "</" ws name ws ">")
  // On success `pos` is just after the node.
  [[nodiscard]] std::expected<ast::Node, ParseError> parse_node();

  // children := (comment | node | hole | text)*, stopping, without consuming
  // it, at the "</" of a closing tag.
  [[nodiscard]] std::expected<std::vector<ast::Child>, ParseError> parse_children();

  // hole := "{" luau "}"; called on the `{`, leaves `pos` after the `}`.
  // None when the hole holds only Luau comments and whitespace.
  [[nodiscard]] std::expected<std::optional<std::string>, ParseError> parse_hole();

  // identifier := [A-Za-z_][A-Za-z0-9_]*
  [[nodiscard]] std::expected<std::string, ParseError> parse_identifier();

  // name := identifier ("." identifier)*, no whitespace around the dots.
  [[nodiscard]] std::expected<ast::ElementName, ParseError> parse_element_name();

  // Consumes `literal` at `pos`, else fails with "expected {description}".
  [[nodiscard]] std::expected<void, ParseError> expect(std::string_view literal,
                                                       std::string_view description);

 private:
  std::size_t depth_ = 0;  // elements and fragments currently open
};

}  // namespace tovix::markup::parser
