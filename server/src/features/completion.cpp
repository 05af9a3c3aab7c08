#include "features/completion.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "tovix/lexer.h"
#include "tovix/luau/cursor.h"
#include "tovix/resolve.h"
#include "tovix/roblox/roblox.h"
#include "tovix/unicode.h"
#include "tovix/whitespace.h"
#include "workspace/naming.h"
#include "workspace/scan.h"
#include "workspace/tree.h"

namespace tovix_lsp::completion {

namespace {

using json = nlohmann::json;

constexpr std::uint32_t CLASS = 7;
constexpr std::uint32_t FUNCTION = 3;
constexpr std::uint32_t PROPERTY = 10;
constexpr std::uint32_t EVENT = 23;
constexpr int SNIPPET = 2;

// Objects are filled member by member: an initializer list would copy
// every nested value once more, and an element list has hundreds of items.
json edit(const json& range, std::string new_text) {
  json out(json::value_t::object);
  out["newText"] = std::move(new_text);
  out["range"] = range;
  return out;
}

Answer closing(const document::Document& document, const scan::TagName& at, const std::vector<scan::OpenTag>& open) {
  if (open.empty()) return Empty{};
  const std::string& name = open.back().name;
  const std::size_t end = at.start + at.prefix.size();
  const bool closed = tovix::whitespace::trim_start(std::string_view(document.text()).substr(end)).starts_with('>');
  json closing_item = {
      {"label", name.empty() ? "</>" : name},
      {"kind", CLASS},
      {"detail", "close this element"},
      {"sortText", "0"},
      {"textEdit", edit(document.range_at(at.start, end), closed ? name : name + ">")},
  };
  return List{list({std::move(closing_item)})};
}

// After a dotted prefix whose first segment is bound in the file, the
// element at the cursor is a member of that binding: the whole name as
// written (also past the cursor) and where its segment at the cursor starts.
std::optional<MemberOf> member_of(std::string_view text, const scan::TagName& at, std::size_t offset,
                                  const snapshot::Snapshot* current) {
  const std::size_t dot = at.prefix.find('.');
  if (dot == std::string::npos) return std::nullopt;
  if (!snapshot::find(text, std::string_view(at.prefix).substr(0, dot), current)) return std::nullopt;
  std::size_t end = at.start + at.prefix.size();
  while (end < text.size() && scan::is_name_char(static_cast<unsigned char>(text[end]))) ++end;
  const line_index::ByteRange name{at.start, end};
  return MemberOf{name, tree::asked_at(text, name, name, offset)};
}

Answer elements(const document::Document& document, const project::Project& project, const scan::TagName& at,
                const snapshot::Snapshot* current) {
  const json range = document.range_at(at.start, at.start + at.prefix.size());
  std::vector<json> items;
  for (const naming::Named& named : project.vocabulary->elements(project.config)) {
    std::string detail = "Roblox class";
    if (named.name != named.canonical) (detail += ' ') += named.canonical;
    items.push_back(item(named.name, CLASS, detail, "1", range));
  }
  for (const std::string& name : components(project.config, document.text(), current)) {
    items.push_back(item(name, FUNCTION, "component", "0", range));
  }
  return List{list(std::move(items))};
}

Answer attributes(const document::Document& document, const project::Project& project, const scan::AttributeName& at,
                  bool snippets, const api::Api* facts) {
  std::optional<std::string> klass = naming::element_class(project.config, at.element);
  if (!klass) return Props{at.start, at.prefix};
  const Members members{document.range_at(at.start, at.start + at.prefix.size()), std::move(*klass), facts, snippets};
  std::vector<json> items;
  for (const naming::Named& named : project.vocabulary->members(project.config, members.class_name)) {
    const bool event = tovix::roblox::is_event(members.class_name, named.canonical);
    items.push_back(members.item(named.name, named.canonical, event ? EVENT : PROPERTY, event ? "1" : "0"));
  }
  return List{list(std::move(items))};
}

// "={function(${1:p1}: A, ${2:p2}: B) $3 end}" after the label.
std::string handler(std::string_view label, std::span<const std::string> parameters) {
  std::string text(label);
  text += "={function(";
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (i > 0) text += ", ";
    const std::string n = std::to_string(i + 1);
    text += "${" + n + ":p" + n + "}: " + parameters[i];
  }
  text += ") $" + std::to_string(parameters.size() + 1) + " end}";
  return text;
}

// A label that can be written as an attribute name: one Luau name, not a
// keyword.
bool is_prop_name(std::string_view label) {
  const auto tokens = tovix::lexer::tokenize(label);
  return tokens && tokens->size() == 1 && tokens->front().kind == tovix::lexer::TokenKind::Name &&
         !tovix::luau::cursor::is_keyword(label);
}

// The protocol's documentation is a string or a MarkupContent; anything
// else (null, say) would make the whole answer invalid for the editor.
bool is_documentation(const json& value) {
  if (value.is_string()) return true;
  if (!value.is_object()) return false;
  const auto kind = value.find("kind");
  const auto text = value.find("value");
  return kind != value.end() && kind->is_string() && text != value.end() && text->is_string();
}

}  // namespace

