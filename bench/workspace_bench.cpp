#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "workspace/document.h"
#include "workspace/line_index.h"
#include "workspace/sourcemap.h"

namespace {

using tovix_lsp::document::Document;
using tovix_lsp::line_index::LineIndex;

// 10,000 lines of Luau-like markup with some multi-byte characters.
std::string ten_thousand_lines() {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    text += "local label" + std::to_string(i) +
            " = <TextLabel Text=\"caf\xC3\xA9 \xE2\x82\xAC\" Size={UDim2.new(1, 0, 0, 20)} />\n";
  }
  return text;
}

nlohmann::json position(std::uint32_t line, std::uint32_t character) {
  return {{"line", line}, {"character", character}};
}

// One incremental edit in the middle of the document (type one character,
// then delete it again so the text stays the same size).
void BM_IncrementalEdit(benchmark::State& state) {
  Document doc("file:///bench.tovix", ten_thousand_lines(), 1);
  const std::vector<nlohmann::json> insert = {
      {{"range", {{"start", position(5000, 10)}, {"end", position(5000, 10)}}}, {"text", "x"}}};
  const std::vector<nlohmann::json> remove = {
      {{"range", {{"start", position(5000, 10)}, {"end", position(5000, 11)}}}, {"text", ""}}};
  std::int64_t version = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(doc.change(++version, insert));
    benchmark::DoNotOptimize(doc.change(++version, remove));
  }
  // Two edits per iteration.
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_IncrementalEdit)->Unit(benchmark::kMicrosecond);

// 1,000 conversions each way, spread over the whole document.
void BM_ThousandPositionConversions(benchmark::State& state) {
  const std::string text = ten_thousand_lines();
  const LineIndex index(text);
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 1000; ++i) offsets.push_back(i * (text.size() / 1000) + 37);
  for (auto _ : state) {
    for (const std::size_t offset : offsets) {
      const auto p = index.position(text, offset);
      benchmark::DoNotOptimize(index.offset(text, p.line, p.character));
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ThousandPositionConversions)->Unit(benchmark::kMicrosecond);

// A map of 10,000 runs (one or two per line of a large document), then
// 1,000 lookups of each kind spread over it.
void BM_SourceMapLookups(benchmark::State& state) {
  std::string source;
  std::string output = "local function helper() end\n";
  tovix_lsp::sourcemap::SourceMap map;
  for (int i = 0; i < 10000; ++i) {
    const std::string piece = "local x" + std::to_string(i) + " = ";
    const tovix_lsp::sourcemap::Run run{source.size(), output.size(), piece.size()};
    source += piece + "<Frame/>\n";
    output += piece + "create(\"Frame\")({})\n";
    if (!map.push(source, output, run)) state.SkipWithError("run refused");
  }
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 1000; ++i) offsets.push_back(i * (source.size() / 1000) + 3);
  for (auto _ : state) {
    for (const std::size_t offset : offsets) {
      benchmark::DoNotOptimize(map.to_output(offset));
      benchmark::DoNotOptimize(map.to_output_end(offset));
      benchmark::DoNotOptimize(map.to_output_range(offset, offset + 2));
      benchmark::DoNotOptimize(map.to_source(offset));
    }
  }
  state.SetItemsProcessed(state.iterations() * 4000);
}
BENCHMARK(BM_SourceMapLookups)->Unit(benchmark::kMicrosecond);

}  // namespace
