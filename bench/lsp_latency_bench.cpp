// Keystroke latency over stdio: the built tovix-lsp is driven like an editor
// and each single-character edit is timed until its diagnostics arrive.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "binary.h"
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
    tovix_lsp::testing::LspProcess lsp(tovix_bench::server_binary(), {"--stdio"});
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

// An editor that sends edits faster than they can be analysed: 10,000
// single-character edits to a 2,000-line document are written as fast as the
// pipe takes them, then one request. `answer_ms` is how long after the last
// edit was written its answer came. With argument 1 the document's tags are
// misspelt, so that each analysis has hundreds of diagnostics with
// suggestions to compute and publish.
void BM_PipelinedEdits(benchmark::State& state) {
  const std::string uri = "file:///tmp/tovix-bench/pipelined.tovix";
  std::string text = tovix_bench::sample_tovix(2000);
  if (state.range(0) == 1) {
    for (auto [name, typo] :
         {std::pair{"TextLabel", "Txtlabel"}, std::pair{"Frame", "Frme"}, std::pair{"TextButton", "TxtButton"},
          std::pair{"UIListLayout", "UIListLayot"}, std::pair{"ImageLabel", "ImgLabel"},
          std::pair{"UIPadding", "UIPading"}, std::pair{"UICorner", "UICornr"}, std::pair{"UIStroke", "UIStrke"}}) {
      const std::string_view from = name, to = typo;
      for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    }
  }
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  auto frame = [](const json& message) {
    std::string body = message.dump();
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  std::string edits;
  for (int i = 0; i < 10000; ++i) {
    int line = static_cast<int>((lines / 4) + static_cast<std::size_t>(i) * 7 % (lines / 2));
    json position = {{"line", line}, {"character", 0}};
    json change = {{"range", {{"start", position}, {"end", position}}}, {"text", " "}};
    edits +=
        frame({{"jsonrpc", "2.0"},
               {"method", "textDocument/didChange"},
               {"params",
                {{"textDocument", {{"uri", uri}, {"version", i + 2}}}, {"contentChanges", json::array({change})}}}});
  }
  const std::string request = frame({{"jsonrpc", "2.0"}, {"id", "after"}, {"method", "tovix/probe"}});
  for (auto _ : state) {
    tovix_lsp::testing::LspProcess lsp(TOVIX_LSP_BINARY, {"--stdio"});
    lsp.send({{"jsonrpc", "2.0"},
              {"method", "textDocument/didOpen"},
              {"params", {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", text}}}}}});
    auto opened = lsp.receive(std::chrono::seconds(60));
    if (!opened) {
      state.SkipWithError("no diagnostics after opening");
      return;
    }
    const auto diagnostics = (*opened)["params"]["diagnostics"].size();
    Clock::time_point last_edit;
    std::thread writer([&] {
      lsp.send_raw(edits);
      last_edit = Clock::now();
      lsp.send_raw(request);
    });
    std::size_t publishes = 0;
    auto answer = lsp.receive_until(
        [&](const json& m) {
          if (m.value("method", "") == "textDocument/publishDiagnostics") ++publishes;
          return m.contains("id") && m["id"] == "after";
        },
        nullptr, std::chrono::seconds(600));
    const auto answered = Clock::now();
    writer.join();
    if (!answer) {
      state.SkipWithError("the request after the edits was not answered");
      return;
    }
    state.counters["answer_ms"] = std::chrono::duration<double, std::milli>(answered - last_edit).count();
    state.counters["diagnostics"] = static_cast<double>(diagnostics);
    state.counters["publishes"] = static_cast<double>(publishes);
    lsp.close_stdin();
    lsp.wait();
  }
}
BENCHMARK(BM_PipelinedEdits)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
