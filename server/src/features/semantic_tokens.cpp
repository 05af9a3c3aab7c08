#include "features/semantic_tokens.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "tovix/resolve.h"
#include "workspace/naming.h"
#include "workspace/regions.h"
#include "workspace/tree.h"

namespace tovix_lsp::semantic_tokens {

namespace {

using json = nlohmann::json;

constexpr std::uint32_t CLASS_TYPE = 0;
constexpr std::uint32_t FUNCTION_TYPE = 1;

struct Token {
  line_index::ByteRange name;
  std::uint32_t type = 0;
};

std::optional<std::uint32_t> type_of(const tovix::config::Config& config, const tovix::resolve::NameSet& bindings,
                                     std::string_view name) {
  switch (naming::element_kind(config, bindings, name)) {
    case naming::Element::Class: return CLASS_TYPE;
    case naming::Element::Component: return FUNCTION_TYPE;
    case naming::Element::Neither: break;
  }
  return std::nullopt;
}

}  // namespace

json tokens(const document::Document& document, const project::Project& project, const snapshot::Snapshot* snapshot) {
  const std::string& text = document.text();
  const snapshot::Snapshot* current = snapshot::of(snapshot, text);
  // One walk of the regions serves both the tag tree and the blanking.
  std::vector<regions::Region> found;
  const std::span<const regions::Region> markup = snapshot::regions(text, current, found);
  const std::vector<tree::Tag> tags = tree::tree(text, markup);
  tovix::resolve::NameSet computed;
  const tovix::resolve::NameSet& bindings = snapshot::bindings(text, markup, current, computed);

  std::vector<Token> named;
  for (const tree::Tag* tag : tree::flatten(tags)) {
    if (tag->name.empty()) continue;
    const auto type = type_of(project.config, bindings, tag->name);
    if (!type) continue;
    named.push_back({tag->open, *type});
    if (tag->close) named.push_back({*tag->close, *type});
  }
  std::ranges::stable_sort(named, {}, [](const Token& t) { return t.name.start; });

  json data = json::array();
  data.get_ref<json::array_t&>().reserve(named.size() * 5);
  line_index::Positions positions(document.index(), text);
  std::uint32_t previous_line = 0;
  std::uint32_t previous_column = 0;
  for (const Token& token : named) {
    const line_index::Position start = positions.at(token.name.start);
    const std::uint32_t end_column = positions.at(token.name.end).character;
    if (end_column <= start.character) continue;
    data.push_back(start.line - previous_line);
    data.push_back(start.line == previous_line ? start.character - previous_column : start.character);
    data.push_back(end_column - start.character);
    data.push_back(token.type);
    data.push_back(0);
    previous_line = start.line;
    previous_column = start.character;
  }
  return {{"data", std::move(data)}};
}

}  // namespace tovix_lsp::semantic_tokens
