// The workspace's walks over the shared 10,000-line sample: the cursor
// context and the closing-tag answer near the end of the file (each walks the
// whole text from offset 0, or with "resumed:1" from the last resume point
// before the cursor), the resume points themselves, the region list, and a
// declaration lookup.

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "features/closing_tag.h"
#include "sample.h"
#include "workspace/bindings.h"
#include "workspace/regions.h"
#include "workspace/scan.h"

namespace {

const std::string& sample() {
  static const std::string text = tovix_bench::sample_tovix(10000);
  return text;
}

// Just after the name of the last opening tag of the file.
std::size_t cursor_near_end() {
  const std::string& text = sample();
  std::size_t at = text.size();
  while ((at = text.rfind('<', at - 1)) != std::string::npos && at + 1 < text.size()) {
    const char next = text[at + 1];
    if ((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z')) break;
  }
  std::size_t end = at + 1;
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) != 0)) ++end;
  return end;
}

// The resume points of the sample, as a snapshot holds them.
const std::vector<tovix_lsp::scan::Resume>& resumes() {
  static const auto found = tovix_lsp::scan::resumes(sample(), tovix_lsp::regions::regions(sample()));
  return found;
}

void BM_ScanNearEnd(benchmark::State& state) {
  const std::string& text = sample();
  const std::size_t cursor = cursor_near_end();
  const std::span<const tovix_lsp::scan::Resume> from = state.range(0) != 0
                                                            ? std::span<const tovix_lsp::scan::Resume>(resumes())
                                                            : std::span<const tovix_lsp::scan::Resume>();
  for (auto _ : state) benchmark::DoNotOptimize(tovix_lsp::scan::scan(text, cursor, from));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ScanNearEnd)->ArgName("resumed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Working out the resume points from the regions a compile found: the
// scan's own walk of every markup expression, none of the Luau between.
void BM_Resumes(benchmark::State& state) {
  const std::string& text = sample();
  const auto found = tovix_lsp::regions::regions(text);
  std::size_t count = 0;
  for (auto _ : state) {
    const auto points = tovix_lsp::scan::resumes(text, found);
    count = points.size();
    benchmark::DoNotOptimize(points.data());
  }
  state.counters["resumes"] = static_cast<double>(count);
  state.counters["regions"] = static_cast<double>(found.size());
}
BENCHMARK(BM_Resumes)->Unit(benchmark::kMillisecond);

void BM_ClosingTagNearEnd(benchmark::State& state) {
  // A `>` typed at the end of the last opening tag's name.
  const std::size_t at = cursor_near_end();
  const std::string text = sample().substr(0, at) + ">" + sample().substr(at);
  const std::size_t offset = at + 1;
  for (auto _ : state) benchmark::DoNotOptimize(tovix_lsp::closing_tag::closing_tag(text, offset));
}
BENCHMARK(BM_ClosingTagNearEnd)->Unit(benchmark::kMillisecond);

void BM_Regions(benchmark::State& state) {
  const std::string& text = sample();
  std::size_t found = 0;
  for (auto _ : state) {
    const auto regions = tovix_lsp::regions::regions(text);
    found = regions.size();
    benchmark::DoNotOptimize(regions.data());
  }
  state.counters["regions"] = static_cast<double>(found);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Regions)->Unit(benchmark::kMillisecond);

// A name declared nowhere: every token of the blanked file is looked at.
void BM_BindingsFindMissing(benchmark::State& state) {
  const std::string& text = sample();
  for (auto _ : state) benchmark::DoNotOptimize(tovix_lsp::bindings::find(text, "NotDeclared"));
}
BENCHMARK(BM_BindingsFindMissing)->Unit(benchmark::kMillisecond);

}  // namespace
