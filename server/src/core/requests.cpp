#include "core/requests.h"

#include <utility>
#include <variant>

#include "features/api.h"
#include "features/closing_tag.h"
#include "features/completion.h"
#include "features/hover.h"
#include "workspace/protocol.h"

namespace tovix_lsp::requests {

namespace {

using json = nlohmann::json;

server::Reply forwarded(const char* method, json params, std::optional<json> local = std::nullopt) {
  return server::AskChild{method, std::move(params), std::move(local), false};
}

server::Reply props(server::Server& server, const json& id, Target& at, const completion::Props& asked) {
  auto question = props::question(remap_pair(at.open), at.open.snapshot.get(), at.offset, asked.start, asked.prefix);
  if (!question || !server.child.ready()) return completion::empty_list();
  return ask_child_for_props(server, id, at.open, std::move(*question));
}

}  // namespace

std::optional<Target> target(server::Server& server, const json& params) {
  auto located = server.position_at(params);
  if (!located) return std::nullopt;
  open_documents::OpenDocument* open = server.documents.get(located->first);
  if (!open) return std::nullopt;
  std::optional<project::Project> of_file;
  if (const auto path = project::uri_to_path(located->first)) of_file = server.projects.for_file(*path);
  return Target{*open, std::move(of_file), located->second};
}

remap::Pair remap_pair(const open_documents::OpenDocument& open) {
  return {&open.document, open.compiled, open.generated_uri()};
}

std::optional<json> at_the_call(const Target& target, line_index::ByteRange name, std::size_t at, json params) {
  if (!props::generated_call(remap_pair(target.open), name)) return std::nullopt;
  params["position"] = target.open.document.position_at(at);
  return params;
}

server::Reply closing_tag(server::Server& server, const json&, json params) {
  const auto at = target(server, params);
  if (!at) return json(nullptr);
  auto name = closing_tag::closing_tag(at->open.document.text(), at->offset, at->open.snapshot.get());
  if (!name) return json(nullptr);
  return json{{"tagName", std::move(*name)}};
}

server::Reply hover(server::Server& server, const json&, json params) {
  auto at = target(server, params);
  // The features need the settings of the file's project.
  if (!at || !at->project) return json(nullptr);
  const document::Document& document = at->open.document;
  hover::Answer answer = hover::hover(document, *at->project, at->offset, api::present(), at->open.snapshot.get());
  if (auto* local = std::get_if<hover::Local>(&answer)) return std::move(local->value);
  std::optional<json> local;
  if (auto* merge = std::get_if<hover::Merge>(&answer)) {
    // The child is asked about the segment under the cursor in the opening
    // name, which the generated call copies.
    params["position"] = document.position_at(merge->at);
    local = std::move(merge->local);
  } else if (!std::holds_alternative<hover::AskLuau>(answer)) {
    return json(nullptr);
  }
  server::AskChild forward{"textDocument/hover", std::move(params), std::move(local), false};
  forward.finish = hover::from_child;
  return forward;
}

server::Reply definition(server::Server& server, const json&, json params) {
  auto at = target(server, params);
  if (!at || !at->project) return json(nullptr);
  hover::Answer answer = hover::definition(at->open.document, *at->project, at->offset, at->open.snapshot.get());
  if (auto* local = std::get_if<hover::Local>(&answer)) return std::move(local->value);
  if (std::holds_alternative<hover::AskLuau>(answer)) return forwarded("textDocument/definition", std::move(params));
  if (auto* merge = std::get_if<hover::Merge>(&answer)) {
    params["position"] = at->open.document.position_at(merge->at);
    return forwarded("textDocument/definition", std::move(params), std::move(merge->local));
  }
  return json(nullptr);
}

server::Reply completion(server::Server& server, const json& id, json params) {
  auto at = target(server, params);
  if (!at || !at->project) return json(nullptr);
  completion::Answer answer = completion::complete(at->open.document, *at->project, at->offset, server.snippet_support,
                                                   api::present(), at->open.snapshot.get());
  if (auto* list = std::get_if<completion::List>(&answer)) return std::move(list->value);
  if (std::holds_alternative<completion::AskLuau>(answer)) {
    // The space triggers attribute names in markup; luau-lsp has no such
    // trigger and would list every global at each space typed in Luau.
    if (protocol::string_at(params, "/context/triggerCharacter") == " ") return completion::empty_list();
    return forwarded("textDocument/completion", std::move(params));
  }
  if (auto* asked = std::get_if<completion::Props>(&answer)) return props(server, id, *at, *asked);
  if (auto* member = std::get_if<completion::MemberOf>(&answer)) {
    auto asked = at_the_call(*at, member->name, member->at, std::move(params));
    if (!asked) return completion::empty_list();
    server::AskChild forward{"textDocument/completion", std::move(*asked), completion::empty_list(), false};
    forward.finish = completion::members;
    return forward;
  }
  return completion::empty_list();
}

server::Reply ask_child_for_props(server::Server& server, const json& id, open_documents::OpenDocument& open,
                                  props::Question question) {
  child_session::Effects effects;
  const bool asked =
      server.child.ask_props(server.context(), id, open, std::move(question), server.snippet_support, effects);
  server.apply(std::move(effects));
  if (!asked) return completion::empty_list();
  return server::Later{};
}

}  // namespace tovix_lsp::requests
