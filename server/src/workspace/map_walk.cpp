#include "workspace/map_walk.h"

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include "tovix/markup/parser.h"
#include "tovix/roblox/roblox.h"
#include "tovix/unicode.h"
#include "tovix/whitespace.h"
#include "workspace/regions.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::map_walk {

namespace ast = tovix::markup::ast;

namespace {

constexpr std::string_view MERGE_CALL = "__tovix_merge(";
constexpr std::string_view READ_CALL = "__tovix_read(";

// One piece of an element's text content, in child order.
struct TextPart {
  bool expression = false;
  std::size_t start = 0;  // the hole's `{`, for an expression
  std::size_t end = 0;    // just after its `}`
};

// The text-mode plan of an element: its text parts and whether any of them
// is an expression.
struct TextPlan {
  std::vector<TextPart> parts;
  bool has_expression = false;

  static TextPlan of(const std::vector<ast::Child>& children) {
    TextPlan plan;
    for (const ast::Child& child : children) {
      if (const auto* text = std::get_if<ast::Child::Text>(&child.kind)) {
        plan.parts.push_back({false, text->start, text->end});
      } else if (const auto* hole = std::get_if<ast::Child::Expression>(&child.kind)) {
        plan.parts.push_back({true, hole->start, hole->end});
        plan.has_expression = true;
      }
    }
    return plan;
  }
};

// Moves every offset of a tree parsed from a stretch of the source by the
// stretch's start, so that they are the document's. Cheaper than parsing the
// stretch again in the whole source, which gives the same tree.
void shift(ast::Node& node, std::size_t base);

void shift(std::vector<ast::Child>& children, std::size_t base) {
  for (ast::Child& child : children) {
    std::visit(
        [&](auto& item) {
          if constexpr (std::is_same_v<std::decay_t<decltype(item)>, ast::Node>) {
            shift(item, base);
          } else {
            item.start += base;
            item.end += base;
          }
        },
        child.kind);
  }
}

void shift(ast::Node& node, std::size_t base) {
  if (auto* fragment = std::get_if<ast::Fragment>(&node.kind)) {
    fragment->start += base;
    fragment->end += base;
    shift(fragment->children, base);
    return;
  }
  auto& element = std::get<ast::Element>(node.kind);
  element.start += base;
  element.end += base;
  for (ast::Attribute& attribute : element.attributes) {
    std::visit(
        [&](auto& item) {
          item.start += base;
          item.end += base;
        },
        attribute.kind);
  }
  shift(element.children, base);
}

}  // namespace

std::optional<std::size_t> unique_match(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return std::nullopt;
  const std::size_t first = haystack.find(needle);
  if (first == std::string_view::npos) return std::nullopt;
  if (haystack.find(needle, first + needle.size()) != std::string_view::npos) return std::nullopt;
  return first;
}

Builder::Builder(std::string_view source_text, std::string_view output_text,
                 const tovix::resolve::Resolver& file_resolver)
    : source(source_text),
      output(output_text),
      resolver(file_resolver),
      source_index(source_text),
      output_index(output_text),
      limit(output_text.size()) {}

line_index::ByteRange Builder::line_window(std::size_t start, std::size_t end) const {
  const std::size_t first = source_index.line_of(start);
  const std::size_t last = source_index.line_of(end > start ? end - 1 : start);
  if (first >= output_index.line_count()) return {1, 0};
  const std::size_t from = std::max(output_index.starts()[first], cursor);
  const std::size_t to = std::min(output_index.line_range(output, last).end, limit);
  if (to < from) return {1, 0};
  return {from, to};
}

std::optional<std::size_t> Builder::find(std::string_view needle, std::size_t from, std::size_t to) const {
  to = std::min(to, output.size());
  if (to < from) return std::nullopt;
  const std::size_t at = output.substr(from, to - from).find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  return from + at;
}

