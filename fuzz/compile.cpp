// Random and mutated .tovix text through the whole compile: it must never
// crash or hang, a successful compile keeps the source's line count, and
// every reported span lies inside the source. An input holding a line
// "--[[tovix.toml]]" uses the text after it as the project's settings.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"

namespace {

constexpr std::string_view SETTINGS = "\n--[[tovix.toml]]\n";

template <class Record>
void check_span(const Record& record, std::size_t size) {
  if (record.offset > size || record.len > size - record.offset) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view source = input;
  tovix::config::Config config;
  if (std::size_t at = input.find(SETTINGS); at != std::string_view::npos) {
    source = input.substr(0, at);
    if (auto parsed = tovix::config::Config::parse_reporting(input.substr(at + SETTINGS.size()))) {
      config = std::move(*parsed);
    }
  }

  auto compiled = tovix::compile::compile_recovering(source, tovix::backend::vide::Vide{}, config);
  if (!compiled) {
    check_span(compiled.error(), source.size());
    return 0;
  }
  if (std::count(compiled->code.begin(), compiled->code.end(), '\n') !=
      std::count(source.begin(), source.end(), '\n')) {
    std::abort();
  }
  for (const auto& error : compiled->errors) check_span(error, source.size());
  for (const auto& warning : compiled->warnings) check_span(warning, source.size());
  for (std::size_t i = 1; i < compiled->errors.size(); ++i) {
    if (compiled->errors[i - 1].offset > compiled->errors[i].offset) std::abort();
  }
  return 0;
}
