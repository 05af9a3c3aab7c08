#include "core/forwarding.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/child.h"
#include "core/outline_requests.h"
#include "core/server.h"
#include "features/completion.h"
#include "features/rename.h"
#include "tovix/whitespace.h"
#include "workspace/protocol.h"

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

namespace tovix_lsp::forwarding {

namespace {

using json = nlohmann::json;

const json EMPTY_COMPLETION = {{"isIncomplete", false}, {"items", json::array()}};

// The protocol's code for a request the client cancelled.
constexpr std::int64_t REQUEST_CANCELLED = -32800;

void answer_locally(server::Server& server, json id, const std::optional<json>& local) {
  server.reply(std::move(id), merged(local ? &*local : nullptr, nullptr));
}

// Whether the document at `uri` still has the text of `asked_of`: what was
// worked out on that text (a local part, a props range) may be sent only
// while it does, or its places would land on other text.
bool still_of(server::Server& server, const std::string& uri,
              const std::shared_ptr<const snapshot::Snapshot>& asked_of) {
  const open_documents::OpenDocument* open = server.documents.get(uri);
  if (open == nullptr || asked_of == nullptr) return false;
  return open->snapshot == asked_of || snapshot::of(asked_of.get(), open->document.text()) != nullptr;
}

void initialized(server::Server& server, const json& message) {
  if (const json* error = protocol::member(message, "error")) {
    const json* text = protocol::member(*error, "message");
    server.log(1, "luau-lsp refused to initialize (" +
                      (text && text->is_string() ? text->get<std::string>() : std::string("no reason given")) +
                      ") — markup features only");
    server.let_go_of_child(true);
    server.fail_pending();
    return;
  }
  server.child_ready = true;
  if (server.proxy) (void)server.proxy->notify("initialized", json::object());
  for (const std::string& uri : server.documents.uris()) server.sync_child(*server.documents.get(uri));
}

void props_answered(server::Server& server, server::Pending::Props props, const json& message) {
  if (protocol::member(message, "error") || !still_of(server, props.uri, props.asked_of)) {
    server.reply(std::move(props.id), EMPTY_COMPLETION);
    return;
  }
  const json* given = protocol::member(message, "result");
  const json result = given ? *given : json(nullptr);
  std::span<const json> items;
  if (result.is_array()) {
    items = result.get_ref<const json::array_t&>();
  } else if (const json* list = protocol::member(result, "items"); list && list->is_array()) {
    items = list->get_ref<const json::array_t&>();
  }
  json answer = completion::props(items, props.range, props.snippet);
  if (const json* incomplete = protocol::member(result, "isIncomplete"); incomplete && *incomplete == true)
    answer["isIncomplete"] = true;
  const json* answered = protocol::member(answer, "items");
  if ((answered == nullptr || !answered->is_array() || answered->empty()) &&
      server.first_time("props:" + props.name)) {
    server.log(3, "<" + props.name +
                      ">: luau-lsp knows of no props for this component. Either its props parameter is untyped or "
                      "typed `any`, or it is a table made callable with `__call` — which luau-lsp type-checks but "
                      "infers no argument type through. For the second, annotating the module's return with its "
                      "call signature, as in `return (M :: any) :: (props: Props) -> Instance`, makes the props "
                      "known here.");
  }
  server.reply(std::move(props.id), std::move(answer));
}

void forward_answered(server::Server& server, server::Pending::Forward forward, json& message) {
  if (forward.local && !still_of(server, forward.uri, forward.asked_of)) forward.local.reset();
  const json* local = forward.local ? &*forward.local : nullptr;
  if (const json* error = protocol::member(message, "error")) {
    const json* code = protocol::member(*error, "code");
    const std::int64_t number = code ? protocol::read_i64(*code).value_or(0) : 0;
    const bool lost = lost_the_document(*error);
    if (number == -32601 || number == -32002 || lost) {
      if (lost) {
        if (auto* open = server.documents.get(forward.uri)) open->in_child = false;
      }
      server.reply(std::move(forward.id), merged(local, nullptr));
    } else if (local == nullptr) {
      server.send({{"error", *error}, {"id", std::move(forward.id)}, {"jsonrpc", "2.0"}});
    } else {
      server.reply(std::move(forward.id), *local);
    }
    return;
  }
  json* given = message.is_object() && message.contains("result") ? &message["result"] : nullptr;
  if (given == nullptr || given->is_null()) {
    server.reply(std::move(forward.id), merged(local, nullptr));
    return;
  }
  auto moved = child::with_remap(server, forward.uri, remap::Direction::ToSource, std::move(*given),
                                 forward.rename ? child::How::Value : child::How::Answer, forward.compiled);
  if (!moved) {
    server.reply(std::move(forward.id), merged(local, nullptr));
    return;
  }
  if (moved->lost && forward.rename) {
    // -32801 (content modified) is answered silently by common clients; the
    // user must learn why nothing happened.
    server.error(std::move(forward.id), -32803,
                 "some of this rename lands in generated code, so it cannot be applied here");
    return;
  }
  if (forward.rename) outline_requests::join_closing_names(server, moved->value);
  if (forward.cursor && !rename::holds(moved->value, *forward.cursor)) moved->value = nullptr;
  // The answer speaks of an older text when it was asked of one, or when
  // the text in use has been older since.
  const auto* open = server.documents.get(forward.uri);
  if (forward.stale || (open && open->stale)) add_stale_note(moved->value);
  server.reply(std::move(forward.id), merged(local, std::move(moved->value)));
}

}  // namespace

std::shared_ptr<const snapshot::Snapshot> asked_of(const open_documents::OpenDocument& open) {
  if (!snapshot::of(open.snapshot.get(), open.document.text())) return nullptr;
  return open.snapshot;
}

void forward(server::Server& server, json id, server::Forward forward) {
  auto uri = protocol::string_at(forward.params, "/textDocument/uri");
  if (!uri) return answer_locally(server, std::move(id), forward.local);
  const bool inlay = forward.method == "textDocument/inlayHint";
  auto moved = child::with_remap(server, *uri, remap::Direction::ToOutput, std::move(forward.params),
                                 inlay ? child::How::InlayHintParams : child::How::Value);
  if (!moved) return answer_locally(server, std::move(id), forward.local);
  if (!server.child_ready) return answer_locally(server, std::move(id), forward.local);
  auto* open = server.documents.get(*uri);
  if (open && !open->generated_uri.empty() && !open->in_child) server.sync_child(*open);
  if (!server.proxy) return answer_locally(server, std::move(id), forward.local);
  auto sent = server.proxy->request(forward.method, std::move(moved->value),
                                    outbox::Tag{open ? open->generated_uri : std::string(), false});
  if (!sent) {
    server.log(1, "luau-lsp: " + sent.error().message);
    return answer_locally(server, std::move(id), forward.local);
  }
  server.pending.insert_or_assign(*sent, server::Pending{server::Pending::Forward{
      std::move(id), std::move(*uri), std::move(forward.local), forward.rename, open ? open->compiled : nullptr,
      open && open->stale, std::move(forward.cursor), open ? asked_of(*open) : nullptr}});
}

std::optional<json> waiting_editor_id(const server::Server& server, const jsonrpc::Response& message) {
  const auto id = protocol::read_i64(message.id);
  if (!id) return std::nullopt;
  const auto entry = server.pending.find(*id);
  if (entry == server.pending.end()) return std::nullopt;
  if (const auto* f = std::get_if<server::Pending::Forward>(&entry->second.what)) return f->id;
  if (const auto* p = std::get_if<server::Pending::Props>(&entry->second.what)) return p->id;
  return std::nullopt;
}

void response(server::Server& server, jsonrpc::Response message) {
  const auto id = protocol::read_i64(message.id);
  if (!id) return;
  const auto entry = server.pending.find(*id);
  if (entry == server.pending.end()) return;
  server::Pending waiting = std::move(entry->second);
  server.pending.erase(entry);
  if (std::holds_alternative<server::Pending::Initialize>(waiting.what)) {
    initialized(server, message.message);
  } else if (auto* props = std::get_if<server::Pending::Props>(&waiting.what)) {
    props_answered(server, std::move(*props), message.message);
  } else {
    forward_answered(server, std::get<server::Pending::Forward>(std::move(waiting.what)), message.message);
  }
}

void fail_pending(server::Server& server) {
  auto waiting = std::move(server.pending);
  server.pending.clear();
  for (auto& [child_id, entry] : waiting) {
    if (auto* f = std::get_if<server::Pending::Forward>(&entry.what)) {
      answer_locally(server, std::move(f->id), still_of(server, f->uri, f->asked_of) ? f->local : std::nullopt);
    } else if (auto* p = std::get_if<server::Pending::Props>(&entry.what)) {
      server.reply(std::move(p->id), EMPTY_COMPLETION);
    }
  }
}

void cancel(server::Server& server, const json& params) {
  const json* id = protocol::member(params, "id");
  if (id == nullptr) return;
  for (auto it = server.pending.begin(); it != server.pending.end(); ++it) {
    const json* editor_id = nullptr;
    if (const auto* f = std::get_if<server::Pending::Forward>(&it->second.what)) editor_id = &f->id;
    if (const auto* p = std::get_if<server::Pending::Props>(&it->second.what)) editor_id = &p->id;
    if (editor_id == nullptr || *editor_id != *id) continue;
    // Answered now, whatever the child does: a child that is busy or hung
    // must not keep the editor waiting for a request it no longer wants.
    // The child's late answer finds nothing waiting and is dropped.
    json editor = *editor_id;
    const std::int64_t child_id = it->first;
    server.pending.erase(it);
    if (server.proxy) (void)server.proxy->notify("$/cancelRequest", {{"id", child_id}});
    server.error(std::move(editor), REQUEST_CANCELLED, "request cancelled");
    return;
  }
}

}  // namespace tovix_lsp::forwarding
