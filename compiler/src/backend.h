#pragma once

// The code generators' side of the compiler. For now: the error record that
// generation and name resolution produce.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace tovix::backend {

// An error of generation or resolution: a short lower-case message without a
// final full stop, an optional hint on what to write instead, and the byte
// span of the source it points at (`len` 0 for a single place).
struct EmitError {
  std::string message;
  std::optional<std::string> help;
  std::size_t offset = 0;
  std::size_t len = 0;

  // The same error with `help` set, replacing any help it had.
  [[nodiscard]] EmitError with_help(std::string text) const& {
    EmitError copy = *this;
    copy.help = std::move(text);
    return copy;
  }
  [[nodiscard]] EmitError with_help(std::string text) && {
    help = std::move(text);
    return std::move(*this);
  }

  friend bool operator==(const EmitError&, const EmitError&) = default;
};

}  // namespace tovix::backend
