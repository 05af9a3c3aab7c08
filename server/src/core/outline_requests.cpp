#include "core/outline_requests.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "features/code_actions.h"
#include "features/rename.h"
#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "workspace/protocol.h"

namespace tovix_lsp::outline_requests {

namespace {

using json = nlohmann::json;

// The open document and the byte offset a position request is about.
struct Located {
  const document::Document* document;
  const snapshot::Snapshot* snapshot;
  std::size_t offset;
};
std::optional<Located> locate(const server::Server& server, const json& params) {
  auto at = server.locate(params);
  if (!at) return std::nullopt;
  const open_documents::OpenDocument* open = server.documents.get(at->first);
  return Located{&open->document, open->snapshot.get(), at->second};
}

// The open document under the string at "/textDocument/uri".
const open_documents::OpenDocument* document_of(const server::Server& server, const json& params) {
  auto uri = protocol::string_at(params, "/textDocument/uri");
  return uri ? server.documents.get(*uri) : nullptr;
}

}  // namespace

server::Reply rename(server::Server& server, const json&, json params) {
  const auto located = locate(server, params);
  if (!located) return json(nullptr);
  const json* new_name = protocol::member(params, "newName");
  const std::string_view name = new_name != nullptr && new_name->is_string()
                                    ? std::string_view(new_name->get_ref<const std::string&>())
                                    : std::string_view();
  rename::Answer answer = rename::rename(*located->document, located->offset, name, located->snapshot);
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  if (std::holds_alternative<rename::Forward>(answer))
    return server::Forward{"textDocument/rename", std::move(params), std::nullopt, true};
  return json(nullptr);
}

server::Reply prepare_rename(server::Server& server, const json&, json params) {
  const auto located = locate(server, params);
  if (!located) return json(nullptr);
  rename::Answer answer = rename::prepare(*located->document, located->offset, located->snapshot);
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  if (auto* forward = std::get_if<rename::Forward>(&answer)) {
    // Only the child renames Luau code: without it, a range would start a
    // rename that then changes nothing.
    if (!server.child_ready) return json(nullptr);
    return server::Forward{"textDocument/prepareRename", std::move(params), std::move(forward->local), false};
  }
  return json(nullptr);
}

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

server::Reply code_action(server::Server& server, const json&, json params) {
  auto uri = protocol::string_at(params, "/textDocument/uri");
  if (!uri) return json(nullptr);
  std::vector<json> diagnostics;
  if (const json* context = protocol::member(params, "context"))
    if (const json* list = protocol::member(*context, "diagnostics")) diagnostics = code_actions::ours(*list);
  const open_documents::OpenDocument* open = server.documents.get(*uri);
  json local = code_actions::actions(*uri, diagnostics, open != nullptr ? &open->document : nullptr,
                                     open != nullptr ? open->snapshot.get() : nullptr);
  return server::Forward{"textDocument/codeAction", std::move(params), std::move(local), false};
}

}  // namespace tovix_lsp::outline_requests
