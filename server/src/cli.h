#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tovix_lsp::cli {

// The server's own version; reported together with the compiler's.
inline constexpr std::string_view SERVER_VERSION = "0.1.2";

extern const std::string_view USAGE;

// "0.1.2 (tovix 0.1.3)": the server's and the compiler's versions, as the
// version line and the initialize answer give them.
[[nodiscard]] std::string version_pair();

struct RunServer {};
struct PrintVersion {};
struct PrintHelp {};
struct Reject {
  std::string argument;
};
using Decision = std::variant<RunServer, PrintVersion, PrintHelp, Reject>;

// "--stdio" is skipped; the first other argument decides alone.
[[nodiscard]] Decision decide(const std::vector<std::string>& args);

// The whole program: decides, prints, runs the server. Returns the exit status.
[[nodiscard]] int main(const std::vector<std::string>& args);

}  // namespace tovix_lsp::cli
