#include "markup_scan.h"

#include <algorithm>
#include <array>

namespace tovix::markup_scan {

namespace {

using lexer::Token;
using lexer::TokenKind;

constexpr std::array<std::string_view, 21> KEYWORDS = {
    "and", "break", "do",     "else", "elseif", "end",    "false", "for",  "function", "if",    "in",
    "local", "nil", "not",    "or",   "repeat", "return", "then",  "true", "until",    "while",
};

// Words that begin or end a statement; a type annotation cannot span them.
constexpr std::array<std::string_view, 16> STATEMENT_WORDS = {
    "if",   "do",    "in",    "for",    "end",    "else",   "then",     "local",
    "while", "until", "break", "return", "elseif", "repeat", "function", "continue",
};

bool is_statement_word(std::string_view word) {
  return std::find(STATEMENT_WORDS.begin(), STATEMENT_WORDS.end(), word) != STATEMENT_WORDS.end();
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
        return text[0] != ':' && text[0] != '&' && text[0] != ')' && text[0] != ']' &&
               text[0] != '}' && text[0] != '|';
      }
      return text != "::" && text != "->" && text != "...";
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::InterpolatedString:
    case TokenKind::Comment:
    case TokenKind::Whitespace:
      break;
  }
  return false;
}

}  // namespace

bool is_keyword(std::string_view word) {
  return std::find(KEYWORDS.begin(), KEYWORDS.end(), word) != KEYWORDS.end();
}

bool Scanner::feed(const Token& token, const lexer::Lexer& lexer) {
  if (!lexer::is_significant(token.kind)) return false;
  std::string_view text = token.text(source);
  bool name = token.kind == TokenKind::Name;
  bool symbol = token.kind == TokenKind::Symbol;

  if (symbol && text.size() == 1 && (text[0] == ')' || text[0] == ']' || text[0] == '}')) --depth;

  if (type_context) {
    std::int32_t entry = *type_context;
    bool ends_at_entry = (name && is_statement_word(text)) ||
                         (symbol && text.size() == 1 &&
                          (text[0] == ',' || text[0] == ';' || text[0] == '='));
    if (depth < entry || (depth == entry && ends_at_entry)) type_context.reset();
  }

  if (name) {
    if (is_statement_word(text)) {
      type_header = false;
      type_context.reset();
    } else if (text == "type") {
      bool statement_start = !last;
      if (last) {
        std::string_view previous = last->text(source);
        statement_start = (last->kind == TokenKind::Name && previous == "export") || previous == ";" ||
                          line_feed_between(source, last->end, token.start);
      }
      if (statement_start) {
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
    }
  }

  if (symbol) {
    if (text == "<" && !type_context && !after_markup) {
      if (!last || opens_markup_after(*last, last->text(source))) return true;
    }
    if (text == "::" || text == "->" || text == "&" || text == "|") {
      type_context = depth;
    } else if (text == "=" && type_header) {
      type_context = depth;
      type_header = false;
    } else if (text == ":") {
      auto next = lexer.peek_significant();
      if (next && is_one_byte_symbol(*next, next->text(source), '(')) type_context = depth;
    } else if (text == "(" || text == "[" || text == "{") {
      ++depth;
    }
  }

  last = token;
  after_markup = false;
  return false;
}

void Scanner::resume(lexer::Lexer& lexer, std::size_t markup_end) {
  lexer.pos = markup_end;
  last.reset();
  after_markup = true;
}

}  // namespace tovix::markup_scan
