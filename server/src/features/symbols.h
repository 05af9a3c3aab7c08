#pragma once

// The outline of a document: one symbol per markup element or fragment,
// nested as the markup nests (markup inside holes included). The Luau code
// of the file has no symbols here, and nothing is asked of luau-lsp.

#include <string>

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/snapshot.h"
#include "workspace/tree.h"

namespace tovix_lsp::symbols {

// The DocumentSymbol of every top-level element and fragment of the
// document, in text order; an empty array without markup. Markup after the
// first that does not parse is left out. `snapshot` is used only when it
// was taken of the document's current text (see `snapshot::of`).
[[nodiscard]] nlohmann::json symbols(const document::Document& document, const snapshot::Snapshot* snapshot = nullptr);

// `symbols` as compact JSON text, keys in ascending order, exactly as the
// value would serialise: written straight from the tag tree, which costs a
// fraction of building the value (hundreds of thousands of small objects in
// a large document) and then serialising it.
[[nodiscard]] std::string serialized(const document::Document& document, const snapshot::Snapshot* snapshot = nullptr);

// One tag's DocumentSymbol with its children's: name as written ("<>" for a
// fragment), kind 5 (class) or 19 (object) for a fragment, the whole
// element as range and its opening name as selection range (at least one
// byte wide, so a fragment selects the byte after its `<`), the quoted
// "Name" attribute as detail when there is one.
[[nodiscard]] nlohmann::json symbol(const document::Document& document, const tree::Tag& tag);

}  // namespace tovix_lsp::symbols
