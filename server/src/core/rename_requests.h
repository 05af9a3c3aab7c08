#pragma once

// Rename and prepareRename: a tag name is renamed here (its opening and
// closing names together); a component's name and Luau code are the
// child's to rename. And references, which join the closing names as a
// rename does.

#include <nlohmann/json.hpp>

#include "core/server.h"

namespace tovix_lsp::rename_requests {

// textDocument/rename: a tag name is renamed here (its opening and closing
// names together); a component's name (at its generated call) and Luau code
// are the child's to rename, and its answer must map back whole. A missing
// or non-string "newName" is the empty name. A new name that would break
// the file is refused (REQUEST_FAILED), saying why.
[[nodiscard]] server::Reply rename(server::Server& server, const nlohmann::json& id, nlohmann::json params);

// textDocument/prepareRename: the range of the tag name under the cursor; on
// a component's name and in Luau code the child's answer, or the range of
// the name under the cursor when the child has none (-32601, an error or
// null). Null there while no child is ready.
[[nodiscard]] server::Reply prepare_rename(server::Server& server, const nlohmann::json& id, nlohmann::json params);

// textDocument/references, luau-lsp's: on a closing name asked at the same
// place in the opening name, which the generated code copies; each location
// found on an element's opening name is joined by its closing name.
[[nodiscard]] server::Reply references(server::Server& server, const nlohmann::json& id, nlohmann::json params);

}  // namespace tovix_lsp::rename_requests
