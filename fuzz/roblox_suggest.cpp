// Name suggestions on arbitrary bytes (invalid UTF-8, case mappings that
// change lengths): no crash, and the answers keep their basic promises.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tovix/roblox/generated.h"
#include "tovix/roblox/roblox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace roblox = tovix::roblox;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  const std::string_view a = input.substr(0, cut);
  const std::string_view b = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  const std::size_t d = roblox::edit_distance(a, b);
  if (d != roblox::edit_distance(b, a)) std::abort();
  if (d > std::max(a.size(), b.size())) std::abort();
  if (roblox::edit_distance(a, a) != 0) std::abort();

  if (auto name = roblox::closest_class(a); name && !roblox::is_class(*name)) std::abort();
  (void)roblox::closest_member_anywhere(a);

  const auto& classes = roblox::generated::CLASSES;
  const std::string_view cls = classes[(b.empty() ? 0 : static_cast<unsigned char>(b[0])) * 3 % classes.size()].name;
  const auto members = roblox::closest_members(cls, a);
  if (members.size() > 3) std::abort();
  for (std::string_view m : members)
    if (!roblox::has_property(cls, m) && !roblox::is_event(cls, m)) std::abort();
  return 0;
}
