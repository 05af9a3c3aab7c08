#pragma once

// Test fixtures with positions marked in the text instead of counted by
// hand: `^` is the cursor, each `$` one more marked offset, in order. The
// markers are removed; offsets are into the text without them.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovix_lsp::testing_support {

struct MarkedText {
  std::string text;
  std::optional<std::size_t> cursor;
  std::vector<std::size_t> marks;

  explicit MarkedText(std::string_view fixture) {
    for (const char c : fixture) {
      if (c == '^') {
        cursor = text.size();
      } else if (c == '$') {
        marks.push_back(text.size());
      } else {
        text += c;
      }
    }
  }

  // An offset as a fixture would mark it: "^" for the cursor, "$0", "$1"…
  // for the marks, else the number itself.
  [[nodiscard]] std::string name(std::size_t offset) const {
    if (cursor && offset == *cursor) return "^";
    for (std::size_t i = 0; i < marks.size(); ++i) {
      if (marks[i] == offset) return "$" + std::to_string(i);
    }
    return std::to_string(offset);
  }
};

}  // namespace tovix_lsp::testing_support
