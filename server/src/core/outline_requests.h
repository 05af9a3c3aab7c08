#pragma once

// The requests about a document's markup as a whole: the outline and the
// semantic tokens. Both are answered here, never forwarded.

#include <nlohmann/json.hpp>

#include "core/server.h"

namespace tovix_lsp::outline_requests {

// textDocument/documentSymbol: the markup's outline; null for a document
// that is not open. Never forwarded.
[[nodiscard]] server::Reply document_symbol(server::Server& server, const nlohmann::json& id, nlohmann::json params);

// textDocument/semanticTokens/full: the tag names coloured; null for a
// document that is not open or not a file. Never forwarded.
[[nodiscard]] server::Reply semantic_tokens(server::Server& server, const nlohmann::json& id, nlohmann::json params);

}  // namespace tovix_lsp::outline_requests
