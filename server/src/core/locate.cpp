#include "core/locate.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/process.h"
#include "tovix/whitespace.h"
#include "workspace/protocol.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::locate {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Suffixes tried after a program name; Linux executables have none.
constexpr std::array<std::string_view, 1> SUFFIXES = {""};

constexpr std::array<std::string_view, 5> EDITOR_HOMES = {".vscode", ".vscode-insiders", ".vscode-oss", ".cursor",
                                                          ".windsurf"};
constexpr std::array<std::string_view, 5> EDITOR_NAMES = {"Code", "Code - Insiders", "VSCodium", "Cursor", "Windsurf"};
constexpr std::array<std::string_view, 4> FALLBACK_LEVELS = {"PluginSecurity", "None", "LocalUserSecurity",
                                                             "RobloxScriptSecurity"};

// The extension under both publisher names: the one its users know it by and
// the one the editors really store it under.
constexpr std::array<std::string_view, 2> EXTENSION_PREFIXES = {"zentravolmira.luau-lsp-", "johnnymorganz.luau-lsp-"};
constexpr std::array<std::string_view, 2> STORAGE_NAMES = {"zentravolmira.luau-lsp", "johnnymorganz.luau-lsp"};

bool stat_path(const fs::path& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

// A regular file (links followed) with an execute bit for anyone.
bool is_executable_file(const fs::path& path) {
  struct stat st;
  return stat_path(path, st) && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

bool is_file(const fs::path& path) {
  struct stat st;
  return stat_path(path, st) && S_ISREG(st.st_mode);
}

bool is_folder(const fs::path& path) {
  struct stat st;
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

// The entries of a directory, or nothing when it cannot be listed. Read
// with readdir rather than a directory_iterator, which ends at the first
// entry that cannot be read; here such an entry is skipped.
std::optional<std::vector<fs::path>> list(const fs::path& dir) {
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
  if (!stream) return std::nullopt;
  return entries([&]() -> std::optional<Listed> {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(stream.get());
      if (entry == nullptr) {
        if (errno == 0) return std::nullopt;
        return std::unexpected(std::error_code(errno, std::generic_category()));
      }
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") return dir / name;
    }
  });
}

// The first file name of `name` in `dir` that is executable.
std::optional<fs::path> executable_in(const fs::path& dir, std::string_view name) {
  for (const std::string& file : filenames(name))
    if (fs::path candidate = dir / file; is_executable_file(candidate)) return candidate;
  return std::nullopt;
}

std::string as_text(const fs::path& path) { return utf8_text::to_valid(path.native()); }

// The candidate with the greatest version name; of equal names the first
// offered stays.
struct Newest {
  std::optional<fs::path> path;
  std::string version;

  void offer(fs::path candidate, std::string candidate_version) {
    if (path && compare_versions(candidate_version, version) <= 0) return;
    path = std::move(candidate);
    version = std::move(candidate_version);
  }
};

bool is_number(std::string_view segment) {
  if (segment.empty()) return false;
  for (char c : segment)
    if (c < '0' || c > '9') return false;
  return true;
}

std::strong_ordering compare_numbers(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() <=> b.size();
  return a.compare(b) <=> 0;
}

}  // namespace

std::vector<fs::path> entries(const std::function<std::optional<Listed>()>& next) {
  std::vector<fs::path> found;
  std::size_t unreadable = 0;
  while (auto read = next()) {
    if (read->has_value()) {
      found.push_back(std::move(**read));
      unreadable = 0;
    } else if (++unreadable == MAX_UNREADABLE_IN_A_ROW) {
      break;
    }
  }
  return found;
}

Environment Environment::current() {
  Environment env;
  if (const char* path = std::getenv("PATH")) env.path = path;
  if (const char* appdata = std::getenv("APPDATA")) env.appdata = appdata;
  if (const char* home = std::getenv("HOME"); home && *home) {
    env.home = fs::path(home);
  } else {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry;
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
      env.home = fs::path(found->pw_dir);
  }
  return env;
}

std::vector<std::string> filenames(std::string_view name) {
  std::vector<std::string> names;
  for (std::string_view suffix : SUFFIXES) names.push_back(std::string(name) + std::string(suffix));
  return names;
}

std::strong_ordering compare_versions(std::string_view a, std::string_view b) {
  for (;;) {
    auto dot_a = a.find('.'), dot_b = b.find('.');
    std::string_view x = a.substr(0, dot_a), y = b.substr(0, dot_b);
    auto order = is_number(x) && is_number(y) ? compare_numbers(x, y) : x.compare(y) <=> 0;
    if (order != 0) return order;
    bool more_a = dot_a != std::string_view::npos, more_b = dot_b != std::string_view::npos;
    if (!more_a || !more_b) return more_a <=> more_b;
    a.remove_prefix(dot_a + 1);
    b.remove_prefix(dot_b + 1);
  }
}

std::optional<fs::path> on_path(std::string_view name, const Environment& env) {
  if (!env.path) return std::nullopt;
  std::string_view rest = *env.path;
  for (;;) {
    auto colon = rest.find(':');
    if (auto found = executable_in(fs::path(rest.substr(0, colon)), name)) return found;
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

std::optional<fs::path> rokit_tool(std::string_view name, const Environment& env) {
  if (!env.home) return std::nullopt;
  auto tools = list(*env.home / ".rokit" / "tool-storage");
  if (!tools) return std::nullopt;
  Newest newest;
  for (const fs::path& tool : *tools) {
    auto versions = list(tool / name);
    if (!versions) continue;
    for (const fs::path& version : *versions)
      if (auto found = executable_in(version, name)) newest.offer(std::move(*found), as_text(version.filename()));
  }
  return newest.path;
}

std::optional<fs::path> vscode_extension(std::string_view name, const Environment& env) {
  if (name != "luau-lsp" || !env.home) return std::nullopt;
  Newest newest;
  for (std::string_view editor : EDITOR_HOMES) {
    auto extensions = list(*env.home / editor / "extensions");
    if (!extensions) continue;
    for (const fs::path& extension : *extensions) {
      std::string folder = as_text(extension.filename());
      for (std::string_view prefix : EXTENSION_PREFIXES) {
        if (!folder.starts_with(prefix)) continue;
        // Publishers differ, so only the version after the prefix is compared.
        if (auto found = executable_in(extension / "bin", "server"))
          newest.offer(std::move(*found), folder.substr(prefix.size()));
      }
    }
  }
  return newest.path;
}

namespace {

// One candidate's --version run.
struct Probe {
  process::Child child;
  process::Fd watch;
  std::optional<bool> passed;  // none while it runs
};

std::optional<Probe> start_probe(const fs::path& candidate) {
  process::Command command{.program = candidate,
                           .args = {"--version"},
                           .in = process::Stream::Null,
                           .out = process::Stream::Null,
                           .err = process::Stream::Null,
                           .own_group = true,
                           // One that hangs must not outlive a server that is killed.
                           .ends_with_us = true};
  auto child = process::spawn(command);
  if (!child) return std::nullopt;
  process::Fd watch = child->watch();
  return Probe{std::move(*child), std::move(watch), std::nullopt};
}

// Ends a probe with everything it started (a script's `sleep`, say: the kill
// reaches its group while its leader is not yet reaped), and reaps it.
void finish(Probe& probe) {
  probe.child.kill();
  const process::Exit exit = probe.child.wait();
  if (!probe.passed) probe.passed = exit.succeeded();
}

// Runs the probes side by side until the first in order that passes is
// known, `limit` is over (those still running fail) or `stop` is readable
// (nothing passes). Every probe is ended and reaped on return. The index of
// the one that passed.
std::optional<std::size_t> first_passing(std::vector<std::optional<Probe>>& probes, std::chrono::milliseconds limit,
                                         int stop) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + limit;
  bool stopped = false;
  auto decided = [&]() -> std::optional<std::optional<std::size_t>> {
    for (std::size_t i = 0; i < probes.size(); ++i) {
      if (!probes[i]) continue;
      if (!probes[i]->passed) return std::nullopt;
      if (*probes[i]->passed) return std::optional<std::size_t>(i);
    }
    return std::optional<std::size_t>();
  };
  for (;;) {
    for (auto& probe : probes)
      if (probe && !probe->passed && probe->child.ended()) finish(*probe);
    if (decided()) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    if (left.count() <= 0) break;
    std::vector<pollfd> fds;
    bool exact = true;
    for (auto& probe : probes) {
      if (!probe || probe->passed) continue;
      if (probe->watch)
        fds.push_back({probe->watch.get(), POLLIN, 0});
      else
        exact = false;
    }
    if (stop >= 0) fds.push_back({stop, POLLIN, 0});
    // Without a pidfd, look again every few milliseconds.
    const int wait = exact ? static_cast<int>(left.count()) + 1 : std::min<int>(10, static_cast<int>(left.count()) + 1);
    if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) break;
    if (stop >= 0 && fds.back().revents != 0) {
      stopped = true;
      break;
    }
  }
  // Those still running fail: `finish` kills them first.
  for (auto& probe : probes) {
    if (!probe || probe->passed) continue;
    finish(*probe);
    probe->passed = false;
  }
  if (stopped) return std::nullopt;
  return decided().value_or(std::nullopt);
}

}  // namespace

bool locate_on(const fs::path& candidate, std::chrono::milliseconds limit) {
  std::vector<std::optional<Probe>> probes;
  probes.push_back(start_probe(candidate));
  return first_passing(probes, limit, -1).has_value();
}

std::optional<fs::path> locate(std::string_view name, std::optional<std::string_view> configured,
                               const Environment& env, std::chrono::milliseconds limit, int stop) {
  if (configured && !tovix::whitespace::trim(*configured).empty()) {
    fs::path path(*configured);
    if (is_file(path)) return path;
    return std::nullopt;
  }
  std::array<std::optional<fs::path>, 3> candidates = {on_path(name, env), rokit_tool(name, env),
                                                       vscode_extension(name, env)};
  // Side by side: a candidate that hangs costs the limit once, not once for
  // each candidate after it.
  std::vector<std::optional<Probe>> probes;
  for (const auto& candidate : candidates) probes.push_back(candidate ? start_probe(*candidate) : std::nullopt);
  const auto first = first_passing(probes, limit, stop);
  if (!first) return std::nullopt;
  return candidates[*first];
}

Search::Search(std::string name, std::optional<std::string> configured, Environment env,
               std::function<void(std::optional<fs::path>)> done)
    : stop_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  thread_ = std::thread([name = std::move(name), configured = std::move(configured), env = std::move(env),
                         done = std::move(done), stop = stop_.get()] {
    done(
        locate(name, configured ? std::optional<std::string_view>(*configured) : std::nullopt, env, PROBE_LIMIT, stop));
  });
}

