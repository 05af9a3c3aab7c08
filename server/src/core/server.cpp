#include "core/server.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>
#include <thread>
#include <unistd.h>

#include "core/code_action_requests.h"
#include "core/outline_requests.h"
#include "core/rename_requests.h"
#include "core/requests.h"
#include "core/settings.h"
#include "core/sync.h"
#include "core/versions.h"
#include "workspace/protocol.h"

namespace tovix_lsp::server {

namespace {

using json = nlohmann::json;

// Edits already waiting behind a didChange for the same document join it:
// the burst is applied as one change, so the text is analysed, published
// and handed to the child once, and a message behind it sees the final text.
void take_burst(json& change, events::Events::Receiver& events) {
  const auto uri = sync::changed_document(change);
  if (!uri) return;
  const std::string target(*uri);
  auto same_document = [&](const events::Event& event) {
    const auto* editor = std::get_if<events::Editor>(&event);
    return editor != nullptr && sync::changed_document(editor->value) == std::string_view(target);
  };
  while (auto next = events.receive_if(same_document))
    sync::fold_change(change, std::move(std::get<events::Editor>(*next).value));
}

// Binds a notification handler that takes typed params: params that do not
// read are ignored.
template <auto read, typename Fn>
NotificationFn notification_with(Fn fn) {
  return [fn](Server& s, json params) {
    if (auto typed = read(std::move(params))) fn(s, std::move(*typed));
  };
}

json initialize_result() {
  json capabilities = {
      {"textDocumentSync", {{"change", 2}, {"openClose", true}, {"save", {{"includeText", false}}}}},
      {"completionProvider",
       {{"resolveProvider", false}, {"triggerCharacters", {"<", "/", " ", ".", ":", "'", "\"", "\n"}}}},
      {"hoverProvider", true},
      {"definitionProvider", true},
      {"typeDefinitionProvider", true},
      {"referencesProvider", true},
      {"documentHighlightProvider", true},
      {"documentSymbolProvider", true},
      {"signatureHelpProvider", {{"triggerCharacters", {"(", ","}}}},
      {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
      {"renameProvider", {{"prepareProvider", true}}},
      {"inlayHintProvider", true},
      {"foldingRangeProvider", true},
      {"selectionRangeProvider", true},
      {"semanticTokensProvider",
       {{"full", true}, {"legend", {{"tokenModifiers", json::array()}, {"tokenTypes", {"class", "function"}}}}}},
  };
  return {{"capabilities", std::move(capabilities)},
          {"serverInfo", {{"name", "tovix-lsp"}, {"version", versions::version_pair()}}}};
}

Reply initialize(Server& s, const json&, json params) {
  json::json_pointer snippets("/capabilities/textDocument/completion/completionItem/snippetSupport");
  s.snippet_support = params.is_object() && params.contains(snippets) && params.at(snippets).is_boolean() &&
                      params.at(snippets).get<bool>();
  s.init_params = std::move(params);
  return initialize_result();
}

Reply shutdown(Server& s, const json&, json) {
  s.shutdown_requested = true;
  s.let_go_of_child(true);
  // Whatever still waited for the child is answered before the reply, so
  // nothing is left unanswered when the editor exits.
  s.fail_pending();
  return json(nullptr);
}

// A request that luau-lsp answers alone, its params moved into the
// generated file.
template <const char* method>
Reply forwarded(Server&, const json&, json params) {
  return AskChild{method, std::move(params), std::nullopt, false};
}

void exit_process(Server& s, json) {
  // Nothing is waited for, but nothing is left behind either: a child that
  // stopped would never see its input close.
  s.abandon_children();
  std::_Exit(s.shutdown_requested ? 0 : 1);
}

void set_trace(Server& s, json params) {
  auto value = params.is_object() ? params.find("value") : params.end();
  s.trace = !(params.is_object() && value != params.end() && value->is_string() && *value == "off");
}

void initialized(Server& s, json) {
  s.request_configuration();
  sync::watch_settings_files(s);
}

// The child re-reads its own settings when told they changed.
void configuration_changed(Server& s, json params) {
  s.request_configuration();
  s.child.notify("workspace/didChangeConfiguration", std::move(params));
}

void cancel_request(Server& s, json params) { s.apply(s.child.cancel(params)); }

// The editor's answer to one of our requests: a configuration, a
// registration of our own, or the answer to a request of the child's that
// was passed on.
void editor_response(Server& s, json id, json message) {
  const auto read = protocol::read_i64(id);
  if (!read) return;
  if (s.config_requests.erase(*read) > 0) return settings::configuration_answered(s, message);
  if (s.registrations.erase(*read) > 0) return;
  (void)s.child.relayed_answer(*read, std::move(message));
}

void child_message(Server& s, jsonrpc::Message message) { s.apply(s.child.take(s.context(), std::move(message))); }

constexpr char INLAY_HINT[] = "textDocument/inlayHint";
constexpr char FOLDING_RANGE[] = "textDocument/foldingRange";
constexpr char SIGNATURE_HELP[] = "textDocument/signatureHelp";
constexpr char TYPE_DEFINITION[] = "textDocument/typeDefinition";
constexpr char SELECTION_RANGE[] = "textDocument/selectionRange";
constexpr char DOCUMENT_HIGHLIGHT[] = "textDocument/documentHighlight";

}  // namespace

void read_editor(io::Input& input, events::Events::Sender events) {
  jsonrpc::Reader reader(input, jsonrpc::MAX_EDITOR_BODY);
  for (;;) {
    auto message = reader.read();
    if (message && *message) {
      // Ahead of whatever the child has waiting: a child that writes faster
      // than we keep up never delays the editor's messages.
      if (!events.send_ahead(events::Editor{std::move(**message)})) return;
    } else if (!message && message.error().kind == io::Error::Kind::InvalidJson) {
      const jsonrpc::Refused& refused = reader.refused();
      if (!events.send_ahead(events::EditorRefused{refused.owed_answer, refused.id, refused.code, refused.message}))
        return;
    } else {
      // Behind, not ahead: what the child wrote before the end is still
      // taken, and every message of the editor is (it was sent ahead).
      events.send(events::EditorClosed{message ? std::nullopt : std::optional(message.error())});
      return;
    }
  }
}

const Handlers& Handlers::standard() {
  static const Handlers table{
      .requests =
          {
              {"initialize", initialize},
              {"shutdown", shutdown},
              {"tovix/closingTag", requests::closing_tag},
              {"textDocument/hover", requests::hover},
              {"textDocument/definition", requests::definition},
              {"textDocument/completion", requests::completion},
              {INLAY_HINT, forwarded<INLAY_HINT>},
              {"textDocument/references", rename_requests::references},
              {FOLDING_RANGE, forwarded<FOLDING_RANGE>},
              {SIGNATURE_HELP, forwarded<SIGNATURE_HELP>},
              {TYPE_DEFINITION, forwarded<TYPE_DEFINITION>},
              {SELECTION_RANGE, forwarded<SELECTION_RANGE>},
              {DOCUMENT_HIGHLIGHT, forwarded<DOCUMENT_HIGHLIGHT>},
              {"textDocument/codeAction", code_action_requests::code_action},
              {"textDocument/documentSymbol", outline_requests::document_symbol},
              {"textDocument/prepareRename", rename_requests::prepare_rename},
              {"textDocument/rename", rename_requests::rename},
              {"textDocument/semanticTokens/full", outline_requests::semantic_tokens},
          },
      .notifications =
          {
              {"exit", exit_process},
              {"$/setTrace", set_trace},
              {"initialized", initialized},
              {"workspace/didChangeConfiguration", configuration_changed},
              {"$/cancelRequest", cancel_request},
              {"textDocument/didOpen", notification_with<protocol::read_did_open>(sync::did_open)},
              {"textDocument/didChange", notification_with<protocol::read_did_change>(sync::did_change)},
              {"textDocument/didSave", notification_with<protocol::read_text_document>(sync::did_save)},
              {"textDocument/didClose", notification_with<protocol::read_text_document>(sync::did_close)},
              {"workspace/didChangeWatchedFiles", sync::watched_files_changed},
          },
      .response = editor_response,
      .child = child_message,
  };
  return table;
}

Server::Server(io::Output& out, events::Events::Sender events, const Handlers& handlers)
    : events(std::move(events)), stdout_writer(out), handlers_(handlers) {}

void Server::guarded(jsonrpc::Message message, bool from_editor) {
  std::string label;
  // The editor's request this message answers or is: a failure must still
  // answer it.
  std::optional<json> request_id;
  if (auto* r = std::get_if<jsonrpc::Request>(&message)) {
    label = r->method;
    if (from_editor) request_id = r->id;
  } else if (auto* n = std::get_if<jsonrpc::Notification>(&message)) {
    label = n->method;
  } else if (auto* invalid = std::get_if<jsonrpc::Invalid>(&message)) {
    label = "an invalid request";
    if (from_editor) request_id = invalid->id;
  } else {
    label = "a response";
    if (!from_editor) request_id = child.waiting_editor_id(std::get<jsonrpc::Response>(message));
  }
  guard(label, std::move(request_id), [&] {
    if (from_editor)
      handle_editor(std::move(message));
    else
      handle_child(std::move(message));
  });
}

void Server::guarded(published::Notification publication) {
  guard("textDocument/publishDiagnostics", std::nullopt, [&] { apply(child.take(context(), std::move(publication))); });
}

void Server::guard(std::string_view label, std::optional<json> request_id, const std::function<void()>& handle) {
  // The one catch-all of the server: a bad message must never end it.
  try {
    handle();
    return;
  } catch (...) {
  }
  log(1, "internal error handling " + std::string(label) + " — please report it");
  if (request_id) error(std::move(*request_id), -32603, "tovix-lsp could not handle this request");
}

void Server::handle_editor(jsonrpc::Message message) {
  std::visit(
      [&](auto&& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, jsonrpc::Request>)
          request(std::move(m.id), m.method, std::move(m.params));
        else if constexpr (std::is_same_v<T, jsonrpc::Notification>)
          notification(m.method, std::move(m.params));
        else if constexpr (std::is_same_v<T, jsonrpc::Invalid>)
          error(std::move(m.id), jsonrpc::INVALID_REQUEST, jsonrpc::INVALID_REQUEST_MESSAGE);
        else
          response(std::move(m.id), std::move(m.message));
      },
      std::move(message));
}

void Server::handle_child(jsonrpc::Message message) {
  if (handlers_.child) handlers_.child(*this, std::move(message));
}

void Server::request(json id, const std::string& method, json params) {
  auto handler = handlers_.requests.find(method);
  if (handler == handlers_.requests.end()) {
    error(std::move(id), -32601, method + " is not supported");
    return;
  }
  Reply reply = handler->second(*this, id, std::move(params));
  answer(std::move(id), std::move(reply));
}

std::optional<std::pair<std::string, std::size_t>> Server::position_at(const json& params) const {
  auto where = protocol::read_text_document_position(params);
  if (!where) return std::nullopt;
  const open_documents::OpenDocument* open = documents.get(where->uri);
  if (!open) return std::nullopt;
  auto offset = open->document.offset(where->position);
  if (!offset) return std::nullopt;
  return std::pair{std::move(where->uri), *offset};
}

void Server::answer(json id, Reply reply) {
  if (auto* value = std::get_if<json>(&reply)) {
    this->reply(std::move(id), std::move(*value));
  } else if (auto* failure = std::get_if<Failure>(&reply)) {
    error(std::move(id), failure->code, failure->message);
  } else if (auto* asked = std::get_if<AskChild>(&reply)) {
    ask_child(std::move(id), std::move(*asked));
  } else if (auto* serialized = std::get_if<Serialized>(&reply)) {
    reply_serialized(id, serialized->json);
  }
}

void Server::ask_child(json id, AskChild request) { apply(child.ask(context(), std::move(id), std::move(request))); }

void Server::fail_pending() { apply(child.fail_pending(context())); }

void Server::apply(child_session::Effects effects) {
  for (child_session::Effect& effect : effects) {
    if (auto* message = std::get_if<json>(&effect)) {
      send(*message);
    } else if (auto* open = documents.get(std::get<child_session::Publish>(effect).uri)) {
      publish(*open);
    }
  }
}

void Server::notification(const std::string& method, json params) {
  auto handler = handlers_.notifications.find(method);
  if (handler != handlers_.notifications.end()) handler->second(*this, std::move(params));
}

void Server::response(json id, json message) {
  if (handlers_.response) handlers_.response(*this, std::move(id), std::move(message));
}

void Server::send(const json& message) {
  if (trace) {
    if (auto text = jsonrpc::serialize(message)) std::cerr << "-> " << *text << '\n' << std::flush;
  }
  (void)stdout_writer.write(message);
}

void Server::log(std::uint8_t level, std::string_view text) {
  std::string message = "tovix: ";
  message += text;
  send(jsonrpc::build::notification("window/logMessage", {{"message", message}, {"type", level}}));
}

void Server::error(json id, std::int64_t code, std::string_view message) {
  send(jsonrpc::build::error(std::move(id), code, message));
}

void Server::reply(json id, json result) { send(jsonrpc::build::result(std::move(id), std::move(result))); }

void Server::reply_serialized(const json& id, std::string_view result) {
  auto body = jsonrpc::build::result_text(id, result);
  if (body) send_text(*body);
}

void Server::send_text(std::string_view body) {
  if (trace) std::cerr << "-> " << body << '\n' << std::flush;
  (void)stdout_writer.write_text(body);
}

bool Server::first_time(std::string key) { return said_once.insert(std::move(key)).second; }

void Server::child_exited(std::uint64_t number) {
  // The end of a child already let go of (refused, shut down, replaced)
  // says nothing about the current one.
  if (!child.current(number)) return;
  child_gone("luau-lsp exited — markup features only");
}

void Server::child_stalled(std::uint64_t number, outbox::Stop why) {
  if (!child.current(number)) return;
  // A child that closed its input is most often one that is ending; its end
  // is told as such.
  if (child.ending(why)) return child_exited(number);
  child_gone(why == outbox::Stop::Failed ? "luau-lsp closed its input — markup features only"
                                         : "luau-lsp stopped reading its input — markup features only");
}

void Server::child_gone(std::string_view why) {
  apply(child.let_go(context(), false, shutdown_requested ? std::nullopt : std::optional(why)));
}

void Server::abandon_children() {
  search.reset();
  child.abandon();
}

void Server::let_go_of_child(bool orderly) { apply(child.let_go(context(), orderly)); }

void Server::request_configuration() {
  std::int64_t id = next_id++;
  config_requests.insert(id);
  send(jsonrpc::build::request(id, "workspace/configuration",
                               {{"items", {{{"section", "luau-lsp"}}, {{"section", "tovix"}}}}}));
}

void Server::resolve_generated(open_documents::OpenDocument& open) {
  auto path = project::uri_to_path(open.document.uri());
  if (!path) return;
  project::Project project = projects.for_file(*path);
  std::string generated_uri = project::path_to_uri(project.build_path(*path));
  if (open.generated_uri() == generated_uri) return;
  close_in_child(open);
  documents.set_generated_uri(open, std::move(generated_uri));
}

void Server::analyse(open_documents::OpenDocument& open) {
  auto path = project::uri_to_path(open.document.uri());
  if (!path) return;
  project::Project project = projects.for_file(*path);
  analysis::Analysis result = analysis::Analysis::run(open.document, project, std::move(open.compiled));
  open.diagnostics = std::move(result.diagnostics);
  open.stale = result.stale;
  open.compiled = std::move(result.compiled);
  // Without a compile the child's diagnostics cannot be placed; with one,
  // they follow the text to where their lines now are.
  // The child starts checking the new code while the diagnostics go out.
  sync_child(open);
  child.relocate(context(), open);
  publish(open);
  // What only requests need is worked out once the diagnostics are out.
  open.snapshot = snapshot::take(std::move(result.read));
}

void Server::recompile(open_documents::OpenDocument& open) {
  resolve_generated(open);
  analyse(open);
}

void Server::publish(open_documents::OpenDocument& open) {
  // Written as text: the child's part is text already, and thousands of
  // diagnostics would cost more as values than the rest of a keystroke.
  std::string body = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
  bool first = true;
  for (const json& diagnostic : open.diagnostics) {
    if (!first) body.push_back(',');
    first = false;
    if (!jsonrpc::append(body, diagnostic)) return;
  }
  if (open.child.shown.count > 0) {
    if (!first) body.push_back(',');
    body += open.child.shown.text;
  }
  body += R"(],"uri":)";
  if (!jsonrpc::append(body, open.document.uri())) return;
  body += "}}";
  send_text(body);
}

void Server::sync_child(open_documents::OpenDocument& open) { apply(child.sync(context(), open)); }

void Server::close_in_child(open_documents::OpenDocument& open) { child.close(open); }

std::expected<void, io::Error> serve(Server& server, events::Events::Receiver& events) {
  std::expected<void, io::Error> ended;
  for (;;) {
    std::optional<events::Event> event;
    if (const auto due = server.deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
      event = events.receive_for(std::max(left, std::chrono::milliseconds(0)));
      server.tick();
      // Nothing within the time: the server keeps a sender, so it is never
      // that every sender is gone.
      if (!event) continue;
    } else {
      event = events.receive();
      if (!event) break;
    }
    if (auto* closed = std::get_if<events::EditorClosed>(&*event)) {
      if (closed->error) ended = std::unexpected(std::move(*closed->error));
      break;
    }
    if (auto* e = std::get_if<events::Editor>(&*event)) {
      take_burst(e->value, events);
      if (auto message = jsonrpc::from_value(std::move(e->value))) server.guarded(std::move(*message), true);
    } else if (auto* c = std::get_if<events::Child>(&*event)) {
      // What a child let go of still had in its pipe is not for us.
      if (!server.child.current(c->child)) continue;
      if (auto message = jsonrpc::from_value(std::move(c->value))) server.guarded(std::move(*message), false);
    } else if (auto* p = std::get_if<events::ChildPublished>(&*event)) {
      if (server.child.current(p->child)) server.guarded(std::move(p->publication));
    } else if (auto* skipped = std::get_if<events::ChildSkipped>(&*event)) {
      if (server.child.current(skipped->child)) server.apply(server.child.skipped(server.context(), skipped->refused));
    } else if (auto* exited = std::get_if<events::ChildExited>(&*event)) {
      server.child_exited(exited->child);
    } else if (auto* stalled = std::get_if<events::ChildStalled>(&*event)) {
      server.child_stalled(stalled->child, stalled->why);
    } else if (auto* located = std::get_if<events::Located>(&*event)) {
      settings::located(server, located->search, std::move(located->found));
    } else if (auto* loaded = std::get_if<events::ApiLoaded>(&*event)) {
      settings::api_loaded(server, loaded->unreadable);
    } else if (auto* refused = std::get_if<events::EditorRefused>(&*event)) {
      if (refused->owed_answer)
        server.error(std::move(refused->id), refused->code, refused->message);
      else
        server.log(1, "dropped a message from the editor: " + refused->message);
    }
  }
  server.let_go_of_child(true);
  server.search.reset();
  return ended;
}

std::expected<void, io::Error> run() {
  // An editor that closes our output must not kill us mid-message: the write
  // fails with EPIPE instead, and write errors are dropped.
  std::signal(SIGPIPE, SIG_IGN);
  auto [sender, receiver] = events::Events::make(events::CHILD_BACKLOG);
  // Shared with the reader, which is never joined.
  auto out = std::make_shared<io::EditorOutput>(STDOUT_FILENO, OWED_WRITE_LIMIT);
  try {
    std::thread([events = sender, out] {
      io::FdInput input(STDIN_FILENO);
      read_editor(input, events);
      out->input_ended();
    }).detach();
  } catch (...) {
    std::cerr << "failed to spawn thread\n";
    std::abort();
  }
  Server server(*out, sender);
  return serve(server, receiver);
}

}  // namespace tovix_lsp::server
