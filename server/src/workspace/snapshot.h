#pragma once

// What the analysis of one text read of it, kept for the requests that
// follow on that same text: its top-level markup (what `regions::regions`
// finds), every name its Luau binds (what a `Resolver` over the
// markup-blanked text collects) and where the cursor scan may resume. A
// request takes a snapshot only while the document's text is still exactly
// the text it was taken of, and otherwise reads the text again, so every
// answer reflects the current text either way.

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/markup/walk.h"
#include "tovix/resolve.h"
#include "workspace/line_index.h"
#include "workspace/regions.h"
#include "workspace/scan.h"
#include "workspace/tree.h"

namespace tovix_lsp::snapshot {

// Immutable once taken and shared (`shared_ptr<const Snapshot>`), like the
// compile it comes with.
struct Snapshot {
  std::string text;                     // the text it was taken of
  std::vector<regions::Region> markup;  // `regions::regions(text)`; hole code may be compiled
  tovix::resolve::NameSet bindings;     // bound anywhere in the markup-blanked text
  std::vector<scan::Resume> resumes;    // `scan::resumes(text, markup)`
};

// What the compile of a text read of it: its top-level markup (up to the
// first lexer or markup syntax error, as `regions::regions`), the names
// bound when the compile got that far, and the resume points when the
// analysis needed them already.
struct Read {
  std::string text;
  std::vector<regions::Region> markup;
  std::optional<tovix::resolve::NameSet> bindings;
  std::optional<std::vector<scan::Resume>> resumes;
};

// The snapshot of what was read. What it lacks is worked out here: the
// resume points (a walk of the markup) and, after a syntax error, the names
// (a parse of the markup-blanked Luau). The diagnostics of a text need
// neither, so the server publishes them first.
[[nodiscard]] std::shared_ptr<const Snapshot> take(Read read);

// `snapshot` when it was taken of exactly `text`; null otherwise (and for
// null).
[[nodiscard]] const Snapshot* of(const Snapshot* snapshot, std::string_view text);

// The reads of `text` the markup features make, each from `current` (a
// snapshot of this same text, as `of` gives) when there is one, else from
// the text itself: the same answers either way.

// `scan::scan`.
[[nodiscard]] scan::Scan scan(std::string_view text, std::size_t cursor, const Snapshot* current);

// `regions::regions`; `found` holds them when they had to be found.
[[nodiscard]] std::span<const regions::Region> regions(std::string_view text, const Snapshot* current,
                                                       std::vector<regions::Region>& found);

// `tree::tree` and `tree::tree_at`.
[[nodiscard]] std::vector<tree::Tag> tree(std::string_view text, const Snapshot* current);
[[nodiscard]] std::vector<tree::Tag> tree_at(std::string_view text, std::size_t offset, const Snapshot* current);

// What to blank in `text` before its Luau is read for the names it binds:
// its markup regions (`markup`, as `regions::regions` finds them), then what
// the cursor scan reads as markup after the last of them. Where the regions
// stop at markup that does not parse yet, none of the text in markup, before
// or after, passes for Luau.
[[nodiscard]] std::vector<tovix::resolve::Region> blanking(std::string_view text,
                                                           std::span<const regions::Region> markup);

// The names a `Resolver` over the markup-blanked text (`blanking`) collects; `found`
// holds them when they had to be found, the markup blanked being `markup`
// (`regions` of the text) when that is given.
[[nodiscard]] const tovix::resolve::NameSet& bindings(std::string_view text, const Snapshot* current,
                                                      tovix::resolve::NameSet& found);
[[nodiscard]] const tovix::resolve::NameSet& bindings(std::string_view text, std::span<const regions::Region> markup,
                                                      const Snapshot* current, tovix::resolve::NameSet& found);

// A walk of the text by the compiler's `Walker` from its start, positioned
// to reach `offset` the way that walk does: resumed after the last markup
// expression that ends at or before it. Every event it gives from there on
// is the one the walk from the start gives.
[[nodiscard]] tovix::markup::walk::Walker walk_to(std::string_view text, std::size_t offset, const Snapshot* current);

// `bindings::find`.
[[nodiscard]] std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name,
                                                        const Snapshot* current);

}  // namespace tovix_lsp::snapshot
