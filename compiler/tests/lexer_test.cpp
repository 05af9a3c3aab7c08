#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/lexer.h"

namespace tovix::lexer {
void PrintTo(const LexError& error, std::ostream* out) { *out << '"' << error.message << "\" at " << error.offset; }
}  // namespace tovix::lexer

namespace {

using tovix::lexer::find_matching_brace;
using tovix::lexer::Lexer;
using tovix::lexer::LexError;
using tovix::lexer::Token;
using tovix::lexer::TokenKind;
using tovix::lexer::tokenize;

// Tokens rendered as "Kind:text" so that a table row reads like the input.
std::string render(std::string_view source, const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& token : tokens) {
    static constexpr std::string_view NAMES[] = {"Name",   "Number",  "String",    "Interp",
                                                 "Symbol", "Comment", "Whitespace"};
    if (!out.empty()) out += ' ';
    out += NAMES[static_cast<int>(token.kind)];
    out += ':';
    out += token.text(source);
  }
  return out;
}

void check(std::string_view source, std::string_view expected) {
  SCOPED_TRACE(testing::Message() << "source: " << source);
  auto tokens = tokenize(source);
  ASSERT_TRUE(tokens.has_value()) << tokens.error().message << " at " << tokens.error().offset;
  EXPECT_EQ(render(source, *tokens), expected);
  // Every byte belongs to exactly one token.
  std::size_t at = 0;
  for (const Token& token : *tokens) {
    EXPECT_EQ(token.start, at);
    EXPECT_GT(token.end, token.start);
    at = token.end;
  }
  EXPECT_EQ(at, source.size());
}

TEST(Lexer, TokenKindValuesAreFixed) {
  EXPECT_EQ(static_cast<int>(TokenKind::Name), 0);
  EXPECT_EQ(static_cast<int>(TokenKind::Number), 1);
  EXPECT_EQ(static_cast<int>(TokenKind::String), 2);
  EXPECT_EQ(static_cast<int>(TokenKind::InterpolatedString), 3);
  EXPECT_EQ(static_cast<int>(TokenKind::Symbol), 4);
  EXPECT_EQ(static_cast<int>(TokenKind::Comment), 5);
  EXPECT_EQ(static_cast<int>(TokenKind::Whitespace), 6);
  EXPECT_TRUE(tovix::lexer::is_significant(TokenKind::Symbol));
  EXPECT_FALSE(tovix::lexer::is_significant(TokenKind::Comment));
}

TEST(Lexer, EmptyText) {
  Lexer lexer("");
  EXPECT_FALSE(lexer.next_token().has_value());
  auto tokens = tokenize("");
  ASSERT_TRUE(tokens.has_value());
  EXPECT_TRUE(tokens->empty());
}

