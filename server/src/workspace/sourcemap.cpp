#include "workspace/sourcemap.h"

#include <algorithm>
#include <array>

#include "tovix/lexer.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::sourcemap {

namespace {

using Column = std::size_t Run::*;

// The candidate run of a point lookup: the last whose start is <= offset.
const Run* point_run(std::span<const Run> runs, Column from, std::size_t offset) {
  const auto it = std::partition_point(runs.begin(), runs.end(), [&](const Run& r) { return r.*from <= offset; });
  return it == runs.begin() ? nullptr : &*(it - 1);
}

// The candidate run of an end lookup: the last whose start is < offset.
const Run* end_run(std::span<const Run> runs, Column from, std::size_t offset) {
  const auto it = std::partition_point(runs.begin(), runs.end(), [&](const Run& r) { return r.*from < offset; });
  return it == runs.begin() ? nullptr : &*(it - 1);
}

std::size_t moved(const Run& run, Column from, Column to, std::size_t offset) { return offset - run.*from + run.*to; }

std::optional<std::size_t> point_lookup(std::span<const Run> runs, Column from, Column to, std::size_t offset) {
  const Run* run = point_run(runs, from, offset);
  if (run == nullptr || offset - run->*from >= run->len) return std::nullopt;
  return moved(*run, from, to, offset);
}

std::optional<std::size_t> end_lookup(std::span<const Run> runs, Column from, Column to, std::size_t offset) {
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

// Brackets open inside one call at a time beyond which its end is not
// looked for; generated calls nest as deep as their markup, far less.
constexpr std::size_t MAX_BRACKETS = 512;

// Just after the ")" matching the "(" at `open` of the generated Luau, by
// its tokens (strings, comments and interpolations are whole tokens).
// Nothing when brackets do not pair up or the text does not lex.
std::optional<std::size_t> call_end(std::string_view output, std::size_t open) {
  if (open >= output.size() || output[open] != '(') return std::nullopt;
  tovix::lexer::Lexer lexer(output);
  lexer.pos = open;
  std::array<char, MAX_BRACKETS> closers;
  std::size_t depth = 0;
  while (auto next = lexer.next_token()) {
    if (!*next) return std::nullopt;
    const tovix::lexer::Token& token = **next;
    if (token.kind != tovix::lexer::TokenKind::Symbol || token.end - token.start != 1) continue;
    const char c = output[token.start];
    if (c == '(' || c == '[' || c == '{') {
      if (depth == closers.size()) return std::nullopt;
      closers[depth++] = c == '(' ? ')' : c == '[' ? ']' : '}';
    } else if (c == ')' || c == ']' || c == '}') {
      if (depth == 0 || closers[depth - 1] != c) return std::nullopt;
      if (--depth == 0) return token.end;
    }
  }
  return std::nullopt;
}

// Whether the runs agree that `element`'s call is [head, close): those that
// come from inside its source land inside the call, the others outside.
bool agrees(std::span<const Run> runs, const Element& element, std::size_t close) {
  const auto inside =
      std::partition_point(runs.begin(), runs.end(), [&](const Run& r) { return r.source < element.source.start; });
  const auto after =
      std::partition_point(inside, runs.end(), [&](const Run& r) { return r.source < element.source.end; });
  if (inside != runs.begin() && (inside - 1)->output + (inside - 1)->len > element.head) return false;
  if (inside != after && (inside->output < element.head || (after - 1)->output + (after - 1)->len > close))
    return false;
  return after == runs.end() || after->output >= close;
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

std::optional<line_index::ByteRange> SourceMap::to_source_within(std::size_t start, std::size_t end) const {
  if (end <= start) return std::nullopt;
  const auto first =
      std::partition_point(runs_.begin(), runs_.end(), [&](const Run& r) { return r.output + r.len <= start; });
  if (first == runs_.end() || first->output >= end) return std::nullopt;
  const Run& last = *(std::partition_point(first, runs_.end(), [&](const Run& r) { return r.output < end; }) - 1);
  return line_index::ByteRange{first->source + (std::max(start, first->output) - first->output),
                               last.source + (std::min(end, last.output + last.len) - last.output)};
}

bool SourceMap::add_element(const Element& element) {
  if (element.open < element.head) return false;
  if (!elements_.empty() && element.head < elements_.back().head) return false;
  if (element.parent != Element::NONE && element.parent >= elements_.size()) return false;
  elements_.push_back(element);
  return true;
}

const Element* SourceMap::element_holding(std::string_view output, std::size_t start, std::size_t end) const {
  if (end < start) return nullptr;
  // Where a call ends, when the element's place is confirmed by the runs.
  const auto close_of = [&](const Element& e) -> std::optional<std::size_t> {
    const auto close = call_end(output, e.open);
    if (!close || !agrees(runs_, e, *close)) return std::nullopt;
    return close;
  };
  // Calls nest: every call holding `start` is around the last one to begin
  // at or before it, so only that one's chain of elements around it counts.
  const auto last =
      std::partition_point(elements_.begin(), elements_.end(), [&](const Element& e) { return e.head <= start; });
  const Element* around_start = nullptr;
  if (last != elements_.begin()) {
    for (std::size_t i = static_cast<std::size_t>(last - elements_.begin()) - 1; i != Element::NONE;
         i = elements_[i].parent) {
      const Element& e = elements_[i];
      const auto close = close_of(e);
      if (!close || start >= *close) continue;
      if (end <= *close) return &e;
      if (around_start == nullptr) around_start = &e;
    }
  }
  if (around_start != nullptr) return around_start;
  const auto first =
      std::partition_point(elements_.begin(), elements_.end(), [&](const Element& e) { return e.head < start; });
  if (first != elements_.end() && first->head < end && close_of(*first)) return &*first;
  return nullptr;
}

}  // namespace tovix_lsp::sourcemap
