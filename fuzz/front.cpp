// The compiler's front end on arbitrary bytes: tokenize, find markup with the
// scanner, parse it, and walk the Luau code of every hole again (as the
// compiler does for nested markup). Any crash, hang, sanitizer report or
// broken invariant below is a finding.
//
//   tools/fuzz.sh front 600
//   build-fuzz/fuzz/fuzz_front -max_total_time=600 -jobs=2 -workers=2 fuzz/corpus-front fuzz/seeds/front

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/markup/ast.h"
#include "tovix/markup/parser.h"
#include "tovix/markup_scan.h"

namespace {

namespace ast = tovix::markup::ast;
using tovix::lexer::Token;

#define CHECK(condition)                                                                     \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

bool valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t MIN[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < MIN[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

struct Text {
  std::string_view bytes;
  bool utf8;

  // Offsets the front end reports must lie in the text and, in valid UTF-8,
  // never split a character.
  void boundary(std::size_t offset) const {
    CHECK(offset <= bytes.size());
    if (utf8 && offset < bytes.size()) CHECK((static_cast<unsigned char>(bytes[offset]) & 0xC0) != 0x80);
  }
};

// Holes nested deeper than this are not walked again: every level re-lexes
// its own text, and the harness should stay fast.
constexpr int MAX_HOLE_DEPTH = 6;

void walk(std::string_view code, int depth);

void check_child_spans(const Text& text, const std::vector<ast::Child>& children, std::size_t from, std::size_t to,
                       int depth);

void check_node(const Text& text, const ast::Node& node, int depth) {
  std::size_t start = node.start();
  std::size_t end = node.end();
  CHECK(start < end && end <= text.bytes.size());
  CHECK(text.bytes[start] == '<' && text.bytes[end - 1] == '>');
  text.boundary(start);
  text.boundary(end);
  if (const auto* element = std::get_if<ast::Element>(&node.kind)) {
    CHECK(!element->name.as_written().empty());
    std::size_t at = start;
    for (const ast::Attribute& attribute : element->attributes) {
      CHECK(attribute.start() >= at && attribute.start() < attribute.end() && attribute.end() <= end);
      text.boundary(attribute.start());
      text.boundary(attribute.end());
      at = attribute.end();
      if (const auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
        CHECK(!spread->code.empty());
        if (text.utf8) CHECK(valid_utf8(spread->code));
        walk(spread->code, depth + 1);
      } else {
        const auto& named = std::get<ast::Attribute::Named>(attribute.kind);
        CHECK(!named.name.empty());
        if (const auto* value = std::get_if<ast::AttributeValue::Expression>(&named.value.kind)) {
          CHECK(!value->code.empty());
          if (text.utf8) CHECK(valid_utf8(value->code));
          walk(value->code, depth + 1);
        }
      }
    }
    check_child_spans(text, element->children, at, end, depth);
  } else {
    check_child_spans(text, std::get<ast::Fragment>(node.kind).children, start, end, depth);
  }
}

void check_child_spans(const Text& text, const std::vector<ast::Child>& children, std::size_t from, std::size_t to,
                       int depth) {
  std::size_t at = from;
  for (const ast::Child& child : children) {
    CHECK(child.start() >= at && child.start() < child.end() && child.end() <= to);
    text.boundary(child.start());
    text.boundary(child.end());
    at = child.end();
    if (const auto* node = std::get_if<ast::Node>(&child.kind)) {
      check_node(text, *node, depth);
    } else if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind)) {
      CHECK(!expression->code.empty());
      if (text.utf8) CHECK(valid_utf8(expression->code));
      walk(expression->code, depth + 1);
    } else if (const auto* run = std::get_if<ast::Child::Text>(&child.kind)) {
      CHECK(!run->text.empty());
      if (text.utf8) CHECK(valid_utf8(run->text));
    } else {
      const auto& comment = std::get<ast::Child::Comment>(child.kind);
      if (text.utf8) CHECK(valid_utf8(comment.text));
    }
  }
}

// Tokens cover the text exactly; a scanner walk parses every markup start.
void walk(std::string_view code, int depth) {
  if (depth > MAX_HOLE_DEPTH) return;
  Text text{code, valid_utf8(code)};

  auto tokens = tovix::lexer::tokenize(code);
  if (tokens) {
    std::size_t at = 0;
    for (const Token& token : *tokens) {
      CHECK(token.start == at && token.end > token.start);
      CHECK(static_cast<int>(token.kind) < 7);
      text.boundary(token.start);
      at = token.end;
    }
    CHECK(at == code.size());
  } else {
    text.boundary(tokens.error().offset);
  }

  tovix::lexer::Lexer lexer(code);
  tovix::markup_scan::Scanner scanner(code);
  bool markup_seen = false;
  std::size_t index = 0;
  while (auto next = lexer.next_token()) {
    if (!*next) {
      // Before any markup was skipped, the walk lexes what `tokenize` lexed.
      if (!markup_seen) CHECK(!tokens && next->error() == tokens.error());
      text.boundary(next->error().offset);
      return;
    }
    const Token token = **next;
    if (!markup_seen && tokens) CHECK(index < tokens->size() && (*tokens)[index] == token);
    ++index;
    if (!scanner.feed(token, lexer)) continue;
    markup_seen = true;
    CHECK(code[token.start] == '<' && token.end == token.start + 1);
    auto parsed = tovix::markup::parser::parse_node(code, token.start);
    if (!parsed) {
      text.boundary(parsed.error().offset);
      return;
    }
    CHECK(parsed->node.start() == token.start && parsed->node.end() == parsed->end);
    // A hole's code is compiled cut out of its file: markup that parses
    // without the text after it ends at the same place. (It may fail instead:
    // past MAX_NESTED_FAILURES broken pieces of nested markup, some of which
    // may lie after it, a parse reads holes with the brace scan alone.)
    auto cut = tovix::markup::parser::parse_node(code.substr(0, parsed->end), token.start);
    CHECK(!cut || cut->end == parsed->end);
    check_node(text, parsed->node, depth);
    scanner.resume(lexer, parsed->end);
  }
  if (!markup_seen) CHECK(tokens && index == tokens->size());
}

}  // namespace

