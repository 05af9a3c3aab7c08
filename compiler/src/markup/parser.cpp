#include "tovix/markup/parser.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "tovix/lexer.h"
#include "tovix/markup/walk.h"
#include "tovix/whitespace.h"

namespace tovix::markup::parser {

namespace {

using ast::Attribute;
using ast::AttributeValue;
using ast::Child;
using ast::ElementName;

std::unexpected<ParseError> fail(std::string message, std::size_t offset) {
  return std::unexpected(ParseError{std::move(message), offset});
}

bool is_identifier_start(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool is_identifier_char(unsigned char c) { return is_identifier_start(c) || (c >= '0' && c <= '9'); }

bool is_continuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

// The first offset at or after `at` that is not ASCII whitespace.
std::size_t after_whitespace(std::string_view text, std::size_t at) {
  while (at < text.size() && whitespace::is_ascii_whitespace(text[at])) ++at;
  return at;
}

// The end of the whole UTF-8 character starting at `at`: that byte and the
// continuation bytes after it.
std::size_t character_end(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  while (end < text.size() && is_continuation(static_cast<unsigned char>(text[end]))) ++end;
  return end;
}

// A text run without a line feed stays as collected. With line feeds, every
// line but the first loses its leading whitespace and every line but the
// last its trailing whitespace; lines left empty are dropped and the rest
// joined by one blank, so indentation never reaches the UI.
std::string normalise_text(std::string collected) {
  if (collected.find('\n') == std::string::npos) return collected;
  std::string out;
  std::string_view rest = collected;
  bool first = true;
  while (true) {
    std::size_t line_feed = rest.find('\n');
    bool last = line_feed == std::string_view::npos;
    std::string_view line = last ? rest : rest.substr(0, line_feed);
    if (!first) line = whitespace::trim_start(line);
    if (!last) line = whitespace::trim_end(line);
    if (!line.empty()) {
      if (!out.empty()) out += ' ';
      out += line;
    }
    if (last) break;
    rest.remove_prefix(line_feed + 1);
    first = false;
  }
  return out;
}

// "<!-- body -->" as a Luau long comment whose level no "]=…]" in the body
// can close early.
std::string comment_text(std::string_view inner) {
  std::string body;
  if (inner.find('\n') != std::string_view::npos) {
    body = inner;
  } else {
    body = " ";
    body += whitespace::trim(inner);
    body += ' ';
  }
  if (body.ends_with(']')) body += ' ';

  // Levels already taken by a closing bracket in the body; one pass, so a
  // body full of brackets stays linear.
  std::vector<bool> taken;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != ']') continue;
    std::size_t j = i + 1;
    while (j < body.size() && body[j] == '=') ++j;
    if (j < body.size() && body[j] == ']') {
      std::size_t level = j - i - 1;
      if (taken.size() <= level) taken.resize(level + 1, false);
      taken[level] = true;
    }
  }
  std::size_t level = 0;
  while (level < taken.size() && taken[level]) ++level;

  std::string equals(level, '=');
  std::string text = "--[" + equals + "[";
  text += body;
  text += "]" + equals + "]";
  return text;
}

// Keeps the parser's nesting count right on every path out of `parse_node`.
struct DepthGuard {
  std::size_t& depth;
  explicit DepthGuard(std::size_t& counter) : depth(counter) { ++depth; }
  ~DepthGuard() { --depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

}  // namespace

// What one parse shares with the parses of markup nested in its holes.
struct Parser::Shared {
  // The `<` of each piece of nested markup found not to parse, in the order
  // found. A pass meets them in the same state as the pass that found them
  // (it is the same up to there), so they are read on at once.
  std::vector<std::size_t> failed;
  // A piece not in `failed` has just failed: this pass is abandoned.
  bool aborted = false;
  // Cleared after too many failures: holes are then read as brace scans only.
  bool walk_holes = true;

