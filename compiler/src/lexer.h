#pragma once

// A small hand-written Luau tokenizer. It knows no grammar: it only cuts text
// into tokens (trivia included, so every byte belongs to exactly one token)
// so that the rest of the compiler can walk Luau code without parsing it.
// The only errors are unterminated constructs; anything else still lexes.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovix::lexer {

// The values are fixed: consumers test significance with `kind < 5`.
enum class TokenKind : std::uint8_t {
  Name = 0,                // identifier or keyword: [A-Za-z_][A-Za-z0-9_]*
  Number = 1,              // numeric literal, not validated
  String = 2,              // '…', "…", or a long bracket [[…]], [==[…]==]
  InterpolatedString = 3,  // `…`, holes included
  Symbol = 4,              // operator, punctuation, or one whole UTF-8 character
  Comment = 5,             // line comment or long comment
  Whitespace = 6,          // run of tab, LF, FF, CR, space
};

[[nodiscard]] constexpr bool is_significant(TokenKind kind) { return static_cast<std::uint8_t>(kind) < 5; }

// A token is offsets into the text it was lexed from, never text.
struct Token {
  std::size_t start = 0;  // first byte
  std::size_t end = 0;    // just after the last byte
  TokenKind kind = TokenKind::Symbol;

  // The stretch of `source` this token covers. `source` must be the text the
  // token was lexed from; offsets past its end are clamped.
  [[nodiscard]] std::string_view text(std::string_view source) const {
    std::size_t from = start < source.size() ? start : source.size();
    std::size_t to = end < source.size() ? end : source.size();
    return source.substr(from, to > from ? to - from : 0);
  }

  friend bool operator==(const Token&, const Token&) = default;
};

// One of "unterminated string", "unterminated long bracket",
// "unterminated interpolated string", "unterminated interpolation".
struct LexError {
  std::string message;
  std::size_t offset = 0;

  friend bool operator==(const LexError&, const LexError&) = default;
};

using NextToken = std::expected<Token, LexError>;

// A cursor over borrowed text. The three fields are the whole state: callers
// that start elsewhere, or skip a stretch of markup, assign `pos` directly
// (it must be a character boundary). Copying gives an independent cursor.
struct Lexer {
  std::string_view text;
  std::span<const unsigned char> bytes;  // `text` viewed as bytes
  std::size_t pos = 0;                   // offset of the next token

  explicit Lexer(std::string_view source)
      : text(source), bytes(reinterpret_cast<const unsigned char*>(source.data()), source.size()), pos(0) {}

  // None when `pos` is at or past the end; otherwise the token from the old
  // `pos` to the new one, or the error of an unterminated construct (`pos`
  // is then left where the scan stopped; callers stop at the first error).
  [[nodiscard]] std::optional<NextToken> next_token() {
    // Inline so that walkers pay for the result wrapping only on errors.
    if (pos >= bytes.size()) return std::nullopt;
    std::size_t start = pos;
    std::uint8_t kind = scan_one();
    if (kind != SCAN_FAILED) [[likely]] {
      return NextToken(Token{start, pos, static_cast<TokenKind>(kind)});
    }
    return NextToken(std::unexpect, error_at(start));
  }

  // The next significant token (kind < 5), lexed on a copy so that this
  // lexer does not move. None at the end of the text or at a lexer error.
  [[nodiscard]] std::optional<Token> peek_significant() const;

  // Called with `pos` just after a `{` the caller consumed; on success `pos`
  // is just after the balancing `}`. Strings, comments and nested
  // interpolated strings are skipped whole. At the end of the text the error
  // is "unterminated interpolation" at `report_offset`; nested scanners'
  // errors are returned unchanged.
  [[nodiscard]] std::expected<void, LexError> scan_balanced_braces(std::size_t report_offset);

  // `scan_balanced_braces` for a caller that walks the tokens where the walk
  // could read otherwise: false when the scan gave up, at the first `<`
  // outside nested interpolated strings (markup may start there) or at a
  // comment right after an `e` or `E` (an exponent sign may have taken its
  // first dash); `pos` is then where it gave up. True: `pos` is just after
  // the balancing `}`. Errors are those of `scan_balanced_braces`, met before
  // either.
  [[nodiscard]] std::expected<bool, LexError> scan_balanced_braces_unless_markup(std::size_t report_offset);

 private:
  static constexpr std::uint8_t SCAN_FAILED = 0xFF;
  // Lexes one token at `pos` (below the end) and moves past it: its kind, or
  // SCAN_FAILED with `pos` where the scan stopped.
  [[nodiscard]] std::uint8_t scan_one();
  // The error of the token that failed from `start`, lexed again.
  [[nodiscard]] LexError error_at(std::size_t start) const;
};

// The offset of the `}` closing the `{` at `open` (the byte at `open` itself
// is not looked at). An unclosed brace is "unterminated interpolation" at
// `open`.
[[nodiscard]] std::expected<std::size_t, LexError> find_matching_brace(std::string_view source, std::size_t open);

// One `{…}` of an interpolated string: from just after its `{` to its `}`.
struct Hole {
  std::size_t start = 0;
  std::size_t end = 0;
  friend bool operator==(const Hole&, const Hole&) = default;
};

// The holes of the interpolated string `token` lexed from `source`, in
// order; those of strings nested in a hole lie inside that hole. The token
// keeps them whole, so this is how Luau code inside them is reached. Empty
// for a token of another kind.
[[nodiscard]] std::vector<Hole> interpolation_holes(std::string_view source, Token token);

// Every token of `source` from offset 0, trivia included, or the first error.
[[nodiscard]] std::expected<std::vector<Token>, LexError> tokenize(std::string_view source);

}  // namespace tovix::lexer
