#include "features/symbols.h"

#include <algorithm>

#include "workspace/utf8_text.h"

namespace tovix_lsp::symbols {

using json = nlohmann::json;

json symbols(const document::Document& document, const snapshot::Snapshot* snapshot) {
  json out = json::array();
  const std::string& text = document.text();
  for (const tree::Tag& tag : snapshot::tree(text, snapshot::of(snapshot, text))) out.push_back(symbol(document, tag));
  return out;
}

// Recursion is bounded: the tree stops nesting at the parser's depth bound.
json symbol(const document::Document& document, const tree::Tag& tag) {
  json children = json::array();
  for (const tree::Tag& child : tag.children) children.push_back(symbol(document, child));
  const std::string& text = document.text();
  // A fragment's empty name range widens to the character after its `<`.
  const std::size_t after_start =
      tag.open.start < text.size() ? utf8_text::next_boundary(text, tag.open.start, text.size()) : text.size();
  const std::size_t selection_end = std::max(tag.open.end, after_start);
  // Members are moved in one by one: an initializer list would copy the
  // whole subtree of children at every level.
  json out = json::object();
  out["children"] = std::move(children);
  out["kind"] = tag.name.empty() ? 19 : 5;
  out["name"] = tag.name.empty() ? std::string("<>") : tag.name;
  out["range"] = document.range_at(tag.span.start, tag.span.end);
  out["selectionRange"] = document.range_at(tag.open.start, selection_end);
  if (tag.name_attr) out["detail"] = *tag.name_attr;
  return out;
}

}  // namespace tovix_lsp::symbols
