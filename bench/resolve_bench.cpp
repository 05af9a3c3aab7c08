#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

#include "config.h"
#include "resolve.h"

namespace {

// About `lines` lines of plain Luau in the shape of a UI module: requires,
// local functions with parameters, loops, branches, method declarations,
// table constructors, assignments and type aliases, with blanked markup
// ("nil" and blanks) where components would return their trees.
std::string luau_module(std::size_t lines) {
  std::string text = "--!strict\nlocal vide = require(script.Parent.vide)\nlocal create = vide.create\n";
  std::size_t written = 3;
  for (std::size_t i = 0; written < lines; ++i) {
    std::string n = std::to_string(i);
    text += "type Props" + n + " = { title: string, count: number?, onClick: (() -> ())? }\n";
    text += "local function Card" + n + "(props: Props" + n + ", ...)\n";
    text += "  local total, label = 0, props.title\n";
    text += "  for index, item in ipairs(props.items or {}) do\n";
    text += "    if item.visible and index % 2 == 0 then total += item.size else total -= 1 end\n";
    text += "  end\n";
    text += "  for k = 1, #label do label = label .. string.rep(\"-\", k) end\n";
    text += "  local style = { color = Color3.fromRGB(255, 0, 0), pad = UDim.new(0, 8) }\n";
    text += "  return nil                                          \n";
    text += "end\n";
    text += "function M" + n + ".render(self, state) state.count = (state.count or 0) + 1 end\n";
    text += "function M" + n + ":update(delta: number) self.t = self.t + delta end\n";
    text += "cache" + n + ", seen" + n + " = {}, {}\n";
    text += "\n";
    written += 14;
  }
  return text;
}

void BM_ResolverBindings(benchmark::State& state) {
  std::size_t lines = static_cast<std::size_t>(state.range(0));
  std::string source = luau_module(lines);
  for (auto _ : state) {
    tovix::resolve::Resolver resolver(source, tovix::config::Config{});
    benchmark::DoNotOptimize(resolver.bindings.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_ResolverBindings)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
