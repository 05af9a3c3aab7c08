#include "core/child.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <string>

#include "core/open_documents.h"
#include "core/proxy.h"
#include "core/server.h"
#include "workspace/project.h"

namespace tovix_lsp::child {

namespace {

using json = nlohmann::json;

// The open documents a payload may name besides its own, found by their own
// URI or their generated file's.
remap::Lookup others(server::Server& server) {
  return [&server](std::string_view uri) -> std::optional<remap::Pair> {
    for (const std::string& key : server.documents.uris()) {
      const open_documents::OpenDocument* open = server.documents.get(key);
      remap::Pair pair{&open->document, open->compiled, open->generated_uri};
      if (remap::names(pair, uri)) return pair;
    }
    return std::nullopt;
  };
}

// The open document whose generated file `uri` names.
open_documents::OpenDocument* owner_of_generated(server::Server& server, std::string_view uri) {
  for (const std::string& key : server.documents.uris()) {
    open_documents::OpenDocument* open = server.documents.get(key);
    if (!open->generated_uri.empty() && project::same_file(open->generated_uri, uri)) return open;
  }
  return nullptr;
}

void write_to_child(server::Server& server, const json& message, outbox::Tag tag = {}) {
  if (server.proxy) (void)server.proxy->write(message, std::move(tag));
}

// How many compiles handed to the child are kept for its diagnostics to be
// placed through: it checks texts in order and soon, so a publication about
// an older one is followed by one about a newer.
constexpr std::size_t HANDED_KEPT = 8;

void handed(open_documents::OpenDocument& open) {
  if (open.handed.size() == HANDED_KEPT) open.handed.erase(open.handed.begin());
  open.handed.emplace_back(open.document.version(), open.compiled);
}

// The compile whose code a publication of the child is about: the one handed
// with its "version" (older ones are forgotten), else the one in use. Null
// for a version older than every one kept: a newer publication follows.
std::shared_ptr<const analysis::Compiled> published_against(open_documents::OpenDocument& open,
                                                            std::optional<std::int64_t> version) {
  if (!version || !open.compiled) return open.compiled;
  const std::int64_t v = *version;
  auto& list = open.handed;
  const auto found = std::find_if(list.rbegin(), list.rend(), [&](const auto& each) { return each.first == v; });
  if (found == list.rend()) return !list.empty() && v < list.front().first ? nullptr : open.compiled;
  std::shared_ptr<const analysis::Compiled> compiled = found->second;
  list.erase(list.begin(), std::prev(found.base()));
  return compiled;
}

}  // namespace

void publication(server::Server& server, published::Notification publication) {
  const std::string& generated = publication.uri;
  open_documents::OpenDocument* open = owner_of_generated(server, generated);
  if (open == nullptr) {
    for (const std::string& key : server.documents.uris()) {
      const open_documents::OpenDocument* other = server.documents.get(key);
      if (other->in_child && project::same_file(other->generated_uri, generated)) {
        server.log(2, "luau-lsp published diagnostics for " + generated +
                          ", which is open in it but matches no document here — they cannot be shown");
        return;
      }
    }
    return;
  }
  const std::string editor_uri = open->document.uri();
  const std::shared_ptr<const analysis::Compiled> compiled = published_against(*open, publication.version);
  if (open->compiled && !compiled) return;
  const std::size_t received = publication.diagnostics.items.size();
  if (server.first_time("heard:" + editor_uri))
    server.log(3, "luau-lsp answered about this file with " + std::to_string(received) + " diagnostic(s)");
  // Without a compile there is nothing to place them through, now or later.
  open->child_published = compiled ? std::move(publication.diagnostics) : published::Publication{};
  open->child_compiled = compiled;
  relocate_diagnostics(server, *open);
  const std::size_t kept = open->child_shown.count;
  const std::size_t dropped = received - std::min(received, kept);
  const std::string reported = "luau-lsp reported " + std::to_string(received) + " diagnostic(s) for this file; ";
  if (dropped > 0 && kept == 0 && server.first_time("dropped:" + editor_uri)) {
    server.log(2, reported + (open->compiled ? "none of them mapped back into the source"
                                             : "there is no successful compile to map them through"));
  } else if (dropped > 0) {
    // Said again only when it changes: a lint on an injected helper would
    // otherwise say the same at every keystroke.
    std::string line = reported + std::to_string(dropped) + " of them did not map back into the source";
    if (line != open->dropped_said) server.log(2, line);
    open->dropped_said = std::move(line);
  } else {
    open->dropped_said.clear();
  }
  if (server.trace)
    std::cerr << "[diagnostics] " << editor_uri << ": " << received << " received, " << kept << " shown\n"
              << std::flush;
  server.publish(*open);
}

namespace {

void cancel_relayed(server::Server& server, const json& params) {
  const json* id = protocol::member(params, "id");
  if (id == nullptr) return;
  for (auto it = server.relayed.begin(); it != server.relayed.end(); ++it) {
    if (it->second != *id) continue;
    const std::int64_t ours = it->first;
    server.relayed.erase(it);
    server.send(jsonrpc::build::notification("$/cancelRequest", {{"id", ours}}));
    return;
  }
}

// A child's edit names its generated files at generated positions; the
// editor knows only the sources. Nothing when some of it does not map.
std::optional<json> edit_in_the_sources(server::Server& server, json params) {
  const auto uris = server.documents.uris();
  if (uris.empty()) return params;  // no generated file is open: nothing to move
  open_documents::OpenDocument* home = server.documents.get(uris.front());
  remap::Remap remap({&home->document, home->compiled, home->generated_uri}, remap::Direction::ToSource,
                     others(server));
  auto moved = remap.value(std::move(params), false);
  if (!moved || remap.lost()) return std::nullopt;
  return moved;
}

// Whether every element of the array at `key` of `object` is an object
// (true when the member is absent).
bool objects_or_absent(const json& object, const char* key, bool array) {
  const json* member = protocol::member(object, key);
  if (member == nullptr) return true;
  if (!array) return member->is_object();
  if (!member->is_array()) return false;
  return std::all_of(member->begin(), member->end(), [](const json& each) { return each.is_object(); });
}

// Whether a request of the child has params of the shape its method has, so
// that the editor can be asked it: anything else would only confuse the
// editor, or our own handling of it.
bool well_formed(const jsonrpc::Request& message) {
  const json& params = message.params;
  const std::string& method = message.method;
  if (method == "workspace/workspaceFolders") return params.is_null() || params.is_object();
  if (!params.is_object()) return false;
  if (method == "workspace/applyEdit") {
    const json* edit = protocol::member(params, "edit");
    return edit != nullptr && edit->is_object() && objects_or_absent(*edit, "documentChanges", true) &&
           objects_or_absent(*edit, "changes", false);
  }
  if (method == "workspace/configuration") {
    const json* items = protocol::member(params, "items");
    return items != nullptr && objects_or_absent(params, "items", true);
  }
  if (method == "client/registerCapability") return objects_or_absent(params, "registrations", true);
  if (method == "client/unregisterCapability") return objects_or_absent(params, "unregisterations", true);
  return true;
}

}  // namespace

void sync(server::Server& server, open_documents::OpenDocument& open) {
  if (!server.child_ready) return;
  if (open.generated_uri.empty() || !open.compiled) {
    if (server.first_time("unsent:" + open.document.uri()))
      server.log(3, "no compiled output yet, so luau-lsp has not been given this file");
    return;
  }
  const std::string& code = open.compiled->code;
  handed(open);
  if (open.in_child) {
    // A change still waiting for a child that reads slowly is replaced by
    // this one: each carries the whole text.
    write_to_child(server,
                   jsonrpc::build::notification(
                       "textDocument/didChange",
                       {{"contentChanges", json::array({{{"text", code}}})},
                        {"textDocument", {{"uri", open.generated_uri}, {"version", open.document.version()}}}}),
                   outbox::Tag{open.generated_uri, true});
    return;
  }
  open.in_child = true;
  if (server.first_time("sent:" + open.generated_uri))
    server.log(3, "handed " + open.generated_uri + " to luau-lsp (" + std::to_string(code.size()) + " bytes)");
  write_to_child(server,
                 jsonrpc::build::notification("textDocument/didOpen", {{"textDocument",
                                                                         {{"languageId", "luau"},
                                                                          {"text", code},
                                                                          {"uri", open.generated_uri},
                                                                          {"version", open.document.version()}}}}),
                 outbox::Tag{open.generated_uri, false});
}

void relocate_diagnostics(server::Server& server, open_documents::OpenDocument& open) {
  // The text keeps its room: the next list is about as long.
  open.child_shown.text.clear();
  open.child_shown.count = 0;
  if (open.child_published.empty() || open.generated_uri.empty()) return;
  std::shared_ptr<const analysis::Compiled> compiled = open.child_compiled ? open.child_compiled : open.compiled;
  if (!compiled) return;
  remap::Remap remap({&open.document, std::move(compiled), open.generated_uri}, remap::Direction::ToSource,
                     others(server));
  open.child_shown.count = remap.diagnostics_text(open.child_published, open.child_shown.text);
}

void forget(open_documents::OpenDocument& open) {
  open.in_child = false;
  open.handed.clear();
  open.child_shown = {};
  open.child_published = {};
  open.child_compiled = nullptr;
}

void close(server::Server& server, open_documents::OpenDocument& open) {
  if (!open.in_child) return;
  open.in_child = false;
  open.handed.clear();
  write_to_child(server,
                 jsonrpc::build::notification("textDocument/didClose", {{"textDocument", {{"uri", open.generated_uri}}}}),
                 outbox::Tag{open.generated_uri, false});
}

std::optional<Moved> with_remap(server::Server& server, std::string_view uri, remap::Direction direction,
                                json value, How how, std::shared_ptr<const analysis::Compiled> compiled) {
  open_documents::OpenDocument* open = server.documents.get(uri);
  if (open == nullptr || open->generated_uri.empty()) return std::nullopt;
  if (!compiled) compiled = open->compiled;
  if (!compiled) return std::nullopt;
  remap::Remap remap({&open->document, std::move(compiled), open->generated_uri}, direction, others(server));
  std::optional<json> moved;
  switch (how) {
    case How::Value: moved = remap.value(std::move(value)); break;
    case How::Answer: moved = remap.answer(std::move(value)); break;
    case How::InlayHintParams: moved = remap.inlay_hint_params(std::move(value)); break;
    case How::Diagnostics: moved = remap.diagnostics(std::move(value)); break;
  }
  if (!moved) return std::nullopt;
  return Moved{std::move(*moved), remap.lost()};
}

void notification(server::Server& server, jsonrpc::Notification message) {
  if (message.method == "textDocument/publishDiagnostics") {
    // Read as values: it came in a form the text reader does not take.
    const json* uri = protocol::member(message.params, "uri");
    if (uri == nullptr || !uri->is_string()) return;
    published::Notification publication{uri->get<std::string>(), std::nullopt, {}};
    if (const json* v = protocol::member(message.params, "version"); v && v->is_number_integer())
      publication.version = v->get<std::int64_t>();
    if (const json* list = protocol::member(message.params, "diagnostics"))
      publication.diagnostics = published::of_values(*list);
    child::publication(server, std::move(publication));
  } else if (message.method == "$/cancelRequest") {
    cancel_relayed(server, message.params);
  } else if ((message.method == "window/logMessage" || message.method == "window/showMessage") &&
             !server.admit_child_message()) {
    return;  // counted, and said in one line
  } else {
    server.send(jsonrpc::build::notification(message.method, std::move(message.params)));
  }
}

void request(server::Server& server, jsonrpc::Request message) {
  if (!message.id.is_string() && !message.id.is_number()) {
    // An id that names no request cannot be answered under it.
    write_to_child(server, jsonrpc::build::error(nullptr, jsonrpc::INVALID_REQUEST, "invalid request"));
    return;
  }
  if (!proxy::needs_the_editor(message)) {
    write_to_child(server, jsonrpc::build::error(std::move(message.id), -32601, "not supported"));
    return;
  }
  if (!well_formed(message)) {
    write_to_child(server, jsonrpc::build::error(std::move(message.id), jsonrpc::INVALID_REQUEST, "invalid request"));
    return;
  }
  if (message.method == "workspace/applyEdit") {
    auto moved = edit_in_the_sources(server, std::move(message.params));
    if (!moved) {
      write_to_child(server, jsonrpc::build::result(std::move(message.id), {{"applied", false}}));
      return;
    }
    message.params = std::move(*moved);
  }
  const std::int64_t ours = server.next_id++;
  server.relayed[ours] = std::move(message.id);
  server.send(jsonrpc::build::request(ours, message.method, std::move(message.params)));
}

}  // namespace tovix_lsp::child
