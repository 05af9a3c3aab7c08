#include "tovix/luau/cursor.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovix::luau::cursor {

namespace {

// Keywords are plain names to the lexer; they are told apart here by one
// probe of a table indexed by a hash of first byte, last byte and length that
// has no collisions among the keywords.
struct Keyword {
  std::string_view word;
  Tok kind;
};

constexpr std::size_t keyword_hash(std::string_view t) {
  return (static_cast<unsigned char>(t.front()) * 3u + static_cast<unsigned char>(t.back()) * 13u + t.size()) % 64u;
}

constexpr std::array<Keyword, 64> KEYWORDS = [] {
  constexpr Keyword all[] = {
      {"and", Tok::And},           {"break", Tok::Break}, {"do", Tok::Do},       {"else", Tok::Else},
      {"elseif", Tok::Elseif},     {"end", Tok::End},     {"false", Tok::False}, {"for", Tok::For},
      {"function", Tok::Function}, {"if", Tok::If},       {"in", Tok::In},       {"local", Tok::Local},
      {"nil", Tok::Nil},           {"not", Tok::Not},     {"or", Tok::Or},       {"repeat", Tok::Repeat},
      {"return", Tok::Return},     {"then", Tok::Then},   {"true", Tok::True},   {"until", Tok::Until},
      {"while", Tok::While},
  };
  std::array<Keyword, 64> table{};
  for (const Keyword& keyword : all) table[keyword_hash(keyword.word)] = keyword;
  return table;
}();
static_assert(std::count_if(KEYWORDS.begin(), KEYWORDS.end(), [](const Keyword& k) { return !k.word.empty(); }) == 21,
              "keyword hash collision");

inline Tok classify_name(std::string_view t) {
  if (t.size() < 2 || t.size() > 8) return Tok::Name;
  const Keyword& candidate = KEYWORDS[keyword_hash(t)];
  if (candidate.word.size() != t.size() || candidate.word[1] != t[1]) return Tok::Name;
  return std::memcmp(candidate.word.data(), t.data(), t.size()) == 0 ? candidate.kind : Tok::Name;
}

}  // namespace

bool is_keyword(std::string_view word) { return classify_name(word) != Tok::Name; }

namespace {

constexpr Tok classify_symbol(std::string_view t) {
  if (t.size() == 1) {
    switch (t[0]) {
      case '+': return Tok::Plus;
      case '-': return Tok::Minus;
      case '*': return Tok::Star;
      case '/': return Tok::Slash;
      case '%': return Tok::Percent;
      case '^': return Tok::Caret;
      case '#': return Tok::Hash;
      case '&': return Tok::Ampersand;
      case '|': return Tok::Pipe;
      case '?': return Tok::Question;
      case '@': return Tok::At;
      case '<': return Tok::Lt;
      case '>': return Tok::Gt;
      case '=': return Tok::Assign;
      case '(': return Tok::LParen;
      case ')': return Tok::RParen;
      case '{': return Tok::LBrace;
      case '}': return Tok::RBrace;
      case '[': return Tok::LBracket;
      case ']': return Tok::RBracket;
      case ';': return Tok::Semicolon;
      case ':': return Tok::Colon;
      case ',': return Tok::Comma;
      case '.': return Tok::Dot;
      default: return Tok::OtherSymbol;
    }
  }
  if (t.size() == 2) {
    switch (t[0]) {
      case '/': return t[1] == '/' ? Tok::DoubleSlash : Tok::SlashAssign;
      case '.': return Tok::Concat;
      case '=': return Tok::Eq;
      case '~': return Tok::Ne;
      case '<': return t[1] == '=' ? Tok::Le : Tok::LtLt;
      case '>': return Tok::Ge;
      case ':': return Tok::DoubleColon;
      case '-': return t[1] == '>' ? Tok::Arrow : Tok::MinusAssign;
      case '+': return Tok::PlusAssign;
      case '*': return Tok::StarAssign;
      case '%': return Tok::PercentAssign;
      case '^': return Tok::CaretAssign;
      default: return Tok::OtherSymbol;  // a two-byte character
    }
  }
  if (t.size() == 3) {
    if (t == "...") return Tok::Dots;
    if (t == "..=") return Tok::ConcatAssign;
    if (t == "//=") return Tok::DoubleSlashAssign;
  }
  return Tok::OtherSymbol;
}

enum : std::uint8_t { NAME_START = 1, NAME_PART = 2, PUNCTUATION = 4, SPACE = 8, DIGIT = 16 };

// How `lex` treats a token's first byte.
enum class Class : std::uint8_t { Other, Space, Name, Dash, Operator, Punctuation };

constexpr std::array<std::uint8_t, 256> BYTES = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[c] = NAME_START | NAME_PART;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = NAME_START | NAME_PART;
  table['_'] = NAME_START | NAME_PART;
  for (unsigned char c : {'\t', '\n', '\f', '\r', ' '}) table[c] = SPACE;
  for (int c = '0'; c <= '9'; ++c) table[c] = NAME_PART | DIGIT;
  for (unsigned char c : {'(', ')', '{', '}', ']', ',', ';', '#', '&', '|', '?', '@'}) {
    table[c] = PUNCTUATION;
  }
  return table;
}();

