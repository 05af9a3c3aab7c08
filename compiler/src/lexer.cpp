#include "tovix/lexer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What a token's first byte may start; one table lookup dispatches.
enum : std::uint8_t {
  FIRST_OTHER,
  FIRST_WHITESPACE,
  FIRST_LETTER,
  FIRST_DIGIT,
  FIRST_QUOTE,
  FIRST_DASH,
  FIRST_BRACKET,
  FIRST_BACKTICK,
  FIRST_DOT,
  FIRST_SINGLE,  // always a one-byte symbol: no operator starts with it
};

constexpr std::array<std::uint8_t, 256> KINDS = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (has(static_cast<unsigned char>(c), WHITESPACE)) table[c] = FIRST_WHITESPACE;
    if (has(static_cast<unsigned char>(c), LETTER)) table[c] = FIRST_LETTER;
    if (has(static_cast<unsigned char>(c), DIGIT)) table[c] = FIRST_DIGIT;
  }
  table['"'] = table['\''] = FIRST_QUOTE;
  table['-'] = FIRST_DASH;
  table['['] = FIRST_BRACKET;
  table['`'] = FIRST_BACKTICK;
  table['.'] = FIRST_DOT;
  for (unsigned char c : std::string_view("(){}],;#&|?!@$\\")) table[c] = FIRST_SINGLE;
  return table;
}();

// The whole lexer is a function of (bytes, pos). The cursor keeps `pos` by
// value so that the hot loops run in registers; errors are recorded as a
// static message and an offset and only become a `LexError` at the boundary.
struct Cursor {
  const unsigned char* data;
  std::size_t size;
  std::size_t pos;
  std::string_view error_message{};
  std::size_t error_offset = 0;

  bool fail(std::string_view message, std::size_t offset) {
    error_message = message;
    error_offset = offset;
    return false;
  }

  LexError error() const { return LexError{std::string(error_message), error_offset}; }

  bool at_end() const { return pos >= size; }
  unsigned char peek(std::size_t ahead = 0) const { return pos + ahead < size ? data[pos + ahead] : 0; }

  void skip_run(std::uint8_t cls) {
    while (pos < size && has(data[pos], cls)) ++pos;
  }

#if defined(__SSE2__)
  // Bit i set when byte i is an ASCII letter, digit or `_`.
  static unsigned name_mask(__m128i bytes) {
    __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    // Unsigned "c - low < count" as a signed compare on biased values.
    auto in_range = [&](__m128i values, char low, char count) {
      __m128i shifted = _mm_add_epi8(_mm_sub_epi8(values, _mm_set1_epi8(low)), bias);
      return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + count)));
    };
    __m128i letter = in_range(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 26);
    __m128i digit = in_range(bytes, '0', 10);
    __m128i underscore = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('_'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(letter, digit), underscore)));
  }

  // Bit i set when byte i is one of the five whitespace bytes.
  static unsigned whitespace_mask(__m128i bytes) {
    __m128i space = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
    __m128i breaks =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
    __m128i feed = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\f'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(space, breaks), feed)));
  }
#endif

  // Inside braces only quotes, `-`, `[`, backticks and braces matter (and
  // `<` when the scan stops where markup may start); moves `pos` to the next
  // of them (or the end), sixteen bytes at a time where the text allows.
  template <bool UntilMarkup>
  void skip_to_brace_special() {
#if defined(__SSE2__)
    while (pos + 16 <= size) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
      __m128i quotes =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\'')));
      __m128i braces =
          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('{')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('}')));
      __m128i others = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('['))),
          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('`')));
      if constexpr (UntilMarkup) others = _mm_or_si128(others, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quotes, braces), others)));
      if (mask != 0) {
        pos += std::countr_zero(mask);
        return;
      }
      pos += 16;
    }
#endif
    while (pos < size) {
      unsigned char c = data[pos];
      if (c == '"' || c == '\'' || c == '{' || c == '}' || c == '-' || c == '[' || c == '`') return;
      if (UntilMarkup && c == '<') return;
      ++pos;
    }
  }

  // The runs of names and whitespace, sixteen bytes at a time where the text
  // allows: the length comes from a bit mask rather than a loop whose exit
  // the branch predictor cannot guess.
  void skip_name_chars() {
#if defined(__SSE2__)
    while (pos + 16 <= size) {
      unsigned mask = name_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos)));
      if (mask != 0xFFFF) {
        pos += std::countr_one(mask);
        return;
      }
      pos += 16;
    }
#endif
    skip_run(LETTER | DIGIT);
  }

  void skip_whitespace() {
#if defined(__SSE2__)
    while (pos + 16 <= size) {
      unsigned mask = whitespace_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos)));
      if (mask != 0xFFFF) {
        pos += std::countr_one(mask);
        return;
      }
      pos += 16;
    }
