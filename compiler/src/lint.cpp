#include "tovix/lint.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"

namespace tovix::lint {

namespace {

// Where a token starts and how many function bodies enclose it.
struct Mark {
  std::size_t start = 0;
  std::int64_t functions = 0;
};

const luau::ast::Expr* without_parentheses(const luau::ast::Expr* expression) {
  while (expression != nullptr) {
    const auto* group = expression->as<luau::ast::ExprGroup>();
    if (group == nullptr) break;
    expression = group->expr;
  }
  return expression;
}

}  // namespace

bool has_unwrapped_tovix(std::string_view expression, std::span<const std::pair<std::size_t, std::size_t>> sites) {
  if (sites.empty()) return false;

  // Keyword counting, not parsing: every "if", "do" and "function" opens a
  // level that an "end" closes, and a closed level takes any function count
  // above it along. Only the Luau around the sites is lexed: text inside
  // markup may hold anything (an apostrophe, "--").
  std::vector<Mark> marks;
  std::int64_t depth = 0;
  std::int64_t functions = 0;
  lexer::Lexer lexer(expression);
  std::size_t next_site = 0;
  while (true) {
    // Sites the lexer has reached are jumped over; it never moves back.
    while (next_site < sites.size() && sites[next_site].first <= lexer.pos) {
      lexer.pos = std::max(lexer.pos, std::min(sites[next_site].second, expression.size()));
      ++next_site;
    }
    auto next = lexer.next_token();
    if (!next) break;
    if (!*next) return false;
    const lexer::Token& token = **next;
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
    // The last token at or before the site's "<": the Luau just before it.
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

std::optional<backend::EmitError> check_conditional_child(std::string_view expression, std::size_t start,
                                                          std::size_t len) {
  std::string text = "local _ = ";
  text += expression;
  luau::parser::ParseResult parsed = luau::parser::parse(text);
  if (parsed.root == nullptr) return std::nullopt;
  for (const luau::ast::Stat* statement : parsed.root->body) {
    const auto* local = statement == nullptr ? nullptr : statement->as<luau::ast::StatLocal>();
    if (local == nullptr || local->values.empty()) continue;
    if (local->values[0] == nullptr || !has_nil_and_operand(*local->values[0])) return std::nullopt;
    return backend::EmitError{
        "`and nil or` always yields the right-hand side in Lua, so this condition has no effect",
        "write `if cond then ... else ...` instead",
        start,
        len + 2,
    };
  }
  return std::nullopt;
}

bool has_nil_and_operand(const luau::ast::Expr& expression) {
  const luau::ast::Expr* inner = without_parentheses(&expression);
  const auto* binary = inner == nullptr ? nullptr : inner->as<luau::ast::ExprBinary>();
  if (binary == nullptr) return false;
  if (binary->op == luau::ast::BinaryOp::And) {
    const luau::ast::Expr* right = without_parentheses(binary->right);
    if (right != nullptr && right->is<luau::ast::ExprNil>()) return true;
  }
  return (binary->left != nullptr && has_nil_and_operand(*binary->left)) ||
         (binary->right != nullptr && has_nil_and_operand(*binary->right));
}

}  // namespace tovix::lint
