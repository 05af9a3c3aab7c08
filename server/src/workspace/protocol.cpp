#include "workspace/protocol.h"

#include <utility>

namespace tovix_lsp::protocol {

using json = nlohmann::json;

std::optional<std::uint32_t> read_u32(const json& value) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (n > UINT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(n);
  }
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    if (n < 0 || n > std::int64_t{UINT32_MAX}) return std::nullopt;
    return static_cast<std::uint32_t>(n);
  }
  return std::nullopt;
}

const json* member(const json& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<Position> read_position(const json& value) {
  const json* line = member(value, "line");
  const json* character = member(value, "character");
  if (line == nullptr || character == nullptr) return std::nullopt;
  const auto l = read_u32(*line);
  const auto c = read_u32(*character);
  if (!l || !c) return std::nullopt;
  return Position{*l, *c};
}

std::optional<Range> read_range(const json& value) {
  const json* start = member(value, "start");
  const json* end = member(value, "end");
  if (start == nullptr || end == nullptr) return std::nullopt;
  auto s = read_position(*start);
  auto e = read_position(*end);
  if (!s || !e) return std::nullopt;
  return Range{*s, *e};
}

std::optional<TextDocumentPositionParams> read_text_document_position(const json& params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return std::nullopt;
  const json* position = member(params, "position");
  if (position == nullptr) return std::nullopt;
  auto p = read_position(*position);
  if (!p) return std::nullopt;
  return TextDocumentPositionParams{std::move(*uri), *p};
}

std::optional<TextDocumentItem> read_did_open(json&& params) {
  if (!params.is_object()) return std::nullopt;
  const auto document = params.find("textDocument");
  if (document == params.end() || !document->is_object()) return std::nullopt;
  const auto uri = document->find("uri");
  const auto text = document->find("text");
  if (uri == document->end() || !uri->is_string() || text == document->end() || !text->is_string()) return std::nullopt;
  const json* version = member(*document, "version");
  return TextDocumentItem{std::move(uri->get_ref<std::string&>()), std::move(text->get_ref<std::string&>()),
                          version ? version_of(*version) : 0};
}

std::optional<DidChangeTextDocumentParams> read_did_change(json&& params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return std::nullopt;
  DidChangeTextDocumentParams out{std::move(*uri)};
  if (const json* document = member(params, "textDocument"))
    if (const json* version = member(*document, "version")) out.version = version_of(*version);
  if (const auto changes = params.find("contentChanges"); changes != params.end() && changes->is_array())
    out.changes = std::move(*changes);
  return out;
}

std::optional<TextDocumentIdentifier> read_text_document(const json& params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return std::nullopt;
  return TextDocumentIdentifier{std::move(*uri)};
}

const json* value_at(const json& value, std::string_view pointer) {
  if (!value.is_object() && !value.is_array()) return nullptr;
  // A pointer that does not parse finds nothing; no caller passes one.
  json::json_pointer p;
  try {
    p = json::json_pointer(std::string(pointer));
  } catch (const json::exception&) {
    return nullptr;
  }
  if (!value.contains(p)) return nullptr;
  return &value.at(p);
}

std::optional<std::string> string_at(const json& value, std::string_view pointer) {
  const json* v = value_at(value, pointer);
  if (!v || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

std::optional<std::int64_t> read_i64(const json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned() && value.get<std::uint64_t>() <= std::uint64_t(INT64_MAX))
    return static_cast<std::int64_t>(value.get<std::uint64_t>());
  return std::nullopt;
}

std::int64_t version_of(const json& value) { return read_i64(value).value_or(0); }

// Positions and ranges are built by emplacing members: an initializer list
// copies every member it holds, and whole-document answers (symbols, edits)
// build thousands of ranges.
// Members go in in ascending order, each at the end: no key is compared.
json to_json(const Position& position) {
  json out(json::value_t::object);
  auto& members = out.get_ref<json::object_t&>();
  members.emplace_hint(members.end(), "character", position.character);
  members.emplace_hint(members.end(), "line", position.line);
  return out;
}

json to_json(const Range& range) {
  json out(json::value_t::object);
  auto& members = out.get_ref<json::object_t&>();
  members.emplace_hint(members.end(), "end", to_json(range.end));
  members.emplace_hint(members.end(), "start", to_json(range.start));
  return out;
}

json to_json(const Location& location) { return {{"range", to_json(location.range)}, {"uri", location.uri}}; }

json to_json(const TextEdit& edit) { return {{"newText", edit.new_text}, {"range", to_json(edit.range)}}; }

json to_json(const WorkspaceEdit& edit) {
  json changes = json::object();
  for (const auto& [uri, edits] : edit.changes) {
    json list = json::array();
    for (const TextEdit& e : edits) list.push_back(to_json(e));
    changes[uri] = std::move(list);
  }
  return {{"changes", std::move(changes)}};
}

json to_json(const Diagnostic& diagnostic) {
  json range = to_json(diagnostic.range);
  json out = {{"message", diagnostic.message},
              {"range", range},
              {"severity", static_cast<int>(diagnostic.severity)},
              {"source", "tovix"}};
  if (diagnostic.help)
    out["relatedInformation"] = json::array(
        {{{"location", {{"range", std::move(range)}, {"uri", diagnostic.uri}}}, {"message", *diagnostic.help}}});
  if (diagnostic.data) out["data"] = *diagnostic.data;
  return out;
}

}  // namespace tovix_lsp::protocol
