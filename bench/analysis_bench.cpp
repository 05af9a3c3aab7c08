#include <benchmark/benchmark.h>

#include "sample.h"
#include "workspace/analysis.h"

namespace {

// Compile, source map and diagnostics of the 10,000-line sample, as after
// every keystroke.
void BM_AnalysisRun(benchmark::State& state) {
  std::string text = tovix_bench::sample_tovix(static_cast<std::size_t>(state.range(0)));
  tovix_lsp::document::Document doc("file:///tmp/bench/a.tovix", text, 1);
  auto project = tovix_lsp::project::Project::bare("/tmp/bench");
  std::size_t diagnostics = 0;
  for (auto _ : state) {
    auto result = tovix_lsp::analysis::Analysis::run(doc, project, nullptr);
    diagnostics = result.diagnostics.size();
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["diagnostics"] = static_cast<double>(diagnostics);
}
BENCHMARK(BM_AnalysisRun)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
