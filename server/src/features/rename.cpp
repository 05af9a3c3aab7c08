#include "features/rename.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tovix/lexer.h"
#include "tovix/luau/cursor.h"
#include "tovix/markup/walk.h"
#include "workspace/naming.h"
#include "workspace/protocol.h"
#include "workspace/scan.h"
#include "workspace/tree.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::rename {

namespace {

using json = nlohmann::json;
using line_index::ByteRange;

bool is_identifier_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_identifier_char(char c) { return is_identifier_start(c) || (c >= '0' && c <= '9'); }

bool is_identifier(std::string_view name) {
  return !name.empty() && is_identifier_start(name.front()) && std::ranges::all_of(name, is_identifier_char);
}

std::string quoted(std::string_view name) { return "`" + std::string(name) + "`"; }

constexpr char EMPTY_NAME[] = "the new name is empty";

// Where Luau code holding the offset starts being walked: the text's start,
// or the inside of the hole the offset is in. None outside Luau code.
// `current` is a snapshot of `text`, or null.
std::optional<std::size_t> luau_from(std::string_view text, std::size_t offset, const snapshot::Snapshot* current) {
  if (!utf8_text::is_boundary(text, offset)) return std::nullopt;
  return scan::luau_code(snapshot::scan(text, offset, current));
}

// How many interpolated strings, one inside a hole of the other, the name
// under the cursor is looked for in: far more than any code nests, and each
// level lexes its hole again.
constexpr std::size_t MAX_HOLE_DEPTH = 64;

// The identifier token of the Luau walked from `from` that holds the offset,
// inside the holes of interpolated strings too (the lexer keeps such a
// string as one token). No token before the end of a markup expression that
// ends at or before the offset can hold it, so a walk from the start is
// resumed after the last one (`current` is a snapshot of `text`, or null).
std::optional<ByteRange> name_at(std::string_view text, std::size_t from, std::size_t offset,
                                 const snapshot::Snapshot* current) {
  for (std::size_t depth = 0; depth <= MAX_HOLE_DEPTH; ++depth) {
    tovix::markup::walk::Walker walker =
        from == 0 ? snapshot::walk_to(text, offset, current) : tovix::markup::walk::Walker(text, from);
    std::optional<std::size_t> hole;
    while (auto event = walker.next()) {
      if (!*event) return std::nullopt;
      if (const auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
        if (markup->start > offset) return std::nullopt;
        continue;
      }
      const auto& token = std::get<tovix::lexer::Token>(**event);
      if (token.start > offset) return std::nullopt;
      if (token.end < offset) continue;
      if (token.kind == tovix::lexer::TokenKind::InterpolatedString) {
        for (const auto& each : tovix::lexer::interpolation_holes(text, token))
          if (each.start <= offset && offset <= each.end) hole = each.start;
        if (hole) break;
        continue;
      }
      if (token.kind != tovix::lexer::TokenKind::Name) continue;
      if (tovix::luau::cursor::is_keyword(token.text(text))) continue;
      return ByteRange{token.start, token.end};
    }
    if (!hole) return std::nullopt;
    from = *hole;  // the Luau code of the hole holding the offset
  }
  return std::nullopt;
}

// The name of the pair that holds the offset: the opening one when both
// could (they never touch).
ByteRange under(const Pair& pair, std::size_t offset) {
  return pair.open.start <= offset && offset <= pair.open.end ? pair.open : *pair.close;
}

// Whether `range` covers whole dotted segments of `name` (inside it).
bool whole_segments(std::string_view text, ByteRange name, ByteRange range) {
  return range.start >= name.start && range.end <= name.end &&
         (range.start == name.start || text[range.start - 1] == '.') &&
         (range.end == name.end || text[range.end] == '.');
}

// The child's rename of the element `pair` when its name is a component's,
// asked at the segment under the cursor (in `name`, one of the pair's).
std::optional<Component> component_at(std::string_view text, const tovix::config::Config& config, const Pair& pair,
                                      ByteRange name, std::size_t offset, const snapshot::Snapshot* current) {
  const std::string_view written = text.substr(pair.open.start, pair.open.end - pair.open.start);
  tovix::resolve::NameSet found;
  if (naming::element_kind(config, snapshot::bindings(text, current, found), written) != naming::Element::Component) {
    return std::nullopt;
  }
  return Component{pair.open, tree::asked_at(text, pair.open, name, offset), std::nullopt};
}

}  // namespace

