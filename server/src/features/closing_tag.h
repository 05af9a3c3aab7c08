#pragma once

// The answer to `tovix/closingTag`: which element a just-typed `>` opened.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "workspace/snapshot.h"

namespace tovix_lsp::closing_tag {

// The name of the element to close when a `>` has just been typed before
// `offset`: the innermost element open there, unless its closing tag already
// follows (after whitespace). Empty for a fragment. None when the `>` ends a
// self-closing or closing tag, when the cursor is not in children, or when
// `offset` is 0, past the end or inside a character. `snapshot` is used
// only when it was taken of `text` (see `snapshot::of`).
[[nodiscard]] std::optional<std::string> closing_tag(std::string_view text, std::size_t offset,
                                                     const snapshot::Snapshot* snapshot = nullptr);

}  // namespace tovix_lsp::closing_tag
