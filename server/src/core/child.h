#pragma once

// The child's side of each document and what the child says on its own:
// luau-lsp is given the generated Luau of every compiled document (full text,
// under the generated file's URI), and its diagnostics, notifications and
// requests come back through here.

#include <optional>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/jsonrpc.h"
#include "workspace/published.h"
#include "workspace/remap.h"

namespace tovix_lsp::server {
class Server;
}
namespace tovix_lsp::open_documents {
struct OpenDocument;
}

namespace tovix_lsp::child {

// Opens the document's generated file in the ready child, or sends its whole
// new text. Nothing before the child is ready; a document without a compile
// or generated URI is not sent (said once).
void sync(server::Server& server, open_documents::OpenDocument& open);

// Closes the document's generated file in the child, when it has it.
void close(server::Server& server, open_documents::OpenDocument& open);

// The child's publication of diagnostics for a generated file: kept, moved
// into the source and published with the document's own.
void publication(server::Server& server, published::Notification publication);

// Moves the child's last diagnostics of the document into its current text
// (`child_shown`), through the compile they were found in: those on
// lines an edit changed since are left out until the child speaks again.
void relocate_diagnostics(server::Server& server, open_documents::OpenDocument& open);

// Forgets everything the child said or was given about the document.
void forget(open_documents::OpenDocument& open);

// A payload of the document at `uri` moved towards its generated file or
// back, with whether anything was dropped. `compiled` overrides the
// document's compile in use (the one a request was sent against). Nothing
// when the document is not open, has no compile or no generated URI, or the
// payload does not move as a whole.
struct Moved {
  nlohmann::json value;
  bool lost = false;
};
enum class How {
  Value,            // the payload as it is
  Answer,           // an answer that is not a rename: items that lost edits go whole
  InlayHintParams,  // the visible range by whole lines
  Diagnostics,      // the child's diagnostics: ranges narrowed to what shows in the source
};
[[nodiscard]] std::optional<Moved> with_remap(server::Server& server, std::string_view uri,
                                              remap::Direction direction, nlohmann::json value,
                                              How how = How::Value,
                                              std::shared_ptr<const analysis::Compiled> compiled = nullptr);

// The child's notifications and requests (its responses are the forwarding's).
void notification(server::Server& server, jsonrpc::Notification message);
void request(server::Server& server, jsonrpc::Request message);

}  // namespace tovix_lsp::child
