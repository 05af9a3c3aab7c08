#include "workspace/member_key.h"

namespace tovix_lsp::member_key {

Key key_of(std::string_view key) {
  const auto is = [&](std::string_view name, Key k) { return key == name ? k : Key::Other; };
  switch (key.size()) {
    case 3: return key == "uri" ? Key::Uri : is("end", Key::End);
    case 4: return key == "line" ? Key::Line : key == "edit" ? Key::Edit : is("data", Key::Data);
    case 5: return key == "start" ? Key::Start : is("range", Key::Range);
    case 7: return is("changes", Key::Changes);
    case 8: return key == "position" ? Key::Position : is("textEdit", Key::TextEdit);
    case 9: return key == "character" ? Key::Character : is("targetUri", Key::TargetUri);
    case 11: return is("targetRange", Key::TargetRange);
    case 12: return is("textDocument", Key::TextDocument);
    case 14: return is("selectionRange", Key::SelectionRange);
    case 19: return is("additionalTextEdits", Key::AdditionalTextEdits);
    case 20:
      return key == "targetSelectionRange" ? Key::TargetSelectionRange
                                           : is("originSelectionRange", Key::OriginSelectionRange);
    default: return Key::Other;
  }
}

}  // namespace tovix_lsp::member_key