constexpr std::array<Class, 256> CLASSES = [] {
  std::array<Class, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (BYTES[c] & SPACE) table[c] = Class::Space;
    if (BYTES[c] & NAME_START) table[c] = Class::Name;
    if (BYTES[c] & PUNCTUATION) table[c] = Class::Punctuation;
  }
  for (unsigned char c : std::string_view(".:=<>+*/~%^[")) table[c] = Class::Operator;
  table['-'] = Class::Dash;
  return table;
}();

// The kind of each one-byte symbol.
constexpr std::array<Tok, 256> PUNCTUATION_KINDS = [] {
  std::array<Tok, 256> table{};
  for (int c = 0; c < 128; ++c) {
    char ch = static_cast<char>(c);
    if (CLASSES[c] == Class::Punctuation || CLASSES[c] == Class::Operator || CLASSES[c] == Class::Dash) {
      table[c] = classify_symbol(std::string_view(&ch, 1));
    }
  }
  return table;
}();

// At most this many bytes of a token are quoted in a message.
constexpr std::size_t QUOTED = 32;

// Runs of name bytes and of whitespace, sixteen bytes at a time where the
// text has them (the result is capped by the caller).
#if defined(__SSE2__)
std::size_t name_run(const char* data, std::size_t pos, std::size_t size) {
  std::size_t start = pos;
  while (pos + 16 <= size) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    // Bytes of 0x80 and above compare as negative, so they are never in range.
    __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    __m128i letter =
        _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('z' + 1)));
    __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
    __m128i underscore = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(letter, digit), underscore)));
    if (mask != 0xFFFF) return pos + static_cast<std::size_t>(__builtin_ctz(~mask)) - start;
    pos += 16;
  }
  while (pos < size && (BYTES[static_cast<unsigned char>(data[pos])] & NAME_PART)) ++pos;
  return pos - start;
}

std::size_t space_run(const char* data, std::size_t pos, std::size_t size) {
  std::size_t start = pos;
  while (pos + 16 <= size) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    // Tab, line feed, vertical tab, form feed and carriage return are 9 to 13;
    // vertical tab is not whitespace to the lexer.
    __m128i control = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(8)), _mm_cmplt_epi8(v, _mm_set1_epi8(14)));
    control = _mm_andnot_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(11)), control);
    __m128i space = _mm_or_si128(control, _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(space));
    if (mask != 0xFFFF) return pos + static_cast<std::size_t>(__builtin_ctz(~mask)) - start;
    pos += 16;
  }
  while (pos < size && (BYTES[static_cast<unsigned char>(data[pos])] & SPACE)) ++pos;
  return pos - start;
}
#else
std::size_t name_run(const char* data, std::size_t pos, std::size_t size) {
  std::size_t start = pos;
  while (pos < size && (BYTES[static_cast<unsigned char>(data[pos])] & NAME_PART)) ++pos;
  return pos - start;
}

