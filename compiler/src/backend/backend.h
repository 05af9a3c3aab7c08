#pragma once

// The code generators' side of the compiler: the interface a generator
// implements and the error record that generation and name resolution
// produce. The one implementation is `vide::Vide` (backend/vide.h).

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tovix::markup::ast {
struct Node;
}

namespace tovix::backend {

namespace context {
struct EmitContext;
}

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

// A code generator: turns one parsed markup expression into Luau text whose
// pieces stand on the source lines of the markup they come from. The text
// replaces the markup, starting where its `<` stood. Implementations keep no
// state between calls; resolution errors go to the context and do not stop
// generation, an error returned ends the markup expression.
class Backend {
 public:
  virtual ~Backend() = default;

  // A static text naming the generator.
  [[nodiscard]] virtual std::string_view name() const = 0;

  [[nodiscard]] virtual std::expected<std::string, EmitError> emit(const markup::ast::Node& node,
                                                                   context::EmitContext& context) const = 0;
};

}  // namespace tovix::backend