std::optional<std::size_t> Builder::unique_in(std::string_view needle, std::size_t from, std::size_t to) const {
  to = std::min(to, output.size());
  if (to < from) return std::nullopt;
  const auto at = unique_match(output.substr(from, to - from), needle);
  if (!at) return std::nullopt;
  return from + *at;
}

bool Builder::at_cursor(std::string_view text) const {
  const std::size_t end = std::min(limit, output.size());
  return cursor <= end && text.size() <= end - cursor && output.substr(cursor, text.size()) == text;
}

bool Builder::pass(std::string_view text) {
  const auto at = find(text, cursor, limit);
  if (!at) return false;
  cursor = *at + text.size();
  return true;
}

bool Builder::record(std::size_t source_offset, std::size_t output_offset, std::size_t len) {
  if (!map.push(source, output, {source_offset, output_offset, len})) return false;
  cursor = output_offset + len;
  return true;
}

void Builder::verbatim(std::size_t start, std::size_t len) {
  if (len == 0 || !utf8_text::is_whole(source, start, len)) return;
  const std::string_view text = source.substr(start, len);
  if (at_cursor(text)) {
    record(start, cursor, len);
    return;
  }
  // A short text is too likely to occur by accident somewhere else.
  if (len < 3) return;
  const line_index::ByteRange window = line_window(start, start + len);
  if (window.start <= window.end) {
    if (const auto at = unique_in(text, window.start, window.end)) {
      record(start, *at, len);
      return;
    }
  }
  if (const auto at = unique_in(text, cursor, limit)) record(start, *at, len);
}

std::optional<std::size_t> Builder::anchor_before(std::string_view text, std::size_t at) {
  const std::size_t line = source_index.line_of(at);
  if (line >= output_index.line_count()) return std::nullopt;
  const std::size_t end = std::min(limit, output_index.line_range(output, line).end);
  const auto found = find(text, cursor, end);
  if (found) cursor = *found + text.size();
  return found;
}

bool Builder::attribute_key(std::string_view written, std::string_view key, std::size_t at) {
  std::string& needle = scratch_;
  needle.assign(key).append(" = ");
  std::optional<std::size_t> found;
  const line_index::ByteRange window = line_window(at, at + written.size());
  if (window.start <= window.end) found = find(needle, window.start, window.end);
  if (!found) found = find(needle, cursor, limit);
  if (!found) return false;
  // A renamed member is not the text the source spells.
  if (written == key) (void)map.push(source, output, {at, *found, written.size()});
  cursor = *found + needle.size();
  return true;
}

void Builder::skip_to(std::string_view text) {
  if (text.empty()) return;
  const std::size_t end = std::min(limit, output.size());
  while (cursor < end) {
    if (output.substr(cursor).starts_with(text)) return;
    if (!utf8_text::is_boundary(output, cursor)) return;
    const auto c = tovix::unicode::decode_at(output, cursor);
    if (cursor + c.length > end || !utf8_text::is_boundary(output, cursor + c.length)) return;
    const bool separator = c.length == 1 && std::string_view(",(){}").find(output[cursor]) != std::string_view::npos;
    const bool blank = tovix::whitespace::leading_whitespace_length(output.substr(cursor, c.length)) == c.length;
    if (!separator && !blank) return;
    cursor += c.length;
  }
}

void Builder::braced_expression(std::size_t from, std::size_t end) {
  // The tree has the hole's end already: no need to find its brace again.
  const std::size_t open = source.find('{', from);
  if (open == std::string_view::npos || end == 0 || end > source.size() || source[end - 1] != '}') return;
  if (const auto range = regions::inside(source, open, end - 1)) expression(range->start, range->end);
}

