#include "features/rename.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

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

// Where Luau code holding the offset starts being walked: the text's start,
// or the inside of the hole the offset is in. None outside Luau code.
// `current` is a snapshot of `text`, or null.
std::optional<std::size_t> luau_from(std::string_view text, std::size_t offset, const snapshot::Snapshot* current) {
  if (!utf8_text::is_boundary(text, offset)) return std::nullopt;
  return scan::luau_code(snapshot::scan(text, offset, current));
}

// The identifier token of the Luau walked from `from` that holds the offset.
// No token before the end of a markup expression that ends at or before the
// offset can hold it, so a walk from the start is resumed after the last
// one (`current` is a snapshot of `text`, or null).
std::optional<ByteRange> name_at(std::string_view text, std::size_t from, std::size_t offset,
                                 const snapshot::Snapshot* current) {
  tovix::markup::walk::Walker walker =
      from == 0 ? snapshot::walk_to(text, offset, current) : tovix::markup::walk::Walker(text, from);
  while (auto event = walker.next()) {
    if (!*event) return std::nullopt;
    if (const auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
      if (markup->start > offset) return std::nullopt;
      continue;
    }
    const auto& token = std::get<tovix::lexer::Token>(**event);
    if (token.start > offset) return std::nullopt;
    if (token.end < offset || token.kind != tovix::lexer::TokenKind::Name) continue;
    if (tovix::luau::cursor::is_keyword(token.text(text))) continue;
    return ByteRange{token.start, token.end};
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

bool valid_name(std::string_view name) {
  if (name.empty()) return false;
  std::size_t segment_start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '.') {
      if (i == segment_start) return false;
      segment_start = i + 1;
    } else if (i == segment_start ? !is_identifier_start(name[i]) : !is_identifier_char(name[i])) {
      return false;
    }
  }
  return true;
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
    if (forwards(text, offset, current)) return AskLuau{};
    return Null{};
  }
  // The child checks the new name of a binding itself.
  if (auto component = component_at(text, config, *found, under(*found, offset), offset, current)) {
    return std::move(*component);
  }
  if (!valid_name(new_name)) return Null{};
  std::vector<protocol::TextEdit> edits{{document.range(found->open.start, found->open.end), std::string(new_name)}};
  if (found->close) edits.push_back({document.range(found->close->start, found->close->end), std::string(new_name)});
  protocol::WorkspaceEdit edit;
  edit.changes.emplace(document.uri(), std::move(edits));
  return Local{protocol::to_json(edit)};
}

void join_closing_names(const document::Document& document, json& edits, const snapshot::Snapshot* snapshot) {
  if (!edits.is_array() || edits.empty()) return;
  const std::string& text = document.text();
  const std::vector<tree::Tag> tags = snapshot::tree(text, snapshot::of(snapshot, text));
  // The elements with both names, by the start of the opening one; they
  // never overlap.
  std::vector<const tree::Tag*> closed;
  for (const tree::Tag* tag : tree::flatten(tags))
    if (tag->close && !tag->name.empty()) closed.push_back(tag);
  if (closed.empty()) return;
  std::ranges::sort(closed, {}, [](const tree::Tag* tag) { return tag->open.start; });

  std::vector<ByteRange> edited;
  for (const json& edit : edits)
    if (const json* range = protocol::member(edit, "range"))
      if (auto at = document.byte_range(*range)) edited.push_back(*at);
  json joined = json::array();
  for (json& edit : edits) {
    const json* range = protocol::member(edit, "range");
    const std::optional<ByteRange> at = range ? document.byte_range(*range) : std::nullopt;
    std::optional<ByteRange> closing;
    if (at && at->start < at->end) {
      const auto after =
          std::ranges::upper_bound(closed, at->start, {}, [](const tree::Tag* t) { return t->open.start; });
      if (after != closed.begin()) {
        const tree::Tag& tag = **std::prev(after);
        if (at->end <= tag.open.end && whole_segments(text, tag.open, *at)) {
          const std::size_t shift = tag.close->start;
          closing = ByteRange{shift + (at->start - tag.open.start), shift + (at->end - tag.open.start)};
        }
      }
    }
    const bool add = closing && std::ranges::find(edited, *closing) == edited.end();
    json copy = add ? edit : json();
    joined.push_back(std::move(edit));
    if (!add) continue;
    copy["range"] = document.range_at(closing->start, closing->end);
    edited.push_back(*closing);
    joined.push_back(std::move(copy));
  }
  edits = std::move(joined);
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
