#pragma once

#include <string_view>

namespace tovix {

// The compiler library's own version, reported by the server next to its own.
inline constexpr std::string_view VERSION = "0.1.3";

}  // namespace tovix
