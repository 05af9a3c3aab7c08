// The whole-document markup answers on the shared 10,000-line sample: the
// outline and the semantic tokens. "snapshot:1" is the server's case, the
// request taking what the analysis of the text read; "snapshot:0" reads the
// text again.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "sample.h"
#include "workspace/analysis.h"
#include "workspace/document.h"
#include "workspace/project.h"

namespace {

const tovix_lsp::document::Document& sample() {
  static const tovix_lsp::document::Document document("file:///bench/sample.tovix", tovix_bench::sample_tovix(10000),
                                                      1);
  return document;
}

// The analysis's snapshot of the sample when `state.range(0)` is set.
const tovix_lsp::snapshot::Snapshot* taken(const benchmark::State& state) {
  static const auto analysed = tovix_lsp::snapshot::take(
      tovix_lsp::analysis::Analysis::run(sample(), tovix_lsp::project::Project::bare("/bench"), nullptr).read);
  return state.range(0) != 0 ? analysed.get() : nullptr;
}

// The outline as the server answers it: JSON text, framed as it is.
void BM_DocumentSymbols(benchmark::State& state) {
  const auto& document = sample();
  const auto* snapshot = taken(state);
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto text = tovix_lsp::symbols::serialized(document, snapshot);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text().size()));
}
BENCHMARK(BM_DocumentSymbols)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The outline as a JSON value, and with "dump:1" serialised as well: what
// answering it as a value costs.
void BM_DocumentSymbolsAsValue(benchmark::State& state) {
  const auto& document = sample();
  const auto* snapshot = taken(state);
  const bool dump = state.range(1) != 0;
  std::size_t top = 0;
  for (auto _ : state) {
    auto symbols = tovix_lsp::symbols::symbols(document, snapshot);
    top = symbols.size();
    if (dump) benchmark::DoNotOptimize(symbols.dump());
    benchmark::DoNotOptimize(symbols);
  }
  state.counters["top"] = static_cast<double>(top);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text().size()));
}
BENCHMARK(BM_DocumentSymbolsAsValue)
    ->ArgNames({"snapshot", "dump"})
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond);

void BM_SemanticTokens(benchmark::State& state) {
  const auto& document = sample();
  const auto project = tovix_lsp::project::Project::bare("/bench");
  const auto* snapshot = taken(state);
  std::size_t count = 0;
  for (auto _ : state) {
    auto tokens = tovix_lsp::semantic_tokens::tokens(document, project, snapshot);
    count = tokens["data"].size() / 5;
    benchmark::DoNotOptimize(tokens);
  }
  state.counters["tokens"] = static_cast<double>(count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text().size()));
}
BENCHMARK(BM_SemanticTokens)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
