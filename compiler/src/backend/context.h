#pragma once

// The state that the compile pipeline and a code generator share for one
// compile of one text: its line starts, the file's resolver, the resolution
// errors recorded without stopping, and which runtime helpers the output needs.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/backend/backend.h"
#include "tovix/markup/ast.h"
#include "tovix/resolve.h"

namespace tovix::backend::context {

struct EmitContext {
  // 0, then the offset just after each line feed, ascending.
  std::vector<std::size_t> line_starts;
  std::string_view source;
  const resolve::Resolver& resolver;
  // Resolution errors, in the order recorded; the pipeline moves them out.
  std::vector<EmitError> errors;
  // Raised (never lowered) while generating: the output calls the factory,
  // `__tovix_read`, `__tovix_merge`.
  bool uses_factory = false;
  bool needs_read = false;
  bool needs_merge = false;

  // `text` and `resolver` must outlive the context.
  EmitContext(std::string_view text, const resolve::Resolver& resolver);

  // What the element name stands for. A name that does not resolve has its
  // error recorded and comes back `Unresolved` with the name as written, so
  // that generation goes on.
  [[nodiscard]] resolve::Resolution resolve(const markup::ast::ElementName& name, std::size_t start);

  // The member name to emit for an attribute of a class element; on failure
  // the error is recorded and the attribute name comes back unchanged.
  [[nodiscard]] std::string resolve_attribute(std::string_view class_name, std::string_view attribute,
                                              std::size_t start);

  // The index of the line holding `offset`: the greatest line start at or
  // before it (an offset past the end belongs to the last line).
  [[nodiscard]] std::size_t line_of(std::size_t offset) const;

  // Whether `offset` lies on a line below `line`: the writer's question,
  // answered without a search when the offset is on that line or above.
  [[nodiscard]] bool is_below(std::size_t offset, std::size_t line) const {
    return line + 1 < line_starts.size() && offset >= line_starts[line + 1];
  }

  // The leading Unicode whitespace of a line, never including its line feed.
  // An index past the last line gives an empty text.
  [[nodiscard]] std::string_view indent_of(std::size_t line) const;

  // The configured factory expression generated code calls for a class.
  [[nodiscard]] std::string_view factory() const;
};

}  // namespace tovix::backend::context
