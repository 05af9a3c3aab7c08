#include <benchmark/benchmark.h>

#include <string_view>

#include "tovix/roblox/roblox.h"

namespace {

// Typical misspellings, a name that matches nothing, a long one and the
// empty text: the whole table is walked for each.
constexpr std::string_view QUERIES[] = {
    "BackgroundColour3", "Sise", "TextSizee", "Qqqqqqqq", "MouseButton1Clik", "", "AutomaticCanvasSizeX", "Trasparency",
};

void BM_ClosestMemberAnywhere(benchmark::State& state) {
  std::string_view query = QUERIES[state.range(0)];
  state.SetLabel(query.empty() ? "(empty)" : std::string(query));
  for (auto _ : state) benchmark::DoNotOptimize(tovix::roblox::closest_member_anywhere(query));
}
BENCHMARK(BM_ClosestMemberAnywhere)->DenseRange(0, std::size(QUERIES) - 1)->Unit(benchmark::kMicrosecond);

void BM_ClosestClass(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tovix::roblox::closest_class("TextLable"));
}
BENCHMARK(BM_ClosestClass)->Unit(benchmark::kMicrosecond);

void BM_ClosestMembers(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tovix::roblox::closest_members("TextButton", "MouseButton1Clik"));
}
BENCHMARK(BM_ClosestMembers)->Unit(benchmark::kMicrosecond);

void BM_Lookup(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tovix::roblox::has_property("TextLabel", "Sandboxed"));
}
BENCHMARK(BM_Lookup);

}  // namespace
