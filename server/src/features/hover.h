#pragma once

// Hover and go to definition on markup. Each request is decided from the
// document text (plus the project's configuration and the API facts): the
// server answers itself, forwards the request to luau-lsp unchanged (Luau
// code), forwards it and joins its own text to the child's hover (a
// component), or answers null. Never looks at the generated Luau.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "features/api.h"
#include "workspace/document.h"
#include "workspace/project.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::hover {

// The tag name under the cursor.
struct TagAt {
  std::string name;       // as written; empty for a fragment
  nlohmann::json range;   // the name the cursor is on: the opening or the closing one
  std::size_t start = 0;  // the opening name
  // Where the child is asked about it: the start of the dotted segment
  // under the cursor in the opening name (`tree::asked_at`), `start` for a
  // name without dots.
  std::size_t at = 0;
};

// Sent unchanged as the result.
struct Local {
  nlohmann::json value;
};
// The cursor is in Luau code: luau-lsp answers the request unchanged.
struct AskLuau {};
// luau-lsp is asked at `at` (a byte offset) instead of the cursor, and
// `local` (when there is one) is what to answer when it has nothing. For a
// hover its text comes first, then a rule and `local`'s text after its last
// code fence, with `local`'s range; a definition is the child's alone.
struct Merge {
  std::optional<nlohmann::json> local;
  std::size_t at = 0;
};
// The result is null.
struct Null {};

using Answer = std::variant<Local, AskLuau, Merge, Null>;

// Each takes a `snapshot`, used only when it was taken of the document's
// current text (see `snapshot::of`).

// Whether the cursor is in Luau code (outside markup or in a `{…}` hole), so
// the question belongs to luau-lsp.
[[nodiscard]] bool forwards(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot = nullptr);

// The tag name at `offset`, both ends of a name included: an opening or
// closing name of the tag tree, else a name being typed that the tree does
// not hold (markup that does not parse yet), taken whole.
[[nodiscard]] std::optional<TagAt> tag_at(const document::Document& document, std::size_t offset,
                                          const snapshot::Snapshot* snapshot = nullptr);

// The hover at byte offset `offset` (a character boundary). `facts` are the
// installed API facts (null without them). Never fails.
[[nodiscard]] Answer hover(const document::Document& document, const project::Project& project, std::size_t offset,
                           const api::Api* facts = api::present(), const snapshot::Snapshot* snapshot = nullptr);

// Go to definition at `offset`: the declaration of a component used as a
// tag, forwarded in Luau code, null for anything else. A dotted name is
// luau-lsp's to follow, segment by segment: `Merge` at the segment under
// the cursor, with the first segment's binding to fall back on there.
[[nodiscard]] Answer definition(const document::Document& document, const project::Project& project, std::size_t offset,
                                const snapshot::Snapshot* snapshot = nullptr);

// The hover the editor gets when luau-lsp was asked: `child` is its answer
// moved back into the source (null when it had none), `local` the value of
// a `Merge` (none for `AskLuau`), `stale` whether the compile it was asked
// of is older than the text. A stale answer's text is followed by a rule
// and the note that it comes from the last version that compiled; then a
// `Merge` is joined as it says. The local part alone when the child has
// nothing; the child's answer alone when either is no hover.
[[nodiscard]] nlohmann::json from_child(std::optional<nlohmann::json> local, nlohmann::json child, bool stale);

}  // namespace tovix_lsp::hover
