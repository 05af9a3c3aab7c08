#pragma once

// The props of a component, which only luau-lsp knows: an element's
// attributes are the fields of the table its generated call passes to the
// component, so the child is asked for completion just inside that table,
// and its table-field items become the attribute items.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "workspace/line_index.h"
#include "workspace/remap.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::props {

// What the child is asked for the props of a component at the cursor, and
// what turning its answer into items needs.
struct Question {
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
// Props completion and a component's rename ask the child there.
[[nodiscard]] std::optional<std::size_t> generated_call(const remap::Pair& document, line_index::ByteRange name);

// Where the child would be asked, from the document's current text and its
// last compile: the innermost element at `offset`, its opening name mapped
// into the generated code, which must read the name followed by "({".
// None when any of that is missing. `start` and `prefix` are the attribute
// name typed so far. `snapshot` is used only when it was taken of the
// document's current text (see `snapshot::of`).
[[nodiscard]] std::optional<Question> question(const remap::Pair& document, const snapshot::Snapshot* snapshot,
                                               std::size_t offset, std::size_t start, const std::string& prefix);

// The props answer to the question about component `name`, from the
// child's response to it (the whole message: an error gives the empty
// list), `range` and `snippets` as asked.
struct Answer {
  nlohmann::json list;  // the CompletionList for the editor
  // When the list is empty: why the child may know of no props, and the
  // fix, for the user (once per component is enough).
  std::optional<std::string> none_known;
};
[[nodiscard]] Answer from_child(const nlohmann::json& response, const nlohmann::json& range, bool snippets,
                                std::string_view name);

}  // namespace tovix_lsp::props
