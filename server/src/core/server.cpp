#include "core/server.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <unistd.h>

#include "core/sync.h"
#include "core/versions.h"
#include "workspace/protocol.h"

namespace tovix_lsp::server {

namespace {

using json = nlohmann::json;

// Edits already waiting behind a didChange for the same document join it:
// the burst is applied as one change, so the text is analysed, published
// and handed to the child once, and a message behind it sees the final text.
void take_burst(json& change, proxy::Events::Receiver& events) {
  const auto uri = sync::changed_document(change);
  if (!uri) return;
  const std::string target(*uri);
  auto same_document = [&](const proxy::Event& event) {
    const auto* editor = std::get_if<proxy::Editor>(&event);
    return editor != nullptr && sync::changed_document(editor->value) == std::string_view(target);
  };
  while (auto next = events.receive_if(same_document))
    sync::fold_change(change, std::move(std::get<proxy::Editor>(*next).value));
}

// Binds a handler that takes typed params: params that do not read answer
// the request with null.
template <auto read, typename Fn>
RequestFn request_with(Fn fn) {
  return [fn](Server& s, const json& id, json params) -> Reply {
    auto typed = read(std::move(params));
    if (!typed) return json(nullptr);
    return fn(s, id, std::move(*typed));
  };
}

// The same for a notification: params that do not read are ignored.
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
  return json(nullptr);
}

void exit_process(Server& s, json) { std::_Exit(s.shutdown_requested ? 0 : 1); }

void set_trace(Server& s, json params) {
  auto value = params.is_object() ? params.find("value") : params.end();
  s.trace = !(params.is_object() && value != params.end() && value->is_string() && *value == "off");
}

void configuration_changed(Server& s, json) { s.request_configuration(); }

// Answers to the configuration request are taken; reading them belongs to
// the settings handling.
void configuration_answered(Server& s, json id, json) {
  if (id.is_number_integer()) s.config_requests.erase(id.get<std::int64_t>());
}

// Nothing is asked of the child yet, and what it says is not used.
void child_message(Server&, jsonrpc::Message) {}

}  // namespace

void read_editor(io::Input& input, proxy::Events::Sender events) {
  jsonrpc::Reader reader(input);
  for (;;) {
    auto message = reader.read();
    if (message && *message) {
      if (!events.send(proxy::Editor{std::move(**message)})) return;
    } else if (!message && message.error().kind == io::Error::Kind::InvalidJson) {
      const jsonrpc::Refused& refused = reader.refused();
      if (refused.owed_answer && !events.send(proxy::EditorRefused{refused.id, refused.code, refused.message}))
        return;
    } else {
      events.send(proxy::EditorClosed{message ? std::nullopt : std::optional(message.error())});
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
          },
      .notifications =
          {
              {"exit", exit_process},
              {"$/setTrace", set_trace},
              {"initialized", configuration_changed},
              {"workspace/didChangeConfiguration", configuration_changed},
              {"textDocument/didOpen", notification_with<protocol::read_did_open>(sync::did_open)},
              {"textDocument/didChange", notification_with<protocol::read_did_change>(sync::did_change)},
              {"textDocument/didSave", notification_with<protocol::read_text_document>(sync::did_save)},
              {"textDocument/didClose", notification_with<protocol::read_text_document>(sync::did_close)},
              {"workspace/didChangeWatchedFiles", sync::watched_files_changed},
          },
      .response = configuration_answered,
      .child = child_message,
  };
  return table;
}

Server::Server(io::Output& out, proxy::Events::Sender events, const Handlers& handlers)
    : events(std::move(events)), stdout_writer(out), handlers_(handlers) {}

void Server::guarded(jsonrpc::Message message, bool from_editor) {
  std::string label;
  std::optional<json> request_id;
  if (auto* r = std::get_if<jsonrpc::Request>(&message)) {
    label = r->method;
    request_id = r->id;
  } else if (auto* n = std::get_if<jsonrpc::Notification>(&message)) {
    label = n->method;
  } else {
    label = "a response";
  }
  // The one catch-all of the server: a bad message must never end it.
  try {
    if (from_editor)
      handle_editor(std::move(message));
    else
      handle_child(std::move(message));
    return;
  } catch (...) {
  }
  log(1, "internal error handling " + label + " — please report it");
  if (from_editor && request_id) error(std::move(*request_id), -32603, "tovix-lsp could not handle this request");
}

