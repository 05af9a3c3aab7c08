#pragma once

// The member names of protocol payloads under which something moves with
// the source map, told apart once for the payload walk and for the reader
// of the child's diagnostics.

#include <string_view>

namespace tovix_lsp::member_key {

// The member names the walk looks at.
enum class Key {
  Other,
  Uri,
  TargetUri,
  TextDocument,
  Start,
  End,
  Line,
  Character,
  Changes,
  TargetRange,
  TargetSelectionRange,
  // A folding range's lines.
  StartLine,
  EndLine,
  // Further members without which their object means nothing.
  Range,
  Position,
  SelectionRange,
  OriginSelectionRange,
  Insert,
  Replace,
  Location,
  // The edits a code action or completion item makes itself.
  Edit,
  TextEdit,
  AdditionalTextEdits,
  // What a diagnostic carries for its fixes.
  Data,
};

// Payloads are mostly other names, so each is told apart by its length
// first.
[[nodiscard]] Key key_of(std::string_view key);

// Whether something under the member moves with the source map itself (the
// edits and fix data only hold what does).
[[nodiscard]] constexpr bool moves(Key key) {
  return key != Key::Other && key != Key::Edit && key != Key::TextEdit && key != Key::AdditionalTextEdits &&
         key != Key::Data;
}

}  // namespace tovix_lsp::member_key
