#include "core/rename_requests.h"

#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "core/requests.h"
#include "features/hover.h"
#include "features/rename.h"
#include "workspace/protocol.h"

namespace tovix_lsp::rename_requests {

namespace {

using json = nlohmann::json;

// The settings that name classes: the project's, or the defaults for a
// document that is no file.
const tovix::config::Config& config_of(const requests::Target& at) {
  static const tovix::config::Config defaults;
  return at.project ? at.project->config : defaults;
}

}  // namespace

server::Reply rename(server::Server& server, const json&, json params) {
  const auto at = requests::target(server, params);
  if (!at) return json(nullptr);
  const json* new_name = protocol::member(params, "newName");
  const std::string_view name = new_name != nullptr && new_name->is_string()
                                    ? std::string_view(new_name->get_ref<const std::string&>())
                                    : std::string_view();
  rename::Answer answer = rename::rename(at->open.document, config_of(*at), at->offset, name, at->open.snapshot.get());
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  if (auto* refused = std::get_if<rename::Refused>(&answer))
    return server::Failure{child_session::REQUEST_FAILED, std::move(refused->message)};
  if (auto* luau = std::get_if<rename::AskLuau>(&answer)) {
    server::AskChild forward{"textDocument/rename", std::move(params), std::nullopt, true};
    forward.on_tags = std::move(luau->on_tags);
    return forward;
  }
  if (auto* component = std::get_if<rename::Component>(&answer)) {
    auto asked = requests::at_the_call(*at, component->open, component->at, std::move(params));
    if (!asked) return json(nullptr);
    return server::AskChild{"textDocument/rename", std::move(*asked), std::nullopt, true};
  }
  return json(nullptr);
}

server::Reply references(server::Server& server, const json&, json params) {
  // On a tag name, opening or closing, the child is asked at the segment
  // under the cursor in the opening name, which the generated call copies.
  if (const auto at = requests::target(server, params)) {
    if (const auto tag = hover::tag_at(at->open.document, at->offset, at->open.snapshot.get()))
      params["position"] = at->open.document.position_at(tag->at);
  }
  server::AskChild forward{"textDocument/references", std::move(params), std::nullopt, false};
  forward.join_locations = true;
  return forward;
}

server::Reply prepare_rename(server::Server& server, const json&, json params) {
  const auto at = requests::target(server, params);
  if (!at) return json(nullptr);
  rename::Answer answer = rename::prepare(at->open.document, config_of(*at), at->offset, at->open.snapshot.get());
  if (auto* local = std::get_if<rename::Local>(&answer)) return std::move(local->value);
  // Only the child renames Luau bindings: without it, a range would start a
  // rename that then changes nothing.
  if (std::holds_alternative<rename::Null>(answer) || !server.child.ready()) return json(nullptr);
  json cursor = params["position"];
  std::optional<json> local;
  if (auto* luau = std::get_if<rename::AskLuau>(&answer)) {
    local = std::move(luau->local);
  } else {
    auto& component = std::get<rename::Component>(answer);
    auto asked = requests::at_the_call(*at, component.open, component.at, std::move(params));
    if (!asked) return json(nullptr);
    params = std::move(*asked);
    local = std::move(component.local);
  }
  server::AskChild forward{"textDocument/prepareRename", std::move(params), std::move(local), false};
  forward.cursor = std::move(cursor);
  return forward;
}

}  // namespace tovix_lsp::rename_requests
