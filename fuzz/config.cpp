// Random bytes as a tovix.toml: loading must never crash, must fail with
// exactly one "tovix.toml: " message or give a configuration, and the lookups
// over whatever it gives must not crash either.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tovix/config/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto result = tovix::config::Config::parse_reporting(text);
  if (!result) {
    if (!result.error().message.starts_with("tovix.toml: ")) std::abort();
    return 0;
  }
  const tovix::config::Config& config = *result;
  for (const auto& [alias, class_name] : config.element_aliases) {
    (void)config.resolve_element(alias);
    (void)config.resolve_element(class_name);
    (void)config.resolve_property(class_name, alias);
    (void)config.element_name(class_name);
  }
  for (const auto& [member, alias] : config.property_renames) {
    (void)config.resolve_property("TextLabel", alias);
    (void)config.resolve_property("TextLabel", member);
  }
  // The casings see the raw bytes as a name.
  if (size <= 256) {
    for (auto casing :
         {tovix::config::Casing::CamelCase, tovix::config::Casing::SnakeCase, tovix::config::Casing::FlatCase})
      (void)tovix::config::Casing(casing).apply(text);
  }
  return 0;
}
