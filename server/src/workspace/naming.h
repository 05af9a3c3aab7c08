#pragma once

#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tovix/config/config.h"
#include "tovix/resolve.h"

// How one project writes Roblox class and member names: its aliases and
// casings applied, keeping only spellings that resolve back to the name
// they stand for. Answers are cached for the life of the project. And the
// way back: what an element name as written stands for.
namespace tovix_lsp::naming {

// One name as the project writes it.
struct Named {
  std::string name;            // the spelling the user writes
  std::string_view canonical;  // the Roblox name, borrowed from the class table
  friend bool operator==(const Named&, const Named&) = default;
};

// The Roblox class an element name as written stands for: the class the
// configuration gives it, else the name itself when it is a Roblox class.
// None for a component, an unknown name, or a class written under its
// Roblox name although the project renames it.
[[nodiscard]] std::optional<std::string> element_class(const tovix::config::Config& config, std::string_view name);

// What an element name stands for, as the compiler resolves it: a class
// (`element_class`), else a component when it is dotted or `bindings` (the
// names the file's Luau binds) holds it; neither for a name that does not
// resolve, such as one the configuration refuses.
enum class Element { Class, Component, Neither };
[[nodiscard]] Element element_kind(const tovix::config::Config& config, const tovix::resolve::NameSet& bindings,
                                   std::string_view name);

// Shared by every copy of a project. The element list is built once, with
// the configuration of the first call; member lists are cached per class
// behind one mutex that is never held while a list is built. Later calls
// get the cached answers whatever configuration they pass.
class Vocabulary {
 public:
  // One entry per creatable class the project can write, in class-table
  // order.
  [[nodiscard]] std::span<const Named> elements(const tovix::config::Config& config) const;

  // How the project writes the class; the class name itself when the
  // element list has no entry for it.
  [[nodiscard]] std::string element(const tovix::config::Config& config, std::string_view class_name) const;

  // The members an element of the class can take, as the project writes
  // them, in spelling order (byte order), one entry per spelling.
  [[nodiscard]] std::vector<Named> members(const tovix::config::Config& config, std::string_view class_name) const;

  // How the project writes the member on the class; the member name itself
  // when the class's list has no entry for it.
  [[nodiscard]] std::string member(const tovix::config::Config& config, std::string_view class_name,
                                   std::string_view member_name) const;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  mutable std::once_flag elements_once_;
  mutable std::vector<Named> elements_;

  mutable std::mutex members_mutex_;
  // Set when a failure escaped while the mutex was held; the cache is then
  // neither read nor written again.
  mutable bool poisoned_ = false;
  mutable std::unordered_map<std::string, std::vector<Named>, Hash, std::equal_to<>> members_;
};

}  // namespace tovix_lsp::naming
