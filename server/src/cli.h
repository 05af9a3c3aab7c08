#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovix_lsp::cli {

// The server's own version; reported together with the compiler's.
inline constexpr std::string_view SERVER_VERSION = "0.1.2";

}  // namespace tovix_lsp::cli
