#include "core/code_action_requests.h"

#include <utility>
#include <vector>

#include "features/code_actions.h"
#include "workspace/protocol.h"

namespace tovix_lsp::code_action_requests {

using json = nlohmann::json;

server::Reply code_action(server::Server& server, const json&, json params) {
  auto uri = protocol::string_at(params, "/textDocument/uri");
  if (!uri) return json(nullptr);
  std::vector<json> diagnostics;
  if (const json* context = protocol::member(params, "context"))
    if (const json* list = protocol::member(*context, "diagnostics")) diagnostics = code_actions::ours(*list);
  const open_documents::OpenDocument* open = server.documents.get(*uri);
  json local = code_actions::actions(*uri, diagnostics, open != nullptr ? &open->document : nullptr,
                                     open != nullptr ? open->snapshot.get() : nullptr);
  return server::AskChild{"textDocument/codeAction", std::move(params), std::move(local), false};
}

}  // namespace tovix_lsp::code_action_requests