#endif
    skip_run(WHITESPACE);
  }

  // One whole UTF-8 character: the byte at `pos` and the continuation bytes
  // after it.
  void skip_character() {
    ++pos;
    while (pos < size && has(data[pos], CONTINUATION)) ++pos;
  }

  // The level of a long bracket `[`, `=`*, `[` opening at `pos`, or -1.
  std::ptrdiff_t long_bracket_level() const {
    if (peek() != '[') return -1;
    std::size_t i = pos + 1;
    while (i < size && data[i] == '=') ++i;
    if (i < size && data[i] == '[') return static_cast<std::ptrdiff_t>(i - pos - 1);
    return -1;
  }

  // With `pos` on the opening `[` of a long bracket of `level`: moves past the
  // first `]` `=`{level} `]`. Without one, `pos` goes to the end of the text
  // and the error reports the opening `[`.
  bool skip_long_bracket(std::size_t level) {
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
        return true;
      }
      i = close + 1;
    }
    pos = size;
    return fail(UNTERMINATED_LONG_BRACKET, open);
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
  bool scan_quoted(unsigned char quote) {
    std::size_t open = pos;
    ++pos;
    while (pos < size) {
      unsigned char c = data[pos];
      if (c == quote) {
        ++pos;
        return true;
      }
      if (c == '\n') break;
      if (c == '\\') {
        skip_escape();
      } else {
        ++pos;
      }
    }
    return fail(UNTERMINATED_STRING, open);
  }

  // With `pos` on "--".
  bool scan_comment() {
    pos += 2;
    if (std::ptrdiff_t level = long_bracket_level(); level >= 0) return skip_long_bracket(level);
    const void* line_feed = std::memchr(data + pos, '\n', size - pos);
    pos = line_feed ? static_cast<const unsigned char*>(line_feed) - data : size;
    return true;
  }

  void scan_number() {
    if (data[pos] == '0' && (peek(1) | 0x20) == 'x') {
      pos += 2;
      skip_run(LETTER | DIGIT);
      return;
    }
    if (data[pos] == '0' && (peek(1) | 0x20) == 'b') {
      pos += 2;
      skip_run(LETTER | DIGIT);
      return;
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

  // Set when a scan `UntilMarkup` gave up (see `scan_balanced_braces_unless_markup`).
  bool undecided = false;

  template <bool UntilMarkup = false>
  bool scan_nested(Frame top) {
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
        return top.braces ? fail(UNTERMINATED_INTERPOLATION, top.report)
                          : fail(UNTERMINATED_INTERPOLATED_STRING, top.report);
      }
      if (top.braces) skip_to_brace_special<UntilMarkup>();
      if (at_end()) continue;
      unsigned char c = data[pos];
      if (!top.braces) {
        if (c == '\\') {
          skip_escape();
        } else if (c == '`') {
          ++pos;
          if (pop()) return true;
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
          if (!scan_quoted(c)) return false;
          break;
        case '-':
          if (peek(1) == '-') {
            // A number's exponent may have taken the first dash ("1e--"):
            // the tokens are not a comment's.
            if (UntilMarkup && outer.empty() && pos > 0 && (data[pos - 1] | 0x20) == 'e') {
              undecided = true;
              return true;
            }
            if (!scan_comment()) return false;
          } else {
            ++pos;
          }
          break;
        case '<':
          if (UntilMarkup && outer.empty()) {
            undecided = true;
            return true;
          }
          ++pos;
          break;
        case '[':
          if (std::ptrdiff_t level = long_bracket_level(); level >= 0) {
            if (!skip_long_bracket(level)) return false;
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
            if (pop()) return true;
          } else {
            --top.depth;
          }
          break;
        default: ++pos; break;
      }
    }
  }

  // Everything else: a multi-byte operator, else one whole character.
  // `peek` answers 0 past the end and no operator holds a NUL byte, so a
  // match never runs past the text.
  void scan_symbol(unsigned char c) {
    unsigned char next = peek(1);
    switch (c) {
      case '.':
        if (next == '.') {
          unsigned char third = peek(2);
          pos += (third == '.' || third == '=') ? 3 : 2;
          return;
        }
        break;
      case '/':
        if (next == '/') {
          pos += peek(2) == '=' ? 3 : 2;
          return;
        }
        if (next == '=') {
          pos += 2;
          return;
        }
        break;
      case '=':
      case '~':
      case '>':
      case '+':
      case '*':
      case '%':
      case '^':
        if (next == '=') {
          pos += 2;
          return;
        }
        break;
      case '<':
        if (next == '=' || next == '<') {
          pos += 2;
          return;
        }
        break;
      case ':':
        if (next == ':') {
          pos += 2;
          return;
        }
        break;
      case '-':
        if (next == '>' || next == '=') {
          pos += 2;
          return;
        }
        break;
      default: break;
    }
    skip_character();
  }

  // One token from `pos`; false (with the error recorded) for an
  // unterminated construct. `pos` must be below `size`. Inlined into the
  // loops that call it: the dispatch is the lexer's hot path.
  [[gnu::always_inline]] bool scan_token(TokenKind& kind) {
    unsigned char c = data[pos];
    std::uint8_t first = KINDS[c];
    // The common kinds first, as plain branches: they predict better than
    // one indirect jump over every kind.
    if (first == FIRST_LETTER) {
      kind = TokenKind::Name;
      ++pos;
      skip_name_chars();
      return true;
    }
    if (first == FIRST_WHITESPACE) {
      kind = TokenKind::Whitespace;
      ++pos;
      skip_whitespace();
      return true;
    }
    kind = TokenKind::Symbol;
    if (first == FIRST_SINGLE) {
      // Stray continuation bytes after it (invalid UTF-8) join it.
      skip_character();
      return true;
    }
    switch (first) {
      case FIRST_DIGIT:
        kind = TokenKind::Number;
        scan_number();
        return true;
      case FIRST_QUOTE: kind = TokenKind::String; return scan_quoted(c);
      case FIRST_DASH:
        if (peek(1) == '-') {
          kind = TokenKind::Comment;
          return scan_comment();
        }
        break;
      case FIRST_BRACKET:
        if (std::ptrdiff_t level = long_bracket_level(); level >= 0) {
          kind = TokenKind::String;
          return skip_long_bracket(level);
        }
        break;
      case FIRST_BACKTICK: {
        kind = TokenKind::InterpolatedString;
        std::size_t open = pos++;
        return scan_nested({false, 0, open});
      }
      case FIRST_DOT:
        if (has(peek(1), DIGIT)) {
          kind = TokenKind::Number;
          scan_number();
          return true;
        }
        break;
      default: break;
    }
    scan_symbol(c);
    return true;
  }
};

}  // namespace

