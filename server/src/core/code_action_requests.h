#pragma once

// textDocument/codeAction: the quick fixes of the server's own diagnostics
// go before the child's actions.

#include <nlohmann/json.hpp>

#include "core/server.h"

namespace tovix_lsp::code_action_requests {

// The quick fixes of the server's own diagnostics in the context, put
// before the child's actions. Null without a URI.
[[nodiscard]] server::Reply code_action(server::Server& server, const nlohmann::json& id, nlohmann::json params);

}  // namespace tovix_lsp::code_action_requests
