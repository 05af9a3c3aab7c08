#include "core/child_session.h"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <utility>

#include <unistd.h>

#include "features/completion.h"
#include "features/rename.h"
#include "workspace/protocol.h"

namespace tovix_lsp::child_session {

using json = nlohmann::json;
using open_documents::OpenDocument;

namespace {

// The protocol's code for a request the client cancelled.
constexpr std::int64_t REQUEST_CANCELLED = -32800;

// How many compiles handed to the child are kept for its diagnostics to be
// placed through: it checks texts in order and soon, so a publication about
// an older one is followed by one about a newer.
constexpr std::size_t HANDED_KEPT = 8;

json log_message(std::uint8_t level, std::string_view text) {
  std::string message = "tovix: ";
  message += text;
  return jsonrpc::build::notification("window/logMessage", {{"message", message}, {"type", level}});
}

// The open documents a payload may name besides its own, found by their own
// URI or their generated file's.
remap::Lookup others(open_documents::OpenDocuments& documents) {
  return [&documents](std::string_view uri) -> std::optional<remap::Pair> {
    const OpenDocument* open = documents.naming(uri);
    if (open == nullptr) return std::nullopt;
    return remap::Pair{&open->document, open->compiled, open->generated_uri()};
  };
}

void handed(OpenDocument& open) {
  auto& list = open.child.handed;
  if (list.size() == HANDED_KEPT) list.erase(list.begin());
  list.emplace_back(open.document.version(), open.compiled);
}

// The compile whose code a publication of the child is about: the one handed
// with its "version" (older ones are forgotten), else the one in use. Null
// for a version older than every one kept: a newer publication follows.
std::shared_ptr<const analysis::Compiled> published_against(OpenDocument& open, std::optional<std::int64_t> version) {
  if (!version || !open.compiled) return open.compiled;
  const std::int64_t v = *version;
  auto& list = open.child.handed;
  const auto found = std::find_if(list.rbegin(), list.rend(), [&](const auto& each) { return each.first == v; });
  if (found == list.rend()) return !list.empty() && v < list.front().first ? nullptr : open.compiled;
  std::shared_ptr<const analysis::Compiled> compiled = found->second;
  list.erase(list.begin(), std::prev(found.base()));
  return compiled;
}

// A payload of the document at `uri` moved towards its generated file or
// back, with whether anything was dropped. `compiled` overrides the
// document's compile in use (the one a request was sent against). Nothing
// when the document is not open, has no compile or no generated URI, or the
// payload does not move as a whole.
struct Moved {
  json value;
  bool lost = false;
};
enum class How {
  Value,            // the payload as it is
  Answer,           // an answer that is not a rename: items that lost edits go whole
  InlayHintParams,  // the visible range by whole lines
};
std::optional<Moved> with_remap(open_documents::OpenDocuments& documents, std::string_view uri,
                                remap::Direction direction, json value, How how,
                                std::shared_ptr<const analysis::Compiled> compiled = nullptr) {
  OpenDocument* open = documents.get(uri);
  if (open == nullptr || open->generated_uri().empty()) return std::nullopt;
  if (!compiled) compiled = open->compiled;
  if (!compiled) return std::nullopt;
  remap::Remap remap({&open->document, std::move(compiled), open->generated_uri()}, direction, others(documents));
  std::optional<json> moved;
  switch (how) {
    case How::Value: moved = remap.value(std::move(value)); break;
    case How::Answer: moved = remap.answer(std::move(value)); break;
    case How::InlayHintParams: moved = remap.inlay_hint_params(std::move(value)); break;
  }
  if (!moved) return std::nullopt;
  return Moved{std::move(*moved), remap.lost()};
}

// A child's edit names its generated files at generated positions; the
// editor knows only the sources. Nothing when some of it does not map.
std::optional<json> edit_in_the_sources(open_documents::OpenDocuments& documents, json params) {
  const auto uris = documents.uris();
  if (uris.empty()) return params;  // no generated file is open: nothing to move
  OpenDocument* home = documents.get(uris.front());
  remap::Remap remap({&home->document, home->compiled, home->generated_uri()}, remap::Direction::ToSource,
                     others(documents));
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

// Whether the document at `uri` still has the text of `asked_of`: what was
// worked out on that text (a local part, a props range) may be sent only
// while it does, or its places would land on other text.
bool still_of(open_documents::OpenDocuments& documents, const std::string& uri,
              const std::shared_ptr<const snapshot::Snapshot>& asked_of) {
  const OpenDocument* open = documents.get(uri);
  if (open == nullptr || asked_of == nullptr) return false;
  return open->snapshot == asked_of || snapshot::of(asked_of.get(), open->document.text()) != nullptr;
}

// A rename's WorkspaceEdit from the child, moved back into the sources: in
// every open document it edits ("changes" or "documentChanges"), each edit
// of an element's opening name is joined by the same edit of its closing
// name, so that the element still matches its call. Whether some edit
// replaces an element's whole opening name.
bool join_closing_names(const open_documents::OpenDocuments& documents, json& edit) {
  bool whole_name = false;
  auto join = [&](const json& uri, json& edits) {
    if (!uri.is_string()) return;
    const open_documents::OpenDocument* open = documents.get(uri.get_ref<const std::string&>());
    if (open != nullptr)
      whole_name = rename::join_closing_names(open->document, edits, open->snapshot.get()) || whole_name;
  };
  if (json* changes = edit.is_object() && edit.contains("changes") ? &edit["changes"] : nullptr;
      changes && changes->is_object()) {
    for (auto& [uri, edits] : changes->items()) join(json(uri), edits);
  }
  if (json* changes = edit.is_object() && edit.contains("documentChanges") ? &edit["documentChanges"] : nullptr;
      changes && changes->is_array()) {
    for (json& change : *changes) {
      const json* document = protocol::member(change, "textDocument");
      const json* uri = document ? protocol::member(*document, "uri") : nullptr;
      if (uri && change.contains("edits")) join(*uri, change["edits"]);
    }
  }
  return whole_name;
}

// Locations the child found, moved back into the sources: in every open
// document they name, each on an element's opening name is joined by one on
// its closing name.
void join_closing_locations(const open_documents::OpenDocuments& documents, json& locations) {
  if (!locations.is_array()) return;
  std::vector<std::string> uris;
  for (const json& location : locations) {
    const json* uri = protocol::member(location, "uri");
    if (uri && uri->is_string() && std::ranges::find(uris, uri->get_ref<const std::string&>()) == uris.end())
      uris.push_back(uri->get<std::string>());
  }
  for (const std::string& uri : uris)
    if (const open_documents::OpenDocument* open = documents.get(uri))
      (void)rename::join_closing_names(open->document, locations, open->snapshot.get());
}

}  // namespace

json initialize_params(const json& init_params, long process_id, const json& fflags) {
  json params = init_params.is_object() ? init_params : json::object();
  params["processId"] = process_id;
  if (auto caps = params.find("capabilities"); caps != params.end() && caps->is_object()) {
    if (auto document = caps->find("textDocument"); document != caps->end() && document->is_object())
      document->erase("diagnostic");
    if (auto workspace = caps->find("workspace"); workspace != caps->end() && workspace->is_object())
      workspace->erase("diagnostics");
    // luau-lsp takes the first encoding offered; the source map and every
    // position we move speak UTF-16.
    auto general = caps->find("general");
    if (general == caps->end() || !general->is_object()) {
      (*caps)["general"] = json::object();
      general = caps->find("general");
    }
    (*general)["positionEncodings"] = json::array({"utf-16"});
  } else {
    params["capabilities"] = {{"general", {{"positionEncodings", json::array({"utf-16"})}}}};
  }
  if (fflags.is_object() && !fflags.empty()) {
    auto options = params.find("initializationOptions");
    if (options == params.end() || !options->is_object()) {
      params["initializationOptions"] = json::object();
      options = params.find("initializationOptions");
    }
    (*options)["fflags"] = fflags;
  }
  return params;
}

// One call's view of the server, and what it is to do.
struct ChildSession::Call {
  Context& context;
  Effects& out;

