#include "lexer.h"

#include <array>
#include <cstring>
#include <utility>

namespace tovix::lexer {

namespace {

constexpr std::string_view UNTERMINATED_STRING = "unterminated string";
constexpr std::string_view UNTERMINATED_LONG_BRACKET = "unterminated long bracket";
constexpr std::string_view UNTERMINATED_INTERPOLATED_STRING = "unterminated interpolated string";
constexpr std::string_view UNTERMINATED_INTERPOLATION = "unterminated interpolation";

// Byte classes, looked up once per byte on the hot paths.
enum : std::uint8_t {
  WHITESPACE = 1 << 0,  // tab, LF, FF, CR, space (not vertical tab)
  DIGIT = 1 << 1,
  LETTER = 1 << 2,  // ASCII letters and `_`
  CONTINUATION = 1 << 3,
};

constexpr std::array<std::uint8_t, 256> CLASSES = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned char c : {'\t', '\n', '\f', '\r', ' '}) table[c] |= WHITESPACE;
  for (int c = '0'; c <= '9'; ++c) table[c] |= DIGIT;
  for (int c = 'a'; c <= 'z'; ++c) table[c] |= LETTER;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] |= LETTER;
  table['_'] |= LETTER;
  for (int c = 0x80; c <= 0xBF; ++c) table[c] |= CONTINUATION;
  return table;
}();

constexpr bool has(unsigned char c, std::uint8_t cls) { return (CLASSES[c] & cls) != 0; }

LexError error(std::string_view message, std::size_t offset) {
  return LexError{std::string(message), offset};
}

// The whole lexer is a function of (bytes, pos); these helpers share that view.
struct Cursor {
  const unsigned char* data;
  std::size_t size;
  std::size_t& pos;

  bool at_end() const { return pos >= size; }
  unsigned char peek(std::size_t ahead = 0) const {
    return pos + ahead < size ? data[pos + ahead] : 0;
  }
  bool has_ahead(std::size_t count) const { return pos + count <= size; }

  void skip_run(std::uint8_t cls) {
    while (pos < size && has(data[pos], cls)) ++pos;
  }

  // One whole UTF-8 character: the byte at `pos` and the continuation bytes
  // after it.
  void skip_character() {
    ++pos;
    while (pos < size && has(data[pos], CONTINUATION)) ++pos;
  }

  // The level of a long bracket `[`, `=`*, `[` opening at `pos`, if one does.
  std::optional<std::size_t> long_bracket_level() const {
    if (peek() != '[') return std::nullopt;
    std::size_t i = pos + 1;
    while (i < size && data[i] == '=') ++i;
    if (i < size && data[i] == '[') return i - pos - 1;
    return std::nullopt;
  }

  // With `pos` on the opening `[` of a long bracket of `level`: moves past the
  // first `]` `=`{level} `]`. Without one, `pos` goes to the end of the text
  // and the error reports the opening `[`.
  std::expected<void, LexError> skip_long_bracket(std::size_t level) {
    std::size_t open = pos;
    std::size_t i = pos + level + 2;
    while (i < size) {
      const void* found = std::memchr(data + i, ']', size - i);
      if (found == nullptr) break;
      std::size_t close = static_cast<const unsigned char*>(found) - data;
      std::size_t j = close + 1;
      std::size_t equals = 0;
      while (equals < level && j < size && data[j] == '=') ++j, ++equals;
      if (equals == level && j < size && data[j] == ']') {
        pos = j + 1;
        return {};
      }
      i = close + 1;
    }
    pos = size;
    return std::unexpected(error(UNTERMINATED_LONG_BRACKET, open));
  }

  // A backslash escape at `pos`, shared by quoted and interpolated strings:
  // `\z` with the whitespace run after it, or a backslash and one whole
  // character. A backslash at the very end leaves `pos` at the end.
  void skip_escape() {
    ++pos;
    if (at_end()) return;
    if (data[pos] == 'z') {
      ++pos;
      skip_run(WHITESPACE);
      return;
    }
    skip_character();
  }

