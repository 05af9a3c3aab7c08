#pragma once

// The walk over a document's markup that fills a source map: it visits the
// markup trees in the order the Vide generator writes them and, for every
// piece the generator copies unchanged (component names, attribute names,
// quoted values, the Luau code of holes and the text between markup), looks
// for that text in the generated code and records a run. Pieces the
// generator rewrites (factory heads, merge calls, the text-content entry,
// read-helper calls) are only passed over so that later searches start
// behind them. A failed search leaves its piece unmapped; nothing is an
// error, and a run is only kept after `SourceMap::push` compared its bytes.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tovix/markup/ast.h"
#include "tovix/resolve.h"
#include "workspace/line_index.h"
#include "workspace/sourcemap.h"

namespace tovix_lsp::map_walk {

// Walks markup of `source` against `output` between `cursor` and `limit`.
// Every operation only moves `cursor` forward and only adds to `map`; the
// caller sets `cursor` and `limit` for each group of markup regions.
struct Builder {
  Builder(std::string_view source, std::string_view output, const tovix::resolve::Resolver& resolver);

  std::string_view source;
  std::string_view output;
  // Built over the document exactly as the compiler builds its own.
  const tovix::resolve::Resolver& resolver;
  sourcemap::SourceMap map;
  line_index::LineIndex source_index;
  line_index::LineIndex output_index;
  // Output before it counts as used; searches start here.
  std::size_t cursor = 0;
  // Output offset that searches within the current group do not pass.
  std::size_t limit = 0;

  // One markup element or fragment; offsets into the whole source.
  void node(const tovix::markup::ast::Node& node);
  // The Luau code [start, end) of a hole, which may itself hold markup.
  void expression(std::size_t start, std::size_t end);
  // A source span expected unchanged in the output: tried at the cursor,
  // then (3 bytes or more only) as a unique match in its line window, then
  // as a unique match up to the limit.
  void verbatim(std::size_t start, std::size_t len);
  // Adds a run; when it is accepted (the answer) the cursor moves to its
  // output end.
  bool record(std::size_t source_offset, std::size_t output_offset, std::size_t len);
  // Passes over generated `text` on the output line of source offset `at`;
  // where it was found, if it was.
  std::optional<std::size_t> anchor_before(std::string_view text, std::size_t at);
  // Passes over "{key} = " for the attribute whose name `written` starts at
  // `at`, mapping the name when the key is the name itself. False when the
  // entry is not found.
  [[nodiscard]] bool attribute_key(std::string_view written, std::string_view key, std::size_t at);
  // Steps over white space and the separators , ( ) { } up to `text`; stops
  // at any other character.
  void skip_to(std::string_view text);

 private:
  // The output range of the source lines of [start, end), clipped to
  // [cursor, limit]; empty (start > end) when nothing is left.
  [[nodiscard]] line_index::ByteRange line_window(std::size_t start, std::size_t end) const;
  // The first occurrence of `needle` in output [from, to), as an offset.
  [[nodiscard]] std::optional<std::size_t> find(std::string_view needle, std::size_t from, std::size_t to) const;
  // `unique_match` in output [from, to), as an offset into the output.
  [[nodiscard]] std::optional<std::size_t> unique_in(std::string_view needle, std::size_t from, std::size_t to) const;
  // Whether the output at the cursor, within the limit, starts with `text`.
  [[nodiscard]] bool at_cursor(std::string_view text) const;
  // Moves the cursor just past the first `text` up to the limit; false when
  // there is none.
  bool pass(std::string_view text);
  // Maps the hole whose `{` is the first at or after `from` and whose `}`
  // ends just before `end`, as the tree has it.
  void braced_expression(std::size_t from, std::size_t end);
  // `node` below the nesting bound.
  void walk_node(const tovix::markup::ast::Node& node);

  // What an element name stands for, as the generator sees it; resolving is
  // the same for every element of one name, so each name is resolved once.
  struct ElementKind {
    enum class Is { Class, Component, Unresolved };
    Is is = Is::Unresolved;
    std::string name;       // the class, or the name written in the factory head
    bool has_text = false;  // a class with a Text property
  };
  const ElementKind& kind_of(const tovix::markup::ast::Element& element, const std::string& written);
  // The member an attribute of `klass` is written under, resolved once per
  // class and name.
  std::string_view member_of(std::string_view klass, std::string_view written, std::size_t at);

  using Names = std::unordered_map<std::string, std::string, tovix::resolve::NameHash, std::equal_to<>>;
  std::unordered_map<std::string, ElementKind, tovix::resolve::NameHash, std::equal_to<>> elements_;
  Names members_;    // class, NUL, attribute name -> member
  std::string key_;  // where member keys are assembled

  // Elements and fragments being walked, across holes.
  std::size_t depth_ = 0;
  // The innermost element being walked whose call was found, as an index
  // into the map's elements.
  std::size_t enclosing_ = sourcemap::Element::NONE;

  // Where needles are assembled, so that searches allocate only while it
  // grows; each use ends before the walk goes deeper.
  std::string scratch_;
};

// The offset of the first `needle` in `haystack`, present only when the rest
// of `haystack` after that occurrence holds no other one (an occurrence that
// overlaps the first is not seen). An empty needle never matches.
[[nodiscard]] std::optional<std::size_t> unique_match(std::string_view haystack, std::string_view needle);

}  // namespace tovix_lsp::map_walk
