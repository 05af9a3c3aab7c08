#pragma once

// Where a name used as a component is declared in the Luau part of a text,
// for go to definition and hover. Read from the tokens alone (markup
// blanked first), with no notion of scope.

#include <optional>
#include <span>
#include <string_view>

#include "workspace/line_index.h"
#include "workspace/regions.h"

namespace tovix_lsp::bindings {

// The byte range of the first declaration of `name`: "local name",
// "local function name", "function name", or a later name of a
// "local a, b, name" list. Parameters, loop variables and plain assignments
// do not count. None when the blanked text does not lex, or when there is no
// such declaration.
[[nodiscard]] std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name);

// The same with the markup regions of `text` found before
// (`regions::regions` of this same text).
[[nodiscard]] std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name,
                                                        std::span<const regions::Region> regions);

}  // namespace tovix_lsp::bindings
