#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/channel.h"
#include "core/io.h"

namespace tovix_lsp::proxy {

// What arrives on the main thread's channel.
struct Editor {
  nlohmann::json value;
};
struct Child {
  nlohmann::json value;
};
// The editor's input ended; `error` says why when it did not end cleanly.
struct EditorClosed {
  std::optional<io::Error> error;
};
struct ChildExited {};
// A message from the editor that could not be taken and is owed an error
// answer; the main thread sends it, as it alone writes to the editor.
struct EditorRefused {
  nlohmann::json id;
  std::int64_t code = 0;
  std::string message;
};

using Event = std::variant<Editor, Child, EditorClosed, ChildExited, EditorRefused>;
using Events = channel::Channel<Event>;

}  // namespace tovix_lsp::proxy