  open_documents::OpenDocuments& documents() { return context.documents; }
  void send(json message) { out.emplace_back(std::move(message)); }
  void log(std::uint8_t level, std::string_view text) { send(log_message(level, text)); }
  void reply(json id, json result) { send(jsonrpc::build::result(std::move(id), std::move(result))); }
  void error(json id, std::int64_t code, std::string_view message) {
    send(jsonrpc::build::error(std::move(id), code, message));
  }
  void publish(const OpenDocument& open) { out.emplace_back(Publish{open.document.uri()}); }
};

json merged(const json* local, json child) {
  if (local == nullptr) return child;
  if (local->is_array() && child.is_array()) {
    json out = *local;
    for (json& item : child) out.push_back(std::move(item));
    return out;
  }
  if (child.is_null()) return *local;
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

std::shared_ptr<const snapshot::Snapshot> asked_of(const OpenDocument& open) {
  if (!snapshot::of(open.snapshot.get(), open.document.text())) return nullptr;
  return open.snapshot;
}

Effects ChildSession::start(const std::filesystem::path& program, const json& luau_lsp_settings,
                            const json& editor_params, events::Events::Sender events) {
  Effects out;
  auto started = proxy::Proxy::spawn(program, proxy::arguments(luau_lsp_settings), std::move(events));
  if (!started) {
    out.emplace_back(log_message(1, "could not start luau-lsp: " + started.error().message));
    return out;
  }
  out.emplace_back(log_message(3, "luau-lsp: " + program.string()));
  static const json::json_pointer editor_fflags("/initializationOptions/fflags");
  const json* own_flags =
      editor_params.is_object() && editor_params.contains(editor_fflags) ? &editor_params.at(editor_fflags) : nullptr;
  json params =
      initialize_params(editor_params, static_cast<long>(::getpid()), proxy::fflags(luau_lsp_settings, own_flags));
  if (auto failed = start(std::move(*started), std::move(params)))
    out.emplace_back(log_message(1, "luau-lsp: " + failed->message));
  return out;
}

std::optional<io::Error> ChildSession::start(proxy::Proxy child, json initialize_params) {
  auto sent = child.request("initialize", std::move(initialize_params));
  // Dropping the new child kills and reaps it.
  if (!sent) return sent.error();
  pending_.insert_or_assign(*sent, Pending{Pending::Initialize{}});
  proxy_.emplace(std::move(child));
  return std::nullopt;
}

void ChildSession::adopt(proxy::Proxy child, bool ready) {
  proxy_.emplace(std::move(child));
  ready_ = ready;
}

void ChildSession::write(const json& message, outbox::Tag tag) {
  if (proxy_) (void)proxy_->write(message, std::move(tag));
}

Effects ChildSession::sync(Context context, OpenDocument& open) {
  Effects out;
  Call call{context, out};
  sync(call, open);
  return out;
}

void ChildSession::sync(Call& call, OpenDocument& open) {
  if (!ready_) return;
  if (open.generated_uri().empty() || !open.compiled) {
    if (first_time("unsent:" + open.document.uri()))
      call.log(3, "no compiled output yet, so luau-lsp has not been given this file");
    return;
  }
  const std::string& code = open.compiled->code;
  handed(open);
  if (open.child.open) {
    // A change still waiting for a child that reads slowly is replaced by
    // this one: each carries the whole text.
    write(jsonrpc::build::notification(
              "textDocument/didChange",
              {{"contentChanges", json::array({{{"text", code}}})},
               {"textDocument", {{"uri", open.generated_uri()}, {"version", open.document.version()}}}}),
          outbox::Tag{open.generated_uri(), true});
    return;
  }
  open.child.open = true;
  if (first_time("sent:" + open.generated_uri()))
    call.log(3, "handed " + open.generated_uri() + " to luau-lsp (" + std::to_string(code.size()) + " bytes)");
  write(jsonrpc::build::notification("textDocument/didOpen", {{"textDocument",
                                                               {{"languageId", "luau"},
                                                                {"text", code},
                                                                {"uri", open.generated_uri()},
                                                                {"version", open.document.version()}}}}),
        outbox::Tag{open.generated_uri(), false});
}

void ChildSession::close(OpenDocument& open) {
  if (!open.child.open) return;
  open.child.open = false;
  open.child.handed.clear();
  write(jsonrpc::build::notification("textDocument/didClose", {{"textDocument", {{"uri", open.generated_uri()}}}}),
        outbox::Tag{open.generated_uri(), false});
}

void ChildSession::relocate(Context context, OpenDocument& open) {
  auto& child = open.child;
  // Without a compile the child's diagnostics cannot be placed, now or later.
  if (!open.compiled) {
    child.published = {};
    child.compiled = nullptr;
  }
  // The text keeps its room: the next list is about as long.
  child.shown.text.clear();
  child.shown.count = 0;
  if (child.published.empty() || open.generated_uri().empty()) return;
  std::shared_ptr<const analysis::Compiled> compiled = child.compiled ? child.compiled : open.compiled;
  if (!compiled) return;
  remap::Remap remap({&open.document, std::move(compiled), open.generated_uri()}, remap::Direction::ToSource,
                     others(context.documents));
  child.shown.count = remap.diagnostics_text(child.published, child.shown.text);
}

void ChildSession::answer_locally(Effects& out, json id, const std::optional<json>& local) {
  out.emplace_back(jsonrpc::build::result(std::move(id), merged(local ? &*local : nullptr, nullptr)));
}

Effects ChildSession::ask(Context context, json id, AskChild request) {
  Effects out;
  Call call{context, out};
  if (!try_ask(call, id, request)) answer_locally(out, std::move(id), request.local);
  return out;
}

bool ChildSession::try_ask(Call& call, json& id, AskChild& request) {
  auto uri = protocol::string_at(request.params, "/textDocument/uri");
  if (!uri || !ready_) return false;
  const bool inlay = request.method == "textDocument/inlayHint";
  auto moved = with_remap(call.documents(), *uri, remap::Direction::ToOutput, std::move(request.params),
                          inlay ? How::InlayHintParams : How::Value);
  if (!moved) return false;
  auto* open = call.documents().get(*uri);
  if (open && !open->generated_uri().empty() && !open->child.open) sync(call, *open);
  const auto sent =
      send_request(call, request.method, std::move(moved->value), open ? open->generated_uri() : std::string());
  if (!sent) return false;
  pending_.insert_or_assign(
      *sent, Pending{Pending::Asked{std::move(id), std::move(*uri), std::move(request.local), request.rename,
                                    open ? open->compiled : nullptr, open && open->stale, std::move(request.cursor),
                                    open ? asked_of(*open) : nullptr, request.finish, std::move(request.on_tags),
                                    request.join_locations}});
  return true;
}

bool ChildSession::ask_props(Context context, const json& id, OpenDocument& open, props::Question question,
                             bool snippet, Effects& effects) {
  Call call{context, effects};
  if (!open.child.open) sync(call, open);
  const auto sent = send_request(
      call, "textDocument/completion",
      {{"position", protocol::to_json(question.position)}, {"textDocument", {{"uri", question.generated_uri}}}},
      question.generated_uri);
  if (!sent) return false;
  pending_.insert_or_assign(*sent, Pending{Pending::Props{id, std::move(question.name), std::move(question.range),
                                                          snippet, open.document.uri(), asked_of(open)}});
  return true;
}

std::optional<std::int64_t> ChildSession::send_request(Call& call, std::string_view method, json params,
                                                       const std::string& document) {
  if (!proxy_) return std::nullopt;
  auto sent = proxy_->request(method, std::move(params), outbox::Tag{document, false});
  if (!sent) {
    call.log(1, "luau-lsp: " + sent.error().message);
    return std::nullopt;
  }
  return *sent;
}

Effects ChildSession::take(Context context, jsonrpc::Message message) {
  Effects out;
  Call call{context, out};
  if (auto* r = std::get_if<jsonrpc::Response>(&message))
    response(call, std::move(*r));
  else if (auto* n = std::get_if<jsonrpc::Notification>(&message))
    notification(call, std::move(*n));
  else if (auto* invalid = std::get_if<jsonrpc::Invalid>(&message))
    refuse(std::move(invalid->id));
  else
    request(call, std::get<jsonrpc::Request>(std::move(message)));
  return out;
}

Effects ChildSession::take(Context context, published::Notification publication) {
  Effects out;
  Call call{context, out};
  this->publication(call, std::move(publication));
  return out;
}

void ChildSession::initialized(Call& call, const json& message) {
  if (const json* error = protocol::member(message, "error")) {
    const json* text = protocol::member(*error, "message");
    call.log(1, "luau-lsp refused to initialize (" +
                    (text && text->is_string() ? text->get<std::string>() : std::string("no reason given")) +
                    ") — markup features only");
    let_go(call, true, std::nullopt);
    fail_pending(call);
    return;
  }
  ready_ = true;
  if (proxy_) (void)proxy_->notify("initialized", json::object());
  for (const std::string& uri : call.documents().uris()) sync(call, *call.documents().get(uri));
}

void ChildSession::props_answered(Call& call, Pending::Props props, const json& message) {
  if (!still_of(call.documents(), props.uri, props.asked_of)) {
    call.reply(std::move(props.id), completion::empty_list());
    return;
  }
  props::Answer answer = props::from_child(message, props.range, props.snippet, props.name);
  if (answer.none_known && first_time("props:" + props.name)) call.log(3, *answer.none_known);
  call.reply(std::move(props.id), std::move(answer.list));
}

void ChildSession::asked_answered(Call& call, Pending::Asked asked, json& message) {
  auto& documents = call.documents();
  if (asked.local && !still_of(documents, asked.uri, asked.asked_of)) asked.local.reset();
  const json* local = asked.local ? &*asked.local : nullptr;
  if (const json* error = protocol::member(message, "error")) {
    const json* code = protocol::member(*error, "code");
    const std::int64_t number = code ? protocol::read_i64(*code).value_or(0) : 0;
    const bool lost = lost_the_document(*error);
    if (number == -32601 || number == -32002 || lost) {
      if (lost) {
        if (auto* open = documents.get(asked.uri)) open->child.open = false;
      }
      call.reply(std::move(asked.id), merged(local, nullptr));
    } else if (local == nullptr) {
      call.send({{"error", *error}, {"id", std::move(asked.id)}, {"jsonrpc", "2.0"}});
    } else {
      call.reply(std::move(asked.id), *local);
    }
    return;
  }
  json* given = message.is_object() && message.contains("result") ? &message["result"] : nullptr;
  if (given == nullptr || given->is_null()) {
    call.reply(std::move(asked.id), merged(local, nullptr));
    return;
  }
  auto moved = with_remap(documents, asked.uri, remap::Direction::ToSource, std::move(*given),
                          asked.rename ? How::Value : How::Answer, asked.compiled);
  if (!moved) {
    call.reply(std::move(asked.id), merged(local, nullptr));
    return;
  }
  if (moved->lost && asked.rename) {
    call.error(std::move(asked.id), REQUEST_FAILED,
               "some of this rename lands in generated code, so it cannot be applied here");
    return;
  }
  if (asked.rename && join_closing_names(documents, moved->value) && asked.on_tags) {
    call.error(std::move(asked.id), REQUEST_FAILED, *asked.on_tags);
    return;
  }
  if (asked.join_locations) join_closing_locations(documents, moved->value);
  if (asked.cursor && !rename::holds(moved->value, *asked.cursor)) moved->value = nullptr;
  if (asked.finish) {
    // The answer speaks of an older text when it was asked of one, or when
    // the text in use has been older since.
    const auto* open = documents.get(asked.uri);
    const bool stale = asked.stale || (open && open->stale);
    call.reply(std::move(asked.id), asked.finish(std::move(asked.local), std::move(moved->value), stale));
    return;
  }
  call.reply(std::move(asked.id), merged(local, std::move(moved->value)));
}

void ChildSession::response(Call& call, jsonrpc::Response message) {
  const auto id = protocol::read_i64(message.id);
  if (!id) return;
  const auto entry = pending_.find(*id);
  if (entry == pending_.end()) return;
  Pending waiting = std::move(entry->second);
  pending_.erase(entry);
  if (std::holds_alternative<Pending::Initialize>(waiting.what)) {
    initialized(call, message.message);
  } else if (auto* props = std::get_if<Pending::Props>(&waiting.what)) {
    props_answered(call, std::move(*props), message.message);
  } else {
    asked_answered(call, std::get<Pending::Asked>(std::move(waiting.what)), message.message);
  }
}

std::optional<json> ChildSession::waiting_editor_id(const jsonrpc::Response& message) const {
  const auto id = protocol::read_i64(message.id);
  if (!id) return std::nullopt;
  const auto entry = pending_.find(*id);
  if (entry == pending_.end()) return std::nullopt;
  if (const auto* f = std::get_if<Pending::Asked>(&entry->second.what)) return f->id;
  if (const auto* p = std::get_if<Pending::Props>(&entry->second.what)) return p->id;
  return std::nullopt;
}

void ChildSession::publication(Call& call, published::Notification publication) {
  auto& documents = call.documents();
  const std::string& generated = publication.uri;
  // Of a file that is no open document's generated one (one luau-lsp found
  // in the workspace itself, say) nothing can be shown.
  OpenDocument* open = documents.by_generated(generated);
  if (open == nullptr) return;
  const std::string editor_uri = open->document.uri();
  const std::shared_ptr<const analysis::Compiled> compiled = published_against(*open, publication.version);
  if (open->compiled && !compiled) return;
  const std::size_t received = publication.diagnostics.items.size();
  if (first_time("heard:" + editor_uri))
    call.log(3, "luau-lsp answered about this file with " + std::to_string(received) + " diagnostic(s)");
  // Without a compile there is nothing to place them through, now or later.
  open->child.published = compiled ? std::move(publication.diagnostics) : published::Publication{};
  open->child.compiled = compiled;
  relocate(call.context, *open);
  const std::size_t kept = open->child.shown.count;
  const std::size_t dropped = received - std::min(received, kept);
  const std::string reported = "luau-lsp reported " + std::to_string(received) + " diagnostic(s) for this file; ";
  if (dropped > 0 && kept == 0 && first_time("dropped:" + editor_uri)) {
    call.log(2, reported + (open->compiled ? "none of them mapped back into the source"
                                           : "there is no successful compile to map them through"));
  } else if (dropped > 0) {
    // Said again only when it changes: a lint on an injected helper would
    // otherwise say the same at every keystroke.
    std::string line = reported + std::to_string(dropped) + " of them did not map back into the source";
    if (line != open->child.dropped_said) call.log(2, line);
    open->child.dropped_said = std::move(line);
  } else {
    open->child.dropped_said.clear();
  }
  if (call.context.trace)
    std::cerr << "[diagnostics] " << editor_uri << ": " << received << " received, " << kept << " shown\n"
              << std::flush;
  call.publish(*open);
}

void ChildSession::notification(Call& call, jsonrpc::Notification message) {
  if (message.method == "textDocument/publishDiagnostics") {
    // Read as values: it came in a form the text reader does not take.
    const json* uri = protocol::member(message.params, "uri");
    if (uri == nullptr || !uri->is_string()) return;
    published::Notification publication{uri->get<std::string>(), std::nullopt, {}};
    if (const json* v = protocol::member(message.params, "version"); v && v->is_number_integer())
      publication.version = v->get<std::int64_t>();
    if (const json* list = protocol::member(message.params, "diagnostics"))
      publication.diagnostics = published::of_values(*list);
    this->publication(call, std::move(publication));
  } else if (message.method == "$/cancelRequest") {
    const json* id = protocol::member(message.params, "id");
    if (id == nullptr) return;
    for (auto it = relayed_.begin(); it != relayed_.end(); ++it) {
      if (it->second != *id) continue;
      const std::int64_t ours = it->first;
      relayed_.erase(it);
      call.send(jsonrpc::build::notification("$/cancelRequest", {{"id", ours}}));
      return;
    }
  } else if ((message.method == "window/logMessage" || message.method == "window/showMessage") && !admit_message()) {
    return;  // counted, and said in one line
  } else {
    call.send(jsonrpc::build::notification(message.method, std::move(message.params)));
  }
}

void ChildSession::refuse(json id) {
  // An id that names no request cannot be answered under it.
  if (!id.is_string() && !id.is_number()) id = nullptr;
  write(jsonrpc::build::error(std::move(id), jsonrpc::INVALID_REQUEST, jsonrpc::INVALID_REQUEST_MESSAGE));
}

void ChildSession::request(Call& call, jsonrpc::Request message) {
  if (!message.id.is_string() && !message.id.is_number()) return refuse(std::move(message.id));
  if (!proxy::needs_the_editor(message)) {
    write(jsonrpc::build::error(std::move(message.id), -32601, "not supported"));
    return;
  }
  if (!well_formed(message)) return refuse(std::move(message.id));
  if (const auto why = refuse_request()) {
    write(jsonrpc::build::error(std::move(message.id), REQUEST_FAILED, *why));
    return;
  }
  if (message.method == "workspace/applyEdit") {
    auto moved = edit_in_the_sources(call.documents(), std::move(message.params));
    if (!moved) {
      write(jsonrpc::build::result(std::move(message.id), {{"applied", false}}));
      return;
    }
    message.params = std::move(*moved);
  }
  const std::int64_t ours = call.context.next_id++;
  relayed_[ours] = std::move(message.id);
  call.send(jsonrpc::build::request(ours, message.method, std::move(message.params)));
}

bool ChildSession::relayed_answer(std::int64_t ours, json message) {
  const auto relayed = relayed_.find(ours);
  if (relayed == relayed_.end()) return false;
  message["id"] = std::move(relayed->second);
  relayed_.erase(relayed);
  write(message);
  return true;
}

void ChildSession::notify(std::string_view method, json params) {
  if (ready_ && proxy_) (void)proxy_->notify(method, std::move(params));
}

Effects ChildSession::cancel(const json& params) {
  Effects out;
  const json* id = protocol::member(params, "id");
  if (id == nullptr) return out;
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    const json* editor_id = nullptr;
    if (const auto* f = std::get_if<Pending::Asked>(&it->second.what)) editor_id = &f->id;
    if (const auto* p = std::get_if<Pending::Props>(&it->second.what)) editor_id = &p->id;
    if (editor_id == nullptr || *editor_id != *id) continue;
    // Answered now, whatever the child does: a child that is busy or hung
    // must not keep the editor waiting for a request it no longer wants.
    // The child's late answer finds nothing waiting and is dropped.
    json editor = *editor_id;
    const std::int64_t child_id = it->first;
    pending_.erase(it);
    if (proxy_) (void)proxy_->notify("$/cancelRequest", {{"id", child_id}});
    out.emplace_back(jsonrpc::build::error(std::move(editor), REQUEST_CANCELLED, "request cancelled"));
    return out;
  }
  return out;
}

Effects ChildSession::let_go(Context context, bool orderly, std::optional<std::string_view> why) {
  Effects out;
  Call call{context, out};
  let_go(call, orderly, why);
  return out;
}

void ChildSession::let_go(Call& call, bool orderly, std::optional<std::string_view> why) {
  if (proxy_) {
    if (orderly) proxy_->shutdown();
    proxy_.reset();  // kills and reaps
  }
  ready_ = false;
  // Answers of the editor to a dead child's requests must not reach a new
  // child under ids of its own.
  relayed_.clear();
  for (const std::string& uri : call.documents().uris()) {
    OpenDocument& open = *call.documents().get(uri);
    const bool shown = open.child.shown.count > 0;
    open.child = {};
    if (shown) call.publish(open);
  }
  if (!why) return;
  call.log(2, *why);
  fail_pending(call);
}

Effects ChildSession::fail_pending(Context context) {
  Effects out;
  Call call{context, out};
  fail_pending(call);
  return out;
}

void ChildSession::fail_pending(Call& call) {
  auto waiting = std::move(pending_);
  pending_.clear();
  for (auto& [child_id, entry] : waiting) fail(call, std::move(entry));
}

void ChildSession::fail(Call& call, Pending waiting) {
  if (auto* f = std::get_if<Pending::Asked>(&waiting.what)) {
    answer_locally(call.out, std::move(f->id),
                   still_of(call.documents(), f->uri, f->asked_of) ? f->local : std::nullopt);
  } else if (auto* p = std::get_if<Pending::Props>(&waiting.what)) {
    call.reply(std::move(p->id), completion::empty_list());
  }
}

Effects ChildSession::skipped(Context context, const jsonrpc::Refused& refused) {
  Effects out;
  Call call{context, out};
  call.log(2, "luau-lsp sent a message of " + std::to_string(refused.length) + " bytes, over the " +
                  std::to_string(proxy::MAX_CHILD_BODY) + "-byte limit — skipped");
  if (refused.owed_answer) {
    write(jsonrpc::build::error(refused.id, refused.code, "message too large"));
    return out;
  }
  if (!refused.response) return out;
  const auto id = protocol::read_i64(refused.id);
  const auto entry = id ? pending_.find(*id) : pending_.end();
  if (entry == pending_.end()) return out;
  Pending waiting = std::move(entry->second);
  pending_.erase(entry);
  if (std::holds_alternative<Pending::Initialize>(waiting.what)) {
    call.log(1, "luau-lsp's answer to initialize could not be read — markup features only");
    let_go(call, true, std::nullopt);
    fail_pending(call);
    return out;
  }
  fail(call, std::move(waiting));
  return out;
}

bool ChildSession::ending(outbox::Stop why) {
  // A child that closed its input is most often one that is ending.
  return why == outbox::Stop::Failed && proxy_ && proxy_->ended(std::chrono::milliseconds(50));
}

bool ChildSession::PerSecond::admit(std::size_t limit) {
  const auto now = std::chrono::steady_clock::now();
  if (now - start >= std::chrono::seconds(1)) {
    start = now;
    used = 0;
  }
  if (used >= limit) return false;
  ++used;
  return true;
}

bool ChildSession::admit_message() {
  if (messages_.admit(CHILD_MESSAGES_PER_SECOND)) return true;
  ++dropped_;
  return false;
}

std::optional<std::string_view> ChildSession::refuse_request() {
  std::optional<std::string_view> why;
  if (relayed_.size() >= MAX_RELAYED)
    why = "too many requests of luau-lsp wait for the editor";
  else if (!requests_.admit(CHILD_REQUESTS_PER_SECOND))
    why = "luau-lsp asks the editor more than it can be asked";
  if (why) ++refused_;
  return why;
}

std::optional<std::chrono::steady_clock::time_point> ChildSession::deadline() const {
  if (dropped_ == 0 && refused_ == 0) return std::nullopt;
  return std::max(std::max(messages_.start, requests_.start) + std::chrono::seconds(1),
                  dropped_said_ + DROPPED_SAID_EVERY);
}

Effects ChildSession::tick() {
  Effects out;
  const auto due = deadline();
  if (!due) return out;
  const auto now = std::chrono::steady_clock::now();
  if (now < *due) return out;
  if (dropped_ > 0)
    out.emplace_back(
        log_message(2, "luau-lsp sent more messages than can be shown: " + std::to_string(dropped_) + " dropped"));
  if (refused_ > 0)
    out.emplace_back(log_message(
        2, "luau-lsp asked the editor more than it can be asked: " + std::to_string(refused_) + " request(s) refused"));
  dropped_ = 0;
  refused_ = 0;
  dropped_said_ = now;
  return out;
}

}  // namespace tovix_lsp::child_session
