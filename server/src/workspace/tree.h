#pragma once

// Every markup element of a text with the exact byte ranges of its names,
// for hover, rename, symbols, semantic tokens and props completion. Unlike
// the markup syntax tree, it descends into markup written inside `{…}`
// holes (expression children, attribute values, spreads). Computed from the
// text on every call; nothing is cached.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tovix/markup/ast.h"
#include "workspace/line_index.h"
#include "workspace/regions.h"

namespace tovix_lsp::tree {

// One element or fragment. Offsets are bytes into the whole text; ranges are
// start inclusive, end exclusive.
struct Tag {
  // The name in the closing tag "</name>"; none for a self-closing element,
  // a fragment, or a closing tag whose name is not this element's.
  std::optional<line_index::ByteRange> close;
  std::string name;  // as written, dots kept; empty for a fragment
  // The elements directly below, those inside holes included; for an
  // element ordered by the start of their span.
  std::vector<Tag> children;
  // The first quoted "Name" attribute's value, without its quote characters.
  std::optional<std::string> name_attr;
  line_index::ByteRange span;  // from the `<` to just after the last `>`
  line_index::ByteRange open;  // the opening name; empty just after `<` for a fragment

  friend bool operator==(const Tag&, const Tag&) = default;
};

// One tag per markup region of `text` (`regions::regions`), in text order:
// nothing after the first region that does not lex or parse.
[[nodiscard]] std::vector<Tag> tree(std::string_view text);

// The tags of `tree` whose top-level region contains `offset` (both ends
// included): all that `innermost_at`, or a search for the name at the
// offset, can find, without walking the holes of the other regions.
[[nodiscard]] std::vector<Tag> tree_at(std::string_view text, std::size_t offset);

// `tree` and `tree_at` from the regions of `text` found before
// (`regions::regions` of this same text), which are not looked for again.
[[nodiscard]] std::vector<Tag> tree(std::string_view text, std::span<const regions::Region> regions);
[[nodiscard]] std::vector<Tag> tree_at(std::string_view text, std::span<const regions::Region> regions,
                                       std::size_t offset);

// The tag of a parsed element or fragment whose offsets are offsets into
// `text`. `depth` counts the elements and fragments open around it (through
// holes too); markup nested deeper than the parser's bound is left out, so
// no walk over the result can exhaust the stack.
[[nodiscard]] Tag tag(std::string_view text, const tovix::markup::ast::Node& node, std::size_t depth = 0);

// The tags of a node's children: elements and fragments, and the markup in
// expression children. `depth` counts the elements open around the children.
[[nodiscard]] std::vector<Tag> children(std::string_view text, std::span<const tovix::markup::ast::Child> children,
                                        std::size_t depth = 0);

// The markup inside the first `{…}` at or after `from`; none when there is
// no such hole or it holds no markup that parses.
[[nodiscard]] std::vector<Tag> embedded(std::string_view text, std::size_t from, std::size_t depth = 0);

// The markup inside an element's spread holes and expression values.
[[nodiscard]] std::vector<Tag> attribute_regions(std::string_view text,
                                                 std::span<const tovix::markup::ast::Attribute> attributes,
                                                 std::size_t depth = 0);

// The dotted segment of the name `name` (a byte range of `text`) that holds
// `offset`, both ends included; the first of two that meet at a ".".
[[nodiscard]] line_index::ByteRange segment_at(std::string_view text, line_index::ByteRange name, std::size_t offset);

// Where the child is asked about the segment of a tag's name that holds
// `offset`: `name` is the name the offset is on (the opening or the closing
// one), `open` the opening name, which the generated call copies; the
// answer is the start of the same segment in `open`, so in that call the
// member access of that segment (`Button` of `Widgets.Button`).
[[nodiscard]] std::size_t asked_at(std::string_view text, line_index::ByteRange open, line_index::ByteRange name,
                                   std::size_t offset);

// Every tag of `tags` and below, pre-order (a tag before its children).
// The pointers point into `tags`.
[[nodiscard]] std::vector<const Tag*> flatten(std::span<const Tag> tags);

// The last tag in pre-order whose span contains `offset` (both ends
// included): the innermost element there, the later one where one ends and
// the next begins. Null when no span contains it.
[[nodiscard]] const Tag* innermost_at(std::span<const Tag> tags, std::size_t offset);

}  // namespace tovix_lsp::tree
