#pragma once

// The parser's view of the token stream: significant tokens of the project's
// lexer, classified once (keywords by text, each operator its own kind), with
// one token of look-ahead, plus the state every grammar module shares: the
// arena, the error list, the nesting depth and scratch lists.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/luau/arena.h"
#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"

namespace tovix::luau::cursor {

enum class Tok : std::uint8_t {
  Eof,
  Name,
  Number,
  String,        // quoted or long-bracket (also an unterminated one)
  InterpString,  // a complete backtick string
  // keywords
  And,
  Break,
  Do,
  Else,
  Elseif,
  End,
  False,
  For,
  Function,
  If,
  In,
  Local,
  Nil,
  Not,
  Or,
  Repeat,
  Return,
  Then,
  True,
  Until,
  While,
  // symbols
  Plus,
  Minus,
  Star,
  Slash,
  DoubleSlash,
  Percent,
  Caret,
  Hash,
  Ampersand,
  Pipe,
  Question,
  At,
  Lt,
  Le,
  Gt,
  Ge,
  Eq,
  Ne,
  Assign,
  LParen,
  RParen,
  LBrace,
  RBrace,
  LBracket,
  RBracket,
  Semicolon,
  Colon,
  DoubleColon,
  Comma,
  Dot,
  Concat,
  Dots,
  Arrow,
  LtLt,
  PlusAssign,
  MinusAssign,
  StarAssign,
  SlashAssign,
  DoubleSlashAssign,
  PercentAssign,
  CaretAssign,
  ConcatAssign,
  OtherSymbol,  // any other character
};

struct Token {
  Tok kind = Tok::Eof;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// A stack of temporaries shared by nested list parses: a nested list pushes
// after the outer one's items and is popped before the outer one goes on, so
// one vector per item type serves any nesting without allocating per list.
template <typename T>
class Scratch {
 public:
  explicit Scratch(std::vector<T>& items) : items_(items), base_(items.size()) {}
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() { items_.resize(base_); }

  void push(const T& item) { items_.push_back(item); }
  [[nodiscard]] std::size_t size() const { return items_.size() - base_; }
  [[nodiscard]] bool empty() const { return size() == 0; }
  [[nodiscard]] T& operator[](std::size_t i) { return items_[base_ + i]; }
  [[nodiscard]] std::span<const T> view() const { return {items_.data() + base_, size()}; }

 private:
  std::vector<T>& items_;
  std::size_t base_;
};

// Where the cursor stands; interpolation holes are parsed by moving the
// cursor into the hole and back.
struct Position {
  std::size_t lexer_pos;
  std::size_t limit;
  Token current;
  std::optional<Token> ahead;
  std::uint32_t previous_end;
};

class Cursor {
 public:
  Cursor(std::string_view source, arena::Arena& arena, std::vector<parser::ParseError>& errors);

  [[nodiscard]] const Token& current() const { return current_; }
  [[nodiscard]] Tok kind() const { return current_.kind; }
  [[nodiscard]] bool at(Tok kind) const { return current_.kind == kind; }
  // The token after the current one.
  [[nodiscard]] const Token& peek();
  // The end of the last token consumed.
  [[nodiscard]] std::uint32_t previous_end() const { return previous_end_; }

  void advance() {
    if (current_.kind == Tok::Eof) return;
    previous_end_ = current_.end;
    if (ahead_) {
      current_ = *ahead_;
      ahead_.reset();
    } else {
      lex(current_);
    }
  }
  // Consumes the current token when it is of `kind`.
  bool accept(Tok kind) {
    if (current_.kind != kind) return false;
    advance();
    return true;
  }
  // Consumes the current token when it is of `kind`; otherwise reports
  // "Expected 'x'…" (with `context` when given) and consumes nothing.
  bool expect(Tok kind, std::string_view context = {});
  // The same for a closing token that ends the construct opened by `open`.
  bool expect_closing(Tok kind, const Token& open);
  // Splits a two-character operator so that its first character is consumed
  // alone: `>=` leaves `=`, `<<` leaves `<` (nested generics).
  void consume_first_character();

