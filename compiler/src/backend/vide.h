#pragma once

// The code generator for the Vide UI library. A Roblox class element becomes
// a call of the configured factory with the class name whose result is called
// with a props table; a component is called with its props table; children are
// entries of the same table; a fragment is a plain table. Spreads are merged
// with `__tovix_merge` and reactive text is read with `__tovix_read`.
//
//   <TextLabel Size={s} {p}>Hello {name}</TextLabel>
//   create("TextLabel")(__tovix_merge({ Size = s }, p,
//       { Text = function() return `Hello {__tovix_read(name)}` end }))
//
// (on one line in the real output). Code nested in holes must already be
// compiled: it is copied as the tree holds it.

#include <expected>
#include <string>
#include <string_view>

#include "tovix/backend/backend.h"
#include "tovix/backend/context.h"
#include "tovix/markup/ast.h"

namespace tovix::backend::vide {

class Vide final : public Backend {
 public:
  // "vide".
  [[nodiscard]] std::string_view name() const override;

  // The Luau of one markup expression, starting on the source line of its
  // `<`. Fails only on text content that has nowhere to go (a class without a
  // Text property, a component, or text that could be a child).
  [[nodiscard]] std::expected<std::string, EmitError> emit(const markup::ast::Node& node,
                                                           context::EmitContext& context) const override;
};

}  // namespace tovix::backend::vide
