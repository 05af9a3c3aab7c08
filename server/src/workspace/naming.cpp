#include "workspace/naming.h"

#include <expected>
#include <map>
#include <optional>

#include "tovix/roblox/roblox.h"

namespace tovix_lsp::naming {

namespace {

using tovix::config::Casing;
using tovix::config::Config;

// The class an element name stands for, none, or the configuration's
// refusal of the name, which then stands for no component either.
std::expected<std::optional<std::string>, tovix::config::RenamedError> class_or_refusal(const Config& config,
                                                                                        std::string_view name) {
  auto resolved = config.resolve_element(name);
  if (!resolved || *resolved) return resolved;
  if (tovix::roblox::is_class(name)) return std::string(name);
  return std::nullopt;
}

bool resolves_to_class(const Config& config, std::string_view written, std::string_view class_name) {
  const auto resolved = config.resolve_element(written);
  return resolved && resolved->has_value() && **resolved == class_name;
}

std::vector<Named> build_elements(const Config& config) {
  const Casing casing = config.element_casing;
  std::vector<Named> out;
  for (const std::string_view class_name : tovix::roblox::creatable_classes()) {
    std::vector<std::string> candidates;
    if (const std::string_view alias = config.element_name(class_name); alias != class_name) {
      candidates.emplace_back(alias);
    } else if (casing != Casing::PascalCase) {
      candidates.push_back(casing.apply(class_name));
      candidates.emplace_back(class_name);
    } else {
      candidates.emplace_back(class_name);
    }

    if (casing == Casing::PascalCase) {
      out.push_back({std::move(candidates.front()), class_name});
      continue;
    }
    // Under another casing a spelling is kept only if it leads back to this
    // class; two classes colliding in the casing must not share a name.
    for (std::string& candidate : candidates) {
      if (resolves_to_class(config, candidate, class_name)) {
        out.push_back({std::move(candidate), class_name});
        break;
      }
    }
  }
  return out;
}

std::vector<Named> build_members(const Config& config, std::string_view class_name) {
  const Casing casing = config.property_casing;
  std::map<std::string, std::vector<std::string_view>> by_spelling;
  auto add = [&](std::string_view member) {
    const std::string_view alias = config.property_name(class_name, member);
    std::string spelling = alias != member ? std::string(alias) : casing.apply(member);
    by_spelling[std::move(spelling)].push_back(member);
  };
  for (const std::string_view member : tovix::roblox::properties(class_name)) add(member);
  for (const std::string_view member : tovix::roblox::events(class_name)) add(member);

  std::vector<Named> out;
  for (auto& [spelling, members] : by_spelling) {
    const std::optional<std::string_view> canonical = tovix::config::preferred(members);
    if (!canonical) continue;
    if (casing != Casing::PascalCase) {
      const auto resolved = config.resolve_property(class_name, spelling);
      if (!resolved || *resolved != *canonical) continue;
    }
    out.push_back({spelling, *canonical});
  }
  return out;
}

}  // namespace

std::optional<std::string> element_class(const Config& config, std::string_view name) {
  auto found = class_or_refusal(config, name);
  return found ? std::move(*found) : std::nullopt;
}

Element element_kind(const Config& config, const tovix::resolve::NameSet& bindings, std::string_view name) {
  if (name.find('.') != std::string_view::npos) return Element::Component;
  const auto found = class_or_refusal(config, name);
  if (!found) return Element::Neither;
  if (*found) return Element::Class;
  return bindings.contains(name) ? Element::Component : Element::Neither;
}

std::span<const Named> Vocabulary::elements(const Config& config) const {
  std::call_once(elements_once_, [&] { elements_ = build_elements(config); });
  return elements_;
}

std::string Vocabulary::element(const Config& config, std::string_view class_name) const {
  for (const Named& named : elements(config)) {
    if (named.canonical == class_name) return named.name;
  }
  return std::string(class_name);
}

std::vector<Named> Vocabulary::members(const Config& config, std::string_view class_name) const {
  // A failure while the mutex is held marks the cache unusable, so a
  // half-done store is never read.
  {
    const std::lock_guard lock(members_mutex_);
    try {
      if (!poisoned_) {
        if (const auto it = members_.find(class_name); it != members_.end()) return it->second;
      }
    } catch (...) {
      poisoned_ = true;
      throw;
    }
  }

  std::vector<Named> built = build_members(config, class_name);

  {
    const std::lock_guard lock(members_mutex_);
    try {
      if (!poisoned_) members_.insert_or_assign(std::string(class_name), built);
    } catch (...) {
      poisoned_ = true;
      throw;
    }
  }
  return built;
}

std::string Vocabulary::member(const Config& config, std::string_view class_name, std::string_view member_name) const {
  for (Named& named : members(config, class_name)) {
    if (named.canonical == member_name) return std::move(named.name);
  }
  return std::string(member_name);
}

}  // namespace tovix_lsp::naming
