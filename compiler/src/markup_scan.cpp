#include "tovix/markup_scan.h"

namespace tovix::markup_scan {

namespace {

using lexer::Token;
using lexer::TokenKind;

// Words that begin or end a statement; a type annotation cannot span them.
// Fed every name of a file, so looked up by length first.
bool is_statement_word(std::string_view w) {
  switch (w.size()) {
    case 2: return w == "if" || w == "do" || w == "in";
    case 3: return w == "for" || w == "end";
    case 4: return w == "else" || w == "then";
    case 5: return w == "local" || w == "while" || w == "until" || w == "break";
    case 6: return w == "return" || w == "elseif" || w == "repeat";
    case 8: return w == "function" || w == "continue";
    default: return false;
  }
}

bool is_one_byte_symbol(const Token& token, std::string_view text, char symbol) {
  return token.kind == TokenKind::Symbol && text.size() == 1 && text[0] == symbol;
}

bool line_feed_between(std::string_view source, std::size_t from, std::size_t to) {
  if (to > source.size()) to = source.size();
  return from < to && source.substr(from, to - from).find('\n') != std::string_view::npos;
}

// The next significant token, advancing `lexer`; none at the end or an error.
std::optional<Token> next_significant(lexer::Lexer& lexer) {
  while (auto next = lexer.next_token()) {
    if (!*next) return std::nullopt;
    if (lexer::is_significant((*next)->kind)) return **next;
  }
  return std::nullopt;
}

// Whether a `<` after `previous` can only be an operator (or a generic list).
bool opens_markup_after(const Token& previous, std::string_view text) {
  switch (previous.kind) {
    case TokenKind::Name:
      if (text == "function") return false;
      if (text == "true" || text == "false" || text == "nil" || text == "end") return false;
      return is_keyword(text);
    case TokenKind::Symbol:
      if (text.size() == 1) {
        return text[0] != ':' && text[0] != '&' && text[0] != ')' && text[0] != ']' && text[0] != '}' && text[0] != '|';
      }
      return text != "::" && text != "->" && text != "...";
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::InterpolatedString:
    case TokenKind::Comment:
    case TokenKind::Whitespace: break;
  }
  return false;
}

}  // namespace

bool is_keyword(std::string_view w) {
  switch (w.size()) {
    case 2: return w == "do" || w == "if" || w == "in" || w == "or";
    case 3: return w == "and" || w == "end" || w == "for" || w == "nil" || w == "not";
    case 4: return w == "else" || w == "then" || w == "true";
    case 5: return w == "break" || w == "false" || w == "local" || w == "until" || w == "while";
    case 6: return w == "elseif" || w == "repeat" || w == "return";
    case 8: return w == "function";
    default: return false;
  }
}

bool Scanner::feed_significant(const Token& token, const lexer::Lexer& lexer) {
  std::string_view text = token.text(source);
  bool name = token.kind == TokenKind::Name;
  bool symbol = token.kind == TokenKind::Symbol;
  bool statement_word = name && is_statement_word(text);
  // The byte of a one-byte symbol, else -1 (a NUL byte is a symbol too).
  int one = symbol && text.size() == 1 ? static_cast<unsigned char>(text[0]) : -1;

  if (one == ')' || one == ']' || one == '}') --depth;

  if (type_context) {
    std::int32_t entry = *type_context;
    bool ends_at_entry = statement_word || one == ',' || one == ';' || one == '=';
    if (depth < entry || (depth == entry && ends_at_entry)) type_context.reset();
  }

  if (statement_word) {
    type_header = false;
    type_context.reset();
  } else if (name && text == "type" && at_statement_start(token)) {
    // "type Name" followed by `<` or `=`, looked up on a copy of the lexer.
    lexer::Lexer ahead = lexer;
    auto alias = next_significant(ahead);
    if (alias && alias->kind == TokenKind::Name && !is_keyword(alias->text(source))) {
      auto after = next_significant(ahead);
      if (after && (is_one_byte_symbol(*after, after->text(source), '<') ||
                    is_one_byte_symbol(*after, after->text(source), '='))) {
        type_header = true;
      }
    }
  }

  if (one == '<' && !type_context && !after_markup) {
    if (!last || opens_markup_after(*last, last->text(source))) return true;
  }
  switch (one) {
    case '&':
    case '|': type_context = depth; break;
    case '=':
      if (type_header) {
        type_context = depth;
        type_header = false;
      }
      break;
    case ':': {
      // A method call has a name after the colon; a function type a `(`.
      auto next = lexer.peek_significant();
      if (next && is_one_byte_symbol(*next, next->text(source), '(')) type_context = depth;
      break;
    }
    case '(':
    case '[':
    case '{': ++depth; break;
    case -1:
      if (symbol && (text == "::" || text == "->")) type_context = depth;
      break;
    default: break;
  }

  last = token;
  after_markup = false;
  return false;
}

bool Scanner::at_statement_start(const Token& token) const {
  if (!last) return true;
  std::string_view previous = last->text(source);
  return (last->kind == TokenKind::Name && previous == "export") || previous == ";" ||
         line_feed_between(source, last->end, token.start);
}

void Scanner::resume(lexer::Lexer& lexer, std::size_t markup_end) {
  lexer.pos = markup_end;
  last.reset();
  after_markup = true;
}

}  // namespace tovix::markup_scan
