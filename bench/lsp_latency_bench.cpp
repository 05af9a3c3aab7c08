// Keystroke latency over stdio: the built tovix-lsp is driven like an editor
// and each single-character edit is timed until its diagnostics arrive.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "lsp_process.h"
#include "sample.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// Peak resident set of a process in KiB, from /proc.
long peak_rss_kib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

void BM_KeystrokeToDiagnostics(benchmark::State& state) {
  const std::string uri = "file:///tmp/tovix-bench/latency.tovix";
  const std::string text = tovix_bench::sample_tovix(2000);
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  for (auto _ : state) {
    tovix_lsp::testing::LspProcess lsp(TOVIX_LSP_BINARY, {"--stdio"});
    auto is_diagnostics = [&](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == uri;
    };
    lsp.send({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", json::object()}});
    lsp.receive();
    lsp.send({{"jsonrpc", "2.0"},
              {"method", "textDocument/didOpen"},
              {"params", {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", text}}}}}});
    lsp.receive_until(is_diagnostics);

    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
      // Type a blank at the start of a line in the middle of the document,
      // spread over 200 different lines.
      int line = static_cast<int>((lines / 4) + static_cast<std::size_t>(i) * 5 % (lines / 2));
      json position = {{"line", line}, {"character", 0}};
      auto start = Clock::now();
      json change = {{"range", {{"start", position}, {"end", position}}}, {"text", " "}};
      json params = {{"textDocument", {{"uri", uri}, {"version", i + 2}}}, {"contentChanges", json::array({change})}};
      lsp.send({{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"}, {"params", std::move(params)}});
      if (!lsp.receive_until(is_diagnostics)) {
        state.SkipWithError("no diagnostics after an edit");
        return;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["peak_rss_MiB"] = static_cast<double>(peak_rss_kib(lsp.pid())) / 1024.0;
    lsp.close_stdin();
    lsp.wait();
  }
}
BENCHMARK(BM_KeystrokeToDiagnostics)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