std::size_t space_run(const char* data, std::size_t pos, std::size_t size) {
  std::size_t start = pos;
  while (pos < size && (BYTES[static_cast<unsigned char>(data[pos])] & SPACE)) ++pos;
  return pos - start;
}
#endif

}  // namespace

Cursor::Cursor(std::string_view source, arena::Arena& arena_, std::vector<parser::ParseError>& errors)
    : arena(arena_), source_(source), lexer_(source), limit_(source.size()), errors_(errors) {
  lex(current_);
}

// Whitespace, line comments, names and operators are cut here, exactly as the
// lexer cuts them: they are most of the text, and a round trip through the
// lexer's general interface costs more than the cut itself. Strings, numbers,
// long brackets and everything else go to the lexer.
void Cursor::lex(Token& out) {
  const char* data = source_.data();
  while (true) {
    std::size_t start = lexer_.pos;
    if (start >= limit_) {
      out = {Tok::Eof, static_cast<std::uint32_t>(limit_), static_cast<std::uint32_t>(limit_)};
      return;
    }
    auto first = static_cast<unsigned char>(data[start]);
    auto at = [&](std::size_t i) -> char { return i < limit_ ? data[i] : '\0'; };
    std::size_t end = start + 1;
    Class cls = CLASSES[first];
    if (cls == Class::Name) {
      end = std::min(start + name_run(data, start, source_.size()), limit_);
      lexer_.pos = end;
      out.start = static_cast<std::uint32_t>(start);
      out.end = static_cast<std::uint32_t>(end);
      out.kind = classify_name(source_.substr(start, end - start));
      return;
    }
    if (cls == Class::Space) {
      if (BYTES[static_cast<unsigned char>(at(end))] & SPACE) {
        end = std::min(start + space_run(data, start, source_.size()), limit_);
      }
      lexer_.pos = end;
      continue;
    }
    if (cls == Class::Punctuation) {
      // Stray continuation bytes (invalid UTF-8) join the symbol, as in the lexer.
      while (end < limit_ && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80) ++end;
      lexer_.pos = end;
      out.start = static_cast<std::uint32_t>(start);
      out.end = static_cast<std::uint32_t>(end);
      out.kind = end == start + 1 ? PUNCTUATION_KINDS[first] : Tok::OtherSymbol;
      return;
    }
    // The most common classes are tested first, outside the switch: a chain
    // of tests predicts better than its jump table.
    switch (cls) {
      case Class::Dash:
        if (at(end) == '-') {
          if (at(end + 1) == '[') break;  // perhaps a long comment: the lexer decides
          const void* line_feed = std::memchr(data + start, '\n', limit_ - start);
          lexer_.pos = line_feed ? static_cast<std::size_t>(static_cast<const char*>(line_feed) - data) : limit_;
          continue;
        }
        [[fallthrough]];
      case Class::Operator: {
        // The three- and two-byte operators, else the one byte.
        char second = at(end);
        char third = at(end + 1);
        if ((first == '.' && second == '.' && (third == '.' || third == '=')) ||
            (first == '/' && second == '/' && third == '=')) {
          end += 2;
        } else if ((first == '.' && second == '.') || (first == '/' && second == '/') ||
                   (first == '<' && second == '<') || (first == ':' && second == ':') ||
                   (first == '-' && second == '>') || (second == '=' && first != '.' && first != ':' && first != '[')) {
          end += 1;
        } else if ((first == '.' && BYTES[static_cast<unsigned char>(second)] & DIGIT) ||
                   (first == '[' && (second == '[' || second == '='))) {
          break;  // a number or perhaps a long bracket: the lexer decides
        }
        [[fallthrough]];
      }
      case Class::Punctuation:
        // Stray continuation bytes join a one-byte symbol here too.
        if (end == start + 1) {
          while (end < limit_ && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80) ++end;
        }
        lexer_.pos = end;
        out.start = static_cast<std::uint32_t>(start);
        out.end = static_cast<std::uint32_t>(end);
        out.kind = end == start + 1 ? PUNCTUATION_KINDS[first] : classify_symbol(source_.substr(start, end - start));
        return;
      case Class::Space:
      case Class::Name:
      case Class::Other: break;
    }
    if (lex_other(out, start)) return;
  }
}

