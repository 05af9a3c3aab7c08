#pragma once

// Luau questions asked of the child, and its answers carried back: what each
// outstanding child request waits for, and how a child's answer is joined
// with what the server knew locally.

#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "core/jsonrpc.h"
#include "core/open_documents.h"

namespace tovix_lsp::server {
class Server;
struct Forward;
}  // namespace tovix_lsp::server

namespace tovix_lsp::forwarding {

// The local part and the child's answer as one answer, for a forward whose
// feature does not finish it itself: arrays are joined (local elements
// first); a null child answer gives the local part; otherwise the child's
// answer wins. `local` is null when there is no local part.
[[nodiscard]] nlohmann::json merged(const nlohmann::json* local, nlohmann::json child);

// Whether a child's error says it does not have the document open.
[[nodiscard]] bool lost_the_document(const nlohmann::json& error);

// What a request about the document is asked of: the snapshot of its text
// as it is now (null when there is none of exactly this text). What was
// worked out on that text for the request (a local part, the range props
// replace) is sent only while the document still has it.
[[nodiscard]] std::shared_ptr<const snapshot::Snapshot> asked_of(const open_documents::OpenDocument& open);

// Sends an editor request to the child, its params moved into the
// generated file; answers at once from the local part when it cannot.
void forward(server::Server& server, nlohmann::json id, server::Forward forward);

// A response of the child: matched by id with what waits for it, moved back
// into the source, merged and answered. Unknown ids are dropped.
void response(server::Server& server, jsonrpc::Response message);

// The editor's id waiting on the child's response `message`, if any: what a
// failure in handling that response must still answer.
[[nodiscard]] std::optional<nlohmann::json> waiting_editor_id(const server::Server& server,
                                                              const jsonrpc::Response& message);

// Answers every request still waiting for the child locally and forgets it.
void fail_pending(server::Server& server);

// The editor's $/cancelRequest: passed to the child under the child's id
// when the request waits there. The child's answer is still awaited.
void cancel(server::Server& server, const nlohmann::json& params);

}  // namespace tovix_lsp::forwarding
