#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/line_index.h"
#include "workspace/protocol.h"

// The documents the editor has open, their text kept in step with the
// editor's incremental edits. Offsets are bytes; protocol positions appear
// only as JSON values at this module's edge.
namespace tovix_lsp::document {

// One open document. Its text is always valid UTF-8 and its index always
// describes its text, so both change only together, through `apply`.
class Document {
 public:
  // Ill-formed UTF-8 in `text` is replaced by U+FFFD.
  Document(std::string uri, std::string text, std::int64_t version);

  // The URI exactly as the editor sent it.
  [[nodiscard]] const std::string& uri() const { return uri_; }
  [[nodiscard]] const std::string& text() const { return text_; }
  [[nodiscard]] const line_index::LineIndex& index() const { return index_; }
  [[nodiscard]] std::int64_t version() const { return version_; }

  // Byte range of a protocol Range (JSON). Absent when a member is missing
  // or malformed, a line is at or past the line count, or the end comes
  // before the start. Both ends are character boundaries.
  [[nodiscard]] std::optional<line_index::ByteRange> byte_range(const nlohmann::json& range) const;

  // The position of an offset; clamps and floors like `LineIndex::position`.
  [[nodiscard]] protocol::Position position(std::size_t offset) const;
  [[nodiscard]] nlohmann::json position_at(std::size_t offset) const;

  // The one way byte offsets become a protocol Range; the two ends are
  // converted independently, without ordering them.
  [[nodiscard]] protocol::Range range(std::size_t start, std::size_t end) const;
  [[nodiscard]] nlohmann::json range_at(std::size_t start, std::size_t end) const;

  // The byte offset of a protocol position, as `LineIndex::offset`.
  [[nodiscard]] std::optional<std::size_t> offset(const protocol::Position& position) const;

  // Applies one content-change event: with a "range" member the range's
  // bytes are replaced by "text", without one the whole text is. Refused
  // (false, nothing changed) when "text" is not a string or not valid UTF-8,
  // or "range" is present but not a valid range.
  [[nodiscard]] bool apply(const nlohmann::json& change);

  // Applies the content changes of one notification in order, each against
  // the text the previous ones left; a refused change is skipped and the
  // rest still apply. The version is recorded either way. False when any
  // change was refused.
  [[nodiscard]] bool change(std::int64_t version, std::span<const nlohmann::json> changes);

 private:
  std::string uri_;
  std::string text_;
  line_index::LineIndex index_;
  std::int64_t version_;
};

// Protocol Ranges of many spans of one document, each converted as
// `Document::range` converts it, for about one walk of each line they fall
// in however many they are (a diagnostic per attribute of a long line).
// Borrows the document, which must not change while it is used.
class Ranges {
 public:
  explicit Ranges(const Document& document) : positions_(document.index(), document.text()) {}

  [[nodiscard]] protocol::Range range(std::size_t start, std::size_t end) {
    return {positions_.at(start), positions_.at(end)};
  }
  [[nodiscard]] nlohmann::json range_at(std::size_t start, std::size_t end) {
    return protocol::to_json(range(start, end));
  }

 private:
  line_index::Positions positions_;
};

}  // namespace tovix_lsp::document
