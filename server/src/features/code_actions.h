#pragma once

// Quick fixes for misspelt element and attribute names. The replacements are
// not worked out here: the analysis puts them in each diagnostic's "data",
// and the editor sends the diagnostics back with the request.

#include <span>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::code_actions {

// Copies of the diagnostics whose "source" is the string "tovix", in their
// order. `diagnostics` is the request's context array; anything else (and
// any element that is not an object) gives nothing.
[[nodiscard]] std::vector<nlohmann::json> ours(const nlohmann::json& diagnostics);

// One "quickfix" CodeAction per string candidate of each diagnostic's
// "data", diagnostics and candidates in their order; the first candidate's
// actions are preferred. Diagnostics without usable data (a "range", an
// array of "candidates", kind "element" or "member") give none. The edits
// are for `uri`, the request's URI.
//
// `document` is the open document under that URI, when there is one: a fix
// of an element name then also replaces the name in its closing tag, found
// from the markup as it is now, so the two tags still match. Without it,
// or when the element cannot be found at the data's range, only the
// opening name is replaced. `snapshot` is used only when it was taken of
// the document's current text (see `snapshot::of`).
[[nodiscard]] nlohmann::json actions(std::string_view uri, std::span<const nlohmann::json> diagnostics,
                                     const document::Document* document, const snapshot::Snapshot* snapshot = nullptr);

}  // namespace tovix_lsp::code_actions
