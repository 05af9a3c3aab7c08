// Feeds a document a text and a run of edits built from the input, and
// checks after each step that the text stays valid UTF-8, the index matches
// a fresh one and positions and offsets convert back and forth consistently.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/line_index.h"
#include "workspace/utf8_text.h"

namespace {

using tovix_lsp::document::Document;
using tovix_lsp::line_index::LineIndex;

struct Reader {
  std::string_view data;
  std::uint8_t byte() {
    if (data.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(data.front());
    data.remove_prefix(1);
    return b;
  }
  std::string_view take(std::size_t n) {
    n = std::min(n, data.size());
    const std::string_view out = data.substr(0, n);
    data.remove_prefix(n);
    return out;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

void check_conversions(std::string_view text, const LineIndex& index, Reader& in) {
  check(index == LineIndex(text));
  for (int k = 0; k < 4; ++k) {
    const std::size_t offset = in.byte() * (text.size() + 1) / 256;
    const auto p = index.position(text, offset);
    check(p.line < index.line_count());
    const auto range = index.line_range(text, p.line);
    const auto back = index.offset(text, p.line, p.character);
    check(back.has_value());
    // The offset floored to a character start, clamped before the break.
    check(*back <= range.end && *back >= range.start && *back <= offset);
    check(index.position(text, *back).line == p.line);

    const std::uint32_t line = in.byte() % (index.line_count() + 1);
    const std::uint32_t character = in.byte();
    const auto at = index.offset(text, line, character);
    // The start of the line after the last is the end of the text.
    check(at.has_value() == (line < index.line_count() || character == 0));
    if (at && line == index.line_count()) {
      check(*at == text.size());
      continue;
    }
    if (at) {
      const auto q = index.position(text, *at);
      check(q.line == line && q.character <= character + 1);
      check(index.offset(text, q.line, q.character) == at);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{std::string_view(reinterpret_cast<const char*>(data), size)};
  Document document("file:///f", std::string(in.take(in.byte())), 0);
  const Document* doc = &document;
  check(tovix_lsp::utf8_text::is_valid(doc->text()));
  check_conversions(doc->text(), doc->index(), in);

  std::int64_t version = 0;
  while (!in.data.empty()) {
    nlohmann::json change = nlohmann::json::object();
    const std::uint8_t shape = in.byte();
    if ((shape & 3) != 0) {
      auto pos = [&] { return nlohmann::json{{"line", in.byte() % 8}, {"character", in.byte() % 16}}; };
      const nlohmann::json start = pos();
      const nlohmann::json end = pos();
      change["range"] = {{"start", start}, {"end", end}};
    }
    change["text"] = std::string(in.take(in.byte() % 16));
    const std::string before = doc->text();
    const bool applied = document.change(++version, std::vector<nlohmann::json>{change});
    if (!applied) check(doc->text() == before);
    check(doc->version() == version);
    check(tovix_lsp::utf8_text::is_valid(doc->text()));
    check_conversions(doc->text(), doc->index(), in);
  }
  return 0;
}