bool forwards(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot) {
  return luau_from(text, offset, snapshot::of(snapshot, text)).has_value();
}

std::optional<Pair> pair(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot) {
  // A name holding the offset lies in a region holding it, and the regions
  // keep their order: the tags of those regions alone find the same one.
  const std::vector<tree::Tag> tags = snapshot::tree_at(text, offset, snapshot::of(snapshot, text));
  auto holds = [&](const line_index::ByteRange& r) { return r.start <= offset && offset <= r.end; };
  for (const tree::Tag* tag : tree::flatten(tags)) {
    if (tag->name.empty()) continue;
    if (holds(tag->open) || (tag->close && holds(*tag->close))) return Pair{tag->open, tag->close};
  }
  return std::nullopt;
}

std::optional<ByteRange> luau_name(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, text);
  const auto from = luau_from(text, offset, current);
  if (!from) return std::nullopt;
  return name_at(text, *from, offset, current);
}

std::optional<std::string> tag_name_refusal(std::string_view name) {
  if (name.empty()) return EMPTY_NAME;
  std::optional<std::string> keyword;
  for (std::size_t start = 0;;) {
    const std::size_t dot = name.find('.', start);
    const std::string_view segment = name.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (!is_identifier(segment)) return quoted(name) + " is not a tag name";
    if (!keyword && tovix::luau::cursor::is_keyword(segment)) keyword = quoted(segment) + " is a Luau keyword";
    if (dot == std::string_view::npos) return keyword;
    start = dot + 1;
  }
}

std::optional<std::string> binding_name_refusal(std::string_view name) {
  if (name.empty()) return EMPTY_NAME;
  if (!is_identifier(name)) return quoted(name) + " is not a Luau identifier";
  if (tovix::luau::cursor::is_keyword(name)) return quoted(name) + " is a Luau keyword";
  return std::nullopt;
}

std::optional<std::string> component_name_refusal(const tovix::config::Config& config, std::string_view name) {
  // As the compiler resolves a tag of that name with the name bound.
  const tovix::resolve::NameSet bound{std::string(name)};
  const naming::Element kind = naming::element_kind(config, bound, name);
  if (kind == naming::Element::Component) return std::nullopt;
  const std::optional<std::string> class_name = naming::element_class(config, name);
  if (!class_name) return quoted(name) + " is a Roblox class that tovix.toml renames";
  if (config.element_aliases.contains(name)) return quoted(name) + " is a configured alias of " + *class_name;
  if (*class_name != name) return quoted(name) + " names the Roblox class " + *class_name + " in markup";
  return quoted(name) + " is a Roblox class in markup";
}

Answer prepare(const document::Document& document, const tovix::config::Config& config, std::size_t offset,
               const snapshot::Snapshot* snapshot) {
  const std::string& text = document.text();
  const snapshot::Snapshot* current = snapshot::of(snapshot, text);
  if (auto found = pair(text, offset, current)) {
    // The name under the cursor: editors refuse a range that does not hold it.
    const ByteRange name = under(*found, offset);
    if (auto component = component_at(text, config, *found, name, offset, current)) {
      const ByteRange segment = tree::segment_at(text, name, offset);
      component->local = document.range_at(segment.start, segment.end);
      return std::move(*component);
    }
    return Local{document.range_at(name.start, name.end)};
  }
  const auto from = luau_from(text, offset, current);
  if (!from) return Null{};
  const auto name = name_at(text, *from, offset, current);
  if (!name) return AskLuau{};
  return AskLuau{document.range_at(name->start, name->end)};
}

