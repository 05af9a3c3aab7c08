#include "core/versions.h"

#include "tovix/version.h"

namespace tovix_lsp::versions {

std::string version_pair() {
  std::string out(SERVER_VERSION);
  out += " (tovix ";
  out += tovix::VERSION;
  out += ")";
  return out;
}

}  // namespace tovix_lsp::versions
