// Start-up with the real Roblox type files in the luau-lsp extension's
// storage: the editor answers the server's configuration request and, in the
// same write, asks 32 cheap markup questions (hover, document symbols) and
// `shutdown`. How long each answer takes from that write: the longest
// (`wait_max_ms`, also the iteration's time) and the median
// (`wait_p50_ms`), over every iteration's answers; `rich` is the share of
// the hovers answered with the facts. Each iteration is a new server (the
// facts are read once a process).
//
// TOVIX_BENCH_SERVER names another server binary to measure (an older
// build, for a comparison in one run).

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "binary.h"
#include "lsp_process.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using tovix_lsp::testing::LspProcess;

const fs::path ROBLOX = TOVIX_ROBLOX_DATA;
constexpr int QUESTIONS = 32;
constexpr int FIRST_QUESTION = 100;
constexpr int SHUTDOWN = FIRST_QUESTION + QUESTIONS;

// A temporary home whose luau-lsp extension storage holds the Roblox type
// files, an empty PATH folder (no luau-lsp to start) and a document.
struct Folders {
  Folders() {
    root = fs::temp_directory_path() / ("tovix-startup-" + std::to_string(std::random_device()()));
    fs::create_directories(root / "bin");
    const fs::path storage = root / "home/.config/Code/User/globalStorage/johnnymorganz.luau-lsp";
    fs::create_directories(storage);
    for (const char* file : {"globalTypes.PluginSecurity.d.luau", "api-docs.json"})
      fs::create_symlink(ROBLOX / file, storage / file);
  }
  ~Folders() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
};

const std::string TEXT = "local create = nil\nreturn <TextLabel TextSize={1} />\n";

json message(const std::string& method, json params, std::optional<int> id = std::nullopt) {
  json m = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
  if (id) m["id"] = *id;
  return m;
}

std::string framed(const json& m) {
  const std::string body = m.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A server started, initialised, with the document open and compiled, and
// its configuration request waiting for an answer (its id).
struct Started {
  Started(const std::string& server, const Folders& folders)
      : lsp(server, {"--stdio"},
            {{"HOME", (folders.root / "home").string()}, {"PATH", (folders.root / "bin").string()}}),
        uri("file://" + (folders.root / "a.tovix").string()) {
    lsp.send(message("initialize", {{"capabilities", json::object()}}, 1));
    ok = lsp.receive_until([](const json& m) { return m.value("id", json()) == 1; }).has_value();
    lsp.send(message("textDocument/didOpen",
                     {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", TEXT}}}}));
    ok = ok &&
         lsp.receive_until([](const json& m) { return m.value("method", "") == "textDocument/publishDiagnostics"; });
    lsp.send(message("initialized", json::object()));
    auto request = lsp.receive_until([](const json& m) { return m.value("method", "") == "workspace/configuration"; });
    ok = ok && request;
    if (request) configuration = (*request)["id"];
  }

  json hover(int id) const {
    return message("textDocument/hover",
                   {{"textDocument", {{"uri", uri}}}, {"position", {{"line", 1}, {"character", 21}}}}, id);
  }

  void stop() {
    lsp.send(message("exit", nullptr));
    lsp.close_stdin();
    lsp.wait();
  }

  LspProcess lsp;
  std::string uri;
  json configuration;
  bool ok = false;
};

bool rich(const json& answer) {
  const json* value = nullptr;
  if (answer.contains("result") && answer["result"].is_object()) value = &answer["result"]["contents"]["value"];
  return value && value->is_string() && value->get<std::string>().find("TextSize: number") != std::string::npos;
}

void BM_StartupWaits(benchmark::State& state) {
  const std::string server = tovix_bench::server_binary();
  if (!fs::exists(ROBLOX / "globalTypes.PluginSecurity.d.luau")) {
    state.SkipWithError("no Roblox type files");
    return;
  }
  Folders folders;
  // The files are found and read: a hover turns rich in the end.
  {
    Started s(server, folders);
    s.lsp.send({{"jsonrpc", "2.0"}, {"id", s.configuration}, {"result", json::array({json::object(), nullptr})}});
    bool installed = false;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (int id = 2; !installed && s.ok && Clock::now() < deadline; ++id) {
      s.lsp.send(s.hover(id));
      auto answer =
          s.lsp.receive_until([&](const json& m) { return m.value("id", json()) == id && !m.contains("method"); });
      installed = answer && rich(*answer);
      if (!installed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    s.stop();
    if (!installed) {
      state.SkipWithError("the Roblox facts were never installed");
      return;
    }
  }

  std::vector<double> waits;
  int hovers = 0, rich_hovers = 0;
  for (auto _ : state) {
    Started s(server, folders);
    if (!s.ok) {
      state.SkipWithError("the server did not start");
      return;
    }
    std::string burst =
        framed({{"jsonrpc", "2.0"}, {"id", s.configuration}, {"result", json::array({json::object(), nullptr})}});
    for (int i = 0; i < QUESTIONS; ++i) {
      const int id = FIRST_QUESTION + i;
      burst += framed(i % 2 == 0 ? s.hover(id)
                                 : message("textDocument/documentSymbol", {{"textDocument", {{"uri", s.uri}}}}, id));
    }
    burst += framed(message("shutdown", nullptr, SHUTDOWN));
    const auto written = Clock::now();
    s.lsp.send_raw(burst);
    double longest = 0;
    for (int answered = 0; answered <= QUESTIONS;) {
      auto m = s.lsp.receive();
      if (!m) {
        state.SkipWithError("an answer never came");
        return;
      }
      const int id = m->value("id", 0);
      if (m->contains("method") || id < FIRST_QUESTION || id > SHUTDOWN) continue;
      const double wait = std::chrono::duration<double, std::milli>(Clock::now() - written).count();
      waits.push_back(wait);
      longest = std::max(longest, wait);
      ++answered;
      if (id < SHUTDOWN && (id - FIRST_QUESTION) % 2 == 0) {
        ++hovers;
        rich_hovers += rich(*m) ? 1 : 0;
      }
    }
    state.SetIterationTime(longest / 1000.0);
    s.stop();
  }
  std::sort(waits.begin(), waits.end());
  state.counters["wait_max_ms"] = waits.back();
  state.counters["wait_p50_ms"] = waits[waits.size() / 2];
  state.counters["rich"] = hovers > 0 ? static_cast<double>(rich_hovers) / hovers : 0;
}

BENCHMARK(BM_StartupWaits)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
