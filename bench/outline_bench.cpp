// The whole-document markup answers on the shared 10,000-line sample: the
// outline and the semantic tokens, each recomputed from the text as a
// request does.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "sample.h"
#include "workspace/document.h"
#include "workspace/project.h"

namespace {

const tovix_lsp::document::Document& sample() {
  static const tovix_lsp::document::Document document("file:///bench/sample.tovix", tovix_bench::sample_tovix(10000), 1);
  return document;
}

void BM_DocumentSymbols(benchmark::State& state) {
  const auto& document = sample();
  std::size_t top = 0;
  for (auto _ : state) {
    auto symbols = tovix_lsp::symbols::symbols(document);
    top = symbols.size();
    benchmark::DoNotOptimize(symbols);
  }
  state.counters["top"] = static_cast<double>(top);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text().size()));
}
BENCHMARK(BM_DocumentSymbols)->Unit(benchmark::kMillisecond);

void BM_SemanticTokens(benchmark::State& state) {
  const auto& document = sample();
  const auto project = tovix_lsp::project::Project::bare("/bench");
  std::size_t count = 0;
  for (auto _ : state) {
    auto tokens = tovix_lsp::semantic_tokens::tokens(document, project);
    count = tokens["data"].size() / 5;
    benchmark::DoNotOptimize(tokens);
  }
  state.counters["tokens"] = static_cast<double>(count);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(document.text().size()));
}
BENCHMARK(BM_SemanticTokens)->Unit(benchmark::kMillisecond);

}  // namespace
