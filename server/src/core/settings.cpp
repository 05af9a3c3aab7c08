#include "core/settings.h"

#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "core/locate.h"
#include "core/server.h"
#include "features/api.h"
#include "tovix/whitespace.h"
#include "workspace/protocol.h"

namespace tovix_lsp::settings {

using json = nlohmann::json;

std::optional<std::string> configured_path(const json& own_settings, const json& luau_lsp_settings) {
  static const json::json_pointer own("/luauLsp/path");
  static const json::json_pointer luau("/server/path");
  const json* value = nullptr;
  if (own_settings.is_object() && own_settings.contains(own))
    value = &own_settings.at(own);
  else if (luau_lsp_settings.is_object() && luau_lsp_settings.contains(luau))
    value = &luau_lsp_settings.at(luau);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  const auto& text = value->get_ref<const std::string&>();
  if (tovix::whitespace::trim(text).empty()) return std::nullopt;
  return text;
}

api::Sources api_sources(const json& luau_lsp_settings, const locate::Environment& env) {
  locate::NamedTypeFiles named = locate::named_type_files(luau_lsp_settings);
  auto [definitions, documentation] = locate::roblox_type_files(luau_lsp_settings, env);
  api::Sources sources;
  for (locate::NamedDefinition& each : named.definitions) sources.named_definitions.push_back(std::move(each.path));
  sources.named_documentation = std::move(named.documentation);
  sources.stored_definitions = std::move(definitions);
  sources.stored_documentation = std::move(documentation);
  return sources;
}

struct ApiLoader::State {
  State(Install install, events::Events::Sender events) : install(std::move(install)), events(std::move(events)) {}

  struct Load {
    json settings;
    locate::Environment env;
  };

  // One load, its end told to the main thread.
  void run(const Load& load) {
    std::vector<std::string> unreadable = install(api_sources(load.settings, load.env));
    (void)events.send(events::ApiLoaded{std::move(unreadable)});
  }

  // A load's thread: it, then whatever waits for a thread to end, until
  // nothing does.
  static void work(const std::shared_ptr<State>& state, Load load) {
    for (;;) {
      state->run(load);
      std::lock_guard lock(state->mutex);
      if (!state->waiting) {
        --state->running;
        return;
      }
      load = std::move(*state->waiting);
      state->waiting.reset();
    }
  }

  const Install install;
  const events::Events::Sender events;
  std::mutex mutex;
  std::optional<Load> waiting;
  std::size_t running = 0;  // threads under way
};

ApiLoader::ApiLoader(api::Slot& slot, events::Events::Sender events)
    : ApiLoader([&slot](const api::Sources& sources) { return slot.install(sources); }, std::move(events)) {}

ApiLoader::ApiLoader(Install install, events::Events::Sender events)
    : state_(std::make_shared<State>(std::move(install), std::move(events))) {}

ApiLoader::~ApiLoader() {
  std::lock_guard lock(state_->mutex);
  state_->waiting.reset();
}

void ApiLoader::load(json luau_lsp_settings, locate::Environment env) {
  State::Load load{std::move(luau_lsp_settings), std::move(env)};
  {
    std::lock_guard lock(state_->mutex);
    if (state_->running >= MAX_LOADS) {
      state_->waiting = std::move(load);
      return;
    }
    ++state_->running;
  }
  try {
    // A load may be slow to end (a file on a disk that does not answer), so
    // its thread is never waited for; it keeps the state alive.
    std::thread(&State::work, state_, load).detach();
    return;
  } catch (const std::system_error&) {
  }
  {
    std::lock_guard lock(state_->mutex);
    --state_->running;
  }
  state_->run(load);
}

std::string unreadable_line(std::string_view first, std::size_t more) {
  std::string line = "could not read ";
  line += first;
  if (more == 0) return line + ", named in the luau-lsp type settings — markup hovers and completion go without it";
  return line + " and " + std::to_string(more) + " more " + (more == 1 ? "file" : "files") +
         ", named in the luau-lsp type settings — markup hovers and completion go without them";
}

void api_loaded(server::Server& server, const std::vector<std::string>& unreadable) {
  // However many there are, one line says those not said before.
  const std::string* first = nullptr;
  std::size_t more = 0;
  for (const std::string& path : unreadable) {
    if (!server.first_time("unreadable:" + path)) continue;
    if (first == nullptr)
      first = &path;
    else
      ++more;
  }
  if (first != nullptr) server.log(2, unreadable_line(*first, more));
}

void configuration_answered(server::Server& server, const json& message) {
  const json* result = protocol::member(message, "result");
  if (result == nullptr) return;
  server.luau_lsp_settings = result->is_array() && !result->empty() ? (*result)[0] : json(nullptr);
  server.own_settings = result->is_array() && result->size() >= 2 ? (*result)[1] : json(nullptr);

  locate::Environment env = locate::Environment::current();
  // Once the facts are kept nothing is read again, so nothing need be asked.
  if (!api::API.installed()) {
    if (!server.api_loader) server.api_loader = std::make_unique<ApiLoader>(api::API, server.events);
    server.api_loader->load(server.luau_lsp_settings, env);
  }

  // A running child is never restarted, and none starts after shutdown.
  if (server.child.running() || server.shutdown_requested || server.search) return;
  const std::uint64_t number = ++server.searches;
  auto configured = configured_path(server.own_settings, server.luau_lsp_settings);
  server.search =
      std::make_unique<locate::Search>("luau-lsp", std::move(configured), std::move(env),
                                       [events = server.events, number](std::optional<std::filesystem::path> found) {
                                         events.send(events::Located{number, std::move(found)});
                                       });
}

void located(server::Server& server, std::uint64_t search, std::optional<std::filesystem::path> found) {
  if (search != server.searches) return;
  server.search.reset();
  if (server.child.running() || server.shutdown_requested) return;
  if (!found) {
    server.log(2, "luau-lsp not found — markup features only, no Luau types");
    return;
  }
  server.apply(server.child.start(*found, server.luau_lsp_settings, server.init_params, server.events));
}

}  // namespace tovix_lsp::settings
