// Random bytes as a .tovix file: blanking keeps the length, every line feed
// and every byte outside the markup; the resolver, the lints and helper
// injection never crash on whatever the blanked text and its trees hold.
//   tools/fuzz.sh resolve 600

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "tovix/imports.h"
#include "tovix/lint.h"
#include "tovix/markup/ast.h"
#include "tovix/resolve.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Arbitrary region lists, unordered and out of range included.
  if (size >= 4) {
    std::vector<tovix::resolve::Region> regions;
    for (std::size_t i = 0; i + 1 < size && regions.size() < 8; i += 2) regions.emplace_back(data[i], data[i + 1]);
    if (tovix::resolve::blank_tovix_regions(text, regions).size() != size) std::abort();
  }

  auto spans = tovix::compile::tovix_spans(text);
  std::vector<tovix::resolve::Region> regions;
  if (spans) regions.assign(spans->begin(), spans->end());
  std::string blanked = tovix::resolve::blank_tovix_regions(text, regions);
  if (blanked.size() != size) std::abort();
  std::size_t next = 0;
  for (std::size_t i = 0; i < size; ++i) {
    while (next < regions.size() && regions[next].second <= i) ++next;
    bool inside = next < regions.size() && regions[next].first <= i;
    if ((blanked[i] == '\n') != (text[i] == '\n')) std::abort();
    if (!inside && blanked[i] != text[i]) std::abort();
  }

  tovix::resolve::Resolver resolver(blanked, tovix::config::Config{});
  for (const std::string& name : resolver.bindings) {
    if (name.empty()) std::abort();
    (void)resolver.resolve(tovix::markup::ast::ElementName{tovix::markup::ast::ElementName::Simple{name}}, 0);
    (void)resolver.resolve_attribute("TextLabel", name, 0);
    if (resolver.bindings.size() > 64) break;
  }

  (void)tovix::lint::has_unwrapped_tovix(text, regions);
  (void)tovix::lint::check_conditional_child(blanked, 0, size);
  auto injected = tovix::imports::inject(blanked, {.uses_factory = false, .needs_read = true, .needs_merge = true},
                                         resolver.bindings, tovix::config::Config{});
  if (!injected) std::abort();
  return 0;
}