TEST(Lexer, TokenBoundariesAndKinds) {
  struct Case {
    std::string_view source;
    std::string_view tokens;
  };
  const Case cases[] = {
      // operators
      {"a<=b", "Name:a Symbol:<= Name:b"},
      {"x<<y", "Name:x Symbol:<< Name:y"},
      {"a//=b", "Name:a Symbol://= Name:b"},
      {"a>>b", "Name:a Symbol:> Symbol:> Name:b"},
      {"...=..=", "Symbol:... Symbol:= Symbol:..="},
      {"::->~===", "Symbol::: Symbol:-> Symbol:~= Symbol:=="},
      {"a-b-=c", "Name:a Symbol:- Name:b Symbol:-= Name:c"},
      {"x//y/=z", "Name:x Symbol:// Name:y Symbol:/= Name:z"},
      {"<", "Symbol:<"},
      {"..", "Symbol:.."},
      // one whole character
      {"\xC3\xA9", "Symbol:\xC3\xA9"},
      {"\xE2\x82\xAC\xF0\x9F\x98\x80", "Symbol:\xE2\x82\xAC Symbol:\xF0\x9F\x98\x80"},
      {"\v", "Symbol:\v"},
      {std::string_view("a\0b", 3), std::string_view("Name:a Symbol:\0 Name:b", 22)},
      {"\xFF\x80x", "Symbol:\xFF\x80 Name:x"},
      {"(\x80\x80<\xBFx", "Symbol:(\x80\x80 Symbol:<\xBF Name:x"},
      // whitespace: five bytes, not vertical tab
      {" \t\r\n\f x", "Whitespace: \t\r\n\f  Name:x"},
      // names are ASCII
      {"_a1 caf\xC3\xA9", "Name:_a1 Whitespace:  Name:caf Symbol:\xC3\xA9"},
      // numbers
      {"0xZZ", "Number:0xZZ"},
      {"0b1_0", "Number:0b1_0"},
      {".5", "Number:.5"},
      {"1..2", "Number:1..2"},
      {"1e+e", "Number:1e+e"},
      {"1E-5+2", "Number:1E-5 Symbol:+ Number:2"},
      {"1abc", "Number:1 Name:abc"},
      {"..5", "Symbol:.. Number:5"},
      {"0x", "Number:0x"},
      // strings
      {"'a\\'b'", "String:'a\\'b'"},
      {"\"a\\\"\"x", "String:\"a\\\"\" Name:x"},
      {"'a\\\nb'", "String:'a\\\nb'"},
      {"'a\\z  \n  b'", "String:'a\\z  \n  b'"},
      {"'a\\\xC3\xA9'", "String:'a\\\xC3\xA9'"},
      {"'a\rb'", "String:'a\rb'"},
      {"'\"'", "String:'\"'"},
      // long brackets
      {"[[a]]", "String:[[a]]"},
      {"[==[ a ]=] b ]==]", "String:[==[ a ]=] b ]==]"},
      {"[=[]]]=]", "String:[=[]]]=]"},
      {"[=x", "Symbol:[ Symbol:= Name:x"},
      {"[=", "Symbol:[ Symbol:="},
      {"t[1]", "Name:t Symbol:[ Number:1 Symbol:]"},
      // comments
      {"--[[ c ]] x", "Comment:--[[ c ]] Whitespace:  Name:x"},
      {"--[==[ ]] ]==]x", "Comment:--[==[ ]] ]==] Name:x"},
      {"--[ c", "Comment:--[ c"},
      {"-- c\nx", "Comment:-- c Whitespace:\n Name:x"},
      {"--", "Comment:--"},
      {"--[=", "Comment:--[="},
      // interpolated strings
      {"`a{b}c`", "Interp:`a{b}c`"},
      {"`x{`y{z}`}w`", "Interp:`x{`y{z}`}w`"},
      {"`a\\{b`", "Interp:`a\\{b`"},
      {"`a\\`b`", "Interp:`a\\`b`"},
      {"`{ {1} }`", "Interp:`{ {1} }`"},
      {"`{'}'}`", "Interp:`{'}'}`"},
      {"`{--}\n}`", "Interp:`{--}\n}`"},
      {"`a\nb`", "Interp:`a\nb`"},
      {"`{[[}]]}`x", "Interp:`{[[}]]}` Name:x"},
  };
  for (const Case& c : cases) check(c.source, c.tokens);
}