// Line feeds appended end no token early and start no construct, so the
// tokens of the padded text are those of the text, the last whitespace run
// aside. The lexer reads sixteen bytes at a time away from the end and one at
// a time near it: this compares the two.
void check_padding(std::string_view code) {
  std::string padded(code);
  padded.append(17, '\n');
  auto plain = tovix::lexer::tokenize(code);
  auto longer = tovix::lexer::tokenize(padded);
  CHECK(plain.has_value() == longer.has_value());
  if (!plain) {
    CHECK(plain.error() == longer.error());
    return;
  }
  std::vector<Token> expected = *plain;
  if (!expected.empty() && expected.back().kind == tovix::lexer::TokenKind::Whitespace) {
    expected.back().end = padded.size();
  } else {
    expected.push_back(Token{code.size(), padded.size(), tovix::lexer::TokenKind::Whitespace});
  }
  CHECK(*longer == expected);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view code(reinterpret_cast<const char*>(data), size);
  walk(code, 0);
  check_padding(code);

  // The brace matcher and the parser entered anywhere, not only where the
  // scanner says: callers such as the cursor scanner do that.
  int probes = 0;
  for (std::size_t i = 0; i < size && probes < 16; ++i) {
    if (code[i] == '{') {
      ++probes;
      auto close = tovix::lexer::find_matching_brace(code, i);
      if (close)
        CHECK(*close > i && *close < size && code[*close] == '}');
      else
        CHECK(close.error().offset <= size);
    } else if (code[i] == '<') {
      ++probes;
      auto parsed = tovix::markup::parser::parse_node(code, i);
      if (parsed)
        CHECK(parsed->node.start() == i && parsed->end <= size);
      else
        CHECK(parsed.error().offset <= size);
    }
  }
  return 0;
}
