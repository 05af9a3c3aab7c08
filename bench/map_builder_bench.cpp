#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "sample.h"
#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "workspace/map_builder.h"

// Every allocation of the benchmark binary is counted, so that a benchmark
// can show that its loop allocates nothing.
namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }

namespace {

// The compiled sample: the texts that the analysis hands to the builder.
struct Compiled {
  std::string source;
  std::string output;
  tovix::compile::Compiled result;  // with what the compile read on its way
};

const Compiled& compiled_sample() {
  static const Compiled sample = [] {
    Compiled c;
    c.source = tovix_bench::sample_tovix(10000);
    auto result = tovix::compile::compile_recovering(c.source, tovix::backend::vide::Vide{}, {});
    if (!result) std::abort();
    c.output = result->code;
    c.result = std::move(*result);
    return c;
  }();
  return sample;
}

// Building the source map of the 10,000-line sample from its two texts.
void BM_MapBuild(benchmark::State& state) {
  const Compiled& sample = compiled_sample();
  const tovix::config::Config config;
  std::size_t runs = 0;
  for (auto _ : state) {
    auto map = tovix_lsp::map_builder::build(sample.source, sample.output, config);
    runs = map.runs().size();
    benchmark::DoNotOptimize(map);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.source.size()));
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_MapBuild)->Unit(benchmark::kMillisecond);

// The same from the markup and bindings the compile already found, as the
// analysis builds it.
void BM_MapBuildFromCompile(benchmark::State& state) {
  const Compiled& sample = compiled_sample();
  const tovix::config::Config config;
  std::size_t runs = 0;
  for (auto _ : state) {
    auto map = tovix_lsp::map_builder::build(sample.source, sample.output, config, sample.result.markup,
                                             sample.result.bindings);
    runs = map.runs().size();
    benchmark::DoNotOptimize(map);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.source.size()));
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_MapBuildFromCompile)->Unit(benchmark::kMillisecond);

// 1,000 lookups each way spread over the sample, through every kind of
// lookup.
void BM_MapLookups(benchmark::State& state) {
  const Compiled& sample = compiled_sample();
  const auto map = tovix_lsp::map_builder::build(sample.source, sample.output, {});
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 1000; ++i) offsets.push_back(i * (sample.source.size() / 1000) + 17);
  std::size_t found = 0;
  const std::size_t before = allocations.load();
  for (auto _ : state) {
    for (const std::size_t offset : offsets) {
      found += map.to_output(offset).has_value();
      found += map.to_output_end(offset).has_value();
      found += map.to_source(offset).has_value();
      found += map.to_output_range(offset, offset + 4).has_value();
    }
  }
  const std::size_t allocated = allocations.load() - before;
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * 4000);
  state.counters["allocations"] = static_cast<double>(allocated);
}
BENCHMARK(BM_MapLookups)->Unit(benchmark::kMicrosecond);

}  // namespace
