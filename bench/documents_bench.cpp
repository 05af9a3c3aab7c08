// Costs that could grow with the square of the open documents: with N
// documents open and the stand-in as the child,
// - a publication of the child's for each of them (asked for by one hover:
//   the stand-in's script publishes about every generated file after it),
//   until the editor has all N;
// - a references answer of the child's naming all N generated files, until
//   the editor has it moved into the sources.
// TOVIX_BENCH_BASELINE names an older server binary, measured in the same
// run after the current one ("before_ms"), for a side-by-side comparison.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "lsp_process.h"
#include "workspace/project.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using tovix_lsp::testing::LspProcess;

constexpr auto PATIENCE = std::chrono::seconds(300);
const char* const TEXT = "local create = nil\nlocal value = 1\nreturn <Frame Name=\"x\" />\n";

json message(const std::string& method, json params, std::optional<int> id = std::nullopt) {
  json m = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
  if (id) m["id"] = *id;
  return m;
}

// A project of N documents, and the stand-in's script for them.
struct Project {
  explicit Project(std::size_t n) {
    root = fs::temp_directory_path() / ("tovix-documents-" + std::to_string(std::random_device()()));
    fs::create_directories(root / "project");
    fs::create_directories(root / "home");
    const json range = {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 5}}}};
    json publications = json::array();
    json locations = json::array();
    for (std::size_t i = 0; i < n; ++i) {
      const fs::path source = root / "project" / ("d" + std::to_string(i) + ".tovix");
      uris.push_back(tovix_lsp::project::path_to_uri(source));
      const std::string generated = tovix_lsp::project::path_to_uri(fs::path(source).replace_extension(".luau"));
      publications.push_back(
          message("textDocument/publishDiagnostics",
                  {{"uri", generated},
                   {"diagnostics", {{{"range", range}, {"severity", 1}, {"message", "stand-in diagnostic"}}}}}));
      locations.push_back({{"uri", generated}, {"range", range}});
    }
    std::ofstream(root / "script.json") << json{{"on", {{"textDocument/hover", publications}}},
                                                {"results", {{"textDocument/references", locations}}}}
                                               .dump();
  }
  ~Project() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  std::vector<std::string> uris;
};

// One server with every document of `project` open in its child.
struct Session {
  Session(const std::string& binary, const Project& project)
      : lsp(binary, {"--stdio"},
            {{"HOME", (project.root / "home").string()},
             {"TOVIX_STAND_IN_SCRIPT", (project.root / "script.json").string()}}) {
    lsp.send(message("initialize",
                     {{"processId", nullptr},
                      {"rootUri", tovix_lsp::project::path_to_uri(project.root / "project")},
                      {"capabilities", {{"workspace", {{"configuration", true}}}}}},
                     next++));
    ready = until([](const json& m) { return m.contains("result"); }).has_value();
    lsp.send(message("initialized", json::object()));
    ready = ready && until([](const json& m) {
                       return m.value("method", "") == "window/logMessage" &&
                              m["params"]["message"].get<std::string>().starts_with("tovix: luau-lsp: ");
                     }).has_value();
    for (const std::string& uri : project.uris)
      lsp.send(message("textDocument/didOpen",
                       {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", TEXT}}}}));
    // Everything opened is in once a request sent after it is answered.
    ready = ready && ask("textDocument/documentSymbol", {{"textDocument", {{"uri", project.uris.back()}}}});
  }

  // Reads until `wanted` (answering the server's requests on the way).
  std::optional<json> until(const std::function<bool(const json&)>& wanted) {
    const auto deadline = Clock::now() + PATIENCE;
    while (Clock::now() < deadline) {
      auto m = lsp.receive(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      if (!m) return std::nullopt;
      if (m->contains("id") && m->contains("method")) {
        json result = nullptr;
        if ((*m)["method"] == "workspace/configuration")
          result = json::array({json::object(), {{"luauLsp", {{"path", TOVIX_STAND_IN_BINARY}}}}});
        lsp.send({{"jsonrpc", "2.0"}, {"id", (*m)["id"]}, {"result", result}});
      }
      if (wanted(*m)) return m;
    }
    return std::nullopt;
  }

  std::optional<json> ask(const std::string& method, json params) {
    const int id = next++;
    lsp.send(message(method, std::move(params), id));
    return until([&](const json& m) { return !m.contains("method") && m.value("id", json()) == id; });
  }

  // The time until the editor has a publication of the child's about every
  // document, in ms; none when they do not all come.
  std::optional<double> publications(const Project& project) {
    const auto start = Clock::now();
    if (!ask("textDocument/hover", at(project))) return std::nullopt;
    std::size_t seen = 0;
    const auto all = until([&](const json& m) {
      if (m.value("method", "") != "textDocument/publishDiagnostics") return false;
      for (const json& d : m["params"]["diagnostics"])
        if (d.value("message", "") == "stand-in diagnostic") return ++seen == project.uris.size();
      return false;
    });
    if (!all) return std::nullopt;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  // The time until the references answer naming every document is in, in
  // ms; none when it does not name them all.
  std::optional<double> references(const Project& project) {
    const auto start = Clock::now();
    json params = at(project);
    params["context"] = {{"includeDeclaration", true}};
    const auto answer = ask("textDocument/references", std::move(params));
    if (!answer || !(*answer)["result"].is_array() || (*answer)["result"].size() != project.uris.size())
      return std::nullopt;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  static json at(const Project& project) {
    return {{"textDocument", {{"uri", project.uris.front()}}}, {"position", {{"line", 1}, {"character", 7}}}};
  }

  void stop() {
    (void)ask("shutdown", nullptr);
    lsp.send(message("exit", nullptr));
    lsp.close_stdin();
    (void)lsp.wait(std::chrono::seconds(10));
  }

  LspProcess lsp;
  int next = 1;
  bool ready = false;
};

void many_documents(benchmark::State& state, bool references) {
  const char* baseline_env = std::getenv("TOVIX_BENCH_BASELINE");
  const std::string baseline = baseline_env && *baseline_env ? baseline_env : "";
  const Project project(static_cast<std::size_t>(state.range(0)));
  const auto measure = [&](const std::string& binary) -> std::optional<double> {
    Session session(binary, project);
    if (!session.ready) return std::nullopt;
    auto ms = references ? session.references(project) : session.publications(project);
    session.stop();
    return ms;
  };
  for (auto _ : state) {
    const auto ms = measure(TOVIX_LSP_BINARY);
    if (!ms) {
      state.SkipWithError("the server did not answer about every document");
      return;
    }
    state.counters["ms"] = *ms;
    if (!baseline.empty()) {
      if (const auto before = measure(baseline)) {
        state.counters["before_ms"] = *before;
        state.counters["speedup"] = *before / *ms;
      } else {
        state.counters["before_failed"] = 1;
      }
    }
  }
}

void BM_PublicationForEachOpenDocument(benchmark::State& state) { many_documents(state, false); }
void BM_ReferencesNamingEveryOpenDocument(benchmark::State& state) { many_documents(state, true); }

// Both at 300, 1,000 and 3,000 open documents, once each.
void document_counts(benchmark::internal::Benchmark* b) {
  b->ArgName("documents")->Arg(300)->Arg(1000)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PublicationForEachOpenDocument)->Apply(document_counts);
BENCHMARK(BM_ReferencesNamingEveryOpenDocument)->Apply(document_counts);

}  // namespace
