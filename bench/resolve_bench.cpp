#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sample.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "tovix/resolve.h"

namespace {

// The shared sample with its markup blanked, as the compiler hands it over.
std::string blanked_sample(std::size_t lines) {
  std::string source = tovix_bench::sample_tovix(lines);
  auto spans = tovix::compile::tovix_spans(source);
  std::vector<tovix::resolve::Region> regions;
  if (spans) regions.assign(spans->begin(), spans->end());
  return tovix::resolve::blank_tovix_regions(source, regions);
}

void BM_ResolverBindings(benchmark::State& state) {
  std::size_t lines = static_cast<std::size_t>(state.range(0));
  std::string blanked = blanked_sample(lines);
  for (auto _ : state) {
    tovix::resolve::Resolver resolver(blanked, tovix::config::Config{});
    benchmark::DoNotOptimize(resolver.bindings.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blanked.size()));
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_ResolverBindings)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_BlankSample(benchmark::State& state) {
  std::string source = tovix_bench::sample_tovix(10000);
  auto spans = tovix::compile::tovix_spans(source);
  std::vector<tovix::resolve::Region> regions;
  if (spans) regions.assign(spans->begin(), spans->end());
  for (auto _ : state) benchmark::DoNotOptimize(tovix::resolve::blank_tovix_regions(source, regions));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_BlankSample)->Unit(benchmark::kMicrosecond);

}  // namespace
