#pragma once

// Finding what the child needs on the user's machine: the luau-lsp
// executable (a configured path, else PATH, Rokit's tool storage and the
// editors' extension folders, each candidate probed with --version) and the
// Roblox type files in the luau-lsp extension's global storage.
//
// Plain functions of their inputs, the environment and the file system: no
// state, nothing written, nothing fails (what is not found is absent);
// `Search` runs the search on a thread of its own.

#include <chrono>
#include <compare>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/process.h"

namespace tovix_lsp::locate {

// The parts of the environment the search reads. `current()` takes them from
// this process; tests build their own.
struct Environment {
  std::optional<std::string> path;     // PATH
  std::optional<std::string> appdata;  // APPDATA
  std::optional<std::filesystem::path> home;

  // HOME when set and not empty, else the home of the user's passwd entry.
  [[nodiscard]] static Environment current();
};

// How long a candidate may take to answer --version before it counts as
// failing (and is killed).
inline constexpr std::chrono::milliseconds PROBE_LIMIT{5000};

// The executable for program `name`. A configured path that holds anything
// but white space is taken exactly as written, when it names an existing
// regular file, else nothing; it is not probed. Otherwise the PATH, Rokit
// and editor-extension candidates are found first, then probed side by
// side; of those that pass, the first in that order is the answer. At most
// three probes, all within `limit`; a descriptor `stop` that becomes
// readable ends the search early with nothing (every probe ended).
[[nodiscard]] std::optional<std::filesystem::path> locate(std::string_view name,
                                                          std::optional<std::string_view> configured,
                                                          const Environment& env = Environment::current(),
                                                          std::chrono::milliseconds limit = PROBE_LIMIT, int stop = -1);

// `locate` on a thread of its own, so that probing never holds the caller:
// `done` is called there with the answer. Dropping the search ends it early
// (its probes killed and reaped, `done` called with nothing) and waits for
// the thread, which then takes no longer than ending its probes.
class Search {
 public:
  Search(std::string name, std::optional<std::string> configured, Environment env,
         std::function<void(std::optional<std::filesystem::path>)> done);
  ~Search();
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

 private:
  process::Fd stop_;
  std::thread thread_;
};

// The candidates, at most one each. `on_path`: the first PATH directory
// holding an executable of that name. `rokit_tool`: the executable in the
// newest version folder of Rokit's tool storage. `vscode_extension`: for
// "luau-lsp" only, the server in the newest luau-lsp extension folder of the
// editors' extension folders.
[[nodiscard]] std::optional<std::filesystem::path> on_path(std::string_view name, const Environment& env);
[[nodiscard]] std::optional<std::filesystem::path> rokit_tool(std::string_view name, const Environment& env);
[[nodiscard]] std::optional<std::filesystem::path> vscode_extension(std::string_view name, const Environment& env);

// The probe: runs `candidate --version` with every standard stream on the
// null device. Passes when it started and exited with status 0 within
// `limit`; past the limit it is killed (with what it started) and reaped.
// It ends with this process too, however this one ends.
[[nodiscard]] bool locate_on(const std::filesystem::path& candidate, std::chrono::milliseconds limit = PROBE_LIMIT);

// One read of a directory listing: an entry's path, or the error of an entry
// that could not be read; none at the end.
using Listed = std::expected<std::filesystem::path, std::error_code>;

// After this many unreadable entries in a row a listing counts as ended: a
// directory whose reads keep failing would otherwise be read for ever.
inline constexpr std::size_t MAX_UNREADABLE_IN_A_ROW = 16;

// The entries `next` reads, in order, until it says the listing ended;
// entries that cannot be read are skipped. The Rokit and extension searches
// list their folders so.
[[nodiscard]] std::vector<std::filesystem::path> entries(const std::function<std::optional<Listed>()>& next);

// The file names tried for a program name, in order.
[[nodiscard]] std::vector<std::string> filenames(std::string_view name);

// Version names compared as versions: dot-separated segments, two segments
// of ASCII digits compared as numbers, any other pair byte by byte; when one
// name's segments are a prefix of the other's, the longer is greater.
[[nodiscard]] std::strong_ordering compare_versions(std::string_view a, std::string_view b);

// The luau-lsp extension's global-storage folder: the first existing one
// under APPDATA, ~/Library/Application Support and ~/.config, for each editor.
[[nodiscard]] std::optional<std::filesystem::path> luau_lsp_storage(const Environment& env = Environment::current());

// The Roblox type files the "luau-lsp" settings section asks for, found in
// the extension's storage: at most one definition file (the configured
// security level first, then the fall-back levels) and at most one
// documentation file. Paths as text, ill-formed UTF-8 replaced by U+FFFD.
// Both empty for a platform other than Roblox or with the types switched off.
struct TypeFiles {
  std::vector<std::string> definitions;
  std::vector<std::string> documentation;
};
[[nodiscard]] TypeFiles roblox_types(const nlohmann::json& settings, const Environment& env = Environment::current());

// The type files the "luau-lsp" section names itself, strings only, kept as
// written: "/types/definitionFiles" as a list of paths, or in luau-lsp's
// form, an object of package names to paths (in key order);
// "/types/documentationFiles" as a list of paths. The child is given them
// all (`proxy::arguments`), and the API facts read them before the
// extension's storage.
struct NamedDefinition {
  std::string package;  // empty in the list form
  std::string path;
  friend bool operator==(const NamedDefinition&, const NamedDefinition&) = default;
};
struct NamedTypeFiles {
  std::vector<NamedDefinition> definitions;
  std::vector<std::string> documentation;
};
[[nodiscard]] NamedTypeFiles named_type_files(const nlohmann::json& settings);

// The first of each list of `roblox_types`.
struct TypeFilePair {
  std::optional<std::string> definitions;
  std::optional<std::string> documentation;
};
[[nodiscard]] TypeFilePair roblox_type_files(const nlohmann::json& settings,
                                             const Environment& env = Environment::current());

}  // namespace tovix_lsp::locate
