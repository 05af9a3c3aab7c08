#pragma once

// Completion inside markup: element names (Roblox classes as the project
// writes them, then the components bound in the file), the element to close
// after "</", and the properties and events of the element being written,
// with their Luau types, documentation and handler snippets when the Roblox
// API facts are installed. What it cannot answer from the text it hands
// back: Luau code goes to luau-lsp, a component's props are asked of it.
// Works on the document text alone and keeps no state.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "features/api.h"
#include "tovix/config/config.h"
#include "workspace/document.h"
#include "workspace/line_index.h"
#include "workspace/project.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::completion {

// A finished CompletionList; the server replies with it.
struct List {
  nlohmann::json value;
};
// The cursor is in Luau code: luau-lsp answers the request unchanged.
struct AskLuau {};
// An attribute name on an element that is no Roblox class (a component, as
// a rule): luau-lsp is asked for the props, and the items replace the
// attribute name typed so far, `start` to `start` + size of `prefix`.
struct Props {
  std::size_t start = 0;
  std::string prefix;
};
// Nothing to offer: the empty list.
struct Empty {};
// An element name after a dotted prefix whose first segment is a Luau
// binding (`<Widgets.`): only a member of what the prefix names can follow,
// which luau-lsp knows. It is asked at `at`, the start of the segment under
// the cursor, in the generated call of the element whose name as written
// is `name`; without that call in the last compile, the empty list.
struct MemberOf {
  line_index::ByteRange name;
  std::size_t at = 0;
};

using Answer = std::variant<List, AskLuau, Props, Empty, MemberOf>;

// What every member item of one attribute-name request shares.
struct Members {
  nlohmann::json range;           // the protocol Range each item replaces
  std::string class_name;         // the Roblox class the element stands for
  const api::Api* api = nullptr;  // the API facts, when present
  bool snippets = false;          // the editor takes snippets

  // The item of one member: "detail" its Luau type (else "property" or
  // "event"), documentation in Markdown when the facts have an entry for the
  // class that declares it, and for an event with known parameters and
  // snippet support a handler snippet.
  [[nodiscard]] nlohmann::json item(std::string_view label, std::string_view member, std::uint32_t kind,
                                    std::string_view sort_prefix) const;
};

// The answer at byte offset `offset` of the document (a character boundary).
// `facts` are the installed API facts (null without them). `snapshot` is
// used only when it was taken of the document's current text (see
// `snapshot::of`). Never fails: a half-typed document gives what its cursor
// context allows, or `Empty`.
[[nodiscard]] Answer complete(const document::Document& document, const project::Project& project, std::size_t offset,
                              bool snippets, const api::Api* facts = api::present(),
                              const snapshot::Snapshot* snapshot = nullptr);

// {"detail", "kind", "label", "sortText": prefix + label, "textEdit": {"newText": label, "range"}}.
[[nodiscard]] nlohmann::json item(std::string_view label, std::uint32_t kind, std::string_view detail,
                                  std::string_view sort_prefix, const nlohmann::json& range);

// {"isIncomplete": false, "items": items}.
[[nodiscard]] nlohmann::json list(std::vector<nlohmann::json> items);

// {"isIncomplete": false, "items": []}: what `Empty` answers, and a
// component's props when they cannot be had.
[[nodiscard]] nlohmann::json empty_list();

// The documentation's HTML made readable as Markdown: code, bold, italic
// and line breaks; every other tag and entity is left as it is.
[[nodiscard]] std::string html_to_markdown(std::string_view html);

// The names bound in the document's Luau that can be components: not
// empty, starting with an upper-case letter, and standing for a component
// as the compiler resolves element names under `config`
// (`naming::element_kind`), so a name that is a class, or that the project
// refuses, is left out; sorted in byte order. `current` is a snapshot of
// this same text, or null. The project's settings do not change which names
// a text binds, only which of them are components.
[[nodiscard]] std::vector<std::string> components(const tovix::config::Config& config, std::string_view text,
                                                  const snapshot::Snapshot* current = nullptr);

// The items of the child's completion `result`: the array itself, or a
// list's "items"; none when it is neither.
[[nodiscard]] const nlohmann::json* child_items(const nlohmann::json& result);
// Marks the editor's `list` incomplete where the child's `result` was.
void keep_incomplete(const nlohmann::json& result, nlohmann::json& list);

// The editor's list from the child's completion at a member access that
// a tag name writes (`MemberOf`), `local` the empty list: the items whose
// label is a plain Luau name, each inserting its label alone (no call
// snippet, no command), as a tag name holds nothing else. `local` when the
// child has nothing. The signature of a `child_session::Finish`.
[[nodiscard]] nlohmann::json members(std::optional<nlohmann::json> local, nlohmann::json child, bool stale);

// The child's completion items inside a component's props table turned into
// attribute items that replace `range` in the source: only its table-field
// items ("sortText" "1") whose label is a plain Luau name (no keyword);
// functions become events, with a handler snippet when `snippets` is set.
[[nodiscard]] nlohmann::json props(std::span<const nlohmann::json> items, const nlohmann::json& range, bool snippets);

}  // namespace tovix_lsp::completion
