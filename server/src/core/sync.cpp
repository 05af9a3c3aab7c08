#include "core/sync.h"

#include <cstdint>
#include <utility>

#include "core/server.h"

namespace tovix_lsp::sync {

using json = nlohmann::json;

void did_open(server::Server& server, protocol::TextDocumentItem params) {
  auto& open = server.documents.open(std::move(params.uri), std::move(params.text), params.version);
  server.recompile(open);
}

void did_change(server::Server& server, protocol::DidChangeTextDocumentParams params) {
  auto* open = server.documents.get(params.uri);
  const auto& changes = params.changes.get_ref<const json::array_t&>();
  if (open == nullptr || !open->document.change(params.version, changes))
    server.log(1, "lost track of an edit — reopen the file to resynchronise");
  if (open == nullptr) return;
  // The changes that did apply changed the text: its diagnostics follow it.
  // A burst of edits arrives here folded into one notification, so the text
  // is analysed and handed to the child once per burst.
  server.analyse(*open);
}

void did_save(server::Server& server, protocol::TextDocumentIdentifier params) {
  if (auto* open = server.documents.get(params.uri)) server.recompile(*open);
}

void did_close(server::Server& server, protocol::TextDocumentIdentifier params) {
  if (auto* open = server.documents.get(params.uri)) {
    server.close_in_child(*open);
    server.documents.close(params.uri);
  }
  server.send(jsonrpc::build::notification("textDocument/publishDiagnostics",
                                           {{"diagnostics", json::array()}, {"uri", params.uri}}));
}

void watched_files_changed(server::Server& server, json params) {
  server.projects.clear();
  for (const std::string& uri : server.documents.uris()) server.recompile(*server.documents.get(uri));
  // A child that is still starting reads the files itself when it is ready.
  server.child.notify("workspace/didChangeWatchedFiles", std::move(params));
}

void watch_settings_files(server::Server& server) {
  static const json::json_pointer DYNAMIC("/capabilities/workspace/didChangeWatchedFiles/dynamicRegistration");
  const json& params = server.init_params;
  if (server.settings_watch_asked || !params.is_object() || !params.contains(DYNAMIC) || params.at(DYNAMIC) != true)
    return;
  server.settings_watch_asked = true;
  const std::int64_t id = server.next_id++;
  server.registrations.insert(id);
  // An id of our own: an editor keeps its watchers by id, and luau-lsp's
  // registrations, relayed, must not replace this one or be replaced by it.
  const json registration = {
      {"id", SETTINGS_WATCH_ID},
      {"method", "workspace/didChangeWatchedFiles"},
      {"registerOptions", {{"watchers", {{{"globPattern", "**/tovix.toml"}}}}}},
  };
  server.send(jsonrpc::build::request(id, "client/registerCapability", {{"registrations", {registration}}}));
}

std::optional<std::string_view> changed_document(const json& message) {
  if (!message.is_object() || message.contains("id")) return std::nullopt;
  const auto method = message.find("method");
  if (method == message.end() || *method != "textDocument/didChange") return std::nullopt;
  const json* params = protocol::member(message, "params");
  const json* document = params ? protocol::member(*params, "textDocument") : nullptr;
  const json* uri = document ? protocol::member(*document, "uri") : nullptr;
  if (uri == nullptr || !uri->is_string()) return std::nullopt;
  return std::string_view(uri->get_ref<const std::string&>());
}

void fold_change(json& into, json&& later) {
  json& params = into["params"];
  json& changes = params["contentChanges"];
  if (!changes.is_array()) changes = json::array();
  json& more = later["params"]["contentChanges"];
  if (more.is_array())
    for (json& change : more) changes.push_back(std::move(change));
  params["textDocument"] = std::move(later["params"]["textDocument"]);
}

}  // namespace tovix_lsp::sync
