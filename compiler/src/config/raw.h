#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

// The raw layer of `tovix.toml`: records that mirror the file, checked only
// for shape (known keys, value types). Entries of the free-form tables keep
// document order so that later checks report the first bad entry as written.
namespace tovix::config::raw {

// key → value in document order.
template <typename V>
using Entries = std::vector<std::pair<std::string, V>>;

struct RawLints {
  std::optional<std::string> static_conditional_child;
};

struct RawFactory {
  std::optional<std::string> create;
};

struct RawBuild {
  std::optional<std::string> in;
  std::optional<std::string> out;
  std::optional<std::vector<std::string>> include;
  std::optional<std::vector<std::string>> exclude;
  std::optional<bool> clean;
};

// A `[properties]` value: an alias, or a class's table of member → alias.
using PropertyEntry = std::variant<std::string, Entries<std::string>>;

struct RawConfig {
  Entries<std::string> elements;
  Entries<PropertyEntry> properties;
  RawLints lints;
  RawFactory factory;
  RawBuild build;
};

struct RawError {
  std::string message;  // no "tovix.toml: " prefix and no position
};

// Parses TOML 1.1 text into the raw records. Fails at the first syntax error
// or, in document order, the first key or value that does not fit.
[[nodiscard]] std::expected<RawConfig, RawError> parse(std::string_view text);

}  // namespace tovix::config::raw