json Members::item(std::string_view label, std::string_view member, std::uint32_t kind,
                   std::string_view sort_prefix) const {
  const std::optional<api::Member> found = api ? api->member(class_name, member) : std::nullopt;
  const std::string_view detail = found ? std::string_view(found->ty) : kind == EVENT ? "event" : "property";
  json out = completion::item(label, kind, detail, sort_prefix, range);
  if (!found) return out;
  if (const api::Documentation* doc = api->documentation(found->owner, member)) {
    std::string value = "```luau\n" + found->ty + "\n```\n\n" + html_to_markdown(doc->documentation);
    if (!doc->learn_more_link.empty()) value += "\n\n[Learn more](" + doc->learn_more_link + ")";
    out["documentation"] = {{"kind", "markdown"}, {"value", std::move(value)}};
  }
  if (kind == EVENT && snippets) {
    if (const auto parameters = found->event_parameters()) {
      out["insertTextFormat"] = SNIPPET;
      out["textEdit"] = edit(range, handler(label, *parameters));
    }
  }
  return out;
}

Answer complete(const document::Document& document, const project::Project& project, std::size_t offset, bool snippets,
                const api::Api* facts, const snapshot::Snapshot* snapshot) {
  const snapshot::Snapshot* current = snapshot::of(snapshot, document.text());
  const scan::Scan at = snapshot::scan(document.text(), offset, current);
  if (scan::luau_code(at)) return AskLuau{};
  if (const auto* tag = std::get_if<scan::TagName>(&at.context)) {
    if (tag->closing) return closing(document, *tag, at.open);
    if (auto member = member_of(document.text(), *tag, offset, current)) return *member;
    return elements(document, project, *tag, current);
  }
  if (const auto* attribute = std::get_if<scan::AttributeName>(&at.context)) {
    // A tag left open at the end of the text is answered from there, also
    // for a cursor before it (between "=" and a quote, say): no attribute
    // name is being typed at the cursor, and an edit elsewhere would be
    // refused by the editor.
    if (attribute->start > offset) return Empty{};
    return attributes(document, project, *attribute, snippets, facts);
  }
  return Empty{};
}

json item(std::string_view label, std::uint32_t kind, std::string_view detail, std::string_view sort_prefix,
          const json& range) {
  std::string sort_text(sort_prefix);
  sort_text += label;
  json out(json::value_t::object);
  out["detail"] = detail;
  out["kind"] = kind;
  out["label"] = label;
  out["sortText"] = std::move(sort_text);
  out["textEdit"] = edit(range, std::string(label));
  return out;
}

json list(std::vector<json> items) {
  json out(json::value_t::object);
  out["isIncomplete"] = false;
  // Moved in whole: converting the vector would copy every item.
  json& array = out["items"] = json(json::value_t::array);
  array.get_ref<json::array_t&>() = std::move(items);
  return out;
}

