#include "features/hover.h"

#include <utility>
#include <vector>

#include "features/completion.h"
#include "tovix/roblox/roblox.h"
#include "tovix/whitespace.h"
#include "workspace/naming.h"
#include "workspace/scan.h"
#include "workspace/tree.h"

namespace tovix_lsp::hover {

namespace {

using json = nlohmann::json;

bool is_name_char(char c) { return scan::is_name_char(static_cast<unsigned char>(c)); }

bool is_attribute_char(char c) { return is_name_char(c) && c != '.'; }

// The end of the run of `accepts` characters that starts at `start`.
template <typename Accepts>
std::size_t run_end(std::string_view text, std::size_t start, Accepts accepts) {
  std::size_t end = start;
  while (end < text.size() && accepts(text[end])) ++end;
  return end;
}

// Whether `offset` can lie on a name of the tag tree at all: the name
// characters around it must follow "<" or "</" (blanks allowed between).
// The tree costs a parse of every markup region, so it is built only then.
bool may_be_tag_name(std::string_view text, std::size_t offset) {
  std::size_t at = offset;
  while (at > 0 && is_name_char(text[at - 1])) --at;
  while (at > 0 && tovix::whitespace::is_ascii_whitespace(static_cast<unsigned char>(text[at - 1]))) --at;
  if (at == 0) return false;
  return text[at - 1] == '<' || (text[at - 1] == '/' && at >= 2 && text[at - 2] == '<');
}

// `current` is a snapshot of the document's text, or null.
std::optional<TagAt> tag_at(const document::Document& document, std::size_t offset, const scan::Scan& at,
                            const snapshot::Snapshot* current) {
  const std::string_view text = document.text();
  if (may_be_tag_name(text, offset)) {
    const std::vector<tree::Tag> tags = snapshot::tree_at(text, offset, current);
    for (const tree::Tag* tag : tree::flatten(tags)) {
      std::optional<line_index::ByteRange> on;
      if (tag->open.start <= offset && offset <= tag->open.end) {
        on = tag->open;
      } else if (tag->close && tag->close->start <= offset && offset <= tag->close->end) {
        on = tag->close;
      }
      if (on) {
        return TagAt{tag->name, document.range_at(on->start, on->end), tag->open.start,
                     tree::asked_at(text, tag->open, *on, offset)};
      }
    }
  }
  // A name the tree does not hold, such as one being typed: the whole name
  // as written, also past the cursor.
  const auto* typed = std::get_if<scan::TagName>(&at.context);
  if (!typed) return std::nullopt;
  const std::size_t end = run_end(text, typed->start, is_name_char);
  if (end == typed->start) return std::nullopt;
  const line_index::ByteRange name{typed->start, end};
  return TagAt{std::string(text.substr(typed->start, end - typed->start)), document.range_at(typed->start, end),
               typed->start, tree::asked_at(text, name, name, offset)};
}

json markdown(std::string text, json range) {
  return {{"contents", {{"kind", "markdown"}, {"value", std::move(text)}}}, {"range", std::move(range)}};
}

std::string fenced(std::string_view code) {
  std::string out = "```luau\n";
  out += code;
  out += "\n```";
  return out;
}

std::string_view first_segment(std::string_view name) { return name.substr(0, name.find('.')); }

// The markdown at "/contents/value", or null.
json* hover_text(json& value) {
  if (!value.is_object()) return nullptr;
  const auto contents = value.find("contents");
  if (contents == value.end() || !contents->is_object()) return nullptr;
  const auto text = contents->find("value");
  if (text == contents->end() || !text->is_string()) return nullptr;
  return &*text;
}

Answer tag_hover(const document::Document& document, const project::Project& project, const TagAt& tag,
                 const snapshot::Snapshot* current) {
  std::string text = fenced(tag.name);
  if (const auto klass = naming::element_class(project.config, tag.name)) {
    text = fenced(*klass) + "\n\nRoblox class";
    if (tag.name != *klass) text += ", written `" + tag.name + "` in this project";
    if (const auto super = tovix::roblox::superclass(*klass)) text += "\n\nInherits `" + std::string(*super) + "`.";
    if (tovix::roblox::has_text_property(*klass)) text += "\n\nText between the tags becomes its `Text` property.";
  } else if (const auto bound = snapshot::find(document.text(), first_segment(tag.name), current)) {
    text += "\n\nComponent, bound on line " + std::to_string(document.position(bound->start).line + 1) + ".";
  } else {
    text += "\n\nNot a Roblox class, and not bound in this file.";
  }
  json value = markdown(std::move(text), tag.range);
  // A dotted name is a component's member even when the project maps it to
  // a class, so luau-lsp has something to say about it.
  if (tag.name.find('.') == std::string::npos && naming::element_class(project.config, tag.name)) {
    return Local{std::move(value)};
  }
  return Merge{std::move(value), tag.at};
}

Answer attribute_hover(const document::Document& document, const project::Project& project,
                       const scan::AttributeName& at, const api::Api* facts) {
  // The whole name as written, also past the cursor, and also when the
  // cursor is on its first character (where editors ask about it).
  const std::string_view text = document.text();
  const std::string_view written = text.substr(at.start, run_end(text, at.start, is_attribute_char) - at.start);
  if (written.empty()) return Null{};
  const auto klass = naming::element_class(project.config, at.element);
  if (!klass) return Null{};
  const auto resolved = project.config.resolve_property(*klass, written);
  if (!resolved) return Null{};
  const std::string& member = *resolved;
  const bool event = tovix::roblox::is_event(*klass, member);
  if (!event && !tovix::roblox::has_property(*klass, member)) return Null{};

  const std::optional<api::Member> found = facts ? facts->member(*klass, member) : std::nullopt;
  std::string value = fenced(found ? member + ": " + found->ty : member);
  value += "\n\n";
  value += event ? "Event" : "Property";
  value += " of `" + (found ? found->owner : *klass) + "`";
  if (written != member) value += ", written `" + std::string(written) + "` in this project";
  value += ".";
  if (found) {
    if (const auto parameters = found->event_parameters()) {
      std::string joined;
      for (const std::string& p : *parameters) joined += (joined.empty() ? "" : ", ") + p;
      value += "\n\nConnect a function of `(" + joined + ")`.";
    }
    if (const api::Documentation* doc = facts->documentation(found->owner, member)) {
      value += "\n\n---\n\n" + completion::html_to_markdown(doc->documentation);
      if (!doc->learn_more_link.empty()) value += "\n\n[Learn more](" + doc->learn_more_link + ")";
    }
  }
  return Local{markdown(std::move(value), document.range_at(at.start, at.start + written.size()))};
}

}  // namespace

bool forwards(std::string_view text, std::size_t offset, const snapshot::Snapshot* snapshot) {
  return scan::luau_code(snapshot::scan(text, offset, snapshot::of(snapshot, text))).has_value();
}

std::optional<TagAt> tag_at(const document::Document& document, std::size_t offset,
                            const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, document.text());
  return tag_at(document, offset, snapshot::scan(document.text(), offset, current), current);
}

