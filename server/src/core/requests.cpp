#include "core/requests.h"

#include <utility>
#include <variant>

#include "core/forwarding.h"
#include "features/api.h"
#include "features/closing_tag.h"
#include "features/completion.h"
#include "features/hover.h"
#include "workspace/project.h"
#include "workspace/protocol.h"
#include "workspace/remap.h"
#include "workspace/tree.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::requests {

namespace {

using json = nlohmann::json;

// The open document of a request about one position, with its project and
// the byte offset; none when the params do not locate an open file.
struct Target {
  open_documents::OpenDocument& open;
  project::Project project;
  std::size_t offset;
};

std::optional<Target> target(server::Server& server, const json& params) {
  auto located = server.locate(params);
  if (!located) return std::nullopt;
  const auto path = project::uri_to_path(located->first);
  if (!path) return std::nullopt;
  open_documents::OpenDocument* open = server.documents.get(located->first);
  if (!open) return std::nullopt;
  return Target{*open, server.projects.for_file(*path), located->second};
}

server::Reply forwarded(const char* method, json params, std::optional<json> local = std::nullopt) {
  return server::Forward{method, std::move(params), std::move(local), false};
}

server::Reply props(server::Server& server, const json& id, Target& at, const completion::Props& asked) {
  auto question = props_question(at.open, at.offset, asked.start, asked.prefix);
  if (!question || !server.child_ready) return empty_list();
  return ask_child_for_props(server, id, at.open, std::move(*question));
}

}  // namespace

json empty_list() { return completion::list({}); }

server::Reply closing_tag(server::Server& server, const json&, json params) {
  const auto located = server.locate(params);
  if (!located) return json(nullptr);
  const auto* open = server.documents.get(located->first);
  auto name = closing_tag::closing_tag(open->document.text(), located->second, open->snapshot.get());
  if (!name) return json(nullptr);
  return json{{"tagName", std::move(*name)}};
}

server::Reply hover(server::Server& server, const json&, json params) {
  auto at = target(server, params);
  if (!at) return json(nullptr);
  const document::Document& document = at->open.document;
  hover::Answer answer = hover::hover(document, at->project, at->offset, api::present(), at->open.snapshot.get());
  if (auto* local = std::get_if<hover::Local>(&answer)) return std::move(local->value);
  if (std::holds_alternative<hover::Forward>(answer)) return forwarded("textDocument/hover", std::move(params));
  if (auto* merge = std::get_if<hover::Merge>(&answer)) {
    // The child is asked about the component at its opening name.
    params["position"] = document.position_at(merge->at);
    return forwarded("textDocument/hover", std::move(params), std::move(merge->local));
  }
  return json(nullptr);
}

server::Reply definition(server::Server& server, const json&, json params) {
  auto at = target(server, params);
  if (!at) return json(nullptr);
  hover::Answer answer = hover::definition(at->open.document, at->project, at->offset, at->open.snapshot.get());
  if (auto* local = std::get_if<hover::Local>(&answer)) return std::move(local->value);
  if (std::holds_alternative<hover::Forward>(answer)) return forwarded("textDocument/definition", std::move(params));
  return json(nullptr);
}

server::Reply completion(server::Server& server, const json& id, json params) {
  auto at = target(server, params);
  if (!at) return json(nullptr);
  completion::Answer answer =
      completion::complete(at->open.document, at->project, at->offset, server.snippet_support, api::present(),
                           at->open.snapshot.get());
  if (auto* list = std::get_if<completion::List>(&answer)) return std::move(list->value);
  if (std::holds_alternative<completion::Forward>(answer)) {
    // The space triggers attribute names in markup; luau-lsp has no such
    // trigger and would list every global at each space typed in Luau.
    if (protocol::string_at(params, "/context/triggerCharacter") == " ") return empty_list();
    return forwarded("textDocument/completion", std::move(params));
  }
  if (auto* asked = std::get_if<completion::Props>(&answer)) return props(server, id, *at, *asked);
  return empty_list();
}

std::optional<std::size_t> generated_call(const open_documents::OpenDocument& open, line_index::ByteRange name) {
  if (!open.compiled) return std::nullopt;
  const std::string_view text = open.document.text();
  if (name.start > name.end || name.end > text.size()) return std::nullopt;
  // The compile in use may be of an older text, with lines added since.
  const std::optional<std::size_t> mapped =
      remap::to_output({&open.document, open.compiled, open.generated_uri}, name.start);
  if (!mapped) return std::nullopt;
  const std::string_view code = open.compiled->code;
  const std::string call = std::string(text.substr(name.start, name.end - name.start)) + "(";
  if (!utf8_text::is_whole(code, *mapped, call.size()) || code.substr(*mapped, call.size()) != call) {
    return std::nullopt;
  }
  return mapped;
}

std::optional<PropsQuestion> props_question(const open_documents::OpenDocument& open, std::size_t offset,
                                            std::size_t start, const std::string& prefix) {
  if (!open.compiled || open.generated_uri.empty()) return std::nullopt;
  const document::Document& document = open.document;
  const std::vector<tree::Tag> tags =
      snapshot::tree_at(document.text(), offset, snapshot::of(open.snapshot.get(), document.text()));
  const tree::Tag* tag = tree::innermost_at(tags, offset);
  if (!tag) return std::nullopt;
  const std::optional<std::size_t> call = generated_call(open, tag->open);
  // The call must read "Name({": the child is asked just inside the table,
  // where the props go.
  const std::string_view code = open.compiled->code;
  const std::size_t inside = call ? *call + tag->name.size() + 2 : 0;
  if (!call || inside > code.size() || code[inside - 1] != '{') return std::nullopt;
  return PropsQuestion{open.generated_uri, open.compiled->code_index.position(code, inside),
                       document.range_at(start, start + prefix.size()), tag->name};
}

server::Reply ask_child_for_props(server::Server& server, const json& id, open_documents::OpenDocument& open,
                                  PropsQuestion question) {
  if (!open.in_child) server.sync_child(open);
  if (!server.proxy) return empty_list();
  auto sent = server.proxy->request(
      "textDocument/completion",
      {{"position", protocol::to_json(question.position)}, {"textDocument", {{"uri", question.generated_uri}}}},
      outbox::Tag{question.generated_uri, false});
  if (!sent) {
    server.log(1, "luau-lsp: " + sent.error().message);
    return empty_list();
  }
  server.pending.insert_or_assign(
      *sent, server::Pending{server::Pending::Props{id, std::move(question.name), std::move(question.range),
                                                   server.snippet_support, open.document.uri(),
                                                   forwarding::asked_of(open)}});
  return server::Later{};
}

}  // namespace tovix_lsp::requests
