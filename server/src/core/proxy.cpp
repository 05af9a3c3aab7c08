#include "core/proxy.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <system_error>
#include <thread>

#include <fcntl.h>

#include "tovix/whitespace.h"
#include "workspace/protocol.h"

namespace tovix_lsp::proxy {

using events::Child;
using events::ChildExited;
using events::ChildPublished;
using events::ChildSkipped;
using events::ChildStalled;
using events::Event;
using events::Events;
using events::MIN_CHILD_COST;

namespace {

using json = nlohmann::json;

constexpr std::array<std::string_view, 4> FLAG_PREFIXES = {"FFlag", "FInt", "DFFlag", "DFInt"};

constexpr std::array<std::string_view, 7> EDITOR_METHODS = {
    "workspace/applyEdit",
    "workspace/configuration",
    "window/showMessageRequest",
    "client/registerCapability",
    "workspace/workspaceFolders",
    "client/unregisterCapability",
    "window/workDoneProgress/create",
};

std::atomic<std::uint64_t> last_child_number{0};

constexpr int PIPE_ROOM = 1 << 20;

// The flag name an override key gives: trimmed, then at most one prefix off.
std::string_view flag_name(std::string_view key) {
  key = tovix::whitespace::trim(key);
  for (std::string_view prefix : FLAG_PREFIXES) {
    if (key.starts_with(prefix)) {
      key.remove_prefix(prefix.size());
      break;
    }
  }
  return key;
}

// The writer of child `number`'s input; its stop is said on the channel.
// `held` is set while the child's reader waits to hand a message on; `pid`
// is the process whose processor time tells a busy child (none: not known).
std::expected<std::unique_ptr<outbox::Outbox>, io::Error> writer_of(
    process::Fd input, const Events::Sender& events, std::uint64_t number,
    std::shared_ptr<const std::atomic<bool>> held = nullptr, int pid = -1) {
  outbox::Watch watch;
  if (held) watch.held = [held] { return held->load(std::memory_order_relaxed); };
  if (pid > 0) {
    watch.busy = [pid, last = process::cpu_ticks(pid)]() mutable {
      const auto now = process::cpu_ticks(pid);
      const bool busy = now && last && *now > *last;
      last = now;
      return busy;
    };
  }
  return outbox::Outbox::start(
      std::move(input),
      [events, number](outbox::Stop why) {
        events.send(ChildStalled{number, why});
      },
      std::move(watch));
}

// The child's output read off until it ends; see `read_child`.
void read_output(std::uint64_t child, process::Fd output, process::Fd pidfd, Events::Sender events,
                 const std::shared_ptr<std::atomic<bool>>& held);

}  // namespace

std::expected<Proxy, io::Error> Proxy::spawn(const std::filesystem::path& path, const std::vector<std::string>& args,
                                             Events::Sender events) {
  process::Command command;
  command.program = path;
  command.args.reserve(args.size() + 1);
  command.args.push_back("lsp");
  command.args.insert(command.args.end(), args.begin(), args.end());
  command.in = process::Stream::Pipe;
  command.out = process::Stream::Pipe;
  // A group of its own, so that letting it go also ends whatever it started
  // (a wrapper script's luau-lsp, say).
  command.own_group = true;
  auto child = process::spawn(command);
  if (!child) return std::unexpected(child.error());
  process::Fd output = child->take_stdout();
  process::Fd input = child->take_stdin();
  process::Fd watch = child->watch();
  // Room for a whole large document, so that handing one over while the
  // child is still busy with the last does not wait (the system may grant
  // less; the default is 64 KiB).
  (void)::fcntl(input.get(), F_SETPIPE_SZ, PIPE_ROOM);
  const std::uint64_t number = ++last_child_number;
  // `child` kills and reaps the process on every failure below.
  auto held = std::make_shared<std::atomic<bool>>(false);
  auto writer = writer_of(std::move(input), events, number, held, child->pid());
  if (!writer) return std::unexpected(writer.error());
  try {
    std::thread(read_output, number, std::move(output), std::move(watch), std::move(events), std::move(held)).detach();
  } catch (const std::system_error&) {
    return std::unexpected(io::Error{io::Error::Kind::Other, "failed to spawn thread"});
  }
  return Proxy(std::move(*child), std::move(*writer), path, number);
}

std::expected<Proxy, io::Error> Proxy::attach(process::Fd input, Events::Sender events) {
  const std::uint64_t number = ++last_child_number;
  auto writer = writer_of(std::move(input), events, number);
  if (!writer) return std::unexpected(writer.error());
  return Proxy(process::Child(), std::move(*writer), {}, number);
}

std::expected<std::int64_t, io::Error> Proxy::request(std::string_view method, json params, outbox::Tag tag) {
  std::int64_t id = next_id_++;
  if (auto failure = write(jsonrpc::build::request(id, method, std::move(params)), std::move(tag)))
    return std::unexpected(*failure);
  return id;
}

std::optional<io::Error> Proxy::notify(std::string_view method, json params, outbox::Tag tag) {
  return write(jsonrpc::build::notification(method, std::move(params)), std::move(tag));
}

std::optional<io::Error> Proxy::write(const json& message, outbox::Tag tag) {
  auto frame = jsonrpc::frame(message);
  if (!frame) return frame.error();
  if (!input_ || !input_->push(std::move(*frame), std::move(tag)))
    return io::Error{io::Error::Kind::Other, "luau-lsp is not reading its input"};
  return std::nullopt;
}

void Proxy::drain(std::chrono::milliseconds limit) {
  if (input_) input_->drain(limit);
}

void Proxy::shutdown() {
  (void)request("shutdown", nullptr);
  (void)notify("exit", nullptr);
  // A child that reads gets both; one that does not is not waited for.
  drain(SHUTDOWN_GRACE);
  child_.kill();
  // The writer is stopped before the child is reaped (see `input_`).
  if (input_) input_->close();
  (void)child_.wait();
}

void read_child(std::uint64_t child, process::Fd output, process::Fd pidfd, Events::Sender events) {
  read_output(child, std::move(output), std::move(pidfd), std::move(events), nullptr);
}

namespace {

void read_output(std::uint64_t child, process::Fd output, process::Fd pidfd, Events::Sender events,
                 const std::shared_ptr<std::atomic<bool>>& held) {
  // The main thread may be slow to take a message (busy, or writing to an
  // editor that is slow to read): the child then waits on us, not we on it.
  const auto hand_on = [&](Event event, std::size_t cost, std::string key) {
    if (held) held->store(true, std::memory_order_relaxed);
    const bool taken = events.send_bounded(std::move(event), cost, std::move(key));
    if (held) held->store(false, std::memory_order_relaxed);
    return taken;
  };
  process::PipeInput input(std::move(output), std::move(pidfd));
  jsonrpc::Reader reader(input, MAX_CHILD_BODY);
  for (;;) {
    auto body = reader.read_body();
    if (!body && body.error().kind == io::Error::Kind::InvalidJson) {
      // Read past, in step: what waited for it is answered otherwise.
      if (!events.send(ChildSkipped{child, reader.refused()})) return;
      continue;
    }
    if (!body || !*body) {
      events.send(ChildExited{child});
      return;
    }
    const std::size_t cost = std::max(reader.last_length(), MIN_CHILD_COST);
    // Of publications about one file that wait behind each other only the
    // last counts: a child that publishes faster than we place them must
    // not make us place every one.
    if (auto publication = published::scan_notification(**body)) {
      std::string key = std::to_string(child) + " " + publication->uri;
      if (!hand_on(ChildPublished{child, std::move(*publication)}, cost, std::move(key))) return;
      continue;
    }
    auto parsed = jsonrpc::parse_body(**body);
    if (!parsed) {
      events.send(ChildExited{child});
      return;
    }
    json& value = *parsed;
    std::string key;
    if (const json* method = protocol::member(value, "method");
        method && *method == "textDocument/publishDiagnostics" && !value.contains("id")) {
      const json* params = protocol::member(value, "params");
      const json* uri = params ? protocol::member(*params, "uri") : nullptr;
      if (uri && uri->is_string()) key = std::to_string(child) + " " + uri->get<std::string>();
    }
    if (!hand_on(Child{child, std::move(value)}, cost, std::move(key))) return;
  }
}

}  // namespace

std::vector<std::string> arguments(const json& settings, const locate::Environment& env) {
  std::vector<std::string> args = {"--stdio"};
  locate::TypeFiles roblox = locate::roblox_types(settings, env);

  const locate::NamedTypeFiles named = locate::named_type_files(settings);

  for (const std::string& file : roblox.definitions) args.push_back("--definitions=" + file);
  for (const auto& [package, file] : named.definitions) {
    // luau-lsp's object form names a package, marked with "@".
    if (package.empty())
      args.push_back("--definitions=" + file);
    else
      args.push_back("--definitions=" + (package.starts_with('@') ? package : "@" + package) + "=" + file);
  }

  for (const std::string& file : roblox.documentation) args.push_back("--docs=" + file);
  for (const std::string& file : named.documentation) args.push_back("--docs=" + file);

  // luau-lsp exits at once on an empty base path, so only a real one goes.
  const json* luaurc = protocol::value_at(settings, "/platform/baseLuaurc");
  if (!luaurc) luaurc = protocol::value_at(settings, "/server/baseLuaurc");
  if (luaurc && luaurc->is_string() && !luaurc->get_ref<const std::string&>().empty())
    args.push_back("--base-luaurc=" + luaurc->get<std::string>());

  if (const json* enabled = protocol::value_at(settings, "/fflags/enableByDefault");
      enabled && enabled->is_boolean() && !enabled->get<bool>())
    args.push_back("--no-flags-enabled");
  return args;
}

json fflags(const json& settings, const json* editor_fflags) {
  json flags = editor_fflags && editor_fflags->is_object() ? *editor_fflags : json::object();
  if (const json* solver = protocol::value_at(settings, "/fflags/enableNewSolver");
      solver && solver->is_boolean() && solver->get<bool>())
    flags["LuauSolverV2"] = "true";
  if (const json* overrides = protocol::value_at(settings, "/fflags/override"); overrides && overrides->is_object()) {
    // Object members iterate in ascending key order, so of two keys giving
    // one name the later wins.
    for (const auto& [key, value] : overrides->items()) {
      if (!value.is_string()) continue;
      std::string_view text = tovix::whitespace::trim(value.get_ref<const std::string&>());
      std::string_view name = flag_name(key);
      if (text.empty() || name.empty()) continue;
      flags[std::string(name)] = std::string(text);
    }
  }
  // luau-lsp reads the flags as text to text and drops them all at the
  // first value that is not a string.
  for (auto& [name, value] : flags.items())
    if (!value.is_string()) value = value.dump(-1, ' ', false, json::error_handler_t::replace);
  return flags;
}

bool needs_the_editor(const jsonrpc::Message& message) {
  const std::string* method = nullptr;
  if (const auto* request = std::get_if<jsonrpc::Request>(&message)) method = &request->method;
  if (const auto* notification = std::get_if<jsonrpc::Notification>(&message)) method = &notification->method;
  if (!method) return false;
  for (std::string_view each : EDITOR_METHODS)
    if (*method == each) return true;
  return false;
}

}  // namespace tovix_lsp::proxy
