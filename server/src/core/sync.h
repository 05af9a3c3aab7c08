#pragma once

// Keeping the editor's documents: open, change, save and close, and changes
// of watched files. Every change of a text ends in a compile, a publish of
// its diagnostics and, while a child runs, the generated text handed to it.

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "workspace/protocol.h"

namespace tovix_lsp::server {
class Server;
}

namespace tovix_lsp::sync {

// The id under which the server's own watcher of `tovix.toml` files is
// registered with the editor.
inline constexpr char SETTINGS_WATCH_ID[] = "tovix-lsp/tovix.toml";

void did_open(server::Server& server, protocol::TextDocumentItem params);
void did_change(server::Server& server, protocol::DidChangeTextDocumentParams params);
void did_save(server::Server& server, protocol::TextDocumentIdentifier params);
void did_close(server::Server& server, protocol::TextDocumentIdentifier params);
// Forgets every cached project, then recompiles every open document.
void watched_files_changed(server::Server& server, nlohmann::json params);
// Asks the editor, once and when it says it can be asked, to tell of every
// change of a `tovix.toml`: only luau-lsp's own files are watched otherwise.
void watch_settings_files(server::Server& server);

// Bursts of edits, on raw messages before they are dispatched.
// The URI of the document that `message` changes, when it is a
// "textDocument/didChange" notification naming one; a view into `message`.
[[nodiscard]] std::optional<std::string_view> changed_document(const nlohmann::json& message);
// Folds `later`, a didChange of the same document, into `into`: its changes
// follow, and its version is the one recorded. Handling the result equals
// handling the two in turn, except that the text is analysed once.
void fold_change(nlohmann::json& into, nlohmann::json&& later);

}  // namespace tovix_lsp::sync
