#pragma once

// The server binary the end-to-end benchmarks drive: the one built with
// them, or the one TOVIX_BENCH_SERVER names (an older build, to compare).

#include <cstdlib>
#include <string>

namespace tovix_bench {

inline std::string server_binary() {
  const char* other = std::getenv("TOVIX_BENCH_SERVER");
  return other && *other ? other : TOVIX_LSP_BINARY;
}

}  // namespace tovix_bench
