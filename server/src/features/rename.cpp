#include "features/rename.h"

#include <string>
#include <vector>

#include "luau/cursor.h"
#include "markup/walk.h"
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
  const scan::Scan at = snapshot::scan(text, offset, current);
  if (std::holds_alternative<scan::Luau>(at.context)) return 0;
  if (const auto* hole = std::get_if<scan::Hole>(&at.context)) return hole->start;
  return std::nullopt;
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

Answer prepare(const document::Document& document, std::size_t offset, const snapshot::Snapshot* snapshot) {
  const std::string& text = document.text();
  const snapshot::Snapshot* current = snapshot::of(snapshot, text);
  if (auto found = pair(text, offset, current)) {
    // The name under the cursor: editors refuse a range that does not hold it.
    const ByteRange name = found->open.start <= offset && offset <= found->open.end ? found->open : *found->close;
    return Local{document.range_at(name.start, name.end)};
  }
  const auto from = luau_from(text, offset, current);
  if (!from) return Null{};
  const auto name = name_at(text, *from, offset, current);
  if (!name) return Forward{};
  return Forward{document.range_at(name->start, name->end)};
}

Answer rename(const document::Document& document, std::size_t offset, std::string_view new_name,
              const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, document.text());
  const auto found = pair(document.text(), offset, current);
  if (!found) {
    if (forwards(document.text(), offset, current)) return Forward{};
    return Null{};
  }
  if (!valid_name(new_name)) return Null{};
  std::vector<protocol::TextEdit> edits{{document.range(found->open.start, found->open.end), std::string(new_name)}};
  if (found->close) edits.push_back({document.range(found->close->start, found->close->end), std::string(new_name)});
  protocol::WorkspaceEdit edit;
  edit.changes.emplace(document.uri(), std::move(edits));
  return Local{protocol::to_json(edit)};
}

}  // namespace tovix_lsp::rename
