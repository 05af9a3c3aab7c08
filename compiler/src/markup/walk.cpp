#include "markup/walk.h"

namespace tovix::markup::walk {

std::optional<std::expected<Event, Failure>> Walker::next() {
  if (failed_) return std::nullopt;
  auto token = lexer_.next_token();
  if (!token) return std::nullopt;
  if (!*token) {
    failed_ = true;
    return std::unexpected(Failure{std::move(token->error())});
  }
  if (!scanner_.feed(**token, lexer_)) return Event{**token};

  std::size_t start = (*token)->start;
  parser::Parser parser = outer_ != nullptr ? parser::Parser(lexer_.text, start, *outer_)
                                            : parser::Parser(lexer_.text, start, depth_);
  auto node = parser.parse_node();
  if (!node) {
    failed_ = true;
    return std::unexpected(Failure{std::move(node.error())});
  }
  scanner_.resume(lexer_, parser.pos);
  return Event{Markup{std::move(*node), start, parser.pos}};
}

}  // namespace tovix::markup::walk
