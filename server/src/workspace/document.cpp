#include "workspace/document.h"

#include <utility>

#include "workspace/utf8_text.h"

namespace tovix_lsp::document {

namespace {

std::string valid_text(std::string text) {
  if (utf8_text::is_valid(text)) return text;
  return utf8_text::to_valid(text);
}

}  // namespace

Document::Document(std::string uri, std::string text, std::int64_t version)
    : uri_(std::move(uri)), text_(valid_text(std::move(text))), index_(text_), version_(version) {}

std::optional<line_index::ByteRange> Document::byte_range(const nlohmann::json& range) const {
  const auto r = protocol::read_range(range);
  if (!r) return std::nullopt;
  const auto start = offset(r->start);
  if (!start) return std::nullopt;
  const auto end = offset(r->end);
  if (!end || *end < *start) return std::nullopt;
  return line_index::ByteRange{*start, *end};
}

std::optional<std::size_t> Document::offset(const protocol::Position& position) const {
  return index_.offset(text_, position.line, position.character);
}

protocol::Position Document::position(std::size_t offset) const { return index_.position(text_, offset); }

nlohmann::json Document::position_at(std::size_t offset) const { return protocol::to_json(position(offset)); }

protocol::Range Document::range(std::size_t start, std::size_t end) const { return {position(start), position(end)}; }

nlohmann::json Document::range_at(std::size_t start, std::size_t end) const {
  return protocol::to_json(range(start, end));
}

bool Document::apply(const nlohmann::json& change) {
  const nlohmann::json* text_json = protocol::member(change, "text");
  if (text_json == nullptr || !text_json->is_string()) return false;
  const auto& new_text = text_json->get_ref<const std::string&>();
  // The editor's JSON is valid UTF-8, but a value built in-process need not
  // be; refusing it keeps the document's text well-formed.
  if (!utf8_text::is_valid(new_text)) return false;

  if (const nlohmann::json* range_json = protocol::member(change, "range")) {
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

bool Document::change(std::int64_t version, std::span<const nlohmann::json> changes) {
  bool all = true;
  for (const nlohmann::json& change : changes) {
    if (!apply(change)) all = false;
  }
  version_ = version;
  return all;
}

}  // namespace tovix_lsp::document
