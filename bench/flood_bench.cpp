// A child that floods the server with publications of diagnostics (200 each),
// log lines, or requests for the editor (which never answers them) for 15 s,
// without pause: the server's resident memory second by second (printed as a
// curve on standard error), its peak, how long a markup request and a Luau
// one asked once a second take meanwhile, and how many of the child's
// requests reached the editor.
//
// TOVIX_BENCH_SERVER names another server binary to measure (an older
// build, for a comparison in one run).

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "binary.h"
#include "lsp_process.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using tovix_lsp::testing::LspProcess;

// VmRSS or VmHWM of a process in MiB.
double status_mib(int pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0)
      return static_cast<double>(std::stol(line.substr(std::string(field).size()))) / 1024.0;
  return -1;
}

json message(const std::string& method, json params, std::optional<int> id = std::nullopt) {
  json m = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
  if (id) m["id"] = *id;
  return m;
}

void BM_ChildFlood(benchmark::State& state) {
  const char* const modes[] = {"flood-diagnostics", "flood-log", "flood-requests"};
  const char* const mode = modes[state.range(0)];
  const bool requests = state.range(0) == 2;
  const std::string server = tovix_bench::server_binary();
  const fs::path root = fs::temp_directory_path() / ("tovix-flood-" + std::to_string(std::random_device()()));
  fs::create_directories(root / "home");
  const std::string uri = "file://" + (root / "a.tovix").string();
  for (auto _ : state) {
    LspProcess lsp(server, {"--stdio"}, {{"TOVIX_STAND_IN", mode}, {"HOME", (root / "home").string()}});
    int next = 1;
    std::size_t relayed = 0;
    // Reads what comes until `wanted` (answering the server's requests).
    auto until = [&](const std::function<bool(const json&)>& wanted, std::chrono::milliseconds limit) {
      const auto deadline = Clock::now() + limit;
      while (Clock::now() < deadline) {
        auto m = lsp.receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!m) return false;
        if (m->contains("id") && m->value("method", "") == "window/workDoneProgress/create") {
          ++relayed;  // never answered
        } else if (m->contains("id") && m->contains("method")) {
          json result = nullptr;
          if ((*m)["method"] == "workspace/configuration")
            result = json::array({json::object(), {{"luauLsp", {{"path", TOVIX_STAND_IN_BINARY}}}}});
          lsp.send({{"jsonrpc", "2.0"}, {"id", (*m)["id"]}, {"result", result}});
        }
        if (wanted(*m)) return true;
      }
      return false;
    };
    lsp.send(message("initialize", {{"capabilities", json::object()}}, next++));
    until([](const json& m) { return m.contains("result"); }, std::chrono::seconds(10));
    lsp.send(message("initialized", json::object()));
    until(
        [](const json& m) {
          return m.value("method", "") == "window/logMessage" &&
                 m["params"]["message"].get<std::string>().starts_with("tovix: luau-lsp: ");
        },
        std::chrono::seconds(10));
    lsp.send(message("textDocument/didOpen", {{"textDocument",
                                               {{"uri", uri},
                                                {"languageId", "tovix"},
                                                {"version", 1},
                                                {"text", "local create = nil\nreturn <Frame Name=\"x\" />\n"}}}}));
    const double start = status_mib(lsp.pid(), "VmRSS:");
    std::vector<double> probes;
    std::vector<double> luau_probes;
    std::cerr << mode << ", RSS MiB by second:";
    for (int second = 0; second < 15; ++second) {
      const int id = next++;
      const auto asked = Clock::now();
      lsp.send(message("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}}, id));
      until([&](const json& m) { return m.value("id", json()) == id && !m.contains("method"); },
            std::chrono::seconds(30));
      probes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
      const int hover = next++;
      const auto luau_asked = Clock::now();
      lsp.send(message("textDocument/hover",
                       {{"textDocument", {{"uri", uri}}}, {"position", {{"line", 0}, {"character", 7}}}}, hover));
      until([&](const json& m) { return m.value("id", json()) == hover && !m.contains("method"); },
            std::chrono::seconds(30));
      luau_probes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - luau_asked).count());
      until([](const json&) { return false; },
            std::chrono::milliseconds(1000) -
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked));
      std::cerr << ' ' << status_mib(lsp.pid(), "VmRSS:");
    }
    std::cerr << '\n';
    state.counters["rss_start_MiB"] = start;
    state.counters["rss_end_MiB"] = status_mib(lsp.pid(), "VmRSS:");
    state.counters["rss_peak_MiB"] = status_mib(lsp.pid(), "VmHWM:");
    std::sort(probes.begin(), probes.end());
    state.counters["probe_p50_ms"] = probes[probes.size() / 2];
    state.counters["probe_max_ms"] = probes.back();
    std::sort(luau_probes.begin(), luau_probes.end());
    state.counters["luau_p50_ms"] = luau_probes[luau_probes.size() / 2];
    state.counters["luau_max_ms"] = luau_probes.back();
    if (requests) state.counters["relayed"] = static_cast<double>(relayed);
    lsp.send(message("shutdown", nullptr, next++));
    until([](const json& m) { return m.contains("result"); }, std::chrono::seconds(10));
    lsp.send(message("exit", nullptr));
    lsp.close_stdin();
    (void)lsp.wait(std::chrono::seconds(10));
  }
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_ChildFlood)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
