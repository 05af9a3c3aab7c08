#include "regions.h"

#include <utility>

#include "lexer.h"
#include "markup/parser.h"
#include "markup_scan.h"
#include "whitespace.h"

namespace tovix_lsp::regions {

std::vector<Region> regions(std::string_view text) {
  std::vector<Region> found;
  tovix::lexer::Lexer lexer(text);
  tovix::markup_scan::Scanner scanner(text);
  while (auto next = lexer.next_token()) {
    if (!*next) break;
    const tovix::lexer::Token token = **next;
    if (!scanner.feed(token, lexer)) continue;
    auto parsed = tovix::markup::parser::parse_node(text, token.start);
    if (!parsed) break;
    const std::size_t end = parsed->end;
    found.push_back(Region{std::move(parsed->node), token.start, end});
    scanner.resume(lexer, end);
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
  const auto close = tovix::lexer::find_matching_brace(text, open);
  if (!close) return std::nullopt;
  const std::string_view inside = text.substr(open + 1, *close - open - 1);
  const std::string_view trimmed = tovix::whitespace::trim(inside);
  if (trimmed.empty()) return std::nullopt;
  const std::size_t start = open + 1 + static_cast<std::size_t>(trimmed.data() - inside.data());
  return Span{start, start + trimmed.size()};
}

}  // namespace tovix_lsp::regions