  [[nodiscard]] bool known_failure(std::size_t at) const {
    return std::find(failed.begin(), failed.end(), at) != failed.end();
  }
};

// A pass reads forward only and stops at the first new failure, so each
// costs one reading of the expression, and there are at most
// MAX_NESTED_FAILURES + 2 of them.
template <typename Step>
auto Parser::entered(Step step) -> std::invoke_result_t<Step&> {
  if (shared_ != nullptr) return step();
  Shared shared;
  shared_ = &shared;
  const std::size_t start = pos;
  auto result = step();
  while (!result && shared.aborted) {
    pos = start;
    shared.aborted = false;
    if (shared.failed.size() > MAX_NESTED_FAILURES) shared.walk_holes = false;
    result = step();
  }
  shared_ = nullptr;
  return result;
}

std::expected<Parsed, ParseError> parse_node(std::string_view source, std::size_t start) {
  Parser parser(source, start);
  auto node = parser.parse_node();
  if (!node) return std::unexpected(std::move(node.error()));
  return Parsed{std::move(*node), parser.pos};
}

std::expected<ast::Node, ParseError> Parser::parse_node() {
  if (shared_ != nullptr) {
    // Nested markup an earlier pass found not to parse is not read again:
    // the hole that met it reads on from its `<`.
    if (shared_->known_failure(pos)) return fail("markup does not parse", pos);
    return read_node();
  }
  return entered([this] { return read_node(); });
}

std::expected<std::vector<Child>, ParseError> Parser::parse_children() {
  return entered([this] { return read_children(); });
}

std::expected<std::optional<std::string>, ParseError> Parser::parse_hole() {
  return entered([this] { return read_hole(); });
}

std::expected<std::size_t, ParseError> Parser::find_hole_end() {
  return entered([this] { return hole_end(pos); });
}

// Nesting recurses through here, `read_children` and `read_hole` (holes
// through the walker too), so what else a tag needs is read by helpers of
// their own: the frames on the recursive path stay small.
std::expected<ast::Node, ParseError> Parser::read_node() {
  std::size_t start = pos;
  if (auto opened = expect("<", "`<`"); !opened) return std::unexpected(std::move(opened.error()));
  if (depth_ >= MAX_DEPTH) return fail("markup is nested too deeply", start);
  DepthGuard guard(depth_);
  pos = after_whitespace(src, pos);

  if (pos < src.size() && src[pos] == '>') {
    ++pos;
    auto children = read_children();
    if (!children) return std::unexpected(std::move(children.error()));
    pos = after_whitespace(src, pos + 2);  // the "</" the children stopped at
    if (auto closed = expect(">", "`>` to close fragment"); !closed) {
      return std::unexpected(std::move(closed.error()));
    }
    return ast::Node{ast::Fragment{std::move(*children), start, pos}};
  }

  auto name = parse_element_name();
  if (!name) return std::unexpected(std::move(name.error()));
  auto attributes = read_attributes();
  if (!attributes) return std::unexpected(std::move(attributes.error()));
  if (src.substr(pos).starts_with("/>")) {
    pos += 2;
    return ast::Node{ast::Element{std::move(*name), std::move(*attributes), {}, start, pos}};
  }
  if (pos >= src.size()) return fail("expected `>` or `/>`", src.size());
  ++pos;  // `>`
  auto children = read_children();
  if (!children) return std::unexpected(std::move(children.error()));
  if (auto closed = read_closing_tag(*name); !closed) return std::unexpected(std::move(closed.error()));
  return ast::Node{ast::Element{std::move(*name), std::move(*attributes), std::move(*children), start, pos}};
}

std::expected<std::vector<Attribute>, ParseError> Parser::read_attributes() {
  std::vector<Attribute> attributes;
  while (true) {
    pos = after_whitespace(src, pos);
    std::string_view rest = src.substr(pos);
    if (rest.empty() || rest.front() == '>' || rest.starts_with("/>")) return attributes;
    // Elements rarely have more than a few attributes or children: one
    // allocation for the first four instead of three.
    if (attributes.capacity() == 0) attributes.reserve(4);
    if (rest.front() == '{') {
      std::size_t open = pos;
      auto hole = read_hole();
      if (!hole) return std::unexpected(std::move(hole.error()));
      if (!*hole) return fail("this `{}` contains no value", open);
      attributes.push_back(Attribute{Attribute::Spread{std::move(**hole), open, pos}});
      continue;
    }
    auto attribute = read_named_attribute();
    if (!attribute) return std::unexpected(std::move(attribute.error()));
    attributes.push_back(std::move(*attribute));
  }
}

std::expected<Attribute, ParseError> Parser::read_named_attribute() {
  std::size_t attribute_start = pos;
  auto attribute_name = parse_identifier();
  if (!attribute_name) return std::unexpected(std::move(attribute_name.error()));
  std::size_t after_name = pos;
  pos = after_whitespace(src, pos);
  if (pos >= src.size() || src[pos] != '=') {
    pos = after_name;
    return Attribute{Attribute::Named{std::move(*attribute_name), AttributeValue{AttributeValue::Bare{}},
                                      attribute_start, after_name}};
  }
  pos = after_whitespace(src, pos + 1);

  AttributeValue value;
  char first = pos < src.size() ? src[pos] : '\0';
  if (pos < src.size() && (first == '"' || first == '\'')) {
    std::size_t quote = pos;
    ++pos;
    while (true) {
      if (pos >= src.size() || src[pos] == '\n') {
        return fail("unterminated attribute string", quote);
      }
      if (src[pos] == first) break;
      pos = src[pos] == '\\' && pos + 1 < src.size() ? character_end(src, pos + 1) : pos + 1;
    }
    ++pos;
    value.kind = AttributeValue::Literal{std::string(src.substr(quote, pos - quote))};
  } else if (pos < src.size() && first == '{') {
    std::size_t open = pos;
    auto hole = read_hole();
    if (!hole) return std::unexpected(std::move(hole.error()));
    if (!*hole) return fail("this `{}` contains no value", open);
    value.kind = AttributeValue::Expression{std::move(**hole)};
  } else {
    return fail("expected `{expression}` or a quoted string after `=`", pos);
  }
  return Attribute{Attribute::Named{std::move(*attribute_name), std::move(value), attribute_start, pos}};
}

std::expected<void, ParseError> Parser::read_closing_tag(const ElementName& name) {
  std::size_t closing_at = pos;
  pos = after_whitespace(src, pos + 2);  // "</"
  auto closing = parse_element_name();
  if (!closing) return std::unexpected(std::move(closing.error()));
  if (*closing != name) {
    return fail("closing </" + closing->as_written() + "> does not match opening <" + name.as_written() + ">",
                closing_at);
  }
  pos = after_whitespace(src, pos);
  return expect(">", "`>` to close tag");
}

std::expected<std::vector<Child>, ParseError> Parser::read_children() {
  std::vector<Child> children;
  auto add_child = [&children](Child child) {
    if (children.capacity() == 0) children.reserve(4);
    children.push_back(std::move(child));
  };
  while (true) {
    if (pos >= src.size()) return fail("unclosed element", src.size());
    std::string_view rest = src.substr(pos);

    if (rest.starts_with("<!--")) {
      auto comment = read_markup_comment();
      if (!comment) return std::unexpected(std::move(comment.error()));
      add_child(std::move(*comment));
      continue;
    }
    if (rest.starts_with("</")) return children;
    if (rest.front() == '<') {
      auto node = read_node();
      if (!node) return std::unexpected(std::move(node.error()));
      add_child(Child{std::move(*node)});
      continue;
    }
    if (rest.front() == '{') {
      std::size_t open = pos;
      auto hole = read_hole();
      if (!hole) return std::unexpected(std::move(hole.error()));
      if (*hole) {
        add_child(Child{Child::Expression{std::move(**hole), open, pos}});
      } else {
        std::string_view inner = whitespace::trim(src.substr(open + 1, pos - open - 2));
        add_child(Child{Child::Comment{std::string(inner), open, pos}});
      }
      continue;
    }
    if (auto text = read_text()) add_child(std::move(*text));
  }
}

std::expected<Child, ParseError> Parser::read_markup_comment() {
  std::size_t open = pos;
  std::size_t close = src.find("-->", pos + 4);
  if (close == std::string_view::npos) return fail("unterminated `<!--` comment", open);
  pos = close + 3;
  return Child{Child::Comment{comment_text(src.substr(open + 4, close - open - 4)), open, pos}};
}

std::optional<Child> Parser::read_text() {
  // A text run, up to the next unescaped `<` or `{`.
  std::size_t run_start = pos;
  std::string collected;
  while (pos < src.size()) {
    char c = src[pos];
    if (c == '<' || c == '{') break;
    if (c != '\\') {
      std::size_t plain = pos;
      while (pos < src.size() && src[pos] != '<' && src[pos] != '{' && src[pos] != '\\') ++pos;
      collected.append(src.substr(plain, pos - plain));
      continue;
    }
    if (pos + 1 >= src.size()) {  // a final backslash stays
      collected += '\\';
      ++pos;
      break;
    }
    char escaped = src[pos + 1];
    if (escaped == '{' || escaped == '}' || escaped == '\\' || escaped == '`') {
      collected += escaped;
      pos += 2;
    } else {
      std::size_t end = character_end(src, pos + 1);
      collected.append(src.substr(pos, end - pos));
      pos = end;
    }
  }
  std::string text = normalise_text(std::move(collected));
  if (text.empty()) return std::nullopt;
  return Child{Child::Text{std::move(text), run_start, pos}};
}

std::expected<std::optional<std::string>, ParseError> Parser::read_hole() {
  std::size_t open = pos;
  auto close = hole_end(open);
  if (!close) return std::unexpected(std::move(close.error()));
  pos = *close + 1;
  std::string_view inner = whitespace::trim(src.substr(open + 1, pos - open - 2));
  if (inner.empty()) return fail("this `{}` is empty", open);

  // Only comments and whitespace: the hole stands in for nothing. Lexed
  // without building a token list.
  lexer::Lexer tokens(inner);
  while (auto next = tokens.next_token()) {
    if (!*next || lexer::is_significant((*next)->kind)) return keeps_code_ ? std::string(inner) : std::string();
  }
  return std::nullopt;
}

std::expected<std::size_t, ParseError> Parser::hole_end(std::size_t open) {
  if (!shared_->walk_holes) return scanned_hole_end(open, open + 1, 1);
  // Most holes hold no `<`, and there the brace scan reads what the walk
  // would read, faster. It gives up at the first `<`, so a hole's inside is
  // scanned once however deeply holes nest.
  lexer::Lexer lexer(src);
  lexer.pos = open + 1;
  auto scanned = lexer.scan_balanced_braces_unless_markup(open);
  if (!scanned) return fail(std::move(scanned.error().message), scanned.error().offset);
  if (*scanned) return lexer.pos - 1;
  return walked_hole_end(open);
}

std::expected<std::size_t, ParseError> Parser::walked_hole_end(std::size_t open) {
  walk::Walker walker(src, open + 1, *this);
  std::size_t braces = 1;
  // Events cover the text without gaps, so markup that fails to parse
  // starts where the last event ended.
  std::size_t walked = open + 1;
  while (auto event = walker.next()) {
    if (!*event) {
      if (const auto* lexed = std::get_if<lexer::LexError>(&event->error())) {
        return fail(lexed->message, lexed->offset);
      }
      if (shared_->aborted) return std::unexpected(std::get<ParseError>(std::move(event->error())));
      if (!shared_->known_failure(walked)) {
        shared_->failed.push_back(walked);
        shared_->aborted = true;
        return std::unexpected(std::get<ParseError>(std::move(event->error())));
      }
      // Read on as the brace scan reads, so that broken markup delimits the
      // hole as it always did and gives its own error when the hole's code
      // is compiled.
      return scanned_hole_end(open, walked, braces);
    }
    if (const auto* markup = std::get_if<walk::Markup>(&**event)) {
      walked = markup->end;
      continue;
    }
    const auto& token = std::get<lexer::Token>(**event);
    walked = token.end;
    if (token.kind != lexer::TokenKind::Symbol || token.end != token.start + 1) continue;
    if (src[token.start] == '{') {
      ++braces;
    } else if (src[token.start] == '}' && --braces == 0) {
      return token.start;
    }
  }
  return fail("unterminated interpolation", open);
}

std::expected<std::size_t, ParseError> Parser::scanned_hole_end(std::size_t open, std::size_t from,
                                                                std::size_t braces) const {
  lexer::Lexer lexer(src);
  lexer.pos = from;
  // Each scan ends at the brace balancing one that is open.
  for (; braces > 0; --braces) {
    if (auto balanced = lexer.scan_balanced_braces(open); !balanced) {
      return fail(std::move(balanced.error().message), balanced.error().offset);
    }
  }
  return lexer.pos - 1;
}

std::expected<std::string, ParseError> Parser::parse_identifier() {
  std::size_t start = pos;
  if (pos >= src.size() || !is_identifier_start(src[pos])) {
    return fail("expected an element or attribute name", pos);
  }
  ++pos;
  while (pos < src.size() && is_identifier_char(src[pos])) ++pos;
  return std::string(src.substr(start, pos - start));
}

std::expected<ElementName, ParseError> Parser::parse_element_name() {
  auto first = parse_identifier();
  if (!first) return std::unexpected(std::move(first.error()));
  if (pos >= src.size() || src[pos] != '.') return ElementName{ElementName::Simple{std::move(*first)}};
  std::vector<std::string> parts;
  parts.push_back(std::move(*first));
  while (pos < src.size() && src[pos] == '.') {
    ++pos;
    auto part = parse_identifier();
    if (!part) return std::unexpected(std::move(part.error()));
    parts.push_back(std::move(*part));
  }
  return ElementName{ElementName::Dotted{std::move(parts)}};
}

std::expected<void, ParseError> Parser::expect(std::string_view literal, std::string_view description) {
  if (pos > src.size() || !src.substr(pos).starts_with(literal)) {
    return fail("expected " + std::string(description), pos);
  }
  pos += literal.size();
  return {};
}

}  // namespace tovix::markup::parser
