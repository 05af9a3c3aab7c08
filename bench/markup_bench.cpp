// The markup features' local answers at the end of the shared 10,000-line
// sample, with the Roblox API facts installed from the real files, and the
// install itself (time, and the heap the facts keep). "snapshot:1" is the
// server's case: the text was analysed after its last change, and the
// request takes what the analysis read; "snapshot:0" reads the text again,
// as a request must when the snapshot is not of the current text.

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "features/api.h"
#include "features/completion.h"
#include "features/hover.h"
#include "sample.h"
#include "workspace/analysis.h"
#include "workspace/document.h"
#include "workspace/project.h"
#include "workspace/tree.h"

namespace {

using namespace tovix_lsp;

const std::string ROBLOX = TOVIX_ROBLOX_DATA;

const api::Api* facts() {
  static const bool installed = [] {
    api::install(ROBLOX + "/globalTypes.None.d.luau", ROBLOX + "/api-docs.json");
    return true;
  }();
  (void)installed;
  return api::present();
}

// The sample with `last` as its last line, and the cursor where `^` stands.
struct AtEnd {
  explicit AtEnd(std::string_view last) {
    std::string text = tovix_bench::sample_tovix(10000);
    if (!text.ends_with('\n')) text += '\n';
    const std::size_t marker = last.find('^');
    cursor = text.size() + marker;
    text += last.substr(0, marker);
    text += last.substr(marker + 1);
    document.emplace("file:///bench/sample.tovix", std::move(text), 1);
    analysed = snapshot::take(analysis::Analysis::run(*document, project, nullptr).read);
  }
  // The snapshot a request gets: the analysis's with `state.range(0)` set.
  const snapshot::Snapshot* taken(const benchmark::State& state) const {
    return state.range(0) != 0 ? analysed.get() : nullptr;
  }
  project::Project project = project::Project::bare("/bench");
  std::optional<document::Document> document;
  std::shared_ptr<const snapshot::Snapshot> analysed;
  std::size_t cursor = 0;
};

void complete_at(benchmark::State& state, std::string_view last) {
  const AtEnd at(last);
  const api::Api* api = facts();
  if (!api) state.SkipWithError("no Roblox API facts");
  std::size_t items = 0;
  for (auto _ : state) {
    auto answer = completion::complete(*at.document, at.project, at.cursor, true, api, at.taken(state));
    if (auto* list = std::get_if<completion::List>(&answer)) items = list->value["items"].size();
    benchmark::DoNotOptimize(answer);
  }
  state.counters["items"] = static_cast<double>(items);
}

void hover_at(benchmark::State& state, std::string_view last) {
  const AtEnd at(last);
  const api::Api* api = facts();
  if (!api) state.SkipWithError("no Roblox API facts");
  const snapshot::Snapshot* taken = at.taken(state);
  for (auto _ : state) benchmark::DoNotOptimize(hover::hover(*at.document, at.project, at.cursor, api, taken));
}

void BM_CompleteElementNamesAtEnd(benchmark::State& state) { complete_at(state, "local zz = <Te^"); }
void BM_CompleteAttributesAtEnd(benchmark::State& state) { complete_at(state, "local zz = <TextButton Te^"); }
void BM_CompleteClosingTagAtEnd(benchmark::State& state) { complete_at(state, "local zz = <Frame></^"); }
void BM_HoverClassAtEnd(benchmark::State& state) { hover_at(state, "local zz = <TextLa^bel Text={x}/>"); }
void BM_HoverAttributeAtEnd(benchmark::State& state) { hover_at(state, "local zz = <TextButton Activ^ated={f}/>"); }
void BM_HoverLuauAtEnd(benchmark::State& state) { hover_at(state, "local z^z = 1"); }

BENCHMARK(BM_CompleteElementNamesAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompleteAttributesAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompleteClosingTagAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HoverClassAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HoverAttributeAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HoverLuauAtEnd)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The two pieces that dominated the answers above, each over the whole
// text: the tag tree (hover on a tag name, props completion) and the
// components bound in the file (element-name completion); with "snapshot:1"
// from what the analysis read.
void BM_TagTree(benchmark::State& state) {
  const AtEnd at("local zz = 1^");
  const snapshot::Snapshot* taken = at.taken(state);
  for (auto _ : state) benchmark::DoNotOptimize(snapshot::tree(at.document->text(), taken));
}
BENCHMARK(BM_TagTree)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_Components(benchmark::State& state) {
  const AtEnd at("local zz = 1^");
  const snapshot::Snapshot* taken = at.taken(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(completion::components(at.project.config, at.document->text(), taken));
  }
}
BENCHMARK(BM_Components)->ArgName("snapshot")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Loading both real files into facts, as the first configuration answer
// does; "heap_MB" is what the loaded facts keep allocated.
void BM_ApiLoadRealFiles(benchmark::State& state) {
  const std::string definitions = ROBLOX + "/globalTypes.None.d.luau";
  if (!std::filesystem::exists(definitions)) state.SkipWithError("no Roblox type files");
  double heap = 0;
  std::size_t classes = 0;
  for (auto _ : state) {
    const auto before = mallinfo2().uordblks;
    const api::Api loaded = api::load(definitions, ROBLOX + "/api-docs.json");
    heap = static_cast<double>(mallinfo2().uordblks - before) / (1024.0 * 1024.0);
    classes = loaded.classes.size();
  }
  state.counters["heap_MB"] = heap;
  state.counters["classes"] = static_cast<double>(classes);
}
BENCHMARK(BM_ApiLoadRealFiles)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
