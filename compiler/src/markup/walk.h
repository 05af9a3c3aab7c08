#pragma once

// The one walk over Luau text that may hold markup: tokens are fed to the
// markup scanner, and where it reports a markup start the markup is parsed
// whole, the lexer moved past it and the scanner's resume step performed.
// Callers pull one event at a time and decide what to do with Luau tokens
// and with markup, so the walk itself lives only here.
//
//   walk::Walker walker(text);
//   while (auto event = walker.next()) {
//     if (!*event) ...;                              // the first failure; the walk is over
//     if (auto* markup = std::get_if<walk::Markup>(&**event)) ...;
//   }

#include <cstddef>
#include <expected>
#include <optional>
#include <string_view>
#include <variant>

#include "tovix/lexer.h"
#include "tovix/markup/ast.h"
#include "tovix/markup/parser.h"
#include "tovix/markup_scan.h"

namespace tovix::markup::walk {

// One markup expression, from its `<` to just after it.
struct Markup {
  ast::Node node;
  std::size_t start = 0;
  std::size_t end = 0;
  // What the walk's scanner carried past it: a walk can go on from `end`
  // with `markup_scan::Scanner(text, carried)`.
  markup_scan::Carried carried;
};

// A token of the Luau around the markup (trivia included), or markup.
using Event = std::variant<lexer::Token, Markup>;

// An unterminated Luau construct, or markup that does not parse.
using Failure = std::variant<lexer::LexError, parser::ParseError>;

class Walker {
 public:
  // Walks `text` from offset `from` (a character boundary); offsets of
  // tokens and markup are offsets into `text`. `depth` counts the elements
  // and fragments open around the text (it is a hole's code), so that the
  // parser's nesting bound holds across holes.
  explicit Walker(std::string_view text, std::size_t from = 0, std::size_t depth = 0)
      : lexer_(text), scanner_(text), depth_(depth) {
    lexer_.pos = from;
  }

  // The walk of `text` from just after a markup expression that a walk of it
  // from the start parsed, ending at `from`, with what that walk's scanner
  // carried past it: it goes on exactly as that walk does.
  Walker(std::string_view text, std::size_t from, const markup_scan::Carried& carried)
      : lexer_(text), scanner_(text, carried) {
    lexer_.pos = from;
  }

  // The walk of the inside of a hole that `outer` is reading (`text` is its
  // source): markup found is parsed as nested in `outer`'s, and its trees
  // keep no hole code (only where the markup ends matters to the hole).
  Walker(std::string_view text, std::size_t from, const parser::Parser& outer)
      : lexer_(text), scanner_(text), outer_(&outer), depth_(0) {
    lexer_.pos = from;
  }

  // The next token or markup expression; none at the end of the text and
  // after a failure.
  [[nodiscard]] std::optional<std::expected<Event, Failure>> next();

 private:
  // Parses the markup whose `<` is at `start`. Markup nests through holes by
  // way of here, so `next` keeps the frame it recurses through small.
  [[nodiscard]] std::optional<std::expected<Event, Failure>> markup(std::size_t start);

  lexer::Lexer lexer_;
  markup_scan::Scanner scanner_;
  const parser::Parser* outer_ = nullptr;
  std::size_t depth_ = 0;
  bool failed_ = false;
};

}  // namespace tovix::markup::walk
