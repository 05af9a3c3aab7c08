#pragma once

// What arrives on the main thread's channel: the editor's messages, the
// child's, and the ends of the work done off the main thread.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/channel.h"
#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/outbox.h"
#include "workspace/published.h"

namespace tovix_lsp::events {

// A child's events carry its `Proxy::number()`, so that what an old child says after it was
// let go of is told apart from the current child's.
struct Editor {
  nlohmann::json value;
};
struct Child {
  std::uint64_t child = 0;
  nlohmann::json value;
};
// A publication of diagnostics of child `child`, read as text.
struct ChildPublished {
  std::uint64_t child = 0;
  published::Notification publication;
};
// The editor's input ended; `error` says why when it did not end cleanly.
struct EditorClosed {
  std::optional<io::Error> error;
};
// A message of child `child` too long to take, read past unparsed: what
// it was, as far as its answer depends on it.
struct ChildSkipped {
  std::uint64_t child = 0;
  jsonrpc::Refused refused;
};
struct ChildExited {
  std::uint64_t child = 0;
};
// The child's writer stopped: the child left its input unread too long, let
// too much pile up, or closed it. The child is of no more use.
struct ChildStalled {
  std::uint64_t child = 0;
  outbox::Stop why = outbox::Stop::Stalled;
};
// The search for luau-lsp number `search` ended (off the main thread, as its
// candidates are run to see whether they work); `found` is what it found.
struct Located {
  std::uint64_t search = 0;
  std::optional<std::filesystem::path> found;
};
// A load of the Roblox API facts ended (off the main thread: the files run
// to megabytes); `unreadable` are the type files the settings named that
// could not be read, for the main thread to say.
struct ApiLoaded {
  std::vector<std::string> unreadable;
};
// A message from the editor that could not be taken: a request owed an
// error answer, or a notification that is only said to be dropped; the main
// thread does either, as it alone writes to the editor.
struct EditorRefused {
  bool owed_answer = true;
  nlohmann::json id;
  std::int64_t code = 0;
  std::string message;
};

using Event = std::variant<Editor, Child, ChildPublished, EditorClosed, ChildExited, EditorRefused, ChildStalled,
                           Located, ApiLoaded, ChildSkipped>;
using Events = channel::Channel<Event>;

// How much of the child's output may wait for the main thread, in bytes of
// message bodies (each counted as at least MIN_CHILD_COST): a child that
// writes faster than it is heard waits, rather than growing our memory.
inline constexpr std::size_t CHILD_BACKLOG = std::size_t{8} << 20;
inline constexpr std::size_t MIN_CHILD_COST = 1024;
}  // namespace tovix_lsp::events