std::uint8_t Lexer::scan_one() {
  Cursor cursor{bytes.data(), bytes.size(), pos};
  TokenKind kind;
  bool ok = cursor.scan_token(kind);
  pos = cursor.pos;
  return ok ? static_cast<std::uint8_t>(kind) : SCAN_FAILED;
}

LexError Lexer::error_at(std::size_t start) const {
  Cursor cursor{bytes.data(), bytes.size(), start};
  TokenKind kind;
  if (cursor.scan_token(kind)) return LexError{};  // not reached: the scan is deterministic
  return cursor.error();
}

std::optional<Token> Lexer::peek_significant() const {
  Cursor cursor{bytes.data(), bytes.size(), pos};
  while (cursor.pos < cursor.size) {
    std::size_t start = cursor.pos;
    TokenKind kind;
    if (!cursor.scan_token(kind)) return std::nullopt;
    if (is_significant(kind)) return Token{start, cursor.pos, kind};
  }
  return std::nullopt;
}

std::expected<void, LexError> Lexer::scan_balanced_braces(std::size_t report_offset) {
  Cursor cursor{bytes.data(), bytes.size(), pos};
  bool ok = cursor.scan_nested({true, 1, report_offset});
  pos = cursor.pos;
  if (!ok) return std::unexpected(cursor.error());
  return {};
}

std::expected<bool, LexError> Lexer::scan_balanced_braces_unless_markup(std::size_t report_offset) {
  Cursor cursor{bytes.data(), bytes.size(), pos};
  bool ok = cursor.scan_nested<true>({true, 1, report_offset});
  pos = cursor.pos;
  if (!ok) return std::unexpected(cursor.error());
  return !cursor.undecided;
}

std::expected<std::size_t, LexError> find_matching_brace(std::string_view source, std::size_t open) {
  // Nothing follows an `open` at or past the end (and `open + 1` must not
  // wrap around).
  if (open >= source.size()) return std::unexpected(LexError{std::string(UNTERMINATED_INTERPOLATION), open});
  Lexer lexer(source);
  lexer.pos = open + 1;
  if (auto result = lexer.scan_balanced_braces(open); !result) {
    return std::unexpected(std::move(result.error()));
  }
  return lexer.pos - 1;
}

std::vector<Hole> interpolation_holes(std::string_view source, Token token) {
  std::vector<Hole> holes;
  if (token.kind != TokenKind::InterpolatedString) return holes;
  const std::size_t end = std::min(token.end, source.size());
  // An escape never hides a brace or backtick in its whitespace or in the
  // continuation bytes of its character: skipping the one byte after the
  // backslash is enough here.
  for (std::size_t i = token.start + 1; i < end; ++i) {
    const char c = source[i];
    if (c == '\\') {
      ++i;
    } else if (c == '`') {
      break;
    } else if (c == '{') {
      const auto close = find_matching_brace(source, i);
      if (!close || *close >= end) break;
      holes.push_back({i + 1, *close});
      i = *close;
    }
  }
  return holes;
}

std::expected<std::vector<Token>, LexError> tokenize(std::string_view source) {
  std::vector<Token> tokens;
  // Luau text averages two to four bytes a token; reserving for the dense
  // end saves regrowth and its copying.
  tokens.reserve(source.size() / 2 + 16);
  Cursor cursor{reinterpret_cast<const unsigned char*>(source.data()), source.size(), 0};
  while (cursor.pos < cursor.size) {
    std::size_t start = cursor.pos;
    TokenKind kind;
    if (!cursor.scan_token(kind)) return std::unexpected(cursor.error());
    tokens.push_back(Token{start, cursor.pos, kind});
  }
  return tokens;
}

}  // namespace tovix::lexer
