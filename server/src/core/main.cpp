#include <string>
#include <vector>

#include "core/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return tovix_lsp::cli::main(args);
}
