#include "workspace/sourcemap.h"

#include <algorithm>

#include "workspace/utf8_text.h"

namespace tovix_lsp::sourcemap {

namespace {

using Column = std::size_t Run::*;


// The candidate run of a point lookup: the last whose start is <= offset.
const Run* point_run(std::span<const Run> runs, Column from, std::size_t offset) {
  const auto it = std::partition_point(runs.begin(), runs.end(),
                                       [&](const Run& r) { return r.*from <= offset; });
  return it == runs.begin() ? nullptr : &*(it - 1);
}

// The candidate run of an end lookup: the last whose start is < offset.
const Run* end_run(std::span<const Run> runs, Column from, std::size_t offset) {
  const auto it = std::partition_point(runs.begin(), runs.end(),
                                       [&](const Run& r) { return r.*from < offset; });
  return it == runs.begin() ? nullptr : &*(it - 1);
}

std::size_t moved(const Run& run, Column from, Column to, std::size_t offset) {
  return offset - run.*from + run.*to;
}

std::optional<std::size_t> point_lookup(std::span<const Run> runs, Column from, Column to,
                                        std::size_t offset) {
  const Run* run = point_run(runs, from, offset);
  if (run == nullptr || offset - run->*from >= run->len) return std::nullopt;
  return moved(*run, from, to, offset);
}

std::optional<std::size_t> end_lookup(std::span<const Run> runs, Column from, Column to,
                               std::size_t offset) {
  const Run* run = end_run(runs, from, offset);
  if (run == nullptr || offset - run->*from > run->len) return std::nullopt;
  return moved(*run, from, to, offset);
}

std::optional<line_index::ByteRange> range(std::span<const Run> runs, Column from, Column to, std::size_t start,
                           std::size_t stop) {
  // A reversed range would otherwise move its end below the run's start,
  // possibly below zero.
  if (stop < start) return std::nullopt;
  if (start == stop) {
    auto at = point_lookup(runs, from, to, start);
    if (!at) at = end_lookup(runs, from, to, start);
    if (!at) return std::nullopt;
    return line_index::ByteRange{*at, *at};
  }
  const Run* run = point_run(runs, from, start);
  if (run == nullptr || start - run->*from >= run->len || stop - run->*from > run->len) {
    return std::nullopt;
  }
  return line_index::ByteRange{moved(*run, from, to, start), moved(*run, from, to, stop)};
}

}  // namespace

bool SourceMap::push(std::string_view source_text, std::string_view output_text, Run run) {
  if (run.len == 0) return false;
  if (!utf8_text::is_whole(source_text, run.source, run.len)) return false;
  if (!utf8_text::is_whole(output_text, run.output, run.len)) return false;
  if (source_text.substr(run.source, run.len) != output_text.substr(run.output, run.len)) {
    return false;
  }
  if (!runs_.empty()) {
    const Run& last = runs_.back();
    if (run.source < last.source + last.len || run.output < last.output + last.len) return false;
  }
  runs_.push_back(run);
  return true;
}

std::optional<std::size_t> SourceMap::to_output(std::size_t source) const {
  return point_lookup(runs_, &Run::source, &Run::output, source);
}

std::optional<std::size_t> SourceMap::to_source(std::size_t output) const {
  return point_lookup(runs_, &Run::output, &Run::source, output);
}

std::optional<std::size_t> SourceMap::to_output_end(std::size_t source) const {
  return end_lookup(runs_, &Run::source, &Run::output, source);
}

std::optional<std::size_t> SourceMap::to_source_end(std::size_t output) const {
  return end_lookup(runs_, &Run::output, &Run::source, output);
}

std::optional<line_index::ByteRange> SourceMap::to_output_range(std::size_t start, std::size_t end) const {
  return range(runs_, &Run::source, &Run::output, start, end);
}

std::optional<line_index::ByteRange> SourceMap::to_source_range(std::size_t start, std::size_t end) const {
  return range(runs_, &Run::output, &Run::source, start, end);
}

}  // namespace tovix_lsp::sourcemap
