#pragma once

// The luau-lsp child: the running child (`Proxy`) with the threads that
// read and write it, and what it is started with (`arguments`, `fflags`).
// Finding the executable and the type files is the business of `locate`.

#include <chrono>
#include <cstddef>
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

#include "core/events.h"
#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/locate.h"
#include "core/outbox.h"
#include "core/process.h"

namespace tovix_lsp::proxy {

// The largest body taken from the child. A larger one (up to
// `jsonrpc::MAX_CONTENT_LENGTH`) is read past unparsed (`ChildSkipped`):
// parsing one costs the server many times its size in memory and holds the
// main thread for seconds. luau-lsp's largest answers about a 50,000-line
// file (its semantic tokens, its document symbols) take a few megabytes.
inline constexpr std::size_t MAX_CHILD_BODY = std::size_t{64} << 20;

// How long stopping a child waits for its last messages to be written.
inline constexpr std::chrono::milliseconds SHUTDOWN_GRACE{200};

// A running luau-lsp child and the only way to write to it. Used by the main
// thread alone; move-only. Writing never waits for the child: messages are
// queued for its writer thread, which reports a child that stops reading
// (`ChildStalled`). Dropping it stops the writer, then kills the child (with
// everything it started) and reaps it. Its reader thread sends every message
// the child writes as `Child`, then exactly one `ChildExited` when the
// output ends or is malformed, or the child process ends (also when the
// child was killed).
class Proxy {
 public:
  Proxy(Proxy&&) = default;
  Proxy& operator=(Proxy&&) = delete;

  // Starts `path` with "lsp" and `args`: its input and output on pipes, its
  // standard error shared with ours. An error when it cannot be started, or
  // when the reader thread cannot be ("failed to spawn thread"; the child is
  // then killed and reaped, and no event is sent).
  [[nodiscard]] static std::expected<Proxy, io::Error> spawn(const std::filesystem::path& path,
                                                             const std::vector<std::string>& args,
                                                             events::Events::Sender events);

  // A child that runs elsewhere (a test's or the fuzzer's): its input is
  // `input`, written by the writer thread as for a process; nothing is
  // started, signalled or reaped, and no thread reads for it (the caller
  // sends its `Child` events, numbered `number()`).
  [[nodiscard]] static std::expected<Proxy, io::Error> attach(process::Fd input, events::Events::Sender events);

  // Sends a request under the next id (1, 2, 3, … for each child) and gives
  // the id. The id is used up even when it cannot be sent. The answer comes
  // as a `Child` event; matching it is the caller's business.
  [[nodiscard]] std::expected<std::int64_t, io::Error> request(std::string_view method, nlohmann::json params,
                                                               outbox::Tag tag = {});
  // Sends a notification.
  [[nodiscard]] std::optional<io::Error> notify(std::string_view method, nlohmann::json params, outbox::Tag tag = {});
  // Sends a whole message as it is (an answer to one of the child's requests).
  [[nodiscard]] std::optional<io::Error> write(const nlohmann::json& message, outbox::Tag tag = {});

  // "shutdown" (not awaited) and "exit", then kills the child, stops the
  // writer and reaps the child.
  // Every error is ignored. Dropping afterwards does nothing more.
  void shutdown();
  // Whether the child process has ended (within `limit`); it is not reaped.
  [[nodiscard]] bool ended(std::chrono::milliseconds limit) const { return child_.ended(limit); }
  // Gives the writer up to `limit` to hand over what waits.
  void drain(std::chrono::milliseconds limit);

  // Unique among the children of this process; the events carry it.
  [[nodiscard]] std::uint64_t number() const { return number_; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] int pid() const { return child_.pid(); }

 private:
  Proxy(process::Child child, std::unique_ptr<outbox::Outbox> input, std::filesystem::path path, std::uint64_t number)
      : child_(std::move(child)), input_(std::move(input)), path_(std::move(path)), number_(number) {}

  // The writer watches the child's process by its id: it is stopped (it
  // never waits on the child to stop) before the child is reaped, after which
  // the id may be another process's. So it is declared after the child, and
  // a Proxy is never assigned to.
  process::Child child_;
  std::unique_ptr<outbox::Outbox> input_;
  std::filesystem::path path_;
  std::int64_t next_id_ = 1;
  std::uint64_t number_ = 0;
};

// The body of a child's reader thread: framed messages from `output` become
// `Child` events of child `child`, sent bounded (a publication of
// diagnostics replaces one for the same file still waiting); a body over
// `MAX_CHILD_BODY` is read past and told as `ChildSkipped`; at the end of
// the output, when the process behind `pidfd` ends (a child that leaves the
// pipe to something it started has ended all the same), or at the first
// read, framing or JSON error (a frame above `jsonrpc::MAX_CONTENT_LENGTH`
// included), one `ChildExited`. Stops early, without an exit event, when the receiver is
// gone. Closes `output` and `pidfd` when it returns.
void read_child(std::uint64_t child, process::Fd output, process::Fd pidfd, events::Events::Sender events);

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
