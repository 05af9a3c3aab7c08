#pragma once

// The markup expressions of a document's text as the editor has it, found
// the way the compiler finds them: a lexer and a markup scanner walk the
// Luau, and each markup start is parsed in full. Computed on demand from the
// text alone; nothing is cached.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/markup/ast.h"
#include "tovix/markup/walk.h"
#include "tovix/resolve.h"
#include "workspace/line_index.h"

namespace tovix_lsp::regions {

// One top-level markup expression: its tree, the `<` that opens it, just
// after it as the parser reports, and what the walk's markup scanner carried
// past it. The compiler's own record, so that what a compile read serves as
// it is.
using Region = tovix::markup::walk::Markup;

// Every top-level markup expression of `text`, in text order, not
// overlapping. The walk stops for good at the first lexer or markup parse
// error: the regions before it are returned, none after it, so an unfinished
// element hides every later region.
[[nodiscard]] std::vector<Region> regions(std::string_view text);

// The spans of `regions`, in the same order, for blanking; the trees are
// dropped.
[[nodiscard]] std::vector<tovix::resolve::Region> spans(std::vector<Region> regions);
[[nodiscard]] std::vector<tovix::resolve::Region> spans(std::span<const Region> regions);

// The byte range of the trimmed (Unicode whitespace) contents of the first
// `{…}` at or after `from`. None when `from` lies past the end or inside a
// character, when there is no `{`, when it has no matching `}`, or when
// nothing but whitespace lies between the braces.
[[nodiscard]] std::optional<line_index::ByteRange> braced(std::string_view text, std::size_t from);

// The byte range of the trimmed (Unicode whitespace) text between the `{`
// at `open` and the `}` at `close`. None when nothing but whitespace lies
// between them or the offsets do not fit the text.
[[nodiscard]] std::optional<line_index::ByteRange> inside(std::string_view text, std::size_t open, std::size_t close);

}  // namespace tovix_lsp::regions
