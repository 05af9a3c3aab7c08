#include "workspace/member_key.h"

namespace tovix_lsp::member_key {

Key key_of(std::string_view key) {
  const auto is = [&](std::string_view name, Key k) { return key == name ? k : Key::Other; };
  switch (key.size()) {
    case 3: return key == "uri" ? Key::Uri : is("end", Key::End);
    case 4: return key == "line" ? Key::Line : key == "edit" ? Key::Edit : is("data", Key::Data);
    case 5: return key == "start" ? Key::Start : is("range", Key::Range);
    case 6: return is("insert", Key::Insert);
    case 7: return key == "changes" ? Key::Changes : key == "endLine" ? Key::EndLine : is("replace", Key::Replace);
    case 8:
      return key == "position" ? Key::Position : key == "textEdit" ? Key::TextEdit : is("location", Key::Location);
    case 9:
      return key == "character"   ? Key::Character
             : key == "targetUri" ? Key::TargetUri
                                  : is("startLine", Key::StartLine);
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
