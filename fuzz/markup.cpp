// The markup features on random text (made valid UTF-8, as documents always
// are): the tag tree's ranges lie in the text and spell the names, children
// lie in their parents, and completion, hover and definition at every
// character boundary answer without failing, with ranges and offsets inside
// the text. The tree around an offset is the whole tree's regions there.
// What the analysis read of the text (its snapshot) gives every answer the
// text read again gives, and the outline written as text is its value
// serialised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "features/api.h"
#include "features/completion.h"
#include "features/hover.h"
#include "features/symbols.h"
#include "workspace/analysis.h"
#include "workspace/document.h"
#include "workspace/project.h"
#include "workspace/tree.h"
#include "workspace/utf8_text.h"

namespace {

using namespace tovix_lsp;

void check(bool ok) {
  if (!ok) std::abort();
}

bool inside(std::string_view text, line_index::ByteRange r) {
  return r.start <= r.end && r.end <= text.size() && utf8_text::is_boundary(text, r.start) &&
         utf8_text::is_boundary(text, r.end);
}

void check_tags(std::string_view text, const std::vector<tree::Tag>& tags, line_index::ByteRange within) {
  for (const tree::Tag& tag : tags) {
    check(inside(text, tag.span) && within.start <= tag.span.start && tag.span.end <= within.end);
    check(inside(text, tag.open) && tag.span.start < tag.open.start && tag.open.end <= tag.span.end);
    check(text.substr(tag.open.start, tag.open.end - tag.open.start) == tag.name);
    if (tag.close) {
      check(inside(text, *tag.close) && tag.open.end <= tag.close->start && tag.close->end < tag.span.end);
      check(text.substr(tag.close->start, tag.close->end - tag.close->start) == tag.name);
    }
    check_tags(text, tag.children, tag.span);
  }
}

bool same(const completion::Answer& a, const completion::Answer& b) {
  if (a.index() != b.index()) return false;
  if (const auto* list = std::get_if<completion::List>(&a)) return list->value == std::get<completion::List>(b).value;
  if (const auto* props = std::get_if<completion::Props>(&a)) {
    const auto& other = std::get<completion::Props>(b);
    return props->start == other.start && props->prefix == other.prefix;
  }
  if (const auto* member = std::get_if<completion::MemberOf>(&a)) {
    const auto& other = std::get<completion::MemberOf>(b);
    return member->name == other.name && member->at == other.at;
  }
  return true;
}

bool same(const hover::Answer& a, const hover::Answer& b) {
  if (a.index() != b.index()) return false;
  if (const auto* local = std::get_if<hover::Local>(&a)) return local->value == std::get<hover::Local>(b).value;
  if (const auto* merge = std::get_if<hover::Merge>(&a)) {
    const auto& other = std::get<hover::Merge>(b);
    return merge->local == other.local && merge->at == other.at;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2048) return 0;
  const std::string text = utf8_text::to_valid(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::vector<tree::Tag> all = tree::tree(text);
  check_tags(text, all, {0, text.size()});

  const document::Document document("file:///fuzz/a.tovix", text, 1);
  static const project::Project project = project::Project::bare("/fuzz");
  const auto taken = snapshot::take(analysis::Analysis::run(document, project, nullptr).read);
  check(symbols::serialized(document, taken.get()) == symbols::symbols(document).dump());
  for (std::size_t offset = 0; offset <= text.size(); ++offset) {
    if (!utf8_text::is_boundary(text, offset)) continue;
    std::vector<tree::Tag> around;
    for (const tree::Tag& tag : all) {
      if (tag.span.start <= offset && offset <= tag.span.end) around.push_back(tag);
    }
    check(tree::tree_at(text, offset) == around);

    const completion::Answer answer = completion::complete(document, project, offset, offset % 2 == 0, nullptr);
    if (const auto* props = std::get_if<completion::Props>(&answer)) {
      check(props->start + props->prefix.size() == offset);
      check(text.substr(props->start, props->prefix.size()) == props->prefix);
    } else if (const auto* member = std::get_if<completion::MemberOf>(&answer)) {
      // Asked at a segment start of the name that holds the cursor.
      check(member->name.start <= member->at && member->at <= offset && offset <= member->name.end);
      check(member->name.end <= text.size() && text[member->at - 1] == '.');
    } else if (const auto* list = std::get_if<completion::List>(&answer)) {
      // Every edit is on one line and covers the cursor, as editors require.
      const auto cursor = document.position(offset);
      for (const auto& item : list->value.at("items")) {
        const auto& range = item.at("textEdit").at("range");
        const std::uint32_t line = range.at("start").at("line");
        check(range.at("end").at("line") == line && line == cursor.line);
        check(range.at("start").at("character") <= cursor.character);
        check(cursor.character <= range.at("end").at("character"));
      }
    }
    check(same(completion::complete(document, project, offset, offset % 2 == 0, nullptr, taken.get()), answer));
    const hover::Answer hovered = hover::hover(document, project, offset, nullptr);
    if (const auto* merge = std::get_if<hover::Merge>(&hovered)) check(merge->at <= text.size());
    check(same(hover::hover(document, project, offset, nullptr, taken.get()), hovered));
    const hover::Answer defined = hover::definition(document, project, offset);
    if (const auto* merge = std::get_if<hover::Merge>(&defined)) check(merge->at <= text.size());
    check(same(hover::definition(document, project, offset, taken.get()), defined));
  }
  return 0;
}