  [[nodiscard]] std::string_view text(const Token& token) const {
    return source_.substr(token.start, token.end - token.start);
  }
  [[nodiscard]] std::string_view text() const { return text(current_); }
  [[nodiscard]] std::string_view source() const { return source_; }
  // Whether the current token is a name spelled `word` (contextual keywords).
  [[nodiscard]] bool at_word(std::string_view word) const { return current_.kind == Tok::Name && text() == word; }
  [[nodiscard]] ast::Name name(const Token& token) const { return {text(token), {token.start, token.end}}; }

  // Records an error unless the list is full.
  void error(std::uint32_t offset, std::string_view message);
  // "Expected {what}, got {current}" at the current token.
  void error_expected(std::string_view what);
  // How a token reads in messages: 'x', or <eof>.
  [[nodiscard]] std::string describe(const Token& token) const;
  [[nodiscard]] static std::string_view spelling(Tok kind);

  [[nodiscard]] Position save() const;
  void restore(const Position& position);
  // Lexes [from, limit) only, as if the text ended at `limit`.
  void enter(std::size_t from, std::size_t limit);

  // Nesting depth; `deeper` answers false (and reports, once per excess)
  // when the limit is passed.
  bool deeper() {
    if (++depth_ <= parser::MAX_DEPTH) return true;
    report_depth();
    return false;
  }
  void shallower(int levels = 1) { depth_ -= levels; }

  arena::Arena& arena;
  int interpolation_depth = 0;

  template <typename T, typename... Args>
  [[nodiscard]] T* make(std::uint32_t start, Args&&... args) {
    T* node = arena.make<T>(std::forward<Args>(args)...);
    node->span = {start, previous_end_ > start ? previous_end_ : start};
    return node;
  }
  template <typename T>
  [[nodiscard]] arena::Array<T> copy(const Scratch<T>& items) {
    return arena.copy<T>(items.view());
  }

  // Scratch lists, one per item type (see `Scratch`).
  std::vector<ast::Stat*> stats;
  std::vector<ast::Expr*> exprs;
  std::vector<ast::Type*> types;
  std::vector<ast::Binding> bindings;
  std::vector<ast::TableItem> table_items;
  std::vector<ast::TableProp> props;
  std::vector<ast::TypeOrPack> type_args;
  std::vector<std::optional<ast::Name>> arg_names;
  std::vector<ast::GenericType> generics;
  std::vector<ast::GenericTypePack> generic_packs;
  std::vector<ast::Attribute> attributes;
  std::vector<ast::Span> spans;
  std::vector<ast::IfBranch> if_branches;
  std::vector<ast::IfExprBranch> if_expr_branches;

 private:
  // The next significant token, written in place.
  void lex(Token& out);
  [[gnu::noinline]] bool lex_other(Token& out, std::size_t start);
  void report_depth();

  std::string_view source_;
  lexer::Lexer lexer_;
  std::size_t limit_;
  Token current_;
  std::optional<Token> ahead_;
  std::uint32_t previous_end_ = 0;
  int depth_ = 0;
  std::vector<parser::ParseError>& errors_;
};

// RAII for one nesting level; `ok` is false when the limit was passed.
class Deeper {
 public:
  explicit Deeper(Cursor& cursor) : cursor_(cursor), ok(cursor.deeper()) {}
  Deeper(const Deeper&) = delete;
  Deeper& operator=(const Deeper&) = delete;
  ~Deeper() { cursor_.shallower(); }

 private:
  Cursor& cursor_;

 public:
  const bool ok;
};

// Whether `word` is one of Luau's 21 reserved words (contextual keywords
// such as `type` and `continue` are names).
[[nodiscard]] bool is_keyword(std::string_view word);

}  // namespace tovix::luau::cursor
