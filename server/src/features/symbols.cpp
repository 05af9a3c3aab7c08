#include "features/symbols.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "workspace/utf8_text.h"

namespace tovix_lsp::symbols {

using json = nlohmann::json;

namespace {

// What a tag's symbol says besides its children.
struct Fields {
  std::string_view name;  // "<>" for a fragment
  int kind;
  line_index::ByteRange range;
  line_index::ByteRange selection;
};

Fields fields_of(std::string_view text, const tree::Tag& tag) {
  // A fragment's empty name range widens to the character after its `<`.
  const std::size_t after_start =
      tag.open.start < text.size() ? utf8_text::next_boundary(text, tag.open.start, text.size()) : text.size();
  return Fields{tag.name.empty() ? std::string_view("<>") : std::string_view(tag.name),
                tag.name.empty() ? 19 : 5,
                tag.span,
                {tag.open.start, std::max(tag.open.end, after_start)}};
}

// Writes JSON text as `json::dump` does, compact and keys in ascending
// order.
struct Writer {
  const document::Document& document;
  std::string out;
  line_index::Positions positions;

  void number(std::uint64_t n) {
    char digits[20];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
  }
  void position(std::size_t offset) {
    const line_index::Position p = positions.at(offset);
    out += "{\"character\":";
    number(p.character);
    out += ",\"line\":";
    number(p.line);
    out += '}';
  }
  void range(line_index::ByteRange r) {
    out += "{\"end\":";
    position(r.end);
    out += ",\"start\":";
    position(r.start);
    out += '}';
  }
  // Recursion is bounded: the tree stops nesting at the parser's depth bound.
  void symbol(const tree::Tag& tag) {
    const Fields f = fields_of(document.text(), tag);
    out += "{\"children\":[";
    for (std::size_t i = 0; i < tag.children.size(); ++i) {
      if (i > 0) out += ',';
      symbol(tag.children[i]);
    }
    out += ']';
    // The one text that may need escaping is left to the library.
    if (tag.name_attr) (out += ",\"detail\":") += json(*tag.name_attr).dump();
    out += ",\"kind\":";
    number(static_cast<std::uint64_t>(f.kind));
    // Names as written hold only name characters, and "<>" nothing to escape.
    ((out += ",\"name\":\"") += f.name) += '"';
    out += ",\"range\":";
    range(f.range);
    out += ",\"selectionRange\":";
    range(f.selection);
    out += '}';
  }
};

// Recursion is bounded: the tree stops nesting at the parser's depth bound.
json symbol_in(document::Ranges& ranges, const document::Document& document, const tree::Tag& tag) {
  json children(json::value_t::array);
  auto& list = children.get_ref<json::array_t&>();
  list.reserve(tag.children.size());
  for (const tree::Tag& child : tag.children) list.push_back(symbol_in(ranges, document, child));
  const Fields f = fields_of(document.text(), tag);
  // Members are moved in one by one, in ascending order at the end: an
  // initializer list would copy the whole subtree of children at every
  // level, and a lookup would compare keys.
  json out(json::value_t::object);
  auto& members = out.get_ref<json::object_t&>();
  members.emplace_hint(members.end(), "children", std::move(children));
  if (tag.name_attr) members.emplace_hint(members.end(), "detail", *tag.name_attr);
  members.emplace_hint(members.end(), "kind", f.kind);
  members.emplace_hint(members.end(), "name", std::string(f.name));
  members.emplace_hint(members.end(), "range", ranges.range_at(f.range.start, f.range.end));
  members.emplace_hint(members.end(), "selectionRange", ranges.range_at(f.selection.start, f.selection.end));
  return out;
}

}  // namespace

json symbols(const document::Document& document, const snapshot::Snapshot* snapshot) {
  json out = json::array();
  const std::string& text = document.text();
  document::Ranges ranges(document);
  for (const tree::Tag& tag : snapshot::tree(text, snapshot::of(snapshot, text)))
    out.push_back(symbol_in(ranges, document, tag));
  return out;
}

std::string serialized(const document::Document& document, const snapshot::Snapshot* snapshot) {
  const std::string& text = document.text();
  const std::vector<tree::Tag> tags = snapshot::tree(text, snapshot::of(snapshot, text));
  Writer writer{document, {}, line_index::Positions(document.index(), document.text())};
  // About 200 bytes a symbol; one guess saves most regrowth.
  writer.out.reserve(256 + text.size() * 2);
  writer.out += '[';
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (i > 0) writer.out += ',';
    writer.symbol(tags[i]);
  }
  writer.out += ']';
  return std::move(writer.out);
}

json symbol(const document::Document& document, const tree::Tag& tag) {
  document::Ranges ranges(document);
  return symbol_in(ranges, document, tag);
}

}  // namespace tovix_lsp::symbols
