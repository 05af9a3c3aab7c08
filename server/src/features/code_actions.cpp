#include "features/code_actions.h"

#include <optional>
#include <string>

#include "workspace/protocol.h"
#include "workspace/tree.h"

namespace tovix_lsp::code_actions {

namespace {

using json = nlohmann::json;

// The range of the closing name of the element whose opening name is at
// `range`, when the document has that element and it has a closing tag.
// The element lies in a region holding its name, and the regions keep their
// order: the tags of those regions alone find the same one. `current` is a
// snapshot of the document's text, or null.
std::optional<json> closing_name(const document::Document& document, const json& range,
                                 const snapshot::Snapshot* current) {
  const auto opening = document.byte_range(range);
  if (!opening) return std::nullopt;
  const std::vector<tree::Tag> tags = snapshot::tree_at(document.text(), opening->start, current);
  for (const tree::Tag* tag : tree::flatten(tags)) {
    if (tag->open != *opening || tag->name.empty()) continue;
    if (!tag->close) return std::nullopt;
    return document.range_at(tag->close->start, tag->close->end);
  }
  return std::nullopt;
}

json action(std::string_view uri, const json& diagnostic, std::string_view label, const std::string& candidate,
            const json& range, const std::optional<json>& closing, bool preferred) {
  json edits = json::array({{{"newText", candidate}, {"range", range}}});
  if (closing) edits.push_back({{"newText", candidate}, {"range", *closing}});
  json changes = json::object();
  changes[std::string(uri)] = std::move(edits);
  return {{"diagnostics", json::array({diagnostic})},
          {"edit", {{"changes", std::move(changes)}}},
          {"isPreferred", preferred},
          {"kind", "quickfix"},
          {"title", "Change " + std::string(label) + " to " + candidate}};
}

}  // namespace

std::vector<json> ours(const json& diagnostics) {
  std::vector<json> out;
  if (!diagnostics.is_array()) return out;
  for (const json& d : diagnostics) {
    const json* source = protocol::member(d, "source");
    if (source != nullptr && source->is_string() && *source == "tovix") out.push_back(d);
  }
  return out;
}

json actions(std::string_view uri, std::span<const json> diagnostics, const document::Document* document,
             const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = document != nullptr ? snapshot::of(snapshot, document->text()) : nullptr;
  json out = json::array();
  for (const json& d : diagnostics) {
    const json* data = protocol::member(d, "data");
    const json* range = data != nullptr ? protocol::member(*data, "range") : nullptr;
    const json* candidates = data != nullptr ? protocol::member(*data, "candidates") : nullptr;
    const json* kind = data != nullptr ? protocol::member(*data, "kind") : nullptr;
    if (range == nullptr || candidates == nullptr || !candidates->is_array() || candidates->empty() ||
        kind == nullptr || !(*kind == "member" || *kind == "element"))
      continue;
    const bool element = *kind == "element";
    const std::optional<json> closing =
        element && document != nullptr ? closing_name(*document, *range, current) : std::nullopt;
    const json& first = candidates->front();
    for (const json& candidate : *candidates) {
      if (!candidate.is_string()) continue;
      out.push_back(action(uri, d, element ? "element" : "attribute", candidate.get_ref<const std::string&>(), *range,
                           closing, candidate == first));
    }
  }
  return out;
}

}  // namespace tovix_lsp::code_actions
