#pragma once

// The protocol's shapes the server reads and writes, and their JSON. Only
// what the server uses is typed; whole payloads that pass through (the
// child's answers, settings) stay JSON. Readers are forgiving in one way
// only: a value of the wrong shape gives nothing, never a partial value.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/line_index.h"

namespace tovix_lsp::protocol {

using Position = line_index::Position;

struct Range {
  Position start;
  Position end;
  friend bool operator==(const Range&, const Range&) = default;
};

struct Location {
  std::string uri;
  Range range;
  friend bool operator==(const Location&, const Location&) = default;
};

struct TextEdit {
  Range range;
  std::string new_text;
  friend bool operator==(const TextEdit&, const TextEdit&) = default;
};

// The "changes" form: edits by document URI, in URI order.
struct WorkspaceEdit {
  std::map<std::string, std::vector<TextEdit>> changes;
  friend bool operator==(const WorkspaceEdit&, const WorkspaceEdit&) = default;
};

enum class Severity : int { Error = 1, Warning = 2, Information = 3, Hint = 4 };

// A diagnostic as the server publishes it: source "tovix", the help text as
// related information at the same range, and quick-fix data when there is
// some.
struct Diagnostic {
  Range range;
  Severity severity = Severity::Error;
  std::string message;
  std::string uri;                  // for the related information
  std::optional<std::string> help;  // becomes related information
  std::optional<nlohmann::json> data;
};

// The params of every request about one place in one document.
struct TextDocumentPositionParams {
  std::string uri;
  Position position;
};

// A document as `textDocument/didOpen` carries it. A missing or malformed
// version reads as 0.
struct TextDocumentItem {
  std::string uri;
  std::string text;
  std::int64_t version = 0;
};

// The params of `textDocument/didChange`: `changes` is the array of content
// changes (empty when the member is missing or not an array), each kept as
// JSON for `Document::apply`.
struct DidChangeTextDocumentParams {
  std::string uri;
  std::int64_t version = 0;
  nlohmann::json changes = nlohmann::json::array();
};

// The params of the notifications that name a document and nothing more
// (didSave, didClose).
struct TextDocumentIdentifier {
  std::string uri;
};

// A JSON integer from 0 to 2^32 - 1. Nothing for larger, negative or
// fractional numbers and other types: a line or column out of range is
// never wrapped onto another place.
[[nodiscard]] std::optional<std::uint32_t> read_u32(const nlohmann::json& value);

// {"line", "character"} with both members valid as `read_u32`.
[[nodiscard]] std::optional<Position> read_position(const nlohmann::json& value);
// {"start", "end"} with both members valid positions; the order of the two
// is not checked.
[[nodiscard]] std::optional<Range> read_range(const nlohmann::json& value);
// {"textDocument": {"uri"}, "position"} with a string URI.
[[nodiscard]] std::optional<TextDocumentPositionParams> read_text_document_position(const nlohmann::json& params);

// These two take the params whole, so that a document's text is moved, not
// copied.
[[nodiscard]] std::optional<TextDocumentItem> read_did_open(nlohmann::json&& params);
[[nodiscard]] std::optional<DidChangeTextDocumentParams> read_did_change(nlohmann::json&& params);
[[nodiscard]] std::optional<TextDocumentIdentifier> read_text_document(const nlohmann::json& params);

// The value at JSON pointer `pointer` of `value`, or null when there is none
// (a member missing, a step into a value of another type, a malformed pointer).
// Settings may hold anything, so no shape is ever assumed.
[[nodiscard]] const nlohmann::json* value_at(const nlohmann::json& value, std::string_view pointer);

// The string at JSON pointer `pointer` of `value`, if there is one.
[[nodiscard]] std::optional<std::string> string_at(const nlohmann::json& value, std::string_view pointer);

// A JSON integer that fits 64 signed bits (ids, codes, versions); nothing
// for other values.
[[nodiscard]] std::optional<std::int64_t> read_i64(const nlohmann::json& value);

// A document version: an integer that fits 64 signed bits, else 0.
[[nodiscard]] std::int64_t version_of(const nlohmann::json& value);

// The member `key` of an object, or null when `object` is not an object or
// has no such member.
[[nodiscard]] const nlohmann::json* member(const nlohmann::json& object, std::string_view key);

[[nodiscard]] nlohmann::json to_json(const Position& position);
[[nodiscard]] nlohmann::json to_json(const Range& range);
[[nodiscard]] nlohmann::json to_json(const Location& location);
[[nodiscard]] nlohmann::json to_json(const TextEdit& edit);
[[nodiscard]] nlohmann::json to_json(const WorkspaceEdit& edit);
[[nodiscard]] nlohmann::json to_json(const Diagnostic& diagnostic);

}  // namespace tovix_lsp::protocol
