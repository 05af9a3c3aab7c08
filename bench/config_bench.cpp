#include <benchmark/benchmark.h>

#include <string>

#include "tovix/config/config.h"

namespace {

using tovix::config::Config;

// A file that uses every table, as a project would.
constexpr const char* FULL = R"toml(
[elements]
all = "snake_case"
Frame = "Box"
TextLabel = "Label"
[properties]
all = "camelCase"
Size = "dimensions"
[properties.TextButton]
Text = "caption"
MouseButton1Click = "onClick"
[lints]
static_conditional_child = "error"
[factory]
create = "vide.create"
[build]
in = "src"
out = "out"
)toml";

void BM_ParseReporting(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Config::parse_reporting(FULL));
}
BENCHMARK(BM_ParseReporting)->Unit(benchmark::kMicrosecond);

// Under a casing every creatable class without an alias is converted per call.
void BM_ResolveElementCased(benchmark::State& state) {
  const Config config = *Config::parse_reporting(FULL);
  for (auto _ : state) benchmark::DoNotOptimize(config.resolve_element("ui_list_layout"));
}
BENCHMARK(BM_ResolveElementCased)->Unit(benchmark::kMicrosecond);

// The merged renames are built and the class chain's members converted per call.
void BM_ResolvePropertyCased(benchmark::State& state) {
  const Config config = *Config::parse_reporting(FULL);
  for (auto _ : state) benchmark::DoNotOptimize(config.resolve_property("TextButton", "backgroundColor3"));
}
BENCHMARK(BM_ResolvePropertyCased)->Unit(benchmark::kMicrosecond);

void BM_CasingApply(benchmark::State& state) {
  const tovix::config::Casing snake = tovix::config::Casing::SnakeCase;
  for (auto _ : state) benchmark::DoNotOptimize(snake.apply("Index1TposeAdjustment"));
}
BENCHMARK(BM_CasingApply);

}  // namespace
