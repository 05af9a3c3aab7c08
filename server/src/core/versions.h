#pragma once

#include <string>
#include <string_view>

namespace tovix_lsp::versions {

// The server's own version; reported together with the compiler's.
inline constexpr std::string_view SERVER_VERSION = "0.1.2";

// "0.1.2 (tovix 0.1.3)": the server's and the compiler's versions, as the
// version line and the initialize answer give them.
[[nodiscard]] std::string version_pair();

}  // namespace tovix_lsp::versions