Answer rename(const document::Document& document, const tovix::config::Config& config, std::size_t offset,
              std::string_view new_name, const snapshot::Snapshot* snapshot) {
  const std::string& text = document.text();
  const snapshot::Snapshot* current = snapshot::of(snapshot, text);
  const auto found = pair(text, offset, current);
  if (!found) {
    if (!forwards(text, offset, current)) return Null{};
    if (auto why = binding_name_refusal(new_name)) return Refused{std::move(*why)};
    // The binding may be a component whose tags the child's edits reach.
    return AskLuau{std::nullopt, component_name_refusal(config, new_name)};
  }
  if (auto component = component_at(text, config, *found, under(*found, offset), offset, current)) {
    if (auto why = binding_name_refusal(new_name)) return Refused{std::move(*why)};
    const std::string_view written =
        std::string_view(text).substr(found->open.start, found->open.end - found->open.start);
    if (written.find('.') == std::string_view::npos) {
      if (auto why = component_name_refusal(config, new_name)) return Refused{std::move(*why)};
    }
    return std::move(*component);
  }
  if (auto why = tag_name_refusal(new_name)) return Refused{std::move(*why)};
  std::vector<protocol::TextEdit> edits{{document.range(found->open.start, found->open.end), std::string(new_name)}};
  if (found->close) edits.push_back({document.range(found->close->start, found->close->end), std::string(new_name)});
  protocol::WorkspaceEdit edit;
  edit.changes.emplace(document.uri(), std::move(edits));
  return Local{protocol::to_json(edit)};
}

bool join_closing_names(const document::Document& document, json& items, const snapshot::Snapshot* snapshot) {
  if (!items.is_array() || items.empty()) return false;
  const std::string& text = document.text();
  const std::vector<tree::Tag> tags = snapshot::tree(text, snapshot::of(snapshot, text));
  // The named elements, by the start of the opening name; those names
  // never overlap.
  std::vector<const tree::Tag*> named;
  for (const tree::Tag* tag : tree::flatten(tags))
    if (!tag->name.empty()) named.push_back(tag);
  if (named.empty()) return false;
  std::ranges::sort(named, {}, [](const tree::Tag* tag) { return tag->open.start; });

  // The range of an item of this document.
  auto range_of = [&](const json& item) -> std::optional<ByteRange> {
    if (const json* uri = protocol::member(item, "uri"); uri && !(uri->is_string() && *uri == document.uri()))
      return std::nullopt;
    const json* range = protocol::member(item, "range");
    return range ? document.byte_range(*range) : std::nullopt;
  };
  std::vector<ByteRange> listed;
  for (const json& item : items)
    if (auto at = range_of(item)) listed.push_back(*at);
  bool whole_name = false;
  json joined = json::array();
  for (json& item : items) {
    const std::optional<ByteRange> at = range_of(item);
    std::optional<ByteRange> closing;
    if (at && at->start < at->end) {
      const auto after =
          std::ranges::upper_bound(named, at->start, {}, [](const tree::Tag* t) { return t->open.start; });
      if (after != named.begin()) {
        const tree::Tag& tag = **std::prev(after);
        if (at->end <= tag.open.end && whole_segments(text, tag.open, *at)) {
          whole_name = whole_name || *at == tag.open;
          if (tag.close) {
            const std::size_t shift = tag.close->start;
            closing = ByteRange{shift + (at->start - tag.open.start), shift + (at->end - tag.open.start)};
          }
        }
      }
    }
    const bool add = closing && std::ranges::find(listed, *closing) == listed.end();
    json copy = add ? item : json();
    joined.push_back(std::move(item));
    if (!add) continue;
    copy["range"] = document.range_at(closing->start, closing->end);
    listed.push_back(*closing);
    joined.push_back(std::move(copy));
  }
  items = std::move(joined);
  return whole_name;
}

bool holds(const json& answer, const json& cursor) {
  const json* range = protocol::member(answer, "range");
  if (range == nullptr && protocol::member(answer, "start") != nullptr) range = &answer;
  if (range == nullptr) return true;
  const auto read = protocol::read_range(*range);
  const auto at = protocol::read_position(cursor);
  if (!read || !at) return false;
  auto key = [](const line_index::Position& p) { return std::pair(p.line, p.character); };
  return key(read->start) <= key(*at) && key(*at) <= key(read->end);
}

}  // namespace tovix_lsp::rename
