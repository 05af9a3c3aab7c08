#pragma once

// Checks on the expression children of markup (the `{…}` holes between an
// element's tags). Neither check can fail: text that does not lex or parse
// simply gives no finding.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "tovix/backend/backend.h"
#include "tovix/compile/records.h"

namespace tovix::luau::ast {
struct Expr;
}

namespace tovix::lint {

// Whether some markup site, a (start, end) span into `expression`, lies
// outside every function body of the expression: such markup is built once
// with its parent, so a condition around it never re-runs. Sites come in
// ascending order, as `tovix_spans` gives them; only the Luau around them is
// lexed. No sites, or Luau that does not lex, answers no.
[[nodiscard]] bool has_unwrapped_tovix(std::string_view expression,
                                       std::span<const std::pair<std::size_t, std::size_t>> sites);

// The warning for such a child: `start` is the offset of the hole's "{" and
// `len` the byte length of the trimmed expression; the span adds the braces.
[[nodiscard]] compile::Warning static_conditional_child(std::size_t start, std::size_t len);

// The error for a child expression holding "x and nil", the first half of
// the "c and nil or d" idiom, which always yields its right-hand side.
// `expression` is Luau (markup already compiled); the span is as above.
[[nodiscard]] std::optional<backend::EmitError> check_conditional_child(std::string_view expression, std::size_t start,
                                                                        std::size_t len);

// Whether the expression, looked at through parentheses and binary operators
// only, holds an "and" whose right operand is the literal nil. Calls, tables,
// "if" expressions and unary operators are not looked into.
[[nodiscard]] bool has_nil_and_operand(const luau::ast::Expr& expression);

}  // namespace tovix::lint
