#pragma once

// The editor's markup requests: the closing tag, hover, go to definition and
// completion. Each locates the document and offset, asks its feature and
// turns the feature's answer into a reply: a value, a forward to luau-lsp
// (with the local part to fall back on and merge), or, for a component's
// props, a question of its own to the child.

#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "core/open_documents.h"
#include "core/server.h"
#include "workspace/line_index.h"

namespace tovix_lsp::requests {

[[nodiscard]] server::Reply closing_tag(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply hover(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply definition(server::Server& server, const nlohmann::json& id, nlohmann::json params);
[[nodiscard]] server::Reply completion(server::Server& server, const nlohmann::json& id, nlohmann::json params);

// What the child is asked for the props of a component at the cursor, and
// what turning its answer into items needs.
struct PropsQuestion {
  std::string generated_uri;
  // Just inside the component's props table in the generated call
  // "Name({", in the generated code's own line index (UTF-16 column).
  line_index::Position position;
  nlohmann::json range;  // the source range the items replace
  std::string name;      // the component as written
};

// Where the generated code calls the component whose opening name is
// `name` (a byte range of the document's text): the offset of that name
// mapped into the code of the document's compile, which must read the name
// there followed by "(". None without a compile, a mapping or that call.
[[nodiscard]] std::optional<std::size_t> generated_call(const open_documents::OpenDocument& open,
                                                        line_index::ByteRange name);

// Where the child would be asked, from the document's current text and its
// last compile: the innermost element at `offset`, its opening name mapped
// into the generated code, which must read the name followed by "({".
// None when any of that is missing. `start` and `prefix` are the attribute
// name typed so far.
[[nodiscard]] std::optional<PropsQuestion> props_question(const open_documents::OpenDocument& open,
                                                          std::size_t offset, std::size_t start,
                                                          const std::string& prefix);

// Sends the props question to the child (handing it the document first when
// it does not have it) and remembers the request as pending, so that the
// child's answer becomes the reply. Called only while the child is ready.
// Gives up (the empty list) when there is no child or the request cannot be
// written.
[[nodiscard]] server::Reply ask_child_for_props(server::Server& server, const nlohmann::json& id,
                                                open_documents::OpenDocument& open, PropsQuestion question);

// {"isIncomplete": false, "items": []}: completion that has nothing, or
// cannot ask the child.
[[nodiscard]] nlohmann::json empty_list();

}  // namespace tovix_lsp::requests