void Builder::expression(std::size_t start, std::size_t end) {
  if (end < start || !utf8_text::is_whole(source, start, end - start)) return;
  const std::string_view text = source.substr(start, end - start);
  // Markup opens with `<`; most holes hold none and need no markup scan.
  if (text.find('<') == std::string_view::npos) {
    skip_to(text);
    verbatim(start, text.size());
    return;
  }
  std::vector<regions::Region> nested = regions::regions(text);
  skip_to(nested.empty() ? text : text.substr(0, nested.front().start));
  if (nested.empty()) {
    verbatim(start, text.size());
    return;
  }
  std::size_t previous = 0;
  for (regions::Region& region : nested) {
    if (region.start > previous) verbatim(start + previous, region.start - previous);
    shift(region.node, start);
    node(region.node);
    previous = region.end;
  }
  if (previous < text.size()) verbatim(start + previous, text.size() - previous);
}

const Builder::ElementKind& Builder::kind_of(const ast::Element& element, const std::string& written) {
  if (const auto it = elements_.find(written); it != elements_.end()) return it->second;
  ElementKind kind{ElementKind::Is::Unresolved, written, false};
  // The compiler writes the factory head with the name as written for a
  // name that does not resolve.
  if (const auto resolved = resolver.resolve(element.name, element.start)) {
    if (const auto* cls = std::get_if<tovix::resolve::Resolution::Class>(&resolved->kind)) {
      kind = {ElementKind::Is::Class, cls->name, tovix::roblox::has_text_property(cls->name)};
    } else if (const auto* other = std::get_if<tovix::resolve::Resolution::Unresolved>(&resolved->kind)) {
      kind.name = other->name;
    } else {
      kind.is = ElementKind::Is::Component;
    }
  }
  return elements_.emplace(written, std::move(kind)).first->second;
}

std::string_view Builder::member_of(std::string_view klass, std::string_view written, std::size_t at) {
  key_.assign(klass).push_back('\0');
  key_.append(written);
  if (const auto it = members_.find(key_); it != members_.end()) return it->second;
  auto member = resolver.resolve_attribute(klass, written, at);
  // A member the class lacks is still written under its written name.
  return members_.emplace(key_, member ? std::move(*member) : std::string(written)).first->second;
}

void Builder::node(const ast::Node& markup) {
  // Markup nested through holes is parsed one hole at a time, so the
  // parser's own bound does not hold across holes; the compiler refuses
  // deeper nesting, so nothing it accepts is cut off here.
  if (depth_ >= tovix::markup::parser::MAX_DEPTH) return;
  ++depth_;
  walk_node(markup);
  --depth_;
}