Answer hover(const document::Document& document, const project::Project& project, std::size_t offset,
             const api::Api* facts, const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, document.text());
  const scan::Scan at = snapshot::scan(document.text(), offset, current);
  if (scan::luau_code(at)) return AskLuau{};
  if (const auto tag = tag_at(document, offset, at, current)) return tag_hover(document, project, *tag, current);
  if (const auto* attribute = std::get_if<scan::AttributeName>(&at.context)) {
    return attribute_hover(document, project, *attribute, facts);
  }
  return Null{};
}

Answer definition(const document::Document& document, const project::Project& project, std::size_t offset,
                  const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, document.text());
  const scan::Scan at = snapshot::scan(document.text(), offset, current);
  if (scan::luau_code(at)) return AskLuau{};
  const auto tag = tag_at(document, offset, at, current);
  if (!tag) return Null{};
  const bool dotted = tag->name.find('.') != std::string::npos;
  // Roblox classes are declared nowhere in the file.
  if (!dotted && naming::element_class(project.config, tag->name)) return Null{};
  const auto bound = snapshot::find(document.text(), first_segment(tag->name), current);
  std::optional<json> binding;
  if (bound) binding = json{{"range", document.range_at(bound->start, bound->end)}, {"uri", document.uri()}};
  if (!dotted) {
    if (!binding) return Null{};
    return Local{std::move(*binding)};
  }
  // The later segments are members, which only luau-lsp can follow (into
  // another module, as a rule); the first one's binding is in this file.
  return Merge{tag->at == tag->start ? std::move(binding) : std::nullopt, tag->at};
}

json from_child(std::optional<json> local, json child, bool stale) {
  json* child_text = hover_text(child);
  if (stale && child_text != nullptr) {
    child_text->get_ref<std::string&>() += "\n\n---\n\n*From the last version that compiled.*";
  }
  if (!local) return child;
  if (child.is_null()) return std::move(*local);
  const json* local_text = hover_text(*local);
  if (local_text == nullptr || child_text == nullptr) return child;
  // The local text's code block names what the child's already shows; what
  // follows it (documentation, a note) is added below the child's text.
  std::string_view tail = local_text->get_ref<const std::string&>();
  if (const std::size_t fence = tail.rfind("```"); fence != std::string_view::npos) tail.remove_prefix(fence + 3);
  tail = tovix::whitespace::trim(tail);
  std::string text = child_text->get<std::string>();
  if (!tail.empty()) {
    text += "\n\n---\n\n";
    text += tail;
  }
  const auto range = local->find("range");
  return markdown(std::move(text), range == local->end() ? json(nullptr) : std::move(*range));
}

}  // namespace tovix_lsp::hover
