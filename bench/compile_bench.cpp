#include <benchmark/benchmark.h>

#include <string>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"

#if __has_include("sample.h")
#include "sample.h"
#else
#include <fmt/format.h>
#endif

namespace {

#if __has_include("sample.h")
std::string sample() { return tovix_bench::sample_tovix(10000); }
#else
// About 10,000 lines of Luau mixed with markup of every kind.
std::string sample() {
  std::string out = "--!strict\nlocal create = require(script.create)\nlocal Button = require(script.Button)\n";
  for (int i = 0; out.size() < 400'000; ++i) {
    out += fmt::format(
        "local function clamp{0}(x: number, lo: number): number\n"
        "\tif x < lo then return lo end -- below\n"
        "\treturn x\n"
        "end\n"
        "local s{0} = `item {{x}} of {{n}}` .. 'it\\'s' .. [[long <Frame/>]]\n"
        "local view{0} = <Frame Size={{UDim2.new(1, 0, 0, {0})}} Visible {{props}}>\n"
        "\t<!-- row {0} -->\n"
        "\t<UICorner CornerRadius={{UDim.new(0, 4)}}/>\n"
        "\t<TextLabel Text=\"label {0}\" LayoutOrder={{1}}/>\n"
        "\t<TextLabel>Count: {{count}} — café ✓</TextLabel>\n"
        "\t<Button Label='go' Activated={{function() open(<Frame Name=\"popup\"/>) end}}/>\n"
        "\t{{function()\n"
        "\t\treturn <TextLabel Text=\"nested\"/>\n"
        "\tend}}\n"
        "\t{{items}}\n"
        "</Frame>\n"
        "local pair{0} = <><Frame/>{{a}}</>\n"
        "\n",
        i);
  }
  return out;
}
#endif

void BM_CompileSample(benchmark::State& state) {
  const std::string source = sample();
  const tovix::backend::vide::Vide vide;
  auto first = tovix::compile::compile_recovering(source, vide, tovix::config::Config{});
  if (!first) {
    state.SkipWithError(first.error().message.c_str());
    return;
  }
  state.counters["errors"] = static_cast<double>(first->errors.size());
  for (auto _ : state) {
    auto compiled = tovix::compile::compile_recovering(source, vide, tovix::config::Config{});
    benchmark::DoNotOptimize(compiled);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
  state.SetLabel(std::to_string(source.size()) + " bytes");
}
BENCHMARK(BM_CompileSample)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
