#include "core/outline_requests.h"

#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "workspace/project.h"
#include "workspace/protocol.h"

namespace tovix_lsp::outline_requests {

namespace {

using json = nlohmann::json;

// The open document under the string at "/textDocument/uri".
const open_documents::OpenDocument* document_of(const server::Server& server, const json& params) {
  auto uri = protocol::string_at(params, "/textDocument/uri");
  return uri ? server.documents.get(*uri) : nullptr;
}

}  // namespace

server::Reply document_symbol(server::Server& server, const json&, json params) {
  const open_documents::OpenDocument* open = document_of(server, params);
  if (open == nullptr) return json(nullptr);
  return server::Serialized{symbols::serialized(open->document, open->snapshot.get())};
}

server::Reply semantic_tokens(server::Server& server, const json&, json params) {
  auto uri = protocol::string_at(params, "/textDocument/uri");
  if (!uri) return json(nullptr);
  auto path = project::uri_to_path(*uri);
  if (!path) return json(nullptr);
  const open_documents::OpenDocument* open = server.documents.get(*uri);
  if (open == nullptr) return json(nullptr);
  return semantic_tokens::tokens(open->document, server.projects.for_file(*path), open->snapshot.get());
}

}  // namespace tovix_lsp::outline_requests