TEST(Lexer, ErrorsReportTheirOffset) {
  struct Case {
    std::string_view source;
    std::string_view message;
    std::size_t offset;
  };
  const Case cases[] = {
      {"x = 'abc\n'", "unterminated string", 4},
      {"x = \"abc", "unterminated string", 4},
      {"'abc\\", "unterminated string", 0},
      {"ab [==[ x ]=]", "unterminated long bracket", 3},
      {"[[ x ]", "unterminated long bracket", 0},
      {"x --[[ c ]", "unterminated long bracket", 4},
      {"  `abc", "unterminated interpolated string", 2},
      {"`abc\\", "unterminated interpolated string", 0},
      {"`a{b", "unterminated interpolation", 0},
      {"`a{b}c{ `d{e}", "unterminated interpolated string", 8},
      {"`a{ `d{e", "unterminated interpolation", 4},
      {"`a{ 'x }`", "unterminated string", 4},
      {"`a{ [[ }`", "unterminated long bracket", 4},
      {"`a{ --[[ }`", "unterminated long bracket", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    auto tokens = tokenize(c.source);
    ASSERT_FALSE(tokens.has_value());
    EXPECT_EQ(tokens.error(), (LexError{std::string(c.message), c.offset}));
  }
}

TEST(Lexer, LongBracketErrorMovesToTheEnd) {
  Lexer lexer("x [==[ never closed");
  lexer.pos = 2;
  auto next = lexer.next_token();
  ASSERT_TRUE(next.has_value());
  ASSERT_FALSE(next->has_value());
  EXPECT_EQ(lexer.pos, lexer.text.size());
}

TEST(Lexer, CallersRepositionTheCursor) {
  std::string_view source = "a <b> c";
  Lexer lexer(source);
  ASSERT_EQ(**lexer.next_token(), (Token{0, 1, TokenKind::Name}));
  lexer.pos = 5;  // skip "<b>" without lexing it
  ASSERT_EQ(**lexer.next_token(), (Token{5, 6, TokenKind::Whitespace}));
  Lexer copy = lexer;
  ASSERT_EQ(**copy.next_token(), (Token{6, 7, TokenKind::Name}));
  EXPECT_EQ(lexer.pos, 6u);
  EXPECT_FALSE(copy.next_token().has_value());
}

TEST(Lexer, PeekSignificant) {
  Lexer lexer("  -- c\n --[[x]] x y");
  auto token = lexer.peek_significant();
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->text(lexer.text), "x");
  EXPECT_EQ(token->kind, TokenKind::Name);
  EXPECT_EQ(lexer.pos, 0u);

  EXPECT_FALSE(Lexer("  'abc").peek_significant().has_value());
  EXPECT_FALSE(Lexer("  -- only a comment").peek_significant().has_value());
}

