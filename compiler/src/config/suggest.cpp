#include "tovix/config/suggest.h"

#include <optional>

#include "tovix/roblox/roblox.h"

namespace tovix::config {

namespace {

std::string did_you_mean(std::optional<std::string_view> name) {
  if (!name) return {};
  std::string text = "; did you mean ";
  text += *name;
  text += '?';
  return text;
}

}  // namespace

std::string suggest_class(std::string_view name) { return did_you_mean(roblox::closest_class(name)); }

std::string suggest_member_anywhere(std::string_view name) {
  return did_you_mean(roblox::closest_member_anywhere(name));
}

}  // namespace tovix::config
