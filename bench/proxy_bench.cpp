// Starting the real luau-lsp: from Proxy::spawn to its answer to initialize,
// and how much of that is this process's own work (CPU time of all its
// threads: starting the process and the reader thread, writing the request,
// reading and parsing the answer), the rest being luau-lsp's start-up.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "core/proxy.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace proxy = tovix_lsp::proxy;

double cpu_ms() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BM_SpawnToInitializeAnswer(benchmark::State& state) {
  const std::filesystem::path luau_lsp = TOVIX_LUAU_LSP;
  const std::string roblox = TOVIX_ROBLOX_DATA;
  if (!std::filesystem::exists(luau_lsp)) {
    state.SkipWithError("the real luau-lsp is absent");
    return;
  }
  const std::vector<std::string> args = {"--stdio", "--definitions=" + roblox + "/globalTypes.PluginSecurity.d.luau",
                                         "--docs=" + roblox + "/api-docs.json"};
  const json params = {{"processId", ::getpid()},
                       {"rootUri", nullptr},
                       {"capabilities", {{"workspace", {{"configuration", true}}}}}};
  std::vector<double> total, own, spawn, request;
  for (auto _ : state) {
    auto [sender, receiver] = tovix_lsp::events::Events::make();
    const double cpu_start = cpu_ms();
    const auto start = Clock::now();
    auto child = proxy::Proxy::spawn(luau_lsp, args, sender);
    const double spawned = ms_since(start);
    if (!child) {
      state.SkipWithError(child.error().message.c_str());
      return;
    }
    auto before_request = Clock::now();
    if (!child->request("initialize", params)) {
      state.SkipWithError("could not write initialize");
      return;
    }
    const double requested = ms_since(before_request);
    bool answered = false;
    while (!answered) {
      auto event = receiver.receive();
      if (event && std::holds_alternative<tovix_lsp::events::ChildPublished>(*event)) continue;
      auto* message = event ? std::get_if<tovix_lsp::events::Child>(&*event) : nullptr;
      if (!message) {
        state.SkipWithError("luau-lsp ended before answering");
        return;
      }
      answered = message->value.contains("id") && message->value["id"] == 1 && !message->value.contains("method");
    }
    const double elapsed = ms_since(start);
    own.push_back(cpu_ms() - cpu_start);
    total.push_back(elapsed);
    spawn.push_back(spawned);
    request.push_back(requested);
    state.SetIterationTime(elapsed / 1e3);
    child->shutdown();
  }
  // Medians: the first start of a run pays for cold caches.
  state.counters["p50_total_ms"] = median(total);
  state.counters["p50_own_cpu_ms"] = median(own);
  state.counters["p50_spawn_call_ms"] = median(spawn);
  state.counters["p50_request_call_ms"] = median(request);
}
BENCHMARK(BM_SpawnToInitializeAnswer)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
