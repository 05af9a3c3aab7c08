#pragma once

// Decides, token by token, where markup begins inside Luau code: a `<` is
// either a Luau operator (comparison, generic parameter list, type) or the
// start of an element or fragment. The scanner sees only the previous
// significant token, a bracket depth and a little type-annotation state, with
// a short look-ahead in two places; it never parses Luau.
//
// A walker over .tovix text:
//
//   lexer::Lexer lexer(text);
//   Scanner scanner(text);
//   while (auto next = lexer.next_token()) {
//     if (!*next) ...;                               // stop at a lexer error
//     if (!scanner.feed(**next, lexer)) continue;
//     ... parse the markup at (**next).start, ending at `end` ...
//     scanner.resume(lexer, end);
//   }

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tovix/lexer.h"

namespace tovix::markup_scan {

// One of the 21 Luau keywords ("continue", "type" and "export" are not).
[[nodiscard]] bool is_keyword(std::string_view word);

// What a scanner carries past a markup expression (the resume step leaves
// it as it was): from it and the markup's end, a scanner made for the same
// text goes on exactly as the one that scanned up to there.
struct Carried {
  std::optional<std::int32_t> type_context;
  std::int32_t depth = 0;
  bool type_header = false;

  friend bool operator==(const Carried&, const Carried&) = default;
};

struct Scanner {
  // Set inside a type annotation: the bracket depth at which it began.
  std::optional<std::int32_t> type_context;
  // The previous significant token fed; none at the start and after markup.
  std::optional<lexer::Token> last;
  // The whole text the tokens index into.
  std::string_view source;
  // Nesting of `(`, `[` and `{`; negative on unbalanced closers, never clamped.
  std::int32_t depth = 0;
  // "type Name" followed by `<` or `=` has been seen; its `=` is awaited.
  bool type_header = false;
  // Set by `resume`; cleared by the next significant token fed.
  bool after_markup = false;

  explicit Scanner(std::string_view text) : source(text) {}

  // The scanner that the resume step leaves just after a markup expression
  // of `text`, past which `carried` was carried.
  Scanner(std::string_view text, const Carried& carried)
      : type_context(carried.type_context),
        source(text),
        depth(carried.depth),
        type_header(carried.type_header),
        after_markup(true) {}

  [[nodiscard]] Carried carried() const { return Carried{type_context, depth, type_header}; }

  // Feeds the token just lexed, with `lexer` positioned just after it
  // (comments and whitespace may be fed; they change nothing). True when the
  // token is a `<` that opens markup; the markup then starts at its `start`.
  // The lexer is only read, for look-ahead on copies.
  [[nodiscard]] bool feed(const lexer::Token& token, const lexer::Lexer& lexer) {
    // Inline: a third of all tokens are trivia, and they only cost this test.
    return lexer::is_significant(token.kind) && feed_significant(token, lexer);
  }

  // The resume step, after the caller parsed a markup expression ending at
  // `markup_end`: moves `lexer` there, forgets the previous token and marks
  // that markup was just left (a `<` right after markup is a comparison).
  // Depth and type state stay as they were.
  void resume(lexer::Lexer& lexer, std::size_t markup_end);

 private:
  [[nodiscard]] bool feed_significant(const lexer::Token& token, const lexer::Lexer& lexer);
  // No previous token, "export", ";", or a line feed since the previous token.
  [[nodiscard]] bool at_statement_start(const lexer::Token& token) const;
};

}  // namespace tovix::markup_scan
