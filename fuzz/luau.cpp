// The Luau parser on arbitrary bytes: it must return a tree whose spans lie
// inside the text, errors that point into it, and never crash or hang. Where
// the lexer accepts the text, the parser's token cursor (which cuts common
// tokens itself) must give exactly the lexer's significant tokens.
//   tools/fuzz.sh luau 600

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/luau/ast.h"
#include "tovix/luau/cursor.h"
#include "tovix/luau/parser.h"
#include "tovix/luau/visitor.h"

namespace {

class Check : public tovix::luau::visitor::Visitor {
 public:
  explicit Check(std::size_t size) : size_(size) {}
  bool visit_node(const tovix::luau::ast::Node& node) override {
    if (node.span.start > node.span.end || node.span.end > size_) std::abort();
    return true;
  }

 private:
  std::size_t size_;
};

void check_tokens(std::string_view text) {
  auto tokens = tovix::lexer::tokenize(text);
  if (!tokens) return;
  tovix::luau::arena::Arena arena;
  std::vector<tovix::luau::parser::ParseError> errors;
  tovix::luau::cursor::Cursor cursor(text, arena, errors);
  for (const auto& token : *tokens) {
    if (!tovix::lexer::is_significant(token.kind)) continue;
    if (cursor.current().start != token.start || cursor.current().end != token.end) std::abort();
    cursor.advance();
  }
  if (!cursor.at(tovix::luau::cursor::Tok::Eof) || !errors.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto result = tovix::luau::parser::parse(text);
  if (result.root == nullptr || result.errors.size() > tovix::luau::parser::MAX_ERRORS) std::abort();
  for (const auto& error : result.errors) {
    if (error.offset > size || error.message.empty()) std::abort();
  }
  Check check(size);
  tovix::luau::visitor::walk(*result.root, check);
  check_tokens(text);
  return 0;
}
