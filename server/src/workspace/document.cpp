#include "workspace/document.h"

#include <utility>

#include "workspace/utf8_text.h"

namespace tovix_lsp::document {

namespace {

// A non-negative JSON integer, reduced to its low 32 bits.
std::optional<std::uint32_t> read_u32(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    return static_cast<std::uint32_t>(value.get<std::uint64_t>());
  }
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    if (n < 0) return std::nullopt;
    return static_cast<std::uint32_t>(n);
  }
  return std::nullopt;
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string valid_text(std::string text) {
  if (utf8_text::is_valid(text)) return text;
  return utf8_text::to_valid(text);
}

}  // namespace

std::optional<line_index::Position> read_position(const nlohmann::json& value) {
  const nlohmann::json* line = member(value, "line");
  const nlohmann::json* character = member(value, "character");
  if (line == nullptr || character == nullptr) return std::nullopt;
  const auto l = read_u32(*line);
  const auto c = read_u32(*character);
  if (!l || !c) return std::nullopt;
  return line_index::Position{*l, *c};
}

Document::Document(std::string uri, std::string text, std::int64_t version)
    : uri_(std::move(uri)), text_(valid_text(std::move(text))), index_(text_), version_(version) {}

std::optional<line_index::ByteRange> Document::byte_range(const nlohmann::json& range) const {
  const nlohmann::json* start_json = member(range, "start");
  const nlohmann::json* end_json = member(range, "end");
  if (start_json == nullptr || end_json == nullptr) return std::nullopt;
  const auto start_pos = read_position(*start_json);
  const auto end_pos = read_position(*end_json);
  if (!start_pos || !end_pos) return std::nullopt;
  const auto start = index_.offset(text_, start_pos->line, start_pos->character);
  if (!start) return std::nullopt;
  const auto end = index_.offset(text_, end_pos->line, end_pos->character);
  if (!end || *end < *start) return std::nullopt;
  return line_index::ByteRange{*start, *end};
}

nlohmann::json Document::position_at(std::size_t offset) const {
  const line_index::Position p = index_.position(text_, offset);
  return {{"character", p.character}, {"line", p.line}};
}

nlohmann::json Document::range_at(std::size_t start, std::size_t end) const {
  return {{"end", position_at(end)}, {"start", position_at(start)}};
}

bool Document::apply(const nlohmann::json& change) {
  const nlohmann::json* text_json = member(change, "text");
  if (text_json == nullptr || !text_json->is_string()) return false;
  const auto& new_text = text_json->get_ref<const std::string&>();
  // The editor's JSON is valid UTF-8, but a value built in-process need not
  // be; refusing it keeps the document's text well-formed.
  if (!utf8_text::is_valid(new_text)) return false;

  if (const nlohmann::json* range_json = member(change, "range")) {
    const auto range = byte_range(*range_json);
    if (!range) return false;
    auto index = index_.edited(range->start, range->end, new_text);
    text_.replace(range->start, range->end - range->start, new_text);
    index_ = std::move(index);
  } else {
    text_ = new_text;
    index_ = line_index::LineIndex(text_);
  }
  return true;
}

const Document* Documents::get(std::string_view uri) const {
  const auto it = docs_.find(uri);
  return it == docs_.end() ? nullptr : &it->second;
}

void Documents::open(std::string uri, std::string text, std::int64_t version) {
  Document doc(uri, std::move(text), version);
  docs_.insert_or_assign(std::move(uri), std::move(doc));
}

std::vector<std::string> Documents::uris() const {
  std::vector<std::string> out;
  out.reserve(docs_.size());
  for (const auto& entry : docs_) out.push_back(entry.first);
  return out;
}

void Documents::close(std::string_view uri) {
  const auto it = docs_.find(uri);
  if (it != docs_.end()) docs_.erase(it);
}

bool Documents::change(std::string_view uri, std::int64_t version,
                       std::span<const nlohmann::json> changes) {
  const auto it = docs_.find(uri);
  if (it == docs_.end()) return false;
  Document& doc = it->second;
  bool all = true;
  for (const nlohmann::json& change : changes) {
    if (!doc.apply(change)) all = false;
  }
  doc.version_ = version;
  return all;
}

}  // namespace tovix_lsp::document
