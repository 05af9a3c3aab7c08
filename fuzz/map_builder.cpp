// Compiles arbitrary documents and builds their source maps: every run must
// pair identical bytes, sorted on both columns, and every lookup must land
// inside the other text on a character boundary. Half the inputs also pair
// the document with a damaged copy of its output, which the builder must
// survive the same way. Any crash, hang, sanitizer report or broken
// invariant is a finding.
//
//   build-fuzz/fuzz/fuzz_map_builder -max_total_time=600 -jobs=2 -workers=2 \
//     fuzz/corpus-map_builder fuzz/seeds/map_builder

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "workspace/map_builder.h"
#include "workspace/sourcemap.h"

namespace {

using tovix_lsp::sourcemap::Run;
using tovix_lsp::sourcemap::SourceMap;

#define CHECK(condition)                                                                     \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

bool boundary(std::string_view text, std::size_t offset) {
  return offset == text.size() || (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80);
}

void check_landing(std::string_view text, std::optional<std::size_t> offset) {
  if (!offset) return;
  CHECK(*offset <= text.size());
  CHECK(boundary(text, *offset));
}

void check_map(std::string_view source, std::string_view output, const SourceMap& map) {
  std::size_t source_end = 0, output_end = 0;
  for (const Run& run : map.runs()) {
    CHECK(run.len > 0);
    CHECK(run.source >= source_end && run.output >= output_end);
    CHECK(run.source + run.len <= source.size() && run.output + run.len <= output.size());
    CHECK(source.substr(run.source, run.len) == output.substr(run.output, run.len));
    source_end = run.source + run.len;
    output_end = run.output + run.len;
  }
  // Offsets between characters (and one past each text) are what callers
  // look up; each answer must be one too.
  for (std::size_t i = 0; i <= source.size() + 1; ++i) {
    if (i <= source.size() && !boundary(source, i)) continue;
    check_landing(output, map.to_output(i));
    check_landing(output, map.to_output_end(i));
    std::size_t end = std::min(i + 3, source.size());
    while (end < source.size() && !boundary(source, end)) ++end;
    if (const auto range = map.to_output_range(i, end)) {
      CHECK(range->start <= range->end && range->end <= output.size());
      CHECK(boundary(output, range->start) && boundary(output, range->end));
    }
  }
  for (std::size_t o = 0; o <= output.size() + 1; ++o) {
    if (o <= output.size() && !boundary(output, o)) continue;
    check_landing(source, map.to_source(o));
    check_landing(source, map.to_source_end(o));
    if (const auto back = map.to_source(o)) CHECK(map.to_output(*back) == o);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const bool damage = (data[0] & 1) != 0;
  tovix::config::Config config;
  if ((data[0] & 2) != 0) config.create = "vide.create";
  const std::string source(reinterpret_cast<const char*>(data + 1), size - 1);

  auto compiled = tovix::compile::compile_recovering(source, tovix::backend::vide::Vide{}, config);
  if (!compiled) {
    // A document that does not compile still has to pair safely with text
    // that is nothing like its output.
    check_map(source, source, tovix_lsp::map_builder::build(source, source, config));
    return 0;
  }
  std::string output = std::move(compiled->code);
  if (damage && !output.empty()) {
    // Delete one byte (keeping line feeds, so the line counts still agree).
    const std::size_t at = (static_cast<std::size_t>(data[0]) * 131 + size) % output.size();
    if (output[at] != '\n') output.erase(at, 1);
  }
  check_map(source, output, tovix_lsp::map_builder::build(source, output, config));
  return 0;
}
