#include "core/cli.h"

#include <iostream>

#include "core/server.h"
#include "core/versions.h"

namespace tovix_lsp::cli {

const std::string_view USAGE =
    "usage: tovix-lsp [--stdio]\n"
    "\n"
    "Speaks the Language Server Protocol on stdin and stdout. It owns .tovix files,\n"
    "answers everything about the markup itself, and forwards Luau questions to a\n"
    "stock luau-lsp with positions translated in both directions.\n"
    "\n"
    "  --version   print this server's version and the compiler it was built against\n"
    "  --help      show this message\n"
    "\n"
    "Settings come from the editor, not from flags: tovix.server.path,\n"
    "tovix.luauLsp.path and tovix.trace.server, plus the luau-lsp.* settings the\n"
    "user already has, which are passed through to the child.";

Decision decide(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--stdio") continue;
    if (arg == "-V" || arg == "--version") return PrintVersion{};
    if (arg == "-h" || arg == "--help") return PrintHelp{};
    return Reject{arg};
  }
  return RunServer{};
}

int main(const std::vector<std::string>& args) {
  Decision decision = decide(args);
  if (std::holds_alternative<PrintVersion>(decision)) {
    std::cout << "tovix-lsp " << versions::version_pair() << '\n' << std::flush;
    return 0;
  }
  if (std::holds_alternative<PrintHelp>(decision)) {
    std::cout << USAGE << '\n' << std::flush;
    return 0;
  }
  if (auto* reject = std::get_if<Reject>(&decision)) {
    std::cerr << "tovix-lsp: unknown argument " << reject->argument << "\n\n" << USAGE << '\n' << std::flush;
    return 2;
  }
  auto ran = server::run();
  if (ran) return 0;
  // The editor takes status 0 for an orderly end; this one was not.
  std::cerr << "tovix-lsp: cannot read the editor's input: " << ran.error().message << '\n' << std::flush;
  return 1;
}

}  // namespace tovix_lsp::cli
