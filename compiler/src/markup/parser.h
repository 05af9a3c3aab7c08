#pragma once

// A recursive-descent parser over bytes for one markup expression, from the
// `<` a markup scanner reported to the end of that element or fragment. Luau
// inside holes is only delimited and kept as text: a hole's inside is walked
// as Luau (`walk::Walker`), so markup nested in it, whatever its text holds,
// is parsed and stepped over rather than lexed. The first error ends the
// parse.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tovix/markup/ast.h"

namespace tovix::markup::parser {

struct ParseError {
  std::string message;
  std::size_t offset = 0;

  friend bool operator==(const ParseError&, const ParseError&) = default;
};

// Elements and fragments nested deeper than this are refused with "markup is
// nested too deeply", so that the parser, and every walk over its trees,
// stays within a bounded stack. Nesting through holes counts too.
inline constexpr std::size_t MAX_DEPTH = 256;

// How many distinct pieces of markup nested in holes may fail to parse
// before a parse stops walking holes and reads them with the brace scan
// alone. Each one costs a new pass over the expression, so parsing broken
// input stays linear.
inline constexpr std::size_t MAX_NESTED_FAILURES = 4;

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

  // A parser for markup that begins inside holes of `depth` elements and
  // fragments already open (markup compiled from a hole's code): the nesting
  // bound counts them.
  Parser(std::string_view source, std::size_t start, std::size_t depth) : src(source), pos(start), depth_(depth) {}

  // A parser for markup met by the walk of a hole that `outer` is reading:
  // it continues `outer`'s nesting and shares what its parse knows. Only
  // where the markup ends matters, so the code of its holes is not copied
  // (it comes back empty): copies at every level would cost the size of the
  // nested holes once per level.
  Parser(std::string_view source, std::size_t start, const Parser& outer)
      : src(source), pos(start), depth_(outer.depth_), shared_(outer.shared_), keeps_code_(false) {}

  // node     := element | fragment
  // fragment := "<" ws ">" children "</" ws ">"
  // element  := "<" ws name (ws (attribute | spread))* ws ("/>" | ">" children "</" ws name ws ">")
  // On success `pos` is just after the node.
  [[nodiscard]] std::expected<ast::Node, ParseError> parse_node();

  // children := (comment | node | hole | text)*, stopping, without consuming
  // it, at the "</" of a closing tag.
  [[nodiscard]] std::expected<std::vector<ast::Child>, ParseError> parse_children();

  // hole := "{" luau "}"; called on the `{`, leaves `pos` after the `}`.
  // The closing brace is found by walking the inside as Luau with its markup
  // parsed; from nested markup that does not parse, the rest of the hole is
  // read by the lexer's brace scan, as if the markup were Luau. None when
  // the hole holds only Luau comments and whitespace.
  [[nodiscard]] std::expected<std::optional<std::string>, ParseError> parse_hole();
  // Only where the hole whose `{` is at `pos` ends, as `parse_hole` finds
  // it: the offset of its `}`. Leaves `pos` alone and copies no code.
  [[nodiscard]] std::expected<std::size_t, ParseError> find_hole_end();

  // identifier := [A-Za-z_][A-Za-z0-9_]*
  [[nodiscard]] std::expected<std::string, ParseError> parse_identifier();

  // name := identifier ("." identifier)*, no whitespace around the dots.
  [[nodiscard]] std::expected<ast::ElementName, ParseError> parse_element_name();

  // Consumes `literal` at `pos`, else fails with "expected {description}".
  [[nodiscard]] std::expected<void, ParseError> expect(std::string_view literal, std::string_view description);

 private:
  struct Shared;

  // The public entries run their step through `entered`: a parse of its own
  // makes the state its nested parses share and repeats the step while a
  // pass ends at newly found nested markup that does not parse.
  template <typename Step>
  [[nodiscard]] auto entered(Step step) -> std::invoke_result_t<Step&>;

  [[nodiscard]] std::expected<ast::Node, ParseError> read_node();
  [[nodiscard]] std::expected<std::vector<ast::Child>, ParseError> read_children();
  [[nodiscard]] std::expected<std::optional<std::string>, ParseError> read_hole();
  // Apart from `read_node` and `read_children`, so that the frames nesting
  // recurses through hold only what it needs.
  [[nodiscard]] std::expected<std::vector<ast::Attribute>, ParseError> read_attributes();
  [[nodiscard]] std::expected<ast::Attribute, ParseError> read_named_attribute();
  [[nodiscard]] std::expected<void, ParseError> read_closing_tag(const ast::ElementName& name);
  [[nodiscard]] std::expected<ast::Child, ParseError> read_markup_comment();
  // A text run; none when it normalises to nothing.
  [[nodiscard]] std::optional<ast::Child> read_text();
  // The offset of the `}` closing the hole whose `{` is at `open`.
  [[nodiscard]] std::expected<std::size_t, ParseError> hole_end(std::size_t open);
  // The same by walking the hole's inside as Luau.
  [[nodiscard]] std::expected<std::size_t, ParseError> walked_hole_end(std::size_t open);
  // The same by the brace scan alone, from `from` with `braces` still open.
  [[nodiscard]] std::expected<std::size_t, ParseError> scanned_hole_end(std::size_t open, std::size_t from,
                                                                        std::size_t braces) const;

  std::size_t depth_ = 0;     // elements and fragments currently open
  Shared* shared_ = nullptr;  // set while a parse runs
  bool keeps_code_ = true;    // holes' code is copied into the tree
};

}  // namespace tovix::markup::parser
