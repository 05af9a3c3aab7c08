#pragma once

// The child's published diagnostics kept as the JSON text they came in.
// A markup-heavy file gets thousands per publication on every keystroke:
// read into values, moved and written out again, they cost several times
// the compile. Kept as text, only each diagnostic's range is read, and its
// text is written out again with the moved range put in.
//
// Text is only kept where writing its value again gives the same bytes
// (compact, members in ascending order, the writer's escapes, integers
// only): what reaches the editor is then what writing the moved values
// would give.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/protocol.h"

namespace tovix_lsp::published {

// One diagnostic: where its text is in the publication's, and its range.
struct Item {
  std::size_t offset = 0;
  std::size_t length = 0;
  // Where the value of its "range" member is in its text.
  std::size_t range_offset = 0;
  std::size_t range_length = 0;
  protocol::Range range;
  // Nothing in it moves but its "range", and that range is a valid one of
  // the exact form {"end": position, "start": position}. Any other item is
  // moved as a value.
  bool plain = false;
};

struct Publication {
  std::string text;  // the items' texts, as they came
  std::vector<Item> items;

  [[nodiscard]] std::string_view item_text(const Item& item) const {
    return std::string_view(text).substr(item.offset, item.length);
  }
  [[nodiscard]] bool empty() const { return items.empty(); }
};

// A "textDocument/publishDiagnostics" notification read from its body.
struct Notification {
  std::string uri;
  std::optional<std::int64_t> version;
  Publication diagnostics;
};

// The notification a message body is, when it is one written the way it
// would be written again (as luau-lsp writes it): members "jsonrpc",
// "method", "params" with "diagnostics", "uri" and an optional integer
// "version", nothing else. Nothing for any other body, which is then read
// as a value. The body is taken only when it is one.
[[nodiscard]] std::optional<Notification> scan_notification(std::string& body);

// The notification as the value its body reads as.
[[nodiscard]] nlohmann::json value_of(const Notification& notification);

// The publication of a list read as values: each diagnostic written
// compactly. Anything but an array gives none.
[[nodiscard]] Publication of_values(const nlohmann::json& list);

}  // namespace tovix_lsp::published
