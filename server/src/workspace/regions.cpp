#include "workspace/regions.h"

#include <utility>

#include "tovix/markup/parser.h"
#include "tovix/markup/walk.h"
#include "tovix/whitespace.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::regions {

std::vector<Region> regions(std::string_view text) {
  std::vector<Region> found;
  tovix::markup::walk::Walker walker(text);
  while (auto event = walker.next()) {
    if (!*event) break;
    if (auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
      found.push_back(std::move(*markup));
    }
  }
  return found;
}

std::vector<tovix::resolve::Region> spans(std::vector<Region> regions) {
  return spans(std::span<const Region>(regions));
}

std::vector<tovix::resolve::Region> spans(std::span<const Region> regions) {
  std::vector<tovix::resolve::Region> out;
  out.reserve(regions.size());
  for (const Region& region : regions) out.emplace_back(region.start, region.end);
  return out;
}

std::optional<line_index::ByteRange> braced(std::string_view text, std::size_t from) {
  if (from > text.size()) return std::nullopt;
  if (!utf8_text::is_boundary(text, from)) return std::nullopt;
  const std::size_t open = text.find('{', from);
  if (open == std::string_view::npos) return std::nullopt;
  // The hole ends where the parser ends it, so that text in markup nested
  // inside (an apostrophe, say) is not read as Luau.
  tovix::markup::parser::Parser parser(text, open);
  const auto close = parser.find_hole_end();
  if (!close) return std::nullopt;
  return inside(text, open, *close);
}

std::optional<line_index::ByteRange> inside(std::string_view text, std::size_t open, std::size_t close) {
  if (open >= close || close > text.size()) return std::nullopt;
  const std::string_view between = text.substr(open + 1, close - open - 1);
  const std::string_view trimmed = tovix::whitespace::trim(between);
  if (trimmed.empty()) return std::nullopt;
  const std::size_t start = open + 1 + static_cast<std::size_t>(trimmed.data() - between.data());
  return line_index::ByteRange{start, start + trimmed.size()};
}

}  // namespace tovix_lsp::regions