  // With `pos` on the opening quote.
  std::expected<void, LexError> scan_quoted(unsigned char quote) {
    std::size_t open = pos;
    ++pos;
    while (pos < size) {
      unsigned char c = data[pos];
      if (c == quote) {
        ++pos;
        return {};
      }
      if (c == '\n') break;
      if (c == '\\') {
        skip_escape();
      } else {
        ++pos;
      }
    }
    return std::unexpected(error(UNTERMINATED_STRING, open));
  }

  // With `pos` on "--".
  std::expected<void, LexError> scan_comment() {
    pos += 2;
    if (auto level = long_bracket_level()) return skip_long_bracket(*level);
    const void* line_feed = std::memchr(data + pos, '\n', size - pos);
    pos = line_feed ? static_cast<const unsigned char*>(line_feed) - data : size;
    return {};
  }

  std::expected<void, LexError> scan_number() {
    if (peek() == '0' && (peek(1) == 'x' || peek(1) == 'X' || peek(1) == 'b' || peek(1) == 'B')) {
      pos += 2;
      skip_run(LETTER | DIGIT);
      return {};
    }
    while (pos < size) {
      unsigned char c = data[pos];
      if (has(c, DIGIT) || c == '.' || c == '_') {
        ++pos;
      } else if (c == 'e' || c == 'E') {
        ++pos;
        if (peek() == '+' || peek() == '-') ++pos;
      } else {
        break;
      }
    }
    return {};
  }

  // Balanced braces and interpolated strings nest inside each other
  // (`a{`b{c}`}`). They are walked with an explicit stack so that deeply
  // nested input cannot exhaust the call stack; the stack only allocates
  // when an interpolated string sits inside a hole.
  struct Frame {
    bool braces;         // inside `{…}`, else inside a backtick string
    std::size_t depth;   // brace depth, for a braces frame
    std::size_t report;  // the offset an error at the end of the text reports
  };

  std::expected<void, LexError> scan_nested(Frame top) {
    std::vector<Frame> outer;
    // Leaves the innermost frame; true when the outermost one is left.
    auto pop = [&] {
      if (outer.empty()) return true;
      top = outer.back();
      outer.pop_back();
      return false;
    };
    while (true) {
      if (at_end()) {
        return std::unexpected(top.braces ? error(UNTERMINATED_INTERPOLATION, top.report)
                                          : error(UNTERMINATED_INTERPOLATED_STRING, top.report));
      }
      unsigned char c = data[pos];
      if (!top.braces) {
        if (c == '\\') {
          skip_escape();
        } else if (c == '`') {
          ++pos;
          if (pop()) return {};
        } else if (c == '{') {
          ++pos;
          outer.push_back(top);
          top = Frame{true, 1, top.report};
        } else {
          ++pos;
        }
        continue;
      }
      switch (c) {
        case '"':
        case '\'':
          if (auto result = scan_quoted(c); !result) return result;
          break;
        case '-':
          if (peek(1) == '-') {
            if (auto result = scan_comment(); !result) return result;
          } else {
            ++pos;
          }
          break;
        case '[':
          if (auto level = long_bracket_level()) {
            if (auto result = skip_long_bracket(*level); !result) return result;
          } else {
            ++pos;
          }
          break;
        case '`':
          outer.push_back(top);
          top = Frame{false, 0, pos};
          ++pos;
          break;
        case '{':
          ++top.depth;
          ++pos;
          break;
        case '}':
          ++pos;
          if (top.depth == 1) {
            if (pop()) return {};
          } else {
            --top.depth;
          }
          break;
        default:
          ++pos;
          break;
      }
    }
  }

