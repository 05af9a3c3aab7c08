#pragma once

// An editor's session with the built tovix-lsp, for end-to-end tests with a
// child: a project folder of its own, the server started with extra
// environment, the requests the server sends the editor (its configuration
// requests and the child's, relayed) answered as an editor would, and every
// message kept, so a test waits for the one it means, in any order.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsp_process.h"
#include "temp_tree.h"

namespace tovix_lsp::testing {

struct SessionOptions {
  // Added to the server's environment (PATH, HOME, the stand-in's switches).
  std::map<std::string, std::string> env;
  // The settings sections the editor answers with.
  nlohmann::json luau_lsp = nlohmann::json::object();
  nlohmann::json tovix = nlohmann::json::object();
  // The editor's initialize params; null: a typical editor's, with snippets,
  // workspace configuration and edits, rooted at the session's folder.
  nlohmann::json initialize = nullptr;
  // Answer every request the server sends the editor at once: a
  // configuration with the sections above, an edit as applied, anything
  // else with null.
  bool auto_answer = true;
  // Send initialize and initialized when the session starts.
  bool start = true;
  // The project folder; empty: a temporary one of the session's own.
  std::filesystem::path folder;
};

class EditorSession {
 public:
  explicit EditorSession(SessionOptions options = {});
  // Shuts the server down (unless the test did) and waits for it to end.
  ~EditorSession();
  EditorSession(const EditorSession&) = delete;
  EditorSession& operator=(const EditorSession&) = delete;

  // The project folder, and URIs of files in it.
  [[nodiscard]] const std::filesystem::path& dir() const { return dir_; }
  [[nodiscard]] std::string uri(const std::string& name) const;
  // The URI of the generated Luau of `name` (a .tovix file in the folder
  // without a tovix.toml): the same name ending in .luau.
  [[nodiscard]] std::string generated_uri(const std::string& name) const;

  // initialize and initialized; the initialize answer is returned.
  nlohmann::json start();

  // Messages to the server. `send_request` gives the request's id.
  int send_request(const std::string& method, nlohmann::json params);
  void notify(const std::string& method, nlohmann::json params);
  void respond(const nlohmann::json& id, nlohmann::json result);
  void respond_error(const nlohmann::json& id, int code, const std::string& message);

  // A request and its whole response (null after the timeout, with a
  // failure recorded).
  nlohmann::json request(const std::string& method, nlohmann::json params);
  // The result of a request that must succeed.
  nlohmann::json result(const std::string& method, nlohmann::json params);
  // The result of a request asked again, each time after the last answer
  // and a short pause, until `wanted` holds of it (what the server learns
  // off its main thread shows so): that result, or after the timeout the
  // last one, with a failure recorded.
  nlohmann::json result_when(const std::string& method, const nlohmann::json& params,
                             const std::function<bool(const nlohmann::json&)>& wanted,
                             std::chrono::milliseconds timeout = PATIENCE);
  // The response to request `id`.
  nlohmann::json response(int id);

  // Documents. `open` gives the URI of `name` in the folder.
  std::string open(const std::string& name, const std::string& text, int version = 1);
  void change(const std::string& uri, const std::string& text, int version);  // full text
  void close(const std::string& uri);
  // Params of a request at a position of an open document.
  [[nodiscard]] static nlohmann::json at(const std::string& uri, const nlohmann::json& position);

  // The first message not yet taken that satisfies `wanted`, among those
  // already received and then those to come; it is taken. Nothing (and a
  // failure recorded) after the timeout.
  std::optional<nlohmann::json> wait_for(const std::function<bool(const nlohmann::json&)>& wanted,
                                         std::chrono::milliseconds timeout = PATIENCE);
  // The body, as it came, of the first message not yet taken at index `from`
  // of the history or later that satisfies `wanted`; it is taken. Nothing
  // (and a failure recorded) after the timeout.
  std::optional<std::string> text_of(const std::function<bool(const nlohmann::json&)>& wanted, std::size_t from = 0,
                                     std::chrono::milliseconds timeout = PATIENCE);
  // The next diagnostics published for `uri` that satisfy `wanted`.
  std::optional<nlohmann::json> diagnostics(const std::string& uri,
                                            const std::function<bool(const nlohmann::json& list)>& wanted = nullptr);
  // The log line "tovix: " + `text`.
  std::optional<nlohmann::json> log_line(const std::string& text);
  // Log lines with exactly "tovix: " + `text` received so far.
  [[nodiscard]] std::size_t logged(const std::string& text) const;
  // A request the server sends the editor (its own or a child's).
  std::optional<nlohmann::json> server_request(const std::string& method);