// What the lexer itself cuts: strings, numbers, long brackets and comments,
// other characters, and the errors of unterminated constructs. False when the
// token was trivia and the caller must go on.
bool Cursor::lex_other(Token& out, std::size_t start) {
  const char* data = source_.data();
  auto next = lexer_.next_token();
  if (!next) {
    out = {Tok::Eof, static_cast<std::uint32_t>(limit_), static_cast<std::uint32_t>(limit_)};
    return true;
  }
  if (!*next) {
    // Inside an interpolated string the holes lexed cleanly when the whole
    // string did, so an error means the cursor looked past a hole's closing
    // brace into the string's text: that is the end of the hole.
    if (limit_ < source_.size()) {
      lexer_.pos = limit_;
      out = {Tok::Eof, static_cast<std::uint32_t>(limit_), static_cast<std::uint32_t>(limit_)};
      return true;
    }
    // An unterminated string or comment. The lexer has moved past what it
    // scanned; a broken string still stands where a string stood.
    error(static_cast<std::uint32_t>(next->error().offset), next->error().message);
    if (lexer_.pos <= start) lexer_.pos = start + 1;
    while (lexer_.pos < limit_ && (static_cast<unsigned char>(data[lexer_.pos]) & 0xC0) == 0x80) {
      ++lexer_.pos;
    }
    if (lexer_.pos > limit_) lexer_.pos = limit_;
    if (data[start] == '-') return false;
    out = {Tok::String, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(lexer_.pos)};
    return true;
  }
  const lexer::Token& token = **next;
  out.start = static_cast<std::uint32_t>(token.start);
  out.end = static_cast<std::uint32_t>(token.end);
  std::string_view text = source_.substr(token.start, token.end - token.start);
  switch (token.kind) {
    case lexer::TokenKind::Whitespace:
    case lexer::TokenKind::Comment: return false;
    case lexer::TokenKind::Name: out.kind = classify_name(text); return true;
    case lexer::TokenKind::Number: out.kind = Tok::Number; return true;
    case lexer::TokenKind::String: out.kind = Tok::String; return true;
    case lexer::TokenKind::InterpolatedString: out.kind = Tok::InterpString; return true;
    case lexer::TokenKind::Symbol: out.kind = classify_symbol(text); return true;
  }
  return true;
}

const Token& Cursor::peek() {
  if (!ahead_) lex(ahead_.emplace());
  return *ahead_;
}

bool Cursor::expect(Tok kind, std::string_view context) {
  if (accept(kind)) return true;
  if (errors_.size() >= parser::MAX_ERRORS) return false;
  std::string message = "Expected '";
  message += spelling(kind);
  message += "'";
  if (!context.empty()) {
    message += " when parsing ";
    message += context;
  }
  message += ", got ";
  message += describe(current_);
  error(current_.start, message);
  return false;
}

bool Cursor::expect_closing(Tok kind, const Token& open) {
  if (accept(kind)) return true;
  if (errors_.size() >= parser::MAX_ERRORS) return false;
  std::string message = "Expected '";
  message += spelling(kind);
  message += "' to close ";
  message += describe(open);
  message += ", got ";
  message += describe(current_);
  error(current_.start, message);
  return false;
}

void Cursor::consume_first_character() {
  Token rest = current_;
  rest.start += 1;
  rest.kind = classify_symbol(text(rest));
  previous_end_ = rest.start;
  current_ = rest;
}

void Cursor::error(std::uint32_t offset, std::string_view message) {
  if (errors_.size() >= parser::MAX_ERRORS) return;
  errors_.push_back({std::string(message), offset});
}

void Cursor::error_expected(std::string_view what) {
  if (errors_.size() >= parser::MAX_ERRORS) return;
  std::string message = "Expected ";
  message += what;
  message += ", got ";
  message += describe(current_);
  error(current_.start, message);
}

