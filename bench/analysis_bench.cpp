#include <benchmark/benchmark.h>

#include <malloc.h>

#include "sample.h"
#include "workspace/analysis.h"

namespace {

// The analysis of `text`; with `snapshot`, also the snapshot the server
// takes once the diagnostics are out: the whole work of a keystroke.
void run(benchmark::State& state, const std::string& text, const tovix_lsp::project::Project& project, bool snapshot) {
  tovix_lsp::document::Document doc("file:///tmp/bench/a.tovix", text, 1);
  std::size_t diagnostics = 0;
  for (auto _ : state) {
    auto result = tovix_lsp::analysis::Analysis::run(doc, project, nullptr);
    diagnostics = result.diagnostics.size();
    if (snapshot) benchmark::DoNotOptimize(tovix_lsp::snapshot::take(std::move(result.read)));
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["diagnostics"] = static_cast<double>(diagnostics);
}

// Compile, source map and diagnostics of the 10,000-line sample, as after
// every keystroke.
void BM_AnalysisRun(benchmark::State& state) {
  run(state, tovix_bench::sample_tovix(static_cast<std::size_t>(state.range(0))),
      tovix_lsp::project::Project::bare("/tmp/bench"), state.range(1) != 0);
}
BENCHMARK(BM_AnalysisRun)
    ->ArgNames({"", "snapshot"})
    ->Args({2000, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond);

// The same without the lint, so without any diagnostic: the analysis of a
// document with nothing to report.
void BM_AnalysisRunQuiet(benchmark::State& state) {
  auto project = tovix_lsp::project::Project::bare("/tmp/bench");
  project.config.static_conditional_child = tovix::config::LintLevel::Off;
  run(state, tovix_bench::sample_tovix(10000), project, state.range(0) != 0);
}
BENCHMARK(BM_AnalysisRunQuiet)->ArgName("snapshot")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A tag being typed, so that the compile stops at it: on line 10 ("at:0")
// or at the end of the sample ("at:1").
void BM_AnalysisRunHalfTyped(benchmark::State& state) {
  std::string text = tovix_bench::sample_tovix(10000);
  std::size_t at = text.size();
  if (state.range(0) == 0) {
    at = 0;
    for (int line = 0; line < 10; ++line) at = text.find('\n', at) + 1;
  }
  text.insert(at, "local zz = <Te\n");
  run(state, text, tovix_lsp::project::Project::bare("/tmp/bench"), state.range(1) != 0);
}
BENCHMARK(BM_AnalysisRunHalfTyped)
    ->ArgNames({"at", "snapshot"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

// The heap a document's snapshot keeps (its text, top-level markup trees,
// names and resume points), beside the text's own size.
void BM_SnapshotHeap(benchmark::State& state) {
  const std::string text = tovix_bench::sample_tovix(10000);
  tovix_lsp::document::Document doc("file:///tmp/bench/a.tovix", text, 1);
  const auto project = tovix_lsp::project::Project::bare("/tmp/bench");
  double heap = 0;
  for (auto _ : state) {
    const auto before = mallinfo2().uordblks;
    std::shared_ptr<const tovix_lsp::snapshot::Snapshot> kept;
    {
      auto result = tovix_lsp::analysis::Analysis::run(doc, project, nullptr);
      kept = tovix_lsp::snapshot::take(std::move(result.read));
    }
    heap = static_cast<double>(mallinfo2().uordblks - before) / (1024.0 * 1024.0);
    benchmark::DoNotOptimize(kept);
  }
  state.counters["heap_MB"] = heap;
  state.counters["text_MB"] = static_cast<double>(text.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_SnapshotHeap)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
