// Inputs whose cost could grow faster than their size, each at two sizes ten
// times apart: many diagnostics on one line, a URI of many path segments,
// huge `tovix.toml` files and huge message bodies. Time should grow about
// tenfold from one size to the next.

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include <benchmark/benchmark.h>

#include "core/io.h"
#include "core/requests.h"
#include "core/server.h"
#include "core/sync.h"
#include "features/semantic_tokens.h"
#include "features/symbols.h"
#include "tovix/config/config.h"
#include "workspace/project.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace tovix_lsp;

const fs::path DIR = fs::temp_directory_path() / "tovix-bench-costs";

// Opens `text` under `uri` in a fresh in-process server (no child) and, with
// `hover`, asks for a hover at the start of its second line: compile,
// diagnostics with their "data", publication, and the project lookup.
void open_in_server(benchmark::State& state, const std::string& uri, const std::string& text, bool hover) {
  std::size_t written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    io::StringOutput out;
    auto channel = events::Events::make();
    auto server = std::make_unique<server::Server>(out, channel.first);
    state.ResumeTiming();
    sync::did_open(*server, {uri, text, 1});
    if (hover) {
      json params = {{"textDocument", {{"uri", uri}}}, {"position", {{"line", 1}, {"character", 8}}}};
      benchmark::DoNotOptimize(requests::hover(*server, 1, std::move(params)));
    }
    state.PauseTiming();
    written = out.data.size();
    server.reset();
    state.ResumeTiming();
  }
  state.counters["written_bytes"] = static_cast<double>(written);
}

// One element with N attributes that no class has, on one line.
void BM_OpenUnknownAttributes(benchmark::State& state) {
  std::string text = "local create = require(x)\nreturn <Frame";
  for (std::int64_t i = 0; i < state.range(0); ++i) text += " Zq" + std::to_string(i) + "={1}";
  text += "/>\n";
  open_in_server(state, project::path_to_uri(DIR / "attributes.tovix"), text, false);
}
BENCHMARK(BM_OpenUnknownAttributes)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// N misspelt tags on one line ("line:0"), or each on its own line.
void BM_OpenMisspeltTags(benchmark::State& state) {
  const char* const sep = state.range(1) == 0 ? "" : "\n";
  std::string text = "local create = require(x)\nreturn <Frame>";
  for (std::int64_t i = 0; i < state.range(0); ++i) text += sep + ("<Fram" + std::to_string(i) + "/>");
  text += "</Frame>\n";
  open_in_server(state, project::path_to_uri(DIR / "tags.tovix"), text, false);
}
BENCHMARK(BM_OpenMisspeltTags)
    ->ArgNames({"", "lines"})
    ->Args({2000, 0})
    ->Args({20000, 0})
    ->Args({20000, 1})
    ->Unit(benchmark::kMillisecond);

// The outline and the semantic tokens of N elements on one line.
void BM_OutlineOfOneLine(benchmark::State& state) {
  std::string text = "local create = require(x)\nreturn <Frame>";
  for (std::int64_t i = 0; i < state.range(0); ++i) text += "<TextLabel Text=\"é\"/>";
  text += "</Frame>\n";
  const document::Document doc("file:///tmp/bench/outline.tovix", text, 1);
  const project::Project project = project::Project::bare("/tmp/bench");
  for (auto _ : state) {
    benchmark::DoNotOptimize(symbols::serialized(doc, nullptr));
    benchmark::DoNotOptimize(semantic_tokens::tokens(doc, project, nullptr));
  }
}
BENCHMARK(BM_OutlineOfOneLine)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

// A document whose URI has N path segments: its project is found, its
// generated URI made, and one hover asked.
void BM_OpenLongUri(benchmark::State& state) {
  std::string uri = "file://" + DIR.native();
  for (std::int64_t i = 0; i < state.range(0); ++i) uri += "/a";
  uri += "/x.tovix";
  open_in_server(state, uri, "local create = require(x)\nreturn <Frame/>\n", true);
  state.counters["uri_bytes"] = static_cast<double>(uri.size());
}
BENCHMARK(BM_OpenLongUri)->Arg(1600)->Arg(16000)->Unit(benchmark::kMillisecond);

// Discovery of a project whose `tovix.toml` is written by `fill` (which
// gets the file's path): the load the server does on first use and again at
// every change of the file.
template <typename Fill>
void discover_with(benchmark::State& state, const char* name, Fill fill) {
  const fs::path dir = DIR / name;
  fs::create_directories(dir);
  fill(dir / "tovix.toml");
  for (auto _ : state) benchmark::DoNotOptimize(project::Project::discover(dir / "a.tovix"));
  fs::remove_all(dir);
}

// A sparse file of N MiB: no block written, so only its reading costs.
void BM_SparseSettingsFile(benchmark::State& state) {
  discover_with(state, "sparse", [&](const fs::path& file) {
    std::ofstream(file, std::ios::binary).close();
    fs::resize_file(file, static_cast<std::uintmax_t>(state.range(0)) << 20);
  });
}
BENCHMARK(BM_SparseSettingsFile)->Arg(100)->Arg(1024)->Iterations(1)->Unit(benchmark::kMillisecond);

// A settings file of N MB of real TOML: a long `include` list.
void BM_LargeSettingsFile(benchmark::State& state) {
  discover_with(state, "large", [&](const fs::path& file) {
    std::string text = "[build]\ninclude = [\n";
    const auto size = static_cast<std::size_t>(state.range(0)) * 1000000;
    for (std::size_t i = 0; text.size() < size; ++i) text += "  \"src/generated/part" + std::to_string(i) + "/**\",\n";
    text += "]\n";
    std::ofstream(file, std::ios::binary) << text;
  });
}
BENCHMARK(BM_LargeSettingsFile)->Arg(5)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond);

// One framed body through the editor reader, as the server reads stdin:
// framing, parsing (or refusing) and the event to the main thread.
void read_body(benchmark::State& state, const std::string& body) {
  const std::string input = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  for (auto _ : state) {
    auto [sender, receiver] = events::Events::make();
    io::StringInput in(input);
    server::read_editor(in, sender);
    while (auto event = receiver.receive_if([](const events::Event&) { return true; })) benchmark::DoNotOptimize(event);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

// A didOpen whose text is N MB of Luau lines.
void BM_ReadDocumentBody(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0)) * 1000000;
  std::string text;
  while (text.size() < size) text += "local a = 1 -- some comment here\n";
  const json body = {{"jsonrpc", "2.0"},
                     {"method", "textDocument/didOpen"},
                     {"params", {{"textDocument", {{"uri", "file:///tmp/x.tovix"}, {"version", 1}, {"text", text}}}}}};
  read_body(state, body.dump());
}
BENCHMARK(BM_ReadDocumentBody)->Arg(1)->Arg(10)->Arg(50)->Iterations(3)->Unit(benchmark::kMillisecond);

// A request whose params are an array of N thousand small objects.
void BM_ReadObjectsBody(benchmark::State& state) {
  std::string body = R"({"jsonrpc":"2.0","id":1,"method":"x","params":[)";
  for (std::int64_t i = 0; i < state.range(0) * 1000; ++i) body += i == 0 ? R"({"a":1})" : R"(,{"a":1})";
  body += "]}";
  read_body(state, body);
}
BENCHMARK(BM_ReadObjectsBody)->Arg(25)->Arg(250)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
