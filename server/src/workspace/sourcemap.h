#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "workspace/line_index.h"

// Runs of bytes that are identical in a source text and its generated Luau,
// with their offsets on both sides. An offset translates only inside a run;
// everything else has no counterpart.
namespace tovix_lsp::sourcemap {

struct Run {
  std::size_t source = 0;  // start in the source text
  std::size_t output = 0;  // start in the generated text
  std::size_t len = 0;     // bytes, more than zero
  friend bool operator==(const Run&, const Run&) = default;
};

// A markup element whose generated code is one call ("Card(" or the
// factory head "create(\"Frame\")(", then its props): where it is in the
// source, and where its call begins in the generated text. The call's text
// runs from `head` to the ")" matching the "(" at `open`.
struct Element {
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);
  line_index::ByteRange source;  // from its `<` to just after its end
  line_index::ByteRange name;    // its opening name, as written
  std::size_t head = 0;
  std::size_t open = 0;
  std::size_t parent = NONE;  // the element around it, by index; NONE at the top
  friend bool operator==(const Element&, const Element&) = default;
};

// Runs in the order added, sorted and free of overlaps on both columns at
// once; runs may touch (a seam). Where runs touch, a point lookup (a
// position before a character) answers from the later run and an end lookup
// (a position after a character) from the earlier one. Lookups are binary
// searches and allocate nothing.
//
// Beside the runs, the markup elements whose calls were found, in the order
// of their calls, so that what falls in generated code between the runs can
// still be told apart by the element it belongs to.
class SourceMap {
 public:
  // Appends the run and answers true when it is acceptable: non-empty, both
  // ranges inside their texts with all four ends on character boundaries,
  // the two byte ranges equal, and starting at or after the last run's end
  // on both columns. Otherwise false, and the map is unchanged.
  [[nodiscard]] bool push(std::string_view source_text, std::string_view output_text, Run run);

  [[nodiscard]] std::span<const Run> runs() const { return runs_; }

  // Point lookups: the offset must lie in [start, end) of a run.
  [[nodiscard]] std::optional<std::size_t> to_output(std::size_t source) const;
  [[nodiscard]] std::optional<std::size_t> to_source(std::size_t output) const;

  // End lookups: the offset must lie in (start, end] of a run; 0 never maps.
  [[nodiscard]] std::optional<std::size_t> to_output_end(std::size_t source) const;
  [[nodiscard]] std::optional<std::size_t> to_source_end(std::size_t output) const;

  // Range lookups. An empty range maps through the point lookup, else the
  // end lookup. A non-empty range maps only when it lies within one run,
  // never across a seam. A reversed range (end before start) never maps.
  [[nodiscard]] std::optional<line_index::ByteRange> to_output_range(std::size_t start, std::size_t end) const;
  [[nodiscard]] std::optional<line_index::ByteRange> to_source_range(std::size_t start, std::size_t end) const;

  // The source of the mapped bytes of output [start, end): from where its
  // first mapped byte comes to just after its last. Nothing when none of it
  // is mapped (an empty range has no bytes).
  [[nodiscard]] std::optional<line_index::ByteRange> to_source_within(std::size_t start, std::size_t end) const;

  // Appends an element and answers true when its call starts at or after
  // the last one's, `open` is not before `head` and `parent` is an element
  // already added (or NONE). Otherwise false, and nothing changes.
  bool add_element(const Element& element);

  [[nodiscard]] std::span<const Element> elements() const { return elements_; }

  // The innermost element whose call in `output` (the generated text the map
  // was built for) holds output [start, end); failing that, the innermost
  // one holding `start`, then the first whose call starts inside the range.
  // Null when the range lies outside every element's call. A call's end is
  // found by matching brackets over the generated Luau; an element counts
  // only when the runs agree with it (those from inside its source land
  // inside its call, the others outside), so an element found in the wrong
  // place is never answered.
  [[nodiscard]] const Element* element_holding(std::string_view output, std::size_t start, std::size_t end) const;

 private:
  std::vector<Run> runs_;
  std::vector<Element> elements_;
};

}  // namespace tovix_lsp::sourcemap