std::string Cursor::describe(const Token& token) const {
  switch (token.kind) {
    case Tok::Eof: return "<eof>";
    case Tok::String:
    case Tok::InterpString: return "string";
    default: break;
  }
  std::string_view t = text(token);
  if (t.size() > QUOTED) {
    std::size_t cut = QUOTED;
    while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;
    return "'" + std::string(t.substr(0, cut)) + "...'";
  }
  return "'" + std::string(t) + "'";
}

std::string_view Cursor::spelling(Tok kind) {
  switch (kind) {
    case Tok::Eof: return "<eof>";
    case Tok::Name: return "identifier";
    case Tok::Number: return "number";
    case Tok::String: return "string";
    case Tok::InterpString: return "interpolated string";
    case Tok::And: return "and";
    case Tok::Break: return "break";
    case Tok::Do: return "do";
    case Tok::Else: return "else";
    case Tok::Elseif: return "elseif";
    case Tok::End: return "end";
    case Tok::False: return "false";
    case Tok::For: return "for";
    case Tok::Function: return "function";
    case Tok::If: return "if";
    case Tok::In: return "in";
    case Tok::Local: return "local";
    case Tok::Nil: return "nil";
    case Tok::Not: return "not";
    case Tok::Or: return "or";
    case Tok::Repeat: return "repeat";
    case Tok::Return: return "return";
    case Tok::Then: return "then";
    case Tok::True: return "true";
    case Tok::Until: return "until";
    case Tok::While: return "while";
    case Tok::Plus: return "+";
    case Tok::Minus: return "-";
    case Tok::Star: return "*";
    case Tok::Slash: return "/";
    case Tok::DoubleSlash: return "//";
    case Tok::Percent: return "%";
    case Tok::Caret: return "^";
    case Tok::Hash: return "#";
    case Tok::Ampersand: return "&";
    case Tok::Pipe: return "|";
    case Tok::Question: return "?";
    case Tok::At: return "@";
    case Tok::Lt: return "<";
    case Tok::Le: return "<=";
    case Tok::Gt: return ">";
    case Tok::Ge: return ">=";
    case Tok::Eq: return "==";
    case Tok::Ne: return "~=";
    case Tok::Assign: return "=";
    case Tok::LParen: return "(";
    case Tok::RParen: return ")";
    case Tok::LBrace: return "{";
    case Tok::RBrace: return "}";
    case Tok::LBracket: return "[";
    case Tok::RBracket: return "]";
    case Tok::Semicolon: return ";";
    case Tok::Colon: return ":";
    case Tok::DoubleColon: return "::";
    case Tok::Comma: return ",";
    case Tok::Dot: return ".";
    case Tok::Concat: return "..";
    case Tok::Dots: return "...";
    case Tok::Arrow: return "->";
    case Tok::LtLt: return "<<";
    case Tok::PlusAssign: return "+=";
    case Tok::MinusAssign: return "-=";
    case Tok::StarAssign: return "*=";
    case Tok::SlashAssign: return "/=";
    case Tok::DoubleSlashAssign: return "//=";
    case Tok::PercentAssign: return "%=";
    case Tok::CaretAssign: return "^=";
    case Tok::ConcatAssign: return "..=";
    case Tok::OtherSymbol: return "symbol";
  }
  return "?";
}

Position Cursor::save() const { return {lexer_.pos, limit_, current_, ahead_, previous_end_}; }

void Cursor::restore(const Position& position) {
  lexer_.pos = position.lexer_pos;
  limit_ = position.limit;
  current_ = position.current;
  ahead_ = position.ahead;
  previous_end_ = position.previous_end;
}

void Cursor::enter(std::size_t from, std::size_t limit) {
  lexer_.pos = from;
  limit_ = limit;
  ahead_.reset();
  previous_end_ = static_cast<std::uint32_t>(from);
  lex(current_);
}

void Cursor::report_depth() {
  error(current_.start, "Exceeded allowed recursion depth; simplify your code to make it parse");
}

}  // namespace tovix::luau::cursor
