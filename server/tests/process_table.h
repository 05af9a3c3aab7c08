#pragma once

// What the process table says about a process id, for tests that check that
// no child is left behind.

#include <filesystem>
#include <fstream>
#include <string>

namespace tovix_lsp::testing {

// No process at all: a zombie still has its /proc entry, so this is also
// "reaped".
inline bool gone(int pid) { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }

// In the process table and not a zombie.
inline bool running(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_text, command, state;
  return stat >> pid_text >> command >> state && state != "Z";
}

}  // namespace tovix_lsp::testing
