// The parser's token cursor cuts the common tokens itself: it must agree with
// the lexer on every significant token, wherever the lexer succeeds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/luau/cursor.h"

namespace {

using namespace tovix::luau;

std::string cursor_tokens(std::string_view text) {
  arena::Arena arena;
  std::vector<parser::ParseError> errors;
  cursor::Cursor c(text, arena, errors);
  std::string out;
  while (!c.at(cursor::Tok::Eof)) {
    out += std::to_string(c.current().start) + "-" + std::to_string(c.current().end) + " ";
    c.advance();
  }
  return out;
}

// The lexer's significant tokens, or nothing when it fails.
std::optional<std::string> lexer_tokens(std::string_view text) {
  auto tokens = tovix::lexer::tokenize(text);
  if (!tokens) return std::nullopt;
  std::string out;
  for (const auto& token : *tokens) {
    if (!tovix::lexer::is_significant(token.kind)) continue;
    out += std::to_string(token.start) + "-" + std::to_string(token.end) + " ";
  }
  return out;
}

void check_agrees(std::string_view text) {
  if (auto expected = lexer_tokens(text)) {
    EXPECT_EQ(cursor_tokens(text), *expected) << text;
  }
}

TEST(LuauCursor, AgreesWithTheLexer) {
  const std::string_view cases[] = {
      "a.b:c(d) :: e",
      "a..b...c..=d",
      "x//y//=z/w/=v",
      "a<<b<=c<d>=e>f==g~=h~i",
      "a->b-=c-d--comment\ne",
      "--[[ long ]] x --[ not long\ny",
      "--[==[ a ]==] b",
      "t[1][[s]][=[t]=] [ =",
      ".5 + 1..2 .. 3",
      "a+=1 b*=2 c%=3 d^=4 e=5",
      "x = 'a' .. \"b\" .. `c{d}e`",
      "@native @[x] #t & | ? ; ,",
      "(\x80) {\xbf} \xc3\xa9 \x0b",
      "a\t\n\r\f b",
      "",
      "-",
      ".",
      "[",
      "[=",
      "--",
      "a\x80"
      "b",
  };
  for (std::string_view text : cases) check_agrees(text);
}

TEST(LuauCursor, AgreesWithTheLexerOnTokenSoup) {
  const std::string_view pieces[] = {".", "..", "-",    "--",       "[", "=", "[[", "]]", "<", "<<", ">",
                                     "~", ":",  "/",    "//",       "*", "+", "%",  "^",  "a", "1",  "'s'",
                                     " ", "\n", "\x80", "\xc3\xa9", "{", "}", "`",  "e",  "0x"};
  unsigned state = 7;
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = 0; i < 24; ++i) {
      state = state * 1103515245 + 12345;
      text += pieces[(state >> 16) % std::size(pieces)];
    }
    check_agrees(text);
  }
}

TEST(LuauCursor, AgreesWithTheLexerOnTheCorpus) {
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TOVIX_TEST_DATA) + "/luau")) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    check_agrees(text.str());
  }
}

}  // namespace
