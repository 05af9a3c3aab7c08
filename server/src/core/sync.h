#pragma once

// Keeping the editor's documents: open, change, save and close, and changes
// of watched files. Every change of a text ends in a compile, a publish of
// its diagnostics and, while a child runs, the generated text handed to it.

#include <nlohmann/json.hpp>

#include "workspace/protocol.h"

namespace tovix_lsp::server {
class Server;
}

namespace tovix_lsp::sync {

void did_open(server::Server& server, protocol::TextDocumentItem params);
void did_change(server::Server& server, protocol::DidChangeTextDocumentParams params);
void did_save(server::Server& server, protocol::TextDocumentIdentifier params);
void did_close(server::Server& server, protocol::TextDocumentIdentifier params);
// Forgets every cached project, then recompiles every open document.
void watched_files_changed(server::Server& server, nlohmann::json params);

}  // namespace tovix_lsp::sync
