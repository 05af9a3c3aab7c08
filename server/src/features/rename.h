#pragma once

// Rename of tag names: the opening and closing names of one element change
// together, so its two tags stay matched. A component's name is a Luau
// binding, and so is luau-lsp's to rename, with the function and every use:
// asked at the element's opening name, which the generated call copies. In
// Luau code the rename is luau-lsp's too; what it edits on opening names is
// joined by the closing names, and so are the references it finds there. A
// new name that would break the file is refused here, saying why.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "tovix/config/config.h"
#include "workspace/document.h"
#include "workspace/line_index.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::rename {

// The result, sent unchanged: a WorkspaceEdit for a rename, a Range for
// prepareRename.
struct Local {
  nlohmann::json value;
};
// The cursor is in Luau code: luau-lsp answers the request. `local` is what
// to answer when it has nothing to say (null, an error, no child): luau-lsp
// has no prepareRename, and without a range there common clients refuse to
// start any rename in Luau code.
// For a rename, `on_tags` refuses the child's answer after all when it
// edits an element's whole opening name: markup would not call the new name
// there (it names a Roblox class). None for any name a tag may take.
struct AskLuau {
  std::optional<nlohmann::json> local;
  std::optional<std::string> on_tags = std::nullopt;
};
// A component's name: luau-lsp renames the binding, asked at `at` (byte
// offset), the start of the dotted segment under the cursor as the opening
// name `open` writes it; the generated call copies that name. `local` is
// prepareRename's answer when the child has none to give: the range of that
// segment in the name under the cursor.
struct Component {
  line_index::ByteRange open;
  std::size_t at = 0;
  std::optional<nlohmann::json> local;
};
// The rename is refused, and the child not asked: the new name would break
// the file; `message` says why.
struct Refused {
  std::string message;
};
// The result is null.
struct Null {};
using Answer = std::variant<Local, AskLuau, Component, Refused, Null>;

// The names of one element: byte ranges of the opening name and, when the
// element has a closing tag whose name was found, of the closing name.
struct Pair {
  line_index::ByteRange open;
  std::optional<line_index::ByteRange> close;
  friend bool operator==(const Pair&, const Pair&) = default;
};

// Each takes a `snapshot`, used only when it was taken of the current text
// (see `snapshot::of`).

// Whether the offset is in Luau code (outside markup or in a `{…}` hole),
// where luau-lsp answers.
[[nodiscard]] bool forwards(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot = nullptr);

// The element whose opening or closing name holds the byte offset, both
// ends included (from the name's first byte to just after its last).
// Fragments are never found. None off every tag name.
[[nodiscard]] std::optional<Pair> pair(std::string_view text, std::size_t offset,
                                       const snapshot::Snapshot* snapshot = nullptr);

// The Luau name (an identifier, not a keyword) that holds the byte offset,
// both ends included, when the offset is in Luau code, a hole of an
// interpolated string included; none elsewhere, on anything else, and when
// the Luau before it does not lex.
[[nodiscard]] std::optional<line_index::ByteRange> luau_name(std::string_view text, std::size_t offset,
                                                             const snapshot::Snapshot* snapshot = nullptr);

// Why each new name would break the file, as the rename's refusal; none
// when it would not.
// An element's: identifiers ([A-Za-z_][A-Za-z0-9_]*, ASCII only) joined by
// single dots, none a Luau keyword.
[[nodiscard]] std::optional<std::string> tag_name_refusal(std::string_view name);
// A Luau binding's, a component's included: an identifier, not a keyword.
[[nodiscard]] std::optional<std::string> binding_name_refusal(std::string_view name);
// A component's, as its tags write it: not a name that markup resolves as a
// Roblox class (itself, a configured alias or casing), nor one the
// configuration refuses, since the tags would no longer call it.
[[nodiscard]] std::optional<std::string> component_name_refusal(const tovix::config::Config& config,
                                                                std::string_view name);

// prepareRename at a byte offset: on a tag name, the range of that name (the
// rename edits both); on a component's name, the child's answer; in Luau
// code the child's answer, with the range of the Luau name there as its
// stand-in; null elsewhere. `config` is the project's, which names classes.
[[nodiscard]] Answer prepare(const document::Document& document, const tovix::config::Config& config,
                             std::size_t offset, const snapshot::Snapshot* snapshot = nullptr);

// rename at a byte offset: on a tag name, the edit of the opening name and
// then of the closing name (for the document's URI as stored); on a
// component's name and in Luau code, the child's; null elsewhere. Refused
// when `new_name` would break the file (the refusals above: a component's
// dotted name keeps calling it whatever its segment is renamed).
[[nodiscard]] Answer rename(const document::Document& document, const tovix::config::Config& config, std::size_t offset,
                            std::string_view new_name, const snapshot::Snapshot* snapshot = nullptr);

// The TextEdits of a rename made in the generated Luau, or the Locations of
// references found there, moved back into `document`: each item whose
// "range" is an element's opening name, or whole dotted segments of it, is
// followed by the same item on the element's closing name, which has no
// counterpart in the generated code (unless the list holds that already).
// An item whose "uri" names another document is neither joined nor looked
// at; anything else is kept as it is; `items` that is not an array is left
// alone. Whether some item is an element's whole opening name.
bool join_closing_names(const document::Document& document, nlohmann::json& items,
                        const snapshot::Snapshot* snapshot = nullptr);

// Whether a prepareRename answer names no range, or a range that holds the
// protocol position `cursor` (both ends included): a Range, or an object
// with a "range". Editors refuse a range away from the cursor.
[[nodiscard]] bool holds(const nlohmann::json& answer, const nlohmann::json& cursor);

}  // namespace tovix_lsp::rename
