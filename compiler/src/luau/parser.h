#pragma once

// The error-recovering Luau parser: text in, syntax tree plus errors out.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/luau/arena.h"
#include "tovix/luau/ast.h"

namespace tovix::luau::parser {

struct ParseError {
  std::string message;
  std::size_t offset = 0;  // byte offset into the source
};

// Nesting deeper than this (brackets, blocks, operator and suffix chains, type
// nesting) is reported as an error instead of recursing further, so neither the
// parser nor a walk over its tree can exhaust the stack.
inline constexpr int MAX_DEPTH = 1000;

// Interpolated strings nest at most this deep: each level lexes its holes
// again, so the bound keeps the work linear in the text.
inline constexpr int MAX_INTERPOLATION_NESTING = 32;

// At most this many errors are kept; parsing goes on past them regardless.
inline constexpr std::size_t MAX_ERRORS = 1000;

struct ParseResult {
  arena::Arena arena;  // owns every node below
  ast::StatBlock* root = nullptr;
  std::vector<ParseError> errors;  // in the order found
};

// Parses a whole Luau file. Never fails: broken code gives a tree holding
// whatever was recognised, and errors. The tree's texts view `source`, which
// must outlive the result. Texts of 4 GiB or more give an empty block and one
// error, since the tree stores 32-bit offsets.
[[nodiscard]] ParseResult parse(std::string_view source);

}  // namespace tovix::luau::parser
