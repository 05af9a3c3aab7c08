#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sample.h"
#include "workspace/analysis.h"
#include "workspace/remap.h"

namespace {

using json = nlohmann::json;
using namespace tovix_lsp;

const char* const URI = "file:///tmp/bench/a.tovix";
const char* const GENERATED = "file:///tmp/bench/a.luau";

// The 10,000-line sample compiled, with its document.
struct Compiled {
  document::Document document{URI, tovix_bench::sample_tovix(10000), 1};
  std::shared_ptr<const analysis::Compiled> compiled =
      analysis::Analysis::run(document, project::Project::bare("/tmp/bench"), nullptr).compiled;
};

const Compiled& sample() {
  static const Compiled c;
  return c;
}

json position(const analysis::Compiled& c, std::size_t offset) {
  const auto p = c.code_index.position(c.code, offset);
  return {{"character", p.character}, {"line", p.line}};
}

// 500 diagnostics as luau-lsp publishes them, spread over the whole
// generated file: nine in ten on text copied from the source, one in ten
// just past a run, in generated-only text (dropped, unless another run
// starts right there).
json child_diagnostics(const analysis::Compiled& c) {
  const auto runs = c.map.runs();
  json out = json::array();
  for (std::size_t i = 0; i < 500; ++i) {
    const auto& run = runs[i * (runs.size() - 1) / 500];
    std::size_t start = run.output;
    std::size_t end = run.output + std::min<std::size_t>(run.len, 5);
    if (i % 10 == 9) {  // just past the run, where the generator wrote its own text
      start = run.output + run.len;
      end = start + 1;
    }
    out.push_back({{"code", 1000},
                   {"codeDescription", {{"href", "https://luau.org/lint#unknownglobal"}}},
                   {"message", "Unknown global 'x'"},
                   {"range", {{"end", position(c, end)}, {"start", position(c, start)}}},
                   {"severity", 1},
                   {"source", "Luau"}});
  }
  return out;
}

// `narrowed`: as the server places them, where what does not map whole is
// narrowed to what shows in the source (the one in ten just past a run lands
// on the pieces or the element around it); else moved as any payload is.
void BM_RemapChildDiagnostics(benchmark::State& state) {
  const bool narrowed = state.range(0) != 0;
  const Compiled& s = sample();
  const json diagnostics = child_diagnostics(*s.compiled);
  std::optional<json> moved;
  for (auto _ : state) {
    // The server hands over the message it parsed and keeps what comes back:
    // neither the copy nor freeing the result is the remap's work.
    state.PauseTiming();
    moved.reset();
    json payload = diagnostics;
    state.ResumeTiming();
    remap::Remap remap({&s.document, s.compiled, GENERATED}, remap::Direction::ToSource);
    moved = narrowed ? remap.diagnostics(std::move(payload)) : remap.value(std::move(payload));
    benchmark::DoNotOptimize(moved);
  }
  const std::size_t kept = moved ? moved->size() : 0;
  state.counters["kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_RemapChildDiagnostics)->ArgName("narrowed")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The same with the payload passed as a const reference, so the remap
// copies it first: what a caller that does not hand its message over pays.
void BM_RemapChildDiagnosticsCopied(benchmark::State& state) {
  const Compiled& s = sample();
  const json diagnostics = child_diagnostics(*s.compiled);
  std::optional<json> moved;
  for (auto _ : state) {
    state.PauseTiming();
    moved.reset();
    state.ResumeTiming();
    remap::Remap remap({&s.document, s.compiled, GENERATED}, remap::Direction::ToSource);
    moved = remap.value(diagnostics);
    benchmark::DoNotOptimize(moved);
  }
}
BENCHMARK(BM_RemapChildDiagnosticsCopied)->Unit(benchmark::kMicrosecond);

// The same while the compile is stale: the document's text differs from the
// compiled one on a line in the middle, so the two texts are compared once.
void BM_RemapChildDiagnosticsStale(benchmark::State& state) {
  const Compiled& s = sample();
  std::string text = s.document.text();
  const std::size_t middle = text.find('\n', text.size() / 2);
  text.insert(middle, " <");
  const document::Document edited(URI, text, 2);
  const json diagnostics = child_diagnostics(*s.compiled);
  std::optional<json> moved;
  for (auto _ : state) {
    state.PauseTiming();
    moved.reset();
    json payload = diagnostics;
    state.ResumeTiming();
    remap::Remap remap({&edited, s.compiled, GENERATED}, remap::Direction::ToSource);
    moved = remap.value(std::move(payload));
    benchmark::DoNotOptimize(moved);
  }
  const std::size_t kept = moved ? moved->size() : 0;
  state.counters["kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_RemapChildDiagnosticsStale)->Unit(benchmark::kMicrosecond);

// A hover's params on the way to the child, near the end of the document.
void BM_RemapHoverParams(benchmark::State& state) {
  const Compiled& s = sample();
  const auto& c = *s.compiled;
  const auto& run = c.map.runs()[c.map.runs().size() - 10];
  const auto p = s.document.index().position(s.document.text(), run.source);
  const json params = {{"position", {{"character", p.character}, {"line", p.line}}}, {"textDocument", {{"uri", URI}}}};
  for (auto _ : state) {
    remap::Remap remap({&s.document, s.compiled, GENERATED}, remap::Direction::ToOutput);
    benchmark::DoNotOptimize(remap.value(params));
  }
}
BENCHMARK(BM_RemapHoverParams)->Unit(benchmark::kMicrosecond);

}  // namespace
