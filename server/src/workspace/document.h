#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/line_index.h"

// The documents the editor has open, their text kept in step with the
// editor's incremental edits. Offsets are bytes; protocol positions appear
// only as JSON values at this module's edge.
namespace tovix_lsp::document {

// A protocol position read from JSON: an object whose "line" and "character"
// are non-negative integers, each taken as its low 32 bits. Absent for
// anything else (missing members, negative or fractional numbers, other
// types).
[[nodiscard]] std::optional<line_index::Position> read_position(const nlohmann::json& value);

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

  // {"character", "line"} of an offset; clamps and floors like
  // `LineIndex::position`.
  [[nodiscard]] nlohmann::json position_at(std::size_t offset) const;

  // The one way byte offsets become a protocol Range; the two ends are
  // converted independently, without ordering them.
  [[nodiscard]] nlohmann::json range_at(std::size_t start, std::size_t end) const;

  // Applies one content-change event: with a "range" member the range's
  // bytes are replaced by "text", without one the whole text is. Refused
  // (false, nothing changed) when "text" is not a string or not valid UTF-8,
  // or "range" is present but not a valid range.
  [[nodiscard]] bool apply(const nlohmann::json& change);

 private:
  friend class Documents;

  std::string uri_;
  std::string text_;
  line_index::LineIndex index_;
  std::int64_t version_;
};

// The open documents by URI; URIs are compared as exact strings.
class Documents {
 public:
  // The document stored under exactly `uri`, or null. The pointer stays
  // valid, and shows the document's current state, until it is closed.
  [[nodiscard]] const Document* get(std::string_view uri) const;

  // Stores a document, replacing any under the same URI.
  void open(std::string uri, std::string text, std::int64_t version);

  // Copies of every stored URI, in no particular order.
  [[nodiscard]] std::vector<std::string> uris() const;

  // Removes the document under `uri`, if any.
  void close(std::string_view uri);

  // Applies the content changes of one notification in order, each against
  // the text the previous ones left; a refused change is skipped and the
  // rest still apply. The version is recorded either way. False when there
  // is no such document (nothing changes) or when any change was refused.
  [[nodiscard]] bool change(std::string_view uri, std::int64_t version,
                            std::span<const nlohmann::json> changes);

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, Document, Hash, std::equal_to<>> docs_;
};

}  // namespace tovix_lsp::document
