#include "tovix/markup/walk.h"

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
  return markup((*token)->start);
}

std::optional<std::expected<Event, Failure>> Walker::markup(std::size_t start) {
  parser::Parser parser =
      outer_ != nullptr ? parser::Parser(lexer_.text, start, *outer_) : parser::Parser(lexer_.text, start, depth_);
  std::optional<std::expected<Event, Failure>> out;
  auto node = parser.parse_node();
  if (!node) {
    failed_ = true;
    out.emplace(std::unexpect, std::in_place_type<parser::ParseError>, std::move(node.error()));
    return out;
  }
  scanner_.resume(lexer_, parser.pos);
  out.emplace(std::in_place, std::in_place_type<Markup>,
              Markup{std::move(*node), start, parser.pos, scanner_.carried()});
  return out;
}

}  // namespace tovix::markup::walk