Search::~Search() {
  const std::uint64_t one = 1;
  (void)!::write(stop_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

std::optional<fs::path> luau_lsp_storage(const Environment& env) {
  std::vector<fs::path> bases;
  if (env.appdata) bases.emplace_back(*env.appdata);
  if (env.home) {
    bases.push_back(*env.home / "Library" / "Application Support");
    bases.push_back(*env.home / ".config");
  }
  for (const fs::path& base : bases)
    for (std::string_view editor : EDITOR_NAMES)
      for (std::string_view storage : STORAGE_NAMES)
        if (fs::path folder = base / editor / "User" / "globalStorage" / storage; is_folder(folder)) return folder;
  return std::nullopt;
}

TypeFiles roblox_types(const json& settings, const Environment& env) {
  if (auto platform = protocol::string_at(settings, "/platform/type"); platform && *platform != "roblox") return {};
  if (const json* roblox = protocol::value_at(settings, "/types/roblox");
      roblox && roblox->is_boolean() && !roblox->get<bool>())
    return {};
  std::string level = protocol::string_at(settings, "/types/robloxSecurityLevel").value_or("PluginSecurity");
  auto folder = luau_lsp_storage(env);
  if (!folder) return {};

  TypeFiles files;
  std::vector<std::string> levels = {level};
  levels.insert(levels.end(), FALLBACK_LEVELS.begin(), FALLBACK_LEVELS.end());
  for (const std::string& each : levels) {
    if (fs::path file = *folder / ("globalTypes." + each + ".d.luau"); is_file(file)) {
      files.definitions.push_back(as_text(file));
      break;
    }
  }
  if (fs::path docs = *folder / "api-docs.json"; is_file(docs)) files.documentation.push_back(as_text(docs));
  return files;
}

NamedTypeFiles named_type_files(const json& settings) {
  NamedTypeFiles named;
  if (const json* files = protocol::value_at(settings, "/types/definitionFiles"); files && files->is_object()) {
    for (const auto& [package, file] : files->items())
      if (file.is_string()) named.definitions.push_back({package, file.get<std::string>()});
  } else if (files && files->is_array()) {
    for (const json& file : *files)
      if (file.is_string()) named.definitions.push_back({"", file.get<std::string>()});
  }
  if (const json* files = protocol::value_at(settings, "/types/documentationFiles"); files && files->is_array()) {
    for (const json& file : *files)
      if (file.is_string()) named.documentation.push_back(file.get<std::string>());
  }
  return named;
}

TypeFilePair roblox_type_files(const json& settings, const Environment& env) {
  TypeFiles files = roblox_types(settings, env);
  TypeFilePair pair;
  if (!files.definitions.empty()) pair.definitions = std::move(files.definitions.front());
  if (!files.documentation.empty()) pair.documentation = std::move(files.documentation.front());
  return pair;
}

}  // namespace tovix_lsp::locate
