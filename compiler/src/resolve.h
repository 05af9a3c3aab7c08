#pragma once

// Name resolution: what an element name and an attribute name written in
// markup stand for (a Roblox class or a component; a Roblox member), and the
// markup blanking that lets the rest of a file be read as plain Luau.

#include <cstddef>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>

#include "tovix/backend/backend.h"
#include "tovix/config/config.h"
#include "tovix/markup/ast.h"

namespace tovix::resolve {

// A (start, end) byte span of one top-level markup expression, end exclusive.
using Region = std::pair<std::size_t, std::size_t>;

// A copy of `source` of exactly the same byte length in which each region
// reads "nil" followed by blanks, its line feeds kept where they stand (a line
// feed among the first three bytes takes its letter's place). Regions must be
// in ascending order; one that starts before the end of the previous one is
// skipped whole, and a region reaching past the text is cut at its end.
[[nodiscard]] std::string blank_tovix_regions(std::string_view source, std::span<const Region> regions);

// Hash for text sets that can be searched with a string_view.
struct NameHash {
  using is_transparent = void;
  [[nodiscard]] std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;

// What an element name denotes.
struct Resolution {
  // A Roblox class the generated code creates through the factory.
  struct Class {
    std::string name;
    friend bool operator==(const Class&, const Class&) = default;
  };
  // A value in scope, called with the props table under the name as written.
  struct Component {
    friend bool operator==(const Component&, const Component&) = default;
  };
  // A name that failed to resolve (never returned by `Resolver::resolve`;
  // callers use it to go on after recording the error).
  struct Unresolved {
    std::string name;
    friend bool operator==(const Unresolved&, const Unresolved&) = default;
  };

  std::variant<Class, Component, Unresolved> kind;

  friend bool operator==(const Resolution&, const Resolution&) = default;
};

// The names a file binds and the configuration, and the decisions made with
// them. Built once per compile; resolving does not change it.
class Resolver {
 public:
  // `blanked` is the file with its markup already blanked. Never fails: a
  // file that does not parse gives the names of whatever tree the parser
  // recovered. Nothing of `blanked` is kept.
  Resolver(std::string_view blanked, config::Config config);
  // Over names collected before, by the compile of the same file.
  Resolver(NameSet bindings, config::Config config) : config(std::move(config)), bindings(std::move(bindings)) {}

  // A dotted name is a component; a simple one is a configured alias, a
  // creatable Roblox class, or a name bound in the file, in that order.
  // Errors span the "<" at `start` and the name.
  [[nodiscard]] std::expected<Resolution, backend::EmitError> resolve(const markup::ast::ElementName& name,
                                                                      std::size_t start) const;

  // The Roblox member an attribute of an element of `class_name` stands for:
  // the properties along the ancestry, then the events. Errors span the
  // attribute name at `start`.
  [[nodiscard]] std::expected<std::string, backend::EmitError> resolve_attribute(std::string_view class_name,
                                                                                 std::string_view attribute,
                                                                                 std::size_t start) const;

  config::Config config;
  // Every name bound anywhere in the file; no scoping.
  NameSet bindings;
};

}  // namespace tovix::resolve
