#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/child_session.h"
#include "core/events.h"
#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/locate.h"
#include "core/open_documents.h"
#include "core/settings.h"
#include "workspace/analysis.h"
#include "workspace/project.h"

namespace tovix_lsp::server {

class Server;

// What a request handler answers; the core sends it.
//
// A value is the result. `Failure` is an error response. `AskChild` asks
// the child, with a local part to answer from when the child cannot, and to
// merge into its answer (`finish`, else `child_session::merged`). `Later`
// means the handler has arranged the answer itself (a request of its own
// to the child).
struct Failure {
  std::int64_t code = 0;
  std::string message;
};
using child_session::AskChild;
using child_session::Finish;
struct Later {};
// A result already serialised as compact JSON text (keys in ascending
// order): a large answer written straight from what it describes rather
// than built as a value first. Sent as it is.
struct Serialized {
  std::string json;
};
using Reply = std::variant<nlohmann::json, Failure, AskChild, Later, Serialized>;

// Handlers by method name: one line per method, so every trigger of work is
// visible in one table. Notification handlers that take typed params are
// bound to these shapes by the table itself (params that do not read are
// ignored).
using RequestFn = std::function<Reply(Server&, const nlohmann::json& id, nlohmann::json params)>;
using NotificationFn = std::function<void(Server&, nlohmann::json params)>;
using ResponseFn = std::function<void(Server&, nlohmann::json id, nlohmann::json message)>;
using ChildFn = std::function<void(Server&, jsonrpc::Message message)>;
struct Handlers {
  std::unordered_map<std::string, RequestFn> requests;
  std::unordered_map<std::string, NotificationFn> notifications;
  // The editor's answers to the server's own requests.
  ResponseFn response;
  // Every message of the child.
  ChildFn child;

  // The server's own table, built once.
  static const Handlers& standard();
};

// All state of a running server. Owned by the main thread alone: nothing in
// it is locked, and nothing but the main thread writes standard output.
class Server {
 public:
  Server(io::Output& out, events::Events::Sender events, const Handlers& handlers = Handlers::standard());

  // Runs the message's handler under the catch-all: a failure is logged and,
  // for an editor request, answered with -32603. State the handler changed
  // before failing stays changed.
  void guarded(jsonrpc::Message message, bool from_editor);
  // The same for a publication of the child's read as text.
  void guarded(published::Notification publication);

  void handle_editor(jsonrpc::Message message);
  void handle_child(jsonrpc::Message message);

  void request(nlohmann::json id, const std::string& method, nlohmann::json params);
  void notification(const std::string& method, nlohmann::json params);
  void response(nlohmann::json id, nlohmann::json message);

  // Where a request about one position points: the URI at
  // "/textDocument/uri" of a document open under exactly that URI, and the
  // byte offset of its "position" (line and UTF-16 character, each the low
  // 32 bits of a non-negative integer). None when any of it is missing.
  [[nodiscard]] std::optional<std::pair<std::string, std::size_t>> position_at(const nlohmann::json& params) const;

  // Sends a handler's reply to request `id`.
  void answer(nlohmann::json id, Reply reply);

  // Asks the child. When it cannot be asked (no child, not ready, the
  // document not movable into its generated file, a failed write), the
  // local part answers at once (null without one).
  void ask_child(nlohmann::json id, AskChild request);
  // Answers every request still waiting for the child from what is known
  // locally, and forgets them.
  void fail_pending();
  // Does what a call of the child session asks, in order.
  void apply(child_session::Effects effects);
  // What the child session reads of the server.
  [[nodiscard]] child_session::Context context() { return {documents, next_id, trace}; }

  // Writing to the editor. Write errors are dropped: there is nobody to tell.
  void log(std::uint8_t level, std::string_view text);
  void error(nlohmann::json id, std::int64_t code, std::string_view message);
  void reply(nlohmann::json id, nlohmann::json result);
  void reply_serialized(const nlohmann::json& id, std::string_view result);
  void send(const nlohmann::json& message);
  // Sends one message already serialised.
  void send_text(std::string_view body);

  // True the first time a key is seen in this run, so a line is logged once.
  [[nodiscard]] bool first_time(std::string key);

