// Scans random text (made valid UTF-8, as documents always are) at every
// character boundary and checks that every offset and text the scan answers
// lies inside the text, on a character boundary, and matches the text there;
// the regions, the markup spans and `braced` are checked the same way. Scanning all cursors
// in one walk must agree with scanning each alone, and so must the walks
// resumed after the markup the compiler's walk found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "features/closing_tag.h"
#include "workspace/regions.h"
#include "workspace/scan.h"
#include "workspace/utf8_text.h"

namespace {

using namespace tovix_lsp::scan;

void check(bool ok) {
  if (!ok) std::abort();
}

bool boundary(std::string_view text, std::size_t offset) {
  return offset == text.size() || (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80);
}

// `part` is the text from `start` on, ending on a boundary.
bool spelled_at(std::string_view text, std::size_t start, std::string_view part) {
  return boundary(text, start) && start + part.size() <= text.size() && text.substr(start, part.size()) == part &&
         boundary(text, start + part.size());
}

void check_scan(std::string_view text, std::size_t cursor, const Scan& result) {
  for (const OpenTag& tag : result.open) {
    check(tag.start < text.size() && text[tag.start] == '<');
    check(spelled_at(text, tag.start + 1, tag.name));
  }
  struct Visitor {
    std::string_view text;
    std::size_t cursor;
    void operator()(const Luau&) const {}
    void operator()(const Hole& h) const {
      check(h.start <= cursor && cursor <= h.end && h.end <= text.size());
      check(h.start > 0 && text[h.start - 1] == '{');
      check(boundary(text, h.end));
    }
    void operator()(const TagName& t) const {
      check(spelled_at(text, t.start, t.prefix) && t.start + t.prefix.size() == cursor);
    }
    void operator()(const AttributeName& a) const {
      check(spelled_at(text, a.start, a.prefix));
      check(a.prefix.empty() ? a.start <= text.size() : a.start + a.prefix.size() == cursor);
    }
    void operator()(const AttributeValue& a) const { check(!a.element.empty() && !a.attribute.empty()); }
    void operator()(const Children&) const {}
  };
  std::visit(Visitor{text, cursor}, result.context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const std::string text = tovix_lsp::utf8_text::to_valid(std::string_view(reinterpret_cast<const char*>(data), size));

  std::vector<std::size_t> cursors;
  for (std::size_t cursor = 0; cursor <= text.size(); ++cursor)
    if (boundary(text, cursor)) cursors.push_back(cursor);
  const std::vector<Scan> all = scan_all(text, cursors);
  const std::vector<Resume> resumed = resumes(text, tovix_lsp::regions::regions(text));
  for (std::size_t i = 0; i < resumed.size(); ++i) {
    check(resumed[i].offset < text.size() && boundary(text, resumed[i].offset));
    check(i == 0 || resumed[i - 1].offset < resumed[i].offset);
  }
  const std::vector<Scan> fast = scan_all(text, cursors, resumed);

  for (std::size_t i = 0; i < cursors.size(); ++i) {
    const std::size_t cursor = cursors[i];
    const Scan one = scan(text, cursor);
    check_scan(text, cursor, one);
    // One walk for all cursors, and a walk that goes on to the end, agree
    // with the walk that stops after the cursor.
    check(all[i] == one);
    check(fast[i] == one);
    const std::size_t with_end[] = {cursor, text.size()};
    check(scan_all(text, with_end).front() == one);
    if (auto name = tovix_lsp::closing_tag::closing_tag(text, cursor)) check(cursor > 0 && text[cursor - 1] == '>');
    if (auto span = tovix_lsp::regions::braced(text, cursor)) {
      check(cursor < span->start && span->start < span->end && span->end < text.size());
      check(boundary(text, span->start) && boundary(text, span->end));
    }
  }

  std::size_t last_end = 0;
  for (const auto& [start, end] : tovix_lsp::regions::spans(tovix_lsp::regions::regions(text))) {
    check(last_end <= start && start < end && end <= text.size());
    check(text[start] == '<' && boundary(text, end));
    last_end = end;
  }
  // What the walk reads as markup, for blanking: the same shape.
  last_end = 0;
  for (const auto& [start, end] : markup_spans(text, std::nullopt)) {
    check(last_end <= start && start < end && end <= text.size());
    check(text[start] == '<' && boundary(text, end));
    last_end = end;
  }
  return 0;
}
