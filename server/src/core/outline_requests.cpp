#include "core/outline_requests.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/requests.h"
#include "features/code_actions.h"
#include "features/rename.h"
#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "workspace/project.h"
#include "workspace/protocol.h"

namespace tovix_lsp::outline_requests {

namespace {

using json = nlohmann::json;

// The open document and the byte offset a position request is about, with
// the configuration of its project (the defaults for a document that is no
// file).
struct Located {
  const open_documents::OpenDocument* open;
  const document::Document* document;
  const snapshot::Snapshot* snapshot;
  std::size_t offset;
  tovix::config::Config config;
};
std::optional<Located> locate(server::Server& server, const json& params) {
  auto at = server.locate(params);
  if (!at) return std::nullopt;
  const open_documents::OpenDocument* open = server.documents.get(at->first);
  const auto path = project::uri_to_path(at->first);
  return Located{open, &open->document, open->snapshot.get(), at->second,
                 path ? server.projects.for_file(*path).config : tovix::config::Config{}};
}

// The request asked of the child about a component's name: at its opening
// name, which the generated call copies. None when the document's compile
// has no such call, as luau-lsp would then rename the function alone.
std::optional<json> at_the_call(const Located& at, const rename::Component& component, json params) {
  if (!requests::generated_call(*at.open, component.open)) return std::nullopt;
  params["position"] = at.document->position_at(component.at);
  return params;
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
  rename::Answer answer =
      rename::rename(*located->document, located->config, located->offset, name, located->snapshot);
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  if (std::holds_alternative<rename::Forward>(answer))
    return server::Forward{"textDocument/rename", std::move(params), std::nullopt, true};
  if (auto* component = std::get_if<rename::Component>(&answer)) {
    auto asked = at_the_call(*located, *component, std::move(params));
    if (!asked) return json(nullptr);
    return server::Forward{"textDocument/rename", std::move(*asked), std::nullopt, true};
  }
  return json(nullptr);
}

server::Reply prepare_rename(server::Server& server, const json&, json params) {
  const auto located = locate(server, params);
  if (!located) return json(nullptr);
  rename::Answer answer = rename::prepare(*located->document, located->config, located->offset, located->snapshot);
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  // Only the child renames Luau bindings: without it, a range would start a
  // rename that then changes nothing.
  if (std::holds_alternative<rename::Null>(answer) || !server.child_ready) return json(nullptr);
  json cursor = params["position"];
  std::optional<json> local;
  if (auto* forward = std::get_if<rename::Forward>(&answer)) {
    local = std::move(forward->local);
  } else {
    auto& component = std::get<rename::Component>(answer);
    auto asked = at_the_call(*located, component, std::move(params));
    if (!asked) return json(nullptr);
    params = std::move(*asked);
    local = std::move(component.local);
  }
  server::Forward forward{"textDocument/prepareRename", std::move(params), std::move(local), false};
  forward.cursor = std::move(cursor);
  return forward;
}

void join_closing_names(server::Server& server, json& edit) {
  auto join = [&](const json& uri, json& edits) {
    if (!uri.is_string()) return;
    const open_documents::OpenDocument* open = server.documents.get(uri.get_ref<const std::string&>());
    if (open != nullptr) rename::join_closing_names(open->document, edits, open->snapshot.get());
  };
  if (json* changes = edit.is_object() && edit.contains("changes") ? &edit["changes"] : nullptr;
      changes && changes->is_object()) {
    for (auto& [uri, edits] : changes->items()) join(json(uri), edits);
  }
  if (json* changes = edit.is_object() && edit.contains("documentChanges") ? &edit["documentChanges"] : nullptr;
      changes && changes->is_array()) {
    for (json& change : *changes) {
      const json* document = protocol::member(change, "textDocument");
      const json* uri = document ? protocol::member(*document, "uri") : nullptr;
      if (uri && change.contains("edits")) join(*uri, change["edits"]);
    }
  }
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
