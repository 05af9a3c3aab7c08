#pragma once

// Semantic tokens of a document: the tag names of its markup coloured as
// classes (Roblox classes, configured aliases included) or functions
// (components: dotted names and names bound in the file). Nothing else gets
// a token, the Luau code included, and nothing is asked of luau-lsp.

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/project.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::semantic_tokens {

// {"data": [...]} for the legend the server announces (types "class" = 0,
// "function" = 1, no modifiers): five integers per token (line delta, start column delta
// on the same line or absolute column on a new one, length, type, no
// modifiers), columns and lengths in UTF-16 units, tokens sorted by start
// and never overlapping. Opening and closing names of one element get the
// same type. A name the configuration rejects, or that is neither a class
// nor bound anywhere in the file, gets no token; fragments never do.
// `snapshot` is used only when it was taken of the document's current
// text (see `snapshot::of`).
[[nodiscard]] nlohmann::json tokens(const document::Document& document, const project::Project& project,
                                    const snapshot::Snapshot* snapshot = nullptr);

}  // namespace tovix_lsp::semantic_tokens