json empty_list() { return list({}); }

std::string html_to_markdown(std::string_view html) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> REPLACEMENTS = {{
      {"<code>", "`"},
      {"</code>", "`"},
      {"<b>", "**"},
      {"</b>", "**"},
      {"<i>", "*"},
      {"</i>", "*"},
      {"<br/>", "\n"},
      {"<br>", "\n"},
  }};
  std::string text(html);
  std::string next;
  for (const auto& [from, to] : REPLACEMENTS) {
    if (text.find(from) == std::string::npos) continue;
    next.clear();
    std::size_t at = 0;
    for (std::size_t found; (found = text.find(from, at)) != std::string::npos; at = found + from.size()) {
      next.append(text, at, found - at);
      next += to;
    }
    next.append(text, at);
    std::swap(text, next);
  }
  return text;
}

std::vector<std::string> components(const tovix::config::Config& config, std::string_view text,
                                    const snapshot::Snapshot* current) {
  tovix::resolve::NameSet found;
  const tovix::resolve::NameSet& bound = snapshot::bindings(text, current, found);
  std::vector<std::string> names;
  for (const std::string& name : bound) {
    if (name.empty() || !tovix::unicode::is_uppercase(tovix::unicode::decode_at(name, 0).value)) continue;
    // An alias or a class name that a binding shadows is offered once, as
    // the class it resolves to.
    if (naming::element_kind(config, bound, name) != naming::Element::Component) continue;
    names.push_back(name);
  }
  std::ranges::sort(names);
  return names;
}

const json* child_items(const json& result) {
  if (result.is_array()) return &result;
  const json* list = protocol::member(result, "items");
  return list && list->is_array() ? list : nullptr;
}

void keep_incomplete(const json& result, json& list) {
  if (const json* incomplete = protocol::member(result, "isIncomplete"); incomplete && *incomplete == true)
    list["isIncomplete"] = true;
}

json members(std::optional<json> local, json child, bool) {
  const json* items = child_items(child);
  if (items == nullptr) return local ? std::move(*local) : empty_list();
  std::vector<json> out;
  for (const json& each : *items) {
    const json* label = protocol::member(each, "label");
    if (!label || !label->is_string() || !is_prop_name(label->get_ref<const std::string&>())) continue;
    // A call snippet, or the signature help it opens, has no place in a tag.
    json item = each;
    for (const char* key : {"textEdit", "insertTextFormat", "insertTextMode", "additionalTextEdits", "command"})
      item.erase(key);
    item["insertText"] = *label;
    out.push_back(std::move(item));
  }
  json answer = list(std::move(out));
  keep_incomplete(child, answer);
  return answer;
}

json props(std::span<const json> items, const json& range, bool snippets) {
  std::vector<json> out;
  for (const json& child : items) {
    const json* sort_text = protocol::member(child, "sortText");
    if (!sort_text || *sort_text != "1") continue;
    const json* label = protocol::member(child, "label");
    if (!label || !label->is_string()) continue;
    const std::string& name = label->get_ref<const std::string&>();
    if (!is_prop_name(name)) continue;
    const json* kind = protocol::member(child, "kind");
    const bool function = kind && kind->is_number_integer() && *kind == FUNCTION;
    const json* detail = protocol::member(child, "detail");
    json prop = item(name, function ? EVENT : PROPERTY,
                     detail && detail->is_string() ? detail->get_ref<const std::string&>() : "prop", "0", range);
    if (const json* documentation = protocol::member(child, "documentation");
        documentation && is_documentation(*documentation)) {
      prop["documentation"] = *documentation;
    }
    if (function && snippets) {
      prop["insertTextFormat"] = SNIPPET;
      prop["textEdit"] = edit(range, name + "={function() $1 end}");
    }
    out.push_back(std::move(prop));
  }
  return list(std::move(out));
}

}  // namespace tovix_lsp::completion
