#pragma once

// The editor's markup requests: the closing tag, hover, go to definition,
// references and completion. Each locates the document and offset, asks its
// feature and turns the feature's answer into a reply: a value, a forward
// to luau-lsp (with the local part to fall back on and merge), or, for a
// component's props, a question of its own to the child.

#include <cstddef>
#include <optional>

#include <nlohmann/json.hpp>

#include "core/open_documents.h"
#include "core/server.h"
#include "features/props.h"
#include "workspace/project.h"

namespace tovix_lsp::requests {

[[nodiscard]] server::Reply closing_tag(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply hover(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply definition(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply completion(server::Server& server, const nlohmann::json& id, nlohmann::json params);

// The open document a request about one position names (`Server::position_at`),
// the byte offset of that position, and the project of the document's file
// (none for a document that is no file).
struct Target {
  open_documents::OpenDocument& open;
  std::optional<project::Project> project;
  std::size_t offset;
};
[[nodiscard]] std::optional<Target> target(server::Server& server, const nlohmann::json& params);

// The document with its compile in use and generated URI: what moves its
// positions into the generated code.
[[nodiscard]] remap::Pair remap_pair(const open_documents::OpenDocument& open);

// The params of a request about the tag whose opening name is `name` (a
// byte range), asked instead at `at` in it: the start of the dotted segment
// under the cursor (`tree::asked_at`), which the generated call copies, so
// the child hears of that segment's place in the call. None when the
// document's compile has no such call, as the child would then be asked
// about something else.
[[nodiscard]] std::optional<nlohmann::json> at_the_call(const Target& target, line_index::ByteRange name,
                                                        std::size_t at, nlohmann::json params);

// Sends the props question to the child (handing it the document first when
// it does not have it) and remembers the request as pending, so that the
// child's answer becomes the reply. Called only while the child is ready.
// Gives up (the empty list) when there is no child or the request cannot be
// written.
[[nodiscard]] server::Reply ask_child_for_props(server::Server& server, const nlohmann::json& id,
                                                open_documents::OpenDocument& open, props::Question question);

}  // namespace tovix_lsp::requests