void Builder::walk_node(const ast::Node& markup) {
  if (const auto* fragment = std::get_if<ast::Fragment>(&markup.kind)) {
    for (const ast::Child& child : fragment->children) {
      if (const auto* inner = std::get_if<ast::Node>(&child.kind)) {
        node(*inner);
      } else if (const auto* hole = std::get_if<ast::Child::Expression>(&child.kind)) {
        braced_expression(hole->start, hole->end);
      }
    }
    return;
  }
  const auto& element = std::get<ast::Element>(markup.kind);
  const std::string written = element.name.as_written();
  const std::string_view factory = resolver.config.create;

  // The opening name as written, from the first byte after the `<` that is
  // not blank; none when the source does not spell it there.
  std::size_t i = element.start + 1;
  while (i < source.size() && tovix::whitespace::is_ascii_whitespace(static_cast<unsigned char>(source[i]))) ++i;
  const std::size_t n = written.size();
  const bool named = source.substr(i).starts_with(written);
  // Where the element's call starts and the "(" its head ends with.
  std::optional<std::size_t> head;
  std::size_t open = 0;

  const ElementKind& kind = kind_of(element, written);
  // The class the element creates; none for a component or an unresolved name.
  const std::string* klass = kind.is == ElementKind::Is::Class ? &kind.name : nullptr;
  if (kind.is != ElementKind::Is::Component) {
    // The factory head "{create}(\"{class}\")(" that the generator writes.
    scratch_.assign(factory).append("(\"").append(kind.name).append("\")(");
    head = anchor_before(scratch_, element.start);
    open = head ? *head + scratch_.size() - 1 : 0;
  } else if (named) {
    // A component is called under the name as written.
    std::string& needle = scratch_;
    needle.assign(written).append("(");
    // Its call follows the separators after the previous entry; searched
    // for instead, one of several calls of the same component on a line
    // is never unique.
    skip_to(needle);
    std::optional<std::size_t> at;
    if (at_cursor(needle)) {
      at = cursor;
    } else {
      const line_index::ByteRange window = line_window(i, i + n);
      if (window.start <= window.end) at = unique_in(needle, window.start, window.end);
      if (!at) at = unique_in(needle, cursor, limit);
    }
    if (at && record(i, *at, n)) {
      head = at;
      open = *at + n;
    }
  }
  const std::size_t around = enclosing_;
  if (head && named && map.add_element({{element.start, element.end}, {i, i + n}, *head, open, around}))
    enclosing_ = map.elements().size() - 1;

  const bool has_spread = std::ranges::any_of(element.attributes, [](const ast::Attribute& a) {
    return std::holds_alternative<ast::Attribute::Spread>(a.kind);
  });
  if (has_spread) anchor_before(MERGE_CALL, element.start);

  bool text_mode = false;
  TextPlan plan;
  if (klass && kind.has_text) {
    bool t = false, e = false, n = false;
    for (const ast::Child& child : element.children) {
      t = t || std::holds_alternative<ast::Child::Text>(child.kind);
      e = e || std::holds_alternative<ast::Child::Expression>(child.kind);
      n = n || std::holds_alternative<ast::Node>(child.kind);
    }
    text_mode = (t && !(n && e)) || (!t && e && !n);
    if (text_mode) plan = TextPlan::of(element.children);
  }

  for (const ast::Attribute& attribute : element.attributes) {
    if (const auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
      braced_expression(spread->start, spread->end);
      continue;
    }
    const auto& named = std::get<ast::Attribute::Named>(attribute.kind);
    // In text mode the text content replaces a written Text attribute.
    if (text_mode && named.name == "Text") continue;
    const std::string_view key = klass ? member_of(*klass, named.name, named.start) : named.name;
    const bool keyed = attribute_key(named.name, key, named.start);
    std::visit(
        [&](const auto& value) {
          using V = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<V, ast::AttributeValue::Bare>) {
            if (keyed) {
              (void)pass("true");
            } else {
              scratch_.assign(key).append(" = true");
              (void)pass(scratch_);
            }
          } else if constexpr (std::is_same_v<V, ast::AttributeValue::Literal>) {
            // The literal is the last bytes of the attribute, as written.
            if (value.text.size() <= named.end) verbatim(named.end - value.text.size(), value.text.size());
          } else {
            braced_expression(named.start, named.end);
          }
        },
        named.value.kind);
  }

  // The generator writes the Text entry among the children at the place of
  // the first text part, so child elements before it come first.
  bool text_pending = text_mode;
  auto text_entry = [&] {
    text_pending = false;
    if (!pass("Text = ")) return;
    if (plan.parts.size() == 1 && plan.parts.front().expression) {
      braced_expression(plan.parts.front().start, plan.parts.front().end);
    } else {
      for (const TextPart& part : plan.parts) {
        if (part.expression && pass(READ_CALL)) braced_expression(part.start, part.end);
      }
    }
  };

  for (const ast::Child& child : element.children) {
    if (const auto* inner = std::get_if<ast::Node>(&child.kind)) {
      if (text_pending && inner->start() > plan.parts.front().start) text_entry();
      node(*inner);
    } else if (const auto* hole = std::get_if<ast::Child::Expression>(&child.kind)) {
      // In text mode the holes are the text parts, mapped with the entry.
      if (!(text_mode && plan.has_expression)) braced_expression(hole->start, hole->end);
    }
  }
  if (text_pending) text_entry();
  enclosing_ = around;
}

}  // namespace tovix_lsp::map_walk
