// Builds a source text and an output that copies pieces of it between
// fillers, pushes the true runs among bogus ones, and checks every lookup
// against a linear scan of the accepted runs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/sourcemap.h"

namespace {

using Range = tovix_lsp::line_index::ByteRange;
using tovix_lsp::sourcemap::Run;
using tovix_lsp::sourcemap::SourceMap;

void check(bool ok) {
  if (!ok) std::abort();
}

using Column = std::size_t Run::*;

std::optional<std::size_t> scan_point(const std::vector<Run>& runs, Column from, Column to, std::size_t o) {
  for (const Run& r : runs) {
    if (r.*from <= o && o < r.*from + r.len) return o - r.*from + r.*to;
  }
  return std::nullopt;
}

std::optional<std::size_t> scan_end(const std::vector<Run>& runs, Column from, Column to, std::size_t o) {
  for (const Run& r : runs) {
    if (r.*from < o && o <= r.*from + r.len) return o - r.*from + r.*to;
  }
  return std::nullopt;
}

std::optional<Range> scan_range(const std::vector<Run>& runs, Column from, Column to, std::size_t a, std::size_t b) {
  if (b < a) return std::nullopt;
  if (a == b) {
    auto at = scan_point(runs, from, to, a);
    if (!at) at = scan_end(runs, from, to, a);
    if (!at) return std::nullopt;
    return Range{*at, *at};
  }
  for (const Run& r : runs) {
    if (r.*from <= a && a < r.*from + r.len) {
      if (b > r.*from + r.len) return std::nullopt;
      return Range{a - r.*from + r.*to, b - r.*from + r.*to};
    }
  }
  return std::nullopt;
}

// The source of the mapped bytes of output [a, b), byte by byte.
std::optional<Range> scan_within(const std::vector<Run>& runs, std::size_t a, std::size_t b) {
  std::optional<Range> out;
  for (std::size_t o = a; o < b; ++o) {
    const auto s = scan_point(runs, &Run::output, &Run::source, o);
    if (!s) continue;
    if (!out) out = Range{*s, *s + 1};
    out->end = *s + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t split = data[0] % size;
  const std::string source(reinterpret_cast<const char*>(data) + 1, split);
  const std::uint8_t* plan = data + 1 + split;
  const std::size_t plan_size = size - 1 - split;

  // Each plan byte pair: a filler length, then a run length copied from the
  // source at the current source position, or a bogus run.
  std::string output;
  std::vector<Run> candidates;
  std::size_t at = 0;
  for (std::size_t i = 0; i + 1 < plan_size; i += 2) {
    output.append(plan[i] % 4, '#');
    const std::size_t len = plan[i + 1] % 8;
    if (plan[i + 1] & 0x80) {
      candidates.push_back({static_cast<std::size_t>(plan[i] % (source.size() + 2)), output.size(), len});
      continue;
    }
    const std::size_t take = std::min(len, source.size() - std::min(at, source.size()));
    candidates.push_back({at, output.size(), take});
    output.append(source, std::min(at, source.size()), take);
    at += take + (plan[i] >> 6);
  }

  SourceMap map;
  std::vector<Run> accepted;
  for (const Run& run : candidates) {
    const std::size_t before = map.runs().size();
    if (map.push(source, output, run)) {
      accepted.push_back(run);
      check(map.runs().size() == before + 1);
    } else {
      check(map.runs().size() == before);
    }
  }
  for (const Run& r : accepted) {
    check(r.len > 0 &&
          std::string_view(source).substr(r.source, r.len) == std::string_view(output).substr(r.output, r.len));
  }

  for (std::size_t o = 0; o <= source.size() + 1; ++o) {
    check(map.to_output(o) == scan_point(accepted, &Run::source, &Run::output, o));
    check(map.to_output_end(o) == scan_end(accepted, &Run::source, &Run::output, o));
    for (std::size_t e = o; e <= std::min(o + 9, source.size() + 1); ++e) {
      check(map.to_output_range(o, e) == scan_range(accepted, &Run::source, &Run::output, o, e));
    }
    if (o > 0) check(!map.to_output_range(o, o - 1));
  }
  for (std::size_t o = 0; o <= output.size() + 1; ++o) {
    check(map.to_source(o) == scan_point(accepted, &Run::output, &Run::source, o));
    check(map.to_source_end(o) == scan_end(accepted, &Run::output, &Run::source, o));
    for (std::size_t e = o; e <= std::min(o + 9, output.size() + 1); ++e) {
      check(map.to_source_range(o, e) == scan_range(accepted, &Run::output, &Run::source, o, e));
      check(map.to_source_within(o, e) == scan_within(accepted, o, e));
    }
  }
  return 0;
}
