#include "core/sync.h"

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
  if (open == nullptr || !open->document.change(params.version, changes)) {
    server.log(1, "lost track of an edit — reopen the file to resynchronise");
    return;
  }
  server.analyse(*open);
  server.sync_child(*open);
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
  if (server.child_ready && server.proxy)
    (void)server.proxy->notify("workspace/didChangeWatchedFiles", std::move(params));
}

}  // namespace tovix_lsp::sync
