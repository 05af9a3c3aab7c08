#pragma once

// The luau-lsp child: the events of the main channel, the running child
// (`Proxy`) with the thread that reads it, and what it is started with
// (`arguments`, `fflags`). Finding the executable and the type files is the
// business of `locate`.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/channel.h"
#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/locate.h"
#include "core/process.h"

namespace tovix_lsp::proxy {

// What arrives on the main thread's channel. A child's events
// carry its `Proxy::number()`, so that what an old child says after it was
// let go of is told apart from the current child's.
struct Editor {
  nlohmann::json value;
};
struct Child {
  std::uint64_t child = 0;
  nlohmann::json value;
};
// The editor's input ended; `error` says why when it did not end cleanly.
struct EditorClosed {
  std::optional<io::Error> error;
};
struct ChildExited {
  std::uint64_t child = 0;
};
// A message from the editor that could not be taken and is owed an error
// answer; the main thread sends it, as it alone writes to the editor.
struct EditorRefused {
  nlohmann::json id;
  std::int64_t code = 0;
  std::string message;
};

using Event = std::variant<Editor, Child, EditorClosed, ChildExited, EditorRefused>;
using Events = channel::Channel<Event>;

// A running luau-lsp child and the only way to write to it. Used by the main
// thread alone; move-only. Dropping it kills the child and reaps it, then
// closes its input. Its reader thread sends every message the child writes
// as `Child`, then exactly one `ChildExited` when the output ends or is
// malformed (also when the child was killed).
class Proxy {
 public:
  // Starts `path` with "lsp" and `args`: its input and output on pipes, its
  // standard error shared with ours. An error when it cannot be started, or
  // when the reader thread cannot be ("failed to spawn thread"; the child is
  // then killed and reaped, and no event is sent).
  [[nodiscard]] static std::expected<Proxy, io::Error> spawn(const std::filesystem::path& path,
                                                             const std::vector<std::string>& args,
                                                             Events::Sender events);

  // Sends a request under the next id (1, 2, 3, … for each child) and gives
  // the id. The id is used up even when the write fails. The answer comes as
  // a `Child` event; matching it is the caller's business.
  [[nodiscard]] std::expected<std::int64_t, io::Error> request(std::string_view method, nlohmann::json params);
  // Sends a notification.
  [[nodiscard]] std::optional<io::Error> notify(std::string_view method, nlohmann::json params);
  // Sends a whole message as it is (an answer to one of the child's requests).
  [[nodiscard]] std::optional<io::Error> write(const nlohmann::json& message);

  // "shutdown" (not awaited) and "exit", then kills the child and reaps it.
  // Every error is ignored. Dropping afterwards does nothing more.
  void shutdown();

  // Unique among the children of this process; the events carry it.
  [[nodiscard]] std::uint64_t number() const { return number_; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] int pid() const { return child_.pid(); }

 private:
  Proxy(process::Child child, process::PipeOutput input, std::filesystem::path path, std::uint64_t number)
      : stdin_(std::make_unique<process::PipeOutput>(std::move(input))),
        writer_(*stdin_),
        child_(std::move(child)),
        path_(std::move(path)),
        number_(number) {}

  // Declared before the child so that it is closed after the child is
  // reaped. On the heap, so that the writer's reference survives a move.
  std::unique_ptr<process::PipeOutput> stdin_;
  jsonrpc::Writer writer_;
  process::Child child_;
  std::filesystem::path path_;
  std::int64_t next_id_ = 1;
  std::uint64_t number_ = 0;
};

// The body of a child's reader thread: framed messages from `output` become
// `Child` events of child `child`; at the end of the output, or at the first
// read, framing or JSON error (a frame above the size limit included), one
// `ChildExited`. Stops early, without an exit event, when the receiver is
// gone. Closes `output` when it returns.
void read_child(std::uint64_t child, process::Fd output, Events::Sender events);

// The options that follow "lsp" on the child's command line, from the
// "luau-lsp" settings section: "--stdio", the Roblox type files and the
// configured definition and documentation files, a base .luaurc, and
// "--no-flags-enabled".
[[nodiscard]] std::vector<std::string> arguments(const nlohmann::json& settings,
                                                 const locate::Environment& env = locate::Environment::current());

// The fast flags for the child's initialize params: the editor's own
// (`editor_fflags`, when an object), then the new solver flag, then the
// overrides of the settings, later ones winning. Every value is a string: a
// value that is not one is given as its JSON text.
[[nodiscard]] nlohmann::json fflags(const nlohmann::json& settings, const nlohmann::json* editor_fflags);

// Whether a message of the child can only be served by the editor (and is
// relayed to it). False for responses.
[[nodiscard]] bool needs_the_editor(const jsonrpc::Message& message);

}  // namespace tovix_lsp::proxy
