#include "features/closing_tag.h"

#include <variant>

#include "tovix/whitespace.h"
#include "workspace/scan.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::closing_tag {

std::optional<std::string> closing_tag(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot) {
  if (offset == 0 || offset > text.size()) return std::nullopt;
  if (offset < text.size() && !utf8_text::is_boundary(text, offset)) {
    return std::nullopt;
  }
  if (text[offset - 1] != '>') return std::nullopt;
  if (offset >= 2 && text.substr(offset - 2, 2) == "/>") return std::nullopt;
  const std::size_t lt = text.rfind('<', offset - 1);
  if (lt == std::string_view::npos) return std::nullopt;
  if (offset - lt >= 2 && text[lt + 1] == '/') return std::nullopt;  // the `>` closed "</…"

  scan::Scan at = snapshot::scan(text, offset, snapshot::of(snapshot, text));
  if (!std::holds_alternative<scan::Children>(at.context) || at.open.empty()) return std::nullopt;
  std::string name = std::move(at.open.back().name);
  const std::string_view after = tovix::whitespace::trim_start(text.substr(offset));
  const std::string closing = "</" + name + ">";
  if (after.starts_with(closing)) return std::nullopt;
  return name;
}

}  // namespace tovix_lsp::closing_tag
