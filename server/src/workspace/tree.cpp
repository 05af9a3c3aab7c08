#include "workspace/tree.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <variant>

#include "tovix/markup/parser.h"
#include "tovix/markup/walk.h"
#include "tovix/whitespace.h"
#include "workspace/regions.h"
#include "workspace/scan.h"

namespace tovix_lsp::tree {

namespace {

namespace ast = tovix::markup::ast;

std::size_t skip_tag_blanks(std::string_view text, std::size_t at) {
  while (at < text.size() && tovix::whitespace::is_ascii_whitespace(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

// The name of the element's own closing tag. Only an element that ends in
// a closing tag has one, and that tag holds the span's last "</": a
// self-closing element's span can hold "</" only inside its attributes
// (nested markup, a string). The name must end there, so "</Frame2>" is
// not Frame's. The search starts at the span's end, so it costs the length
// of the closing tag alone.
std::optional<line_index::ByteRange> closing_name(std::string_view text, const ast::Element& element,
                                                  std::string_view name) {
  const std::string_view span = text.substr(element.start, element.end - element.start);
  if (span.ends_with("/>")) return std::nullopt;
  const std::size_t slash = span.rfind("</");
  if (slash == std::string_view::npos) return std::nullopt;
  const std::size_t start = skip_tag_blanks(text, element.start + slash + 2);
  const std::size_t end = start + name.size();
  if (text.substr(start, name.size()) != name) return std::nullopt;
  if (end < text.size() && scan::is_name_char(static_cast<unsigned char>(text[end]))) return std::nullopt;
  return line_index::ByteRange{start, end};
}

std::optional<std::string> name_attribute(std::span<const ast::Attribute> attributes) {
  for (const ast::Attribute& attribute : attributes) {
    const auto* named = std::get_if<ast::Attribute::Named>(&attribute.kind);
    if (!named || named->name != "Name") continue;
    const auto* literal = std::get_if<ast::AttributeValue::Literal>(&named->value.kind);
    if (!literal) continue;
    std::string_view value = literal->text;
    while (!value.empty() && (value.front() == '"' || value.front() == '\'')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '"' || value.back() == '\'')) value.remove_suffix(1);
    return std::string(value);
  }
  return std::nullopt;
}

// The markup in a hole's trimmed inside, walked in place so that every
// offset is already an offset into `text`: the walk reads the inside as
// Luau exactly as a walk of that inside alone would, and parses each markup
// start it reports once.
std::vector<Tag> inside_hole(std::string_view text, std::optional<line_index::ByteRange> inside, std::size_t depth) {
  std::vector<Tag> found;
  if (!inside || depth >= tovix::markup::parser::MAX_DEPTH) return found;
  // Markup starts at a `<` token: an inside without a `<` byte holds none,
  // and most holes are such.
  if (text.substr(inside->start, inside->end - inside->start).find('<') == std::string_view::npos) return found;
  tovix::markup::walk::Walker walker(text.substr(0, inside->end), inside->start, depth);
  while (auto event = walker.next()) {
    if (!*event) break;
    if (auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
      found.push_back(tag(text, markup->node, depth));
    }
  }
  return found;
}

void append(std::vector<Tag>& to, std::vector<Tag> from) {
  to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

std::vector<Tag> tree(std::string_view text) { return tree(text, regions::regions(text)); }

std::vector<Tag> tree_at(std::string_view text, std::size_t offset) {
  return tree_at(text, regions::regions(text), offset);
}

std::vector<Tag> tree(std::string_view text, std::span<const regions::Region> regions) {
  std::vector<Tag> tags;
  tags.reserve(regions.size());
  for (const regions::Region& region : regions) tags.push_back(tag(text, region.node));
  return tags;
}

std::vector<Tag> tree_at(std::string_view text, std::span<const regions::Region> regions, std::size_t offset) {
  // Regions are in text order and do not overlap: those holding the offset
  // follow the last one that ends before it.
  auto first = std::ranges::lower_bound(regions, offset, {}, &regions::Region::end);
  std::vector<Tag> tags;
  for (; first != regions.end() && first->start <= offset; ++first) {
    if (offset <= first->end) tags.push_back(tag(text, first->node));
  }
  return tags;
}

Tag tag(std::string_view text, const ast::Node& node, std::size_t depth) {
  Tag out;
  out.span = {node.start(), node.end()};
  if (const auto* fragment = std::get_if<ast::Fragment>(&node.kind)) {
    out.open = {fragment->start + 1, fragment->start + 1};
    if (depth < tovix::markup::parser::MAX_DEPTH) out.children = children(text, fragment->children, depth + 1);
    return out;
  }
  const auto& element = std::get<ast::Element>(node.kind);
  out.name = element.name.as_written();
  const std::size_t name_start = skip_tag_blanks(text, element.start + 1);
  out.open = {name_start, name_start + out.name.size()};
  if (depth < tovix::markup::parser::MAX_DEPTH) {
    out.children = children(text, element.children, depth + 1);
    append(out.children, attribute_regions(text, element.attributes, depth + 1));
    std::ranges::stable_sort(out.children, {}, [](const Tag& t) { return t.span.start; });
  }
  out.close = closing_name(text, element, out.name);
  out.name_attr = name_attribute(element.attributes);
  return out;
}

std::vector<Tag> children(std::string_view text, std::span<const ast::Child> children, std::size_t depth) {
  std::vector<Tag> tags;
  for (const ast::Child& child : children) {
    if (const auto* node = std::get_if<ast::Node>(&child.kind)) {
      tags.push_back(tag(text, *node, depth));
    } else if (const auto* expression = std::get_if<ast::Child::Expression>(&child.kind)) {
      append(tags, inside_hole(text, regions::inside(text, expression->start, expression->end - 1), depth));
    }
  }
  return tags;
}

std::vector<Tag> embedded(std::string_view text, std::size_t from, std::size_t depth) {
  return inside_hole(text, regions::braced(text, from), depth);
}

std::vector<Tag> attribute_regions(std::string_view text, std::span<const ast::Attribute> attributes,
                                   std::size_t depth) {
  std::vector<Tag> tags;
  for (const ast::Attribute& attribute : attributes) {
    const bool has_hole = std::visit(
        [](const auto& a) {
          using A = std::decay_t<decltype(a)>;
          if constexpr (std::is_same_v<A, ast::Attribute::Spread>) {
            return true;
          } else {
            return std::holds_alternative<ast::AttributeValue::Expression>(a.value.kind);
          }
        },
        attribute.kind);
    if (!has_hole) continue;
    // The attribute's own hole is the first `{` from its start, and its `}`
    // ends the attribute.
    const std::size_t open = text.find('{', attribute.start());
    if (open == std::string_view::npos || attribute.end() == 0 || open >= attribute.end()) continue;
    append(tags, inside_hole(text, regions::inside(text, open, attribute.end() - 1), depth));
  }
  return tags;
}

line_index::ByteRange segment_at(std::string_view text, line_index::ByteRange name, std::size_t offset) {
  const std::string_view written = text.substr(name.start, name.end - name.start);
  const std::size_t at = offset - name.start;
  const std::size_t dot_before = at == 0 ? std::string_view::npos : written.rfind('.', at - 1);
  const std::size_t start = dot_before == std::string_view::npos ? 0 : dot_before + 1;
  const std::size_t dot_after = written.find('.', at);
  const std::size_t end = dot_after == std::string_view::npos ? written.size() : dot_after;
  return {name.start + start, name.start + end};
}

std::size_t asked_at(std::string_view text, line_index::ByteRange open, line_index::ByteRange name,
                     std::size_t offset) {
  return open.start + (segment_at(text, name, offset).start - name.start);
}

std::vector<const Tag*> flatten(std::span<const Tag> tags) {
  std::vector<const Tag*> out;
  // An explicit stack of what is left to visit, so that the depth of the
  // tree never reaches the call stack.
  std::vector<std::span<const Tag>> stack{tags};
  while (!stack.empty()) {
    std::span<const Tag>& rest = stack.back();
    if (rest.empty()) {
      stack.pop_back();
      continue;
    }
    const Tag& next = rest.front();
    rest = rest.subspan(1);
    out.push_back(&next);
    if (!next.children.empty()) stack.push_back(next.children);
  }
  return out;
}

const Tag* innermost_at(std::span<const Tag> tags, std::size_t offset) {
  const Tag* found = nullptr;
  for (const Tag* t : flatten(tags)) {
    if (t->span.start <= offset && offset <= t->span.end) found = t;
  }
  return found;
}

}  // namespace tovix_lsp::tree
