#include "core/forwarding.h"

#include <string>
#include <string_view>

#include "whitespace.h"

namespace tovix_lsp::forwarding {

namespace {

using json = nlohmann::json;

// The string at "/contents/value", or null.
const std::string* hover_text(const json& value) {
  if (!value.is_object()) return nullptr;
  const auto contents = value.find("contents");
  if (contents == value.end() || !contents->is_object()) return nullptr;
  const auto text = contents->find("value");
  if (text == contents->end() || !text->is_string()) return nullptr;
  return &text->get_ref<const std::string&>();
}

}  // namespace

json merged(const json* local, json child) {
  if (local == nullptr) return child;
  if (local->is_array() && child.is_array()) {
    json out = *local;
    for (json& item : child) out.push_back(std::move(item));
    return out;
  }
  if (child.is_null()) return *local;
  const std::string* local_text = hover_text(*local);
  const std::string* child_text = hover_text(child);
  if (local_text != nullptr && child_text != nullptr) {
    std::string_view tail = *local_text;
    if (const std::size_t fence = tail.rfind("```"); fence != std::string_view::npos) tail.remove_prefix(fence + 3);
    tail = tovix::whitespace::trim(tail);
    std::string text = *child_text;
    if (!tail.empty()) {
      text += "\n\n---\n\n";
      text += tail;
    }
    const auto range = local->find("range");
    return {{"contents", {{"kind", "markdown"}, {"value", std::move(text)}}},
            {"range", range == local->end() ? json(nullptr) : *range}};
  }
  return child;
}

bool lost_the_document(const json& error) {
  if (!error.is_object()) return false;
  const auto code = error.find("code");
  const auto message = error.find("message");
  if (code == error.end() || message == error.end() || !message->is_string()) return false;
  if (!code->is_number_integer() || code->is_number_unsigned() || code->get<std::int64_t>() != -32803) return false;
  return message->get_ref<const std::string&>().find("No managed text document") != std::string::npos;
}

void add_stale_note(json& hover) {
  if (!hover.is_object()) return;
  const auto contents = hover.find("contents");
  if (contents == hover.end() || !contents->is_object()) return;
  const auto text = contents->find("value");
  if (text == contents->end() || !text->is_string()) return;
  *text = text->get<std::string>() + "\n\n---\n\n*From the last version that compiled.*";
}

}  // namespace tovix_lsp::forwarding