void Server::handle_editor(jsonrpc::Message message) {
  std::visit(
      [&](auto&& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, jsonrpc::Request>)
          request(std::move(m.id), m.method, std::move(m.params));
        else if constexpr (std::is_same_v<T, jsonrpc::Notification>)
          notification(m.method, std::move(m.params));
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

void Server::answer(json id, Reply reply) {
  if (auto* value = std::get_if<json>(&reply)) {
    this->reply(std::move(id), std::move(*value));
  } else if (auto* failure = std::get_if<Failure>(&reply)) {
    error(std::move(id), failure->code, failure->message);
  } else if (auto* forwarded = std::get_if<Forward>(&reply)) {
    forward(std::move(id), std::move(*forwarded));
  }
}

void Server::forward(json id, Forward forward) {
  reply(std::move(id), forward.local ? std::move(*forward.local) : json(nullptr));
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

bool Server::first_time(std::string key) { return said_once.insert(std::move(key)).second; }

void Server::child_exited() {
  child_ready = false;
  for (const std::string& uri : documents.uris()) documents.get(uri)->in_child = false;
  if (!shutdown_requested) log(2, "luau-lsp exited — markup features only");
}

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
  if (open.generated_uri == generated_uri) return;
  if (open.in_child) close_in_child(open.generated_uri);
  open.in_child = false;
  open.generated_uri = std::move(generated_uri);
}

void Server::analyse(open_documents::OpenDocument& open) {
  auto path = project::uri_to_path(open.document.uri());
  if (!path) return;
  project::Project project = projects.for_file(*path);
  analysis::Analysis result = analysis::Analysis::run(open.document, project, std::move(open.compiled));
  open.diagnostics = std::move(result.diagnostics);
  open.stale = result.stale;
  open.compiled = std::move(result.compiled);
  publish(open);
}

void Server::recompile(open_documents::OpenDocument& open) {
  resolve_generated(open);
  analyse(open);
  sync_child(open);
}

void Server::publish(const open_documents::OpenDocument& open) {
  json list = json::array();
  for (const json& item : open.diagnostics) list.push_back(item);
  for (const json& item : open.luau_diagnostics) list.push_back(item);
  send(jsonrpc::build::notification("textDocument/publishDiagnostics",
                                    {{"diagnostics", std::move(list)}, {"uri", open.document.uri()}}));
}

void Server::sync_child(open_documents::OpenDocument&) {}

void Server::close_in_child(const std::string&) {}

std::expected<void, io::Error> serve(Server& server, proxy::Events::Receiver& events) {
  std::expected<void, io::Error> ended;
  for (;;) {
    auto event = events.receive();
    if (!event) break;
    if (auto* closed = std::get_if<proxy::EditorClosed>(&*event)) {
      if (closed->error) ended = std::unexpected(std::move(*closed->error));
      break;
    }
    if (auto* e = std::get_if<proxy::Editor>(&*event)) {
      take_burst(e->value, events);
      if (auto message = jsonrpc::from_value(std::move(e->value))) server.guarded(std::move(*message), true);
    } else if (auto* c = std::get_if<proxy::Child>(&*event)) {
      if (auto message = jsonrpc::from_value(std::move(c->value))) server.guarded(std::move(*message), false);
    } else if (std::holds_alternative<proxy::ChildExited>(*event)) {
      server.child_exited();
    } else if (auto* refused = std::get_if<proxy::EditorRefused>(&*event)) {
      server.error(std::move(refused->id), refused->code, refused->message);
    }
  }
  return ended;
}

std::expected<void, io::Error> run() {
  // An editor that closes our output must not kill us mid-message: the write
  // fails with EPIPE instead, and write errors are dropped.
  std::signal(SIGPIPE, SIG_IGN);
  auto [sender, receiver] = proxy::Events::make();
  try {
    std::thread([events = sender] {
      io::FdInput input(STDIN_FILENO);
      read_editor(input, events);
    }).detach();
  } catch (...) {
    std::cerr << "failed to spawn thread\n";
    std::abort();
  }
  io::FdOutput out(STDOUT_FILENO);
  Server server(out, sender);
  return serve(server, receiver);
}

}  // namespace tovix_lsp::server
