#pragma once

// Rebuilds the source map of a compiled document from the two texts alone:
// the compiler reports no mapping, but its output is known to keep the
// source's lines, to copy the Luau outside markup unchanged (apart from the
// helpers injected in front of the first token), and to keep every piece of
// generated markup on the lines it comes from. The texts are aligned line by
// line around each group of markup regions, and the markup walk maps what
// it can inside each group. The map may be incomplete, never wrong: every
// run is compared byte for byte when it is added.

#include <span>
#include <string_view>

#include "tovix/config/config.h"
#include "tovix/markup/walk.h"
#include "tovix/resolve.h"
#include "workspace/sourcemap.h"

namespace tovix_lsp::map_builder {

// The map between a document and the code the compiler generated from it
// with `config`. Never fails; output whose line count differs from the
// source's gives the empty map.
[[nodiscard]] sourcemap::SourceMap build(std::string_view source, std::string_view output,
                                         const tovix::config::Config& config);

// The same from what the compile of `source` read on its way (its top-level
// markup and the names the file binds), so the source is not read again.
[[nodiscard]] sourcemap::SourceMap build(std::string_view source, std::string_view output,
                                         const tovix::config::Config& config,
                                         std::span<const tovix::markup::walk::Markup> markup,
                                         tovix::resolve::NameSet bindings);

// The same with a resolver made from those names and the project's
// settings, which the caller keeps.
[[nodiscard]] sourcemap::SourceMap build(std::string_view source, std::string_view output,
                                         const tovix::resolve::Resolver& resolver,
                                         std::span<const tovix::markup::walk::Markup> markup);

}  // namespace tovix_lsp::map_builder
