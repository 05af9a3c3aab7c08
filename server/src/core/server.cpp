#include "core/server.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <unistd.h>

#include "core/versions.h"

namespace tovix_lsp::server {

namespace {

using json = nlohmann::json;

// The editor reader: parse framed messages off standard input and hand them
// to the main thread. It never looks inside them.
void read_editor(proxy::Events::Sender events) {
  io::FdInput input(STDIN_FILENO);
  jsonrpc::Reader reader(input);
  for (;;) {
    auto message = reader.read();
    if (!message || !*message) {
      events.send(proxy::EditorClosed{});
      return;
    }
    if (!events.send(proxy::Editor{std::move(**message)})) return;
  }
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

void initialize(Server& s, json id, json params) {
  json::json_pointer snippets("/capabilities/textDocument/completion/completionItem/snippetSupport");
  s.snippet_support = params.is_object() && params.contains(snippets) && params.at(snippets).is_boolean() &&
                      params.at(snippets).get<bool>();
  s.init_params = std::move(params);
  s.reply(std::move(id), initialize_result());
}

void shutdown(Server& s, json id, json) {
  s.shutdown_requested = true;
  s.reply(std::move(id), nullptr);
}

void exit_process(Server& s, json) { std::_Exit(s.shutdown_requested ? 0 : 1); }

void set_trace(Server& s, json params) {
  auto value = params.is_object() ? params.find("value") : params.end();
  s.trace = !(params.is_object() && value != params.end() && value->is_string() && *value == "off");
}

void configuration_changed(Server& s, json) { s.request_configuration(); }

// A string at `pointer` in `params`, if there is one.
std::optional<std::string> string_at(const json& params, const char* pointer) {
  json::json_pointer p(pointer);
  if (!params.is_object() || !params.contains(p)) return std::nullopt;
  const json& v = params.at(p);
  if (!v.is_string()) return std::nullopt;
  return v.get<std::string>();
}

// A document version: an integer that fits 64 signed bits, else 0.
std::int64_t version_of(const json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
  if (value.is_number_unsigned() && value.get<std::uint64_t>() <= std::uint64_t(INT64_MAX))
    return static_cast<std::int64_t>(value.get<std::uint64_t>());
  return 0;
}

void did_open(Server& s, json params) {
  if (!params.is_object()) return;
  auto doc = params.find("textDocument");
  if (doc == params.end() || !doc->is_object()) return;
  auto uri = doc->find("uri");
  auto text = doc->find("text");
  if (uri == doc->end() || !uri->is_string() || text == doc->end() || !text->is_string()) return;
  auto version = doc->find("version");
  std::string key = uri->get<std::string>();
  s.documents.open(key, text->get<std::string>(), version == doc->end() ? 0 : version_of(*version));
  s.resolve_generated(key);
  s.analyse(key);
  s.sync_child(key);
}

void did_change(Server& s, json params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return;
  json::json_pointer vp("/textDocument/version");
  std::int64_t version = params.contains(vp) ? version_of(params.at(vp)) : 0;
  auto changes = params.find("contentChanges");
  std::vector<json> list;
  if (changes != params.end() && changes->is_array()) list = changes->get<std::vector<json>>();
  if (!s.documents.change(*uri, version, list)) {
    s.log(1, "lost track of an edit — reopen the file to resynchronise");
    return;
  }
  s.analyse(*uri);
  s.sync_child(*uri);
}

void did_save(Server& s, json params) { s.did_save(params); }

void did_close(Server& s, json params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return;
  if (auto g = s.generated.find(*uri); g != s.generated.end()) s.close_in_child(g->second);
  s.documents.close(*uri);
  s.compiled.erase(*uri);
  s.diagnostics.erase(*uri);
  s.luau_diagnostics.erase(*uri);
  s.stale.erase(*uri);
  s.generated.erase(*uri);
  s.send(jsonrpc::build::notification("textDocument/publishDiagnostics",
                                      {{"diagnostics", json::array()}, {"uri", *uri}}));
}

// Answers to the configuration request are taken; reading them belongs to
// the settings handling.
void configuration_answered(Server& s, json id, json) {
  if (id.is_number_integer()) s.config_requests.erase(id.get<std::int64_t>());
}

// Nothing is asked of the child yet, and what it says is not used.
void child_message(Server&, jsonrpc::Message) {}

void watched_files_changed(Server& s, json) {
  s.projects.clear();
  for (const std::string& uri : s.documents.uris()) {
    s.resolve_generated(uri);
    s.analyse(uri);
    s.sync_child(uri);
  }
}

}  // namespace

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
              {"textDocument/didOpen", did_open},
              {"textDocument/didChange", did_change},
              {"textDocument/didSave", did_save},
              {"textDocument/didClose", did_close},
              {"workspace/didChangeWatchedFiles", watched_files_changed},
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
  handler->second(*this, std::move(id), std::move(params));
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
  open_in_child.clear();
  if (!shutdown_requested) log(2, "luau-lsp exited — markup features only");
}

void Server::request_configuration() {
  std::int64_t id = next_id++;
  config_requests.insert(id);
  send(jsonrpc::build::request(id, "workspace/configuration",
                               {{"items", {{{"section", "luau-lsp"}}, {{"section", "tovix"}}}}}));
}

void Server::resolve_generated(const std::string& uri) {
  auto path = project::uri_to_path(uri);
  if (!path) return;
  project::Project project = projects.for_file(*path);
  std::string generated_uri = project::path_to_uri(project.build_path(*path));
  auto [entry, inserted] = generated.try_emplace(uri, generated_uri);
  if (!inserted && entry->second != generated_uri) {
    close_in_child(entry->second);
    entry->second = std::move(generated_uri);
  }
}

void Server::analyse(const std::string& uri) {
  const document::Document* document = documents.get(uri);
  if (!document) return;
  auto path = project::uri_to_path(uri);
  if (!path) return;
  project::Project project = projects.for_file(*path);
  std::optional<analysis::Compiled> previous;
  if (auto node = compiled.extract(uri)) previous = std::move(node.mapped());
  analysis::Analysis result = analysis::Analysis::run(*document, project, std::move(previous));
  diagnostics[uri] = std::move(result.diagnostics);
  stale[uri] = result.stale;
  if (result.compiled) compiled.emplace(uri, std::move(*result.compiled));
  publish(uri);
}

void Server::publish(const std::string& uri) {
  json list = json::array();
  if (auto d = diagnostics.find(uri); d != diagnostics.end())
    for (const json& item : d->second) list.push_back(item);
  if (auto d = luau_diagnostics.find(uri); d != luau_diagnostics.end())
    for (const json& item : d->second) list.push_back(item);
  send(jsonrpc::build::notification("textDocument/publishDiagnostics", {{"diagnostics", std::move(list)}, {"uri", uri}}));
}

void Server::did_save(const json& params) {
  auto uri = string_at(params, "/textDocument/uri");
  if (!uri) return;
  resolve_generated(*uri);
  analyse(*uri);
  sync_child(*uri);
}

void Server::sync_child(const std::string&) {}

void Server::close_in_child(const std::string&) {}

std::expected<void, io::Error> run() {
  // An editor that closes our output must not kill us mid-message: the write
  // fails with EPIPE instead, and write errors are dropped.
  std::signal(SIGPIPE, SIG_IGN);
  auto [sender, receiver] = proxy::Events::make();
  try {
    std::thread(read_editor, sender).detach();
  } catch (...) {
    std::cerr << "failed to spawn thread\n";
    std::abort();
  }
  io::FdOutput out(STDOUT_FILENO);
  Server server(out, sender);
  for (;;) {
    auto event = receiver.receive();
    if (!event || std::holds_alternative<proxy::EditorClosed>(*event)) break;
    if (auto* e = std::get_if<proxy::Editor>(&*event)) {
      if (auto message = jsonrpc::from_value(std::move(e->value))) server.guarded(std::move(*message), true);
    } else if (auto* c = std::get_if<proxy::Child>(&*event)) {
      if (auto message = jsonrpc::from_value(std::move(c->value))) server.guarded(std::move(*message), false);
    } else if (std::holds_alternative<proxy::ChildExited>(*event)) {
      server.child_exited();
    }
  }
  return {};
}

}  // namespace tovix_lsp::server