  // The end of child `child`'s output. Only the current child's end counts:
  // it is let go of and waiting requests are answered locally.
  void child_exited(std::uint64_t child);
  // The writer of child `child` stopped (the child left its input unread, or
  // closed it): when it is the current child, it is let go of as when it
  // exits.
  void child_stalled(std::uint64_t child, outbox::Stop why);
  // Lets go of the running child, if any (after asking it to stop when
  // `orderly`): it is killed and reaped, forgets every document, its
  // diagnostics are withdrawn and requests relayed for it are forgotten.
  void let_go_of_child(bool orderly);
  // Ends the search for luau-lsp and the child at once, without a word to
  // either: the process is about to end.
  void abandon_children();

  // When `tick` has something to do; none while nothing waits.
  [[nodiscard]] std::optional<std::chrono::steady_clock::time_point> deadline() const { return child.deadline(); }
  void tick() { apply(child.tick()); }

  // Sends the editor a "workspace/configuration" request for both sections.
  void request_configuration();

  // Keeping documents compiled: every change of a document's text ends in
  // analyse, which hands the new code to the child and publishes.
  void resolve_generated(open_documents::OpenDocument& open);
  void analyse(open_documents::OpenDocument& open);
  void publish(open_documents::OpenDocument& open);
  // Recompiles a document's current text, its project looked up afresh.
  void recompile(open_documents::OpenDocument& open);
  // Hands a document's generated text to the child; nothing while none runs.
  void sync_child(open_documents::OpenDocument& open);
  void close_in_child(open_documents::OpenDocument& open);

  open_documents::OpenDocuments documents;
  project::Projects projects;
  child_session::ChildSession child;
  // The search for luau-lsp under way, and the number of the last one
  // started (its answer carries it).
  std::unique_ptr<locate::Search> search;
  std::uint64_t searches = 0;
  // The loads of the Roblox API facts, from the first configuration answer
  // that asks for one.
  std::unique_ptr<settings::ApiLoader> api_loader;
  std::unordered_set<std::string> said_once;
  std::unordered_set<std::int64_t> config_requests;
  // The server's own client/registerCapability requests not yet answered:
  // their answers are for nobody else.
  std::unordered_set<std::int64_t> registrations;
  bool settings_watch_asked = false;
  nlohmann::json init_params;
  nlohmann::json luau_lsp_settings;
  nlohmann::json own_settings;
  events::Events::Sender events;
  jsonrpc::Writer stdout_writer;
  std::int64_t next_id = 1;
  bool snippet_support = false;
  bool trace = false;
  bool shutdown_requested = false;

 private:
  void guard(std::string_view label, std::optional<nlohmann::json> request_id, const std::function<void()>& handle);
  // Lets go of the current child, which cannot serve any more, and unless a
  // shutdown was asked for says `why` and answers what waited for it.
  void child_gone(std::string_view why);

  const Handlers& handlers_;
};

// The editor reader: reads framed messages off `input` and sends them to
// the main thread until the input ends or can no longer be read in step
// (`EditorClosed`, with the error unless the input ended cleanly). A body
// that cannot be taken is answered when it is owed an answer
// (`EditorRefused`), and the next message is read as usual.
void read_editor(io::Input& input, events::Events::Sender events);

// The main loop: takes events one at a time until the editor's input ends.
// didChange notifications of one document already waiting behind each
// other are handled as one, so a burst of edits is analysed and published
// once. Returns the error that ended the editor's input, if any.
[[nodiscard]] std::expected<void, io::Error> serve(Server& server, events::Events::Receiver& events);

// Once the editor's input has ended, how long a write to it may wait for
// the editor to read before the rest of what is owed is dropped: an editor
// that closed its side may never read again, and must not keep us running.
inline constexpr std::chrono::milliseconds OWED_WRITE_LIMIT = std::chrono::seconds(5);

// Runs the server on standard input and output until the editor's input
// ends: success when it ended cleanly, else the error that ended it. What
// is owed then is written within OWED_WRITE_LIMIT of waits. The `exit`
// notification ends the process from inside instead.
[[nodiscard]] std::expected<void, io::Error> run();

}  // namespace tovix_lsp::server
