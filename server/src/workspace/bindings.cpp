#include "workspace/bindings.h"

#include <string>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/resolve.h"
#include "workspace/regions.h"

namespace tovix_lsp::bindings {

std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name) {
  const std::vector<regions::Region> found = regions::regions(text);
  return bindings::find(text, name, std::span<const regions::Region>(found));
}

std::optional<line_index::ByteRange> find(std::string_view text, std::string_view name,
                                          std::span<const regions::Region> regions) {
  const std::string blanked = tovix::resolve::blank_tovix_regions(text, regions::spans(regions));
  const auto tokens = tovix::lexer::tokenize(blanked);
  if (!tokens) return std::nullopt;

  std::vector<tovix::lexer::Token> kept;
  for (const tovix::lexer::Token& token : *tokens) {
    if (tovix::lexer::is_significant(token.kind)) kept.push_back(token);
  }
  const auto text_of = [&](std::size_t i) { return kept[i].text(blanked); };

  for (std::size_t i = 1; i < kept.size(); ++i) {
    if (kept[i].kind != tovix::lexer::TokenKind::Name || text_of(i) != name) continue;
    const std::string_view before = text_of(i - 1);
    bool found = before == "local" || before == "function";
    if (!found && before == "," && i >= 2) {
      // Back over "a, b," to the "local" that starts the list. Keywords lex
      // as names, so they are passed over like any other name.
      for (std::size_t k = i - 2;; --k) {
        const std::string_view word = text_of(k);
        if (word == ",") {
          if (k == 0) break;
          continue;
        }
        if (word == "local") {
          found = true;
          break;
        }
        if (kept[k].kind != tovix::lexer::TokenKind::Name || word.empty() || k == 0) break;
      }
    }
    if (found) return line_index::ByteRange{kept[i].start, kept[i].end};
  }
  return std::nullopt;
}

}  // namespace tovix_lsp::bindings