  // Receives what comes within `for_at_most` (answering requests when due).
  void pump(std::chrono::milliseconds for_at_most);

  // Waits until the server has handled everything sent before: a request
  // it answers alone, and its answer.
  void settle();

  // Every message received, in order.
  [[nodiscard]] std::vector<nlohmann::json> history() const;
  // Where in the history a message satisfying `wanted` is; none when absent.
  [[nodiscard]] std::optional<std::size_t> index_of(const std::function<bool(const nlohmann::json&)>& wanted) const;

  // The answer an editor gives a configuration request of the server's or
  // the child's: each item's section from the options, null for others.
  [[nodiscard]] nlohmann::json configuration_answer(const nlohmann::json& request) const;

  // Shutdown and exit; the exit status. What the server writes until it
  // ends is read and kept in the history.
  int shutdown_and_exit();
  // Closes the server's input without either, as an editor that dies does;
  // the exit status (the output is read as above).
  int close_input();

  // The server's children (luau-lsp), from the process table.
  [[nodiscard]] std::vector<int> children() const;

  [[nodiscard]] LspProcess& process() { return lsp_; }
  bool auto_answer;

 private:
  struct Seen {
    nlohmann::json message;
    std::string text;  // the body as it came
    bool taken = false;
  };
  // The first message not yet taken at index `from` or later that satisfies
  // `wanted`, taken; null after the timeout (a failure recorded).
  Seen* take(const std::function<bool(const nlohmann::json&)>& wanted, std::size_t from,
             std::chrono::milliseconds timeout);
  // Receives one message into the history (answering it when due); false
  // when nothing came before the deadline.
  bool receive_one(std::chrono::steady_clock::time_point deadline);
  // Closes the server's input and waits for it to end, reading its output;
  // the exit status.
  int end();

  TempTree tree_;
  SessionOptions options_;
  std::filesystem::path dir_;
  LspProcess lsp_;
  std::vector<Seen> seen_;
  int next_id_ = 1000;
  bool ended_ = false;
};

// The request and notification texts a stand-in child recorded, read from
// its record file as it grows.
class StandInRecord {
 public:
  explicit StandInRecord(std::filesystem::path path) : path_(std::move(path)) {}
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  // Every line so far, parsed.
  [[nodiscard]] std::vector<nlohmann::json> lines() const;
  // The lines that are messages of `method`.
  [[nodiscard]] std::vector<nlohmann::json> of(const std::string& method) const;
  // The first line satisfying `wanted` at index `from` or later, waiting for
  // it to be written while the session goes on receiving (a server whose
  // output nobody reads would stall); nothing (and a failure recorded) after
  // the timeout.
  std::optional<nlohmann::json> wait_for(EditorSession& session,
                                         const std::function<bool(const nlohmann::json&)>& wanted, std::size_t from = 0,
                                         std::chrono::milliseconds timeout = PATIENCE) const;
  // Waits until `done` holds of all lines so far (see `wait_for`); false
  // (and a failure recorded) after the timeout.
  bool wait_until(EditorSession& session, const std::function<bool(const std::vector<nlohmann::json>&)>& done,
                  std::chrono::milliseconds timeout = PATIENCE) const;
  // The process ids of the children started so far (their first lines).
  [[nodiscard]] std::vector<int> pids() const;

 private:
  std::filesystem::path path_;
};

// The protocol position of byte `offset` in `text` (UTF-16 columns).
[[nodiscard]] nlohmann::json position_of(std::string_view text, std::size_t offset);
// A protocol range.
[[nodiscard]] nlohmann::json range_of(std::string_view text, std::size_t start, std::size_t end);

// `text` with a list of TextEdits applied as an editor applies them (all
// ranges read in `text`); "?" when a range does not fit it, or two overlap.
[[nodiscard]] std::string applied(std::string_view text, const nlohmann::json& edits);

}  // namespace tovix_lsp::testing
