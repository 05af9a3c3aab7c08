#include "regions.h"

#include <utility>

#include "markup/parser.h"
#include "markup/walk.h"
#include "whitespace.h"

namespace tovix_lsp::regions {

std::vector<Region> regions(std::string_view text) {
  std::vector<Region> found;
  tovix::markup::walk::Walker walker(text);
  while (auto event = walker.next()) {
    if (!*event) break;
    if (auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
      found.push_back(Region{std::move(markup->node), markup->start, markup->end});
    }
  }
  return found;
}

std::vector<Span> spans(std::vector<Region> regions) {
  std::vector<Span> out;
  out.reserve(regions.size());
  for (const Region& region : regions) out.emplace_back(region.start, region.end);
  return out;
}

std::optional<Span> braced(std::string_view text, std::size_t from) {
  if (from > text.size()) return std::nullopt;
  // A continuation byte is inside a character.
  if (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) {
    return std::nullopt;
  }
  const std::size_t open = text.find('{', from);
  if (open == std::string_view::npos) return std::nullopt;
  // The hole ends where the parser ends it, so that text in markup nested
  // inside (an apostrophe, say) is not read as Luau.
  tovix::markup::parser::Parser parser(text, open);
  const auto close = parser.find_hole_end();
  if (!close) return std::nullopt;
  return inside(text, open, *close);
}

std::optional<Span> inside(std::string_view text, std::size_t open, std::size_t close) {
  if (open >= close || close > text.size()) return std::nullopt;
  const std::string_view between = text.substr(open + 1, close - open - 1);
  const std::string_view trimmed = tovix::whitespace::trim(between);
  if (trimmed.empty()) return std::nullopt;
  const std::size_t start = open + 1 + static_cast<std::size_t>(trimmed.data() - between.data());
  return Span{start, start + trimmed.size()};
}

}  // namespace tovix_lsp::regions
