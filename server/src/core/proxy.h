#pragma once

#include <variant>

#include <nlohmann/json.hpp>

#include "core/channel.h"

namespace tovix_lsp::proxy {

// The four things that arrive on the main thread's channel.
struct Editor {
  nlohmann::json value;
};
struct Child {
  nlohmann::json value;
};
struct EditorClosed {};
struct ChildExited {};

using Event = std::variant<Editor, Child, EditorClosed, ChildExited>;
using Events = channel::Channel<Event>;

}  // namespace tovix_lsp::proxy
