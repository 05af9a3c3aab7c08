#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tovix_lsp::cli {

extern const std::string_view USAGE;

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