  // Step 8 of the dispatch: a multi-byte operator, else one whole character.
  void scan_symbol() {
    unsigned char c = data[pos];
    unsigned char next = peek(1);
    unsigned char third = peek(2);
    std::size_t length = 0;
    switch (c) {
      case '.':
        if (next == '.') length = (has_ahead(3) && (third == '.' || third == '=')) ? 3 : 2;
        break;
      case '/':
        if (next == '/') length = (has_ahead(3) && third == '=') ? 3 : 2;
        else if (next == '=') length = 2;
        break;
      case '=':
      case '~':
      case '>':
      case '+':
      case '*':
      case '%':
      case '^':
        if (next == '=') length = 2;
        break;
      case '<':
        if (next == '=' || next == '<') length = 2;
        break;
      case ':':
        if (next == ':') length = 2;
        break;
      case '-':
        if (next == '>' || next == '=') length = 2;
        break;
      default:
        break;
    }
    // `peek` answers 0 past the end, and no operator has a NUL byte, so a
    // nonzero length never runs past the text.
    if (length != 0) {
      pos += length;
    } else {
      skip_character();
    }
  }
};

}  // namespace

std::optional<NextToken> Lexer::next_token() {
  std::size_t start = pos;
  if (start >= bytes.size()) return std::nullopt;
  Cursor cursor{bytes.data(), bytes.size(), pos};
  unsigned char c = bytes[start];
  TokenKind kind = TokenKind::Symbol;
  std::expected<void, LexError> result;

  if (has(c, WHITESPACE)) {
    kind = TokenKind::Whitespace;
    cursor.skip_run(WHITESPACE);
  } else if (has(c, LETTER)) {
    kind = TokenKind::Name;
    cursor.skip_run(LETTER | DIGIT);
  } else if (c == '"' || c == '\'') {
    kind = TokenKind::String;
    result = cursor.scan_quoted(c);
  } else if (c == '-' && cursor.peek(1) == '-') {
    kind = TokenKind::Comment;
    result = cursor.scan_comment();
  } else if (auto level = c == '[' ? cursor.long_bracket_level() : std::nullopt) {
    kind = TokenKind::String;
    result = cursor.skip_long_bracket(*level);
  } else if (c == '`') {
    kind = TokenKind::InterpolatedString;
    ++pos;
    result = cursor.scan_nested({false, 0, start});
  } else if (has(c, DIGIT) || (c == '.' && has(cursor.peek(1), DIGIT))) {
    kind = TokenKind::Number;
    result = cursor.scan_number();
  } else {
    cursor.scan_symbol();
  }

  if (!result) return NextToken(std::unexpect, std::move(result.error()));
  return NextToken(Token{start, pos, kind});
}

std::optional<Token> Lexer::peek_significant() const {
  Lexer copy = *this;
  while (auto next = copy.next_token()) {
    if (!*next) return std::nullopt;
    if (is_significant((*next)->kind)) return **next;
  }
  return std::nullopt;
}

std::expected<void, LexError> Lexer::scan_balanced_braces(std::size_t report_offset) {
  Cursor cursor{bytes.data(), bytes.size(), pos};
  return cursor.scan_nested({true, 1, report_offset});
}

std::expected<std::size_t, LexError> find_matching_brace(std::string_view source,
                                                         std::size_t open) {
  Lexer lexer(source);
  lexer.pos = open + 1;
  if (auto result = lexer.scan_balanced_braces(open); !result) {
    return std::unexpected(std::move(result.error()));
  }
  return lexer.pos - 1;
}

std::expected<std::vector<Token>, LexError> tokenize(std::string_view source) {
  std::vector<Token> tokens;
  // Luau averages a few bytes per token; one guess saves most regrowth.
  tokens.reserve(source.size() / 4 + 1);
  Lexer lexer(source);
  while (auto next = lexer.next_token()) {
    if (!*next) return std::unexpected(std::move(next->error()));
    tokens.push_back(**next);
  }
  return tokens;
}

}  // namespace tovix::lexer
