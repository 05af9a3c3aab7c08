#include "lint.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "lexer.h"

namespace tovix::lint {

namespace {

// Where a token starts and how many function bodies enclose it.
struct Mark {
  std::size_t start = 0;
  std::int64_t functions = 0;
};

}  // namespace

bool has_unwrapped_tovix(std::string_view expression,
                         std::span<const std::pair<std::size_t, std::size_t>> sites) {
  if (sites.empty()) return false;
  auto tokens = lexer::tokenize(expression);
  if (!tokens) return false;

  // Keyword counting, not parsing: every "if", "do" and "function" opens a
  // level that an "end" closes, and a closed level takes any function count
  // above it along.
  std::vector<Mark> marks;
  std::int64_t depth = 0;
  std::int64_t functions = 0;
  for (const lexer::Token& token : *tokens) {
    if (!lexer::is_significant(token.kind)) continue;
    std::string_view text = token.text(expression);
    if (text == "if" || text == "do") {
      ++depth;
    } else if (text == "function") {
      ++functions;
      ++depth;
    } else if (text == "end") {
      --depth;
      if (functions > depth) functions = depth < 1 ? 0 : depth;
    }
    marks.push_back({token.start, functions});
  }

  for (const auto& site : sites) {
    // The last token at or before the site's "<" (normally that "<" itself).
    auto after = std::upper_bound(marks.begin(), marks.end(), site.first,
                                  [](std::size_t offset, const Mark& mark) { return offset < mark.start; });
    if (after == marks.begin() || std::prev(after)->functions == 0) return true;
  }
  return false;
}

compile::Warning static_conditional_child(std::size_t start, std::size_t len) {
  return compile::Warning{
      "this child is built once, so a condition around it will not update the UI",
      "wrap it in a function so Vide tracks it: {function() return ... end}",
      start,
      len + 2,
  };
}

std::optional<backend::EmitError> check_conditional_child(std::string_view, std::size_t, std::size_t) {
  return std::nullopt;  // STUB: needs the Luau parser
}

bool has_nil_and_operand(const luau::ast::Expr&) {
  return false;  // STUB: needs the Luau parser
}

}  // namespace tovix::lint
