#pragma once

// Tails for tovix.toml messages that propose the nearest Roblox name. Kept
// apart from the rest of the configuration module, whose messages they end.

#include <string>
#include <string_view>

namespace tovix::config {

// "; did you mean {class}?" with the nearest creatable class to `name`, or
// the empty text when none is near enough.
[[nodiscard]] std::string suggest_class(std::string_view name);

// The same with the nearest property or event of any class.
[[nodiscard]] std::string suggest_member_anywhere(std::string_view name);

}  // namespace tovix::config
