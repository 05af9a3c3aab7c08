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

// Runs in the order added, sorted and free of overlaps on both columns at
// once; runs may touch (a seam). Where runs touch, a point lookup (a
// position before a character) answers from the later run and an end lookup
// (a position after a character) from the earlier one. Lookups are binary
// searches and allocate nothing.
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

 private:
  std::vector<Run> runs_;
};

}  // namespace tovix_lsp::sourcemap