TEST(Lexer, FindMatchingBrace) {
  struct Case {
    std::string_view source;
    std::size_t open;
    std::size_t close;
  };
  const Case cases[] = {
      {"{ \"}\" }", 0, 6},
      {"x{a{b}c}", 1, 7},
      {"{ '}' --}\n [[}]] `{}}` }", 0, 23},
      {"{ f(`a{ {} }`) }", 0, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    auto close = find_matching_brace(c.source, c.open);
    ASSERT_TRUE(close.has_value()) << close.error().message;
    EXPECT_EQ(*close, c.close);
  }
  EXPECT_EQ(find_matching_brace("ab{ {}", 2).error(), (LexError{"unterminated interpolation", 2}));
  EXPECT_EQ(find_matching_brace("{ 'a }", 0).error(), (LexError{"unterminated string", 2}));
  EXPECT_EQ(find_matching_brace("{", 5).error(), (LexError{"unterminated interpolation", 5}));
  EXPECT_EQ(find_matching_brace("{}", SIZE_MAX).error(), (LexError{"unterminated interpolation", SIZE_MAX}));
}

// The holes of an interpolated string token, each as the text between its
// braces; a nested string's holes stay inside the hole that holds it.
TEST(Lexer, InterpolationHoles) {
  struct Case {
    std::string_view source;  // one significant token, first
    std::vector<std::string_view> holes;
  };
  const Case cases[] = {
      {"`Clicks: {count()}`", {"count()"}},
      {"`{a} and {b}`", {"a", "b"}},
      {"`a {`b {x}`} c`", {"`b {x}`"}},
      {"`{ {1} } {'}'}`", {" {1} ", "'}'"}},
      {"`\\{not} {yes}`", {"yes"}},
      {"`\\`{x}`", {"x"}},
      {"`no holes`", {}},
      {"`{}`", {""}},
      {"'{a}'", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    const auto tokens = tokenize(c.source);
    ASSERT_TRUE(tokens.has_value());
    std::vector<std::string_view> got;
    for (const auto& hole : tovix::lexer::interpolation_holes(c.source, tokens->front()))
      got.push_back(c.source.substr(hole.start, hole.end - hole.start));
    EXPECT_EQ(got, c.holes);
  }
}

TEST(Lexer, ScanBalancedBracesLeavesPosAfterTheBrace) {
  Lexer lexer("{a}} rest");
  lexer.pos = 1;
  ASSERT_TRUE(lexer.scan_balanced_braces(0).has_value());
  EXPECT_EQ(lexer.pos, 3u);
}

// The brace scan for callers that walk tokens where the two could differ:
// it gives up at a `<` outside interpolated strings and at a comment right
// after `e` or `E`; elsewhere it is the plain brace scan. `marker` holds one
// `^` under where `pos` ends (closed, given up) or the error's offset.
TEST(Lexer, ScanBalancedBracesUnlessMarkup) {
  struct Case {
    std::string_view source;  // a `{` at offset 0, scanned from offset 1
    std::string_view marker;
    std::string_view outcome;  // "closed", "gave up" or the error message
  };
  const Case cases[] = {
      {"{ a.b(1) } x", "          ^", "closed"},
      {"{ '<' \"<\" }", "           ^", "closed"},
      {"{ --<\n }", "        ^", "closed"},
      {"{ [[<]] --[=[<]=] }", "                   ^", "closed"},
      {"{ `{<A/>}` }", "            ^", "closed"},
      {"{ 1 --c\n }", "          ^", "closed"},
      {"{ a < b }", "    ^", "gave up"},
      {"{ {x}, <A/> }", "       ^", "gave up"},
      {"{ a << b }", "    ^", "gave up"},
      {"{ 1e--x\n }", "    ^", "gave up"},
      {"{ 1E--x\n }", "    ^", "gave up"},
      {"{ a < 'x", "    ^", "gave up"},
      {"{ 'x <A/> }", "  ^", "unterminated string"},
      {"{ [[ <A/> }", "  ^", "unterminated long bracket"},
      {"{ `<A/> }", "  ^", "unterminated interpolated string"},
      {"{ a", "^", "unterminated interpolation"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "source: " << c.source);
    Lexer lexer(c.source);
    lexer.pos = 1;
    auto scanned = lexer.scan_balanced_braces_unless_markup(0);
    const std::size_t at = c.marker.find('^');
    if (!scanned) {
      EXPECT_EQ(scanned.error(), (LexError{std::string(c.outcome), at}));
      continue;
    }
    EXPECT_EQ(*scanned ? "closed" : "gave up", c.outcome);
    EXPECT_EQ(lexer.pos, at);
  }
}

TEST(Lexer, ScanBalancedBracesUnlessMarkupIsThePlainScanWhenItCloses) {
  for (std::string_view source : {"{ \"}\" }", "{a{b}c}", "{ '}' --}\n [[}]] `{}}` }", "{ f(`a{ <A/> }`) }"}) {
    SCOPED_TRACE(testing::Message() << "source: " << source);
    Lexer plain(source);
    plain.pos = 1;
    ASSERT_TRUE(plain.scan_balanced_braces(0).has_value());
    Lexer unless(source);
    unless.pos = 1;
    auto scanned = unless.scan_balanced_braces_unless_markup(0);
    ASSERT_TRUE(scanned.has_value());
    EXPECT_TRUE(*scanned);
    EXPECT_EQ(unless.pos, plain.pos);
  }
}

TEST(Lexer, DeepNestingDoesNotExhaustTheStack) {
  // A hundred thousand nested interpolated strings, closed and unclosed.
  std::string open, close;
  for (int i = 0; i < 100000; ++i) {
    open += "`{";
    close += "}`";
  }
  auto whole = tokenize(open + close);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->size(), 1u);
  auto unclosed = tokenize(open);
  ASSERT_FALSE(unclosed.has_value());
  EXPECT_EQ(unclosed.error(), (LexError{"unterminated interpolation", open.size() - 2}));
}

}  // namespace
