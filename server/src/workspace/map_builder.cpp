#include "workspace/map_builder.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "tovix/imports.h"
#include "tovix/lexer.h"
#include "tovix/resolve.h"
#include "workspace/map_walk.h"
#include "workspace/regions.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::map_builder {

namespace {

constexpr std::string_view MERGE = "__tovix_merge";
constexpr std::string_view READ = "__tovix_read";

// Whether output [from, from + len) is whole characters equal to source
// [at, at + len).
bool same_text(std::string_view output, std::size_t from, std::string_view source, std::size_t at, std::size_t len) {
  return utf8_text::is_whole(output, from, len) && output.substr(from, len) == source.substr(at, len);
}

// Where the helpers went in and how many bytes they add there.
struct Header {
  std::size_t at = 0;    // source offset of the first significant token
  std::size_t size = 0;  // bytes inserted in front of it
};

bool helper_present(std::string_view output, std::string_view name, const tovix::resolve::NameSet& bindings) {
  return output.find(fmt::format("local function {}(", name)) != std::string_view::npos && !bindings.contains(name);
}

std::optional<Header> header_of(std::string_view source, std::string_view output,
                                const tovix::resolve::Resolver& resolver) {
  const bool merge = helper_present(output, MERGE, resolver.bindings);
  const bool read = helper_present(output, READ, resolver.bindings);
  if (!merge && !read) return std::nullopt;

  tovix::lexer::Lexer lexer(source);
  std::optional<std::size_t> at;
  while (auto next = lexer.next_token()) {
    if (!*next) return std::nullopt;
    if (tovix::lexer::is_significant((*next)->kind)) {
      at = (*next)->start;
      break;
    }
  }
  if (!at) return std::nullopt;

  // What the helpers add is measured on a one-byte program.
  const auto injected = tovix::imports::inject(
      "x", tovix::imports::HelperUse{.uses_factory = false, .needs_read = read, .needs_merge = merge},
      resolver.bindings, resolver.config);
  if (!injected || injected->empty()) return std::nullopt;
  return Header{*at, injected->size() - 1};
}

// The map from the document's top-level markup (anything with `node`,
// `start` and `end`, in text order) and the resolver of its names.
template <typename Region>
sourcemap::SourceMap build_from(std::string_view source, std::string_view output, std::span<const Region> found,
                                const tovix::resolve::Resolver& resolver) {
  map_walk::Builder builder(source, output, resolver);
  const line_index::LineIndex& lines = builder.source_index;
  const line_index::LineIndex& out_lines = builder.output_index;
  if (lines.line_count() != out_lines.line_count()) return {};

  const std::optional<Header> header = header_of(source, output, resolver);

  // Adds the unchanged Luau from `from` up to `to` at output offset `at`,
  // shifting past the helpers when they went in within it. Returns the
  // output offset that corresponds to `to`.
  auto gap = [&](std::size_t from, std::size_t at, std::size_t to) {
    if (header && from <= header->at && header->at < to) {
      if (header->at > from) (void)builder.map.push(source, output, {from, at, header->at - from});
      at += header->at - from + header->size;
      from = header->at;
    }
    if (to > from) (void)builder.map.push(source, output, {from, at, to - from});
    return at + (to - from);
  };

  bool aligned = true;
  std::size_t v0 = 0;  // source end of the last stretch known to correspond
  std::size_t w0 = 0;  // its output end
  std::size_t first = 0;
  while (first < found.size()) {
    // A cluster: regions chained by ending on the line where the next starts.
    std::size_t last = first;
    while (last + 1 < found.size() && lines.line_of(found[last].end) == lines.line_of(found[last + 1].start)) {
      ++last;
    }
    const std::size_t u = found[first].start;
    const std::size_t v = found[last].end;
    const bool final_cluster = last + 1 == found.size();

    // Tail: the text after the cluster on its line ends the output line too.
    const std::size_t line = lines.line_of(v);
    const std::size_t l = lines.line_range(source, line).end;
    const line_index::ByteRange out_line = out_lines.line_range(output, line);
    const std::size_t h = out_line.end;
    const bool tail_ok =
        l >= v && h >= l - v && h - (l - v) >= out_line.start && same_text(output, h - (l - v), source, v, l - v);
    if (!tail_ok) {
      aligned = false;
      v0 = v;
      if (final_cluster) return std::move(builder.map);
      first = last + 1;
      continue;
    }
    const std::size_t w = h - (l - v);

    if (aligned) {
      builder.cursor = gap(v0, w0, u);
    } else {
      // Head: the text before the cluster on its line starts the output line.
      const std::size_t head_line = lines.line_of(u);
      const std::size_t a = lines.starts()[head_line];
      const std::size_t b = out_lines.starts()[head_line];
      const std::size_t head_end = out_lines.line_range(output, head_line).end;
      if (b + (u - a) > head_end || !same_text(output, b, source, a, u - a)) {
        v0 = v;
        if (final_cluster) return std::move(builder.map);
        first = last + 1;
        continue;
      }
      builder.cursor = b + (u - a);
    }

    builder.limit = w;
    for (std::size_t i = first; i <= last; ++i) {
      builder.node(found[i].node);
      if (i < last) {
        const std::size_t between = found[i].end;
        const std::size_t len = found[i + 1].start - between;
        builder.skip_to(source.substr(between, len));
        builder.verbatim(between, len);
      }
    }
    aligned = true;
    v0 = v;
    w0 = w;
    first = last + 1;
  }

  if (aligned) (void)gap(v0, w0, source.size());
  return std::move(builder.map);
}

}  // namespace

sourcemap::SourceMap build(std::string_view source, std::string_view output, const tovix::config::Config& config) {
  const std::vector<regions::Region> found = regions::regions(source);
  std::vector<tovix::resolve::Region> spans;
  spans.reserve(found.size());
  for (const regions::Region& region : found) spans.emplace_back(region.start, region.end);
  const tovix::resolve::Resolver resolver(tovix::resolve::blank_tovix_regions(source, spans), config);
  return build_from(source, output, std::span<const regions::Region>(found), resolver);
}

sourcemap::SourceMap build(std::string_view source, std::string_view output, const tovix::config::Config& config,
                           std::span<const tovix::markup::walk::Markup> markup, tovix::resolve::NameSet bindings) {
  const tovix::resolve::Resolver resolver(std::move(bindings), config);
  return build(source, output, resolver, markup);
}

sourcemap::SourceMap build(std::string_view source, std::string_view output, const tovix::resolve::Resolver& resolver,
                           std::span<const tovix::markup::walk::Markup> markup) {
  return build_from(source, output, markup, resolver);
}

}  // namespace tovix_lsp::map_builder
