#pragma once

// The editor's settings as they bear on the child: which luau-lsp to run and
// what the child is told in its `initialize`.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/events.h"
#include "core/locate.h"
#include "features/api.h"

namespace tovix_lsp::server {
class Server;
}

namespace tovix_lsp::settings {

// The luau-lsp the user configured: "/luauLsp/path" of the "tovix" section,
// or, only when that member is absent, "/server/path" of the "luau-lsp"
// section. It counts when it is a string that is not blank, and is then
// taken exactly as written.
[[nodiscard]] std::optional<std::string> configured_path(const nlohmann::json& own_settings,
                                                         const nlohmann::json& luau_lsp_settings);

// Where the Roblox API facts come from under the "luau-lsp" section: the
// type files it names, then those of the extension's storage.
[[nodiscard]] api::Sources api_sources(const nlohmann::json& luau_lsp_settings, const locate::Environment& env);

// The loads of the Roblox API facts, each on a thread of its own (the files
// run to megabytes, and one may be slow to come): a load never waits for an
// earlier one that has not finished, and of loads that overlap the first to
// finish keeps its facts. At most MAX_LOADS run at once; a load asked past
// that waits for one of them to end, in place of any that waited before it
// (the newer settings are the ones that count). Each load ends in an
// `ApiLoaded` on `events`. Used by the main thread alone. Dropping it drops
// the load still waiting; loads under way are left to end on their own,
// touching nothing of ours but what `install` touches, which must outlive
// them (the process-wide slot is never destroyed).
class ApiLoader {
 public:
  // One load: the facts of `sources` kept, the named files that could not
  // be read given back.
  using Install = std::function<std::vector<std::string>(const api::Sources& sources)>;

  static constexpr std::size_t MAX_LOADS = 4;

  // Loads into `slot`.
  ApiLoader(api::Slot& slot, events::Events::Sender events);
  ApiLoader(Install install, events::Events::Sender events);
  ~ApiLoader();
  ApiLoader(const ApiLoader&) = delete;
  ApiLoader& operator=(const ApiLoader&) = delete;

  // Asks for a load from the "luau-lsp" section as it is now. Where no
  // thread could be started, the load runs here.
  void load(nlohmann::json luau_lsp_settings, locate::Environment env);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// A configuration answer: keeps both sections, asks for the Roblox API
// facts to be loaded (unless they are already kept) and, when no child runs
// and none is being looked for, starts the search for luau-lsp (on a thread
// of its own: its candidates are run to see whether they work, and one may
// hang).
void configuration_answered(server::Server& server, const nlohmann::json& message);

// The line saying that the named type file `first`, and `more` others with
// it, could not be read.
[[nodiscard]] std::string unreadable_line(std::string_view first, std::size_t more);

// The end of a load of the API facts: the named type files that could not
// be read are said in one line (`unreadable_line`), each path only once.
void api_loaded(server::Server& server, const std::vector<std::string>& unreadable);

// The end of search `search`: when it is the one still awaited and no child
// runs, starts and initialises what it found (or says nothing was found).
void located(server::Server& server, std::uint64_t search, std::optional<std::filesystem::path> found);

}  // namespace tovix_lsp::settings
