#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The project settings of `tovix.toml` (aliases, casings, the factory, the
// one configurable lint, build directories) and the lookups that apply them
// to Roblox names in both directions.
namespace tovix::config {

enum class LintLevel : std::uint8_t { Off = 0, Warn = 1, Error = 2 };

// How element or attribute names are written in markup.
class Casing {
 public:
  enum Value : std::uint8_t { PascalCase = 0, CamelCase = 1, SnakeCase = 2, FlatCase = 3 };

  constexpr Casing() = default;
  constexpr Casing(Value value) : value_(value) {}  // NOLINT: implicit by design
  constexpr operator Value() const { return value_; }

  // The casing spelled exactly "PascalCase", "camelCase", "snake_case" or
  // "flatcase"; none for any other text.
  [[nodiscard]] static std::optional<Casing> parse(std::string_view text);

  // A Roblox name written in this casing. Words begin at a capital after a
  // lower-case letter or digit, and at the last capital of a run followed by
  // a lower-case letter; blanks, underscores and digits never split a word.
  [[nodiscard]] std::string apply(std::string_view name) const;

 private:
  Value value_ = PascalCase;
};

// Text-keyed map that can be searched with a string_view.
using NameMap = std::map<std::string, std::string, std::less<>>;

struct Build {
  std::optional<std::string> in_dir;
  std::optional<std::string> out_dir;
  std::vector<std::string> include{"**"};
  std::vector<std::string> exclude;
  bool clean = false;

  bool operator==(const Build&) const = default;
};

// Why a `tovix.toml` could not be used: one line, starting "tovix.toml: " or,
// for a file that could not be read, with the file's path.
struct ConfigError {
  std::string message;
};

// A name written in markup that the configuration has replaced by another.
struct RenamedError {
  std::string message;
};

// The resolved settings; a default-constructed Config is the configuration of
// a project without `tovix.toml`.
struct Config {
  NameMap element_aliases;                                             // alias → Roblox class
  NameMap element_renames;                                             // Roblox class → alias
  NameMap property_renames;                                            // Roblox member → alias, for every class
  std::map<std::string, NameMap, std::less<>> class_property_renames;  // class → (member → alias)
  LintLevel static_conditional_child = LintLevel::Warn;
  Casing element_casing;
  Casing property_casing;
  Build build;
  std::string create = "create";

  bool operator==(const Config&) const = default;

  // The largest settings file read: far more than any project's settings,
  // and a larger one would cost its whole size in time and memory.
  static constexpr std::size_t MAX_FILE_SIZE = std::size_t{1} << 20;

  // Reads `tovix.toml` in `directory`. A missing file gives the defaults.
  [[nodiscard]] static std::expected<Config, ConfigError> load(const std::filesystem::path& directory);
  // Reads and checks the settings file at `path`.
  [[nodiscard]] static std::expected<Config, ConfigError> load_reporting(const std::filesystem::path& path);
  // Checks the text of a settings file; the first problem is the only one reported.
  [[nodiscard]] static std::expected<Config, ConfigError> parse_reporting(std::string_view text);

  // The alias of a Roblox class, else the class name (the argument) itself.
  [[nodiscard]] std::string_view element_name(std::string_view class_name) const;
  // The alias of a member for that class, else its alias for every class,
  // else the member name (the argument) itself.
  [[nodiscard]] std::string_view property_name(std::string_view class_name, std::string_view member) const;

  // The Roblox class that an element name as written stands for; none when
  // the configuration says nothing about the name; an error when the name is
  // a Roblox class that the configuration has renamed.
  [[nodiscard]] std::expected<std::optional<std::string>, RenamedError> resolve_element(std::string_view name) const;
  // The Roblox member that an attribute name as written stands for on the
  // class (the name itself when nothing concerns it); an error when the name
  // is a member that the configuration has renamed. Whether the class has
  // the member is left to the caller.
  [[nodiscard]] std::expected<std::string, RenamedError> resolve_property(std::string_view class_name,
                                                                          std::string_view attribute) const;
};

// Picks one of several Roblox names that fit a written name: deprecated
// names are dropped unless all are, then the byte-order smallest is taken.
// Leaves `candidates` reduced and sorted; none when it is empty.
[[nodiscard]] std::optional<std::string_view> preferred(std::vector<std::string_view>& candidates);

}  // namespace tovix::config
