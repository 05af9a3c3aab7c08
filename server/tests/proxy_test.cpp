// The running child, with the stand-in for luau-lsp: ids, the one exit event
// of every child, malformed output, and no process left behind.

#include "core/proxy.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "lsp_process.h"
#include "process_table.h"
#include "temp_tree.h"

namespace tovix_lsp::proxy {
namespace {

using namespace events;

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;
using testing::gone;
using testing::running;

std::string link_of(const fs::path& path) {
  std::error_code ec;
  return fs::read_symlink(path, ec).string();
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The bodies of framed messages, in order.
std::vector<json> frames(const std::string& wire) {
  std::vector<json> out;
  std::size_t pos = 0;
  while (pos < wire.size()) {
    auto end = wire.find("\r\n\r\n", pos);
    if (end == std::string::npos || wire.compare(pos, 16, "Content-Length: ") != 0) break;
    std::size_t length = std::stoul(wire.substr(pos + 16, end - pos - 16));
    out.push_back(json::parse(wire.substr(end + 4, length)));
    pos = end + 4 + length;
  }
  return out;
}

struct Fixture {
  std::pair<Events::Sender, Events::Receiver> channel = Events::make();

  Proxy stand_in(const std::string& modes = "") {
    std::vector<std::string> args = {"--stdio"};
    if (!modes.empty()) args.push_back("--stand-in=" + modes);
    auto proxy = Proxy::spawn(TOVIX_STAND_IN_BINARY, args, channel.first);
    EXPECT_TRUE(proxy) << proxy.error().message;
    return std::move(*proxy);
  }

  // Every event until child `number` has exited and then none has come for
  // a while (a second exit would come within it).
  std::vector<Event> events_until_exit(std::uint64_t number, std::chrono::milliseconds quiet = 300ms) {
    std::vector<Event> events;
    const auto exited = [&] {
      for (const Event& event : events)
        if (auto* e = std::get_if<ChildExited>(&event); e && e->child == number) return true;
      return false;
    };
    while (auto event = channel.second.receive_for(exited() ? quiet : testing::PATIENCE))
      events.push_back(std::move(*event));
    return events;
  }

  // The next event, which must be a message of child `number`.
  json message_of(std::uint64_t number) {
    auto event = channel.second.receive_for(testing::PATIENCE);
    if (!event) {
      ADD_FAILURE() << "no event";
      return nullptr;
    }
    if (auto* published = std::get_if<ChildPublished>(&*event)) {
      EXPECT_EQ(published->child, number);
      return tovix_lsp::published::value_of(published->publication);
    }
    auto* child = std::get_if<Child>(&*event);
    if (!child) {
      ADD_FAILURE() << "not a child message (" << event->index() << ")";
      return nullptr;
    }
    EXPECT_EQ(child->child, number);
    return child->value;
  }
};

std::size_t exit_events(const std::vector<Event>& events, std::uint64_t number) {
  std::size_t n = 0;
  for (const Event& event : events) {
    auto* exited = std::get_if<ChildExited>(&event);
    if (exited && exited->child == number) ++n;
  }
  return n;
}

// A child that copies everything it is sent to a file, where the test can
// read it even after the child was killed: the copying is done by a process
// in a session of its own, which outlives the killed shell's group and ends
// when the input closes. That process says {} once it runs there.
const char* RECORDER =
    "exec 3<&0 4>&1\n"
    "setsid sh -c 'printf \"Content-Length: 2\\r\\n\\r\\n{}\" >&4; exec cat <&3 >\"$0\"' \"$2\" &\n"
    "wait";

TEST(Proxy, IdsRiseFromOneAndShutdownTakesTheNext) {
  testing::TempTree tree;
  fs::path child = tree.script("recorder", RECORDER);
  fs::path copy = tree.root() / "copy";
  auto [sender, receiver] = Events::make();
  {
    auto proxy = Proxy::spawn(child, {copy.string()}, sender);
    ASSERT_TRUE(proxy) << proxy.error().message;
    ASSERT_TRUE(receiver.receive_for(testing::PATIENCE));
    EXPECT_EQ(proxy->request("a", 1), 1);
    EXPECT_EQ(proxy->request("b", json::object()), 2);
    EXPECT_EQ(proxy->request("c", nullptr), 3);
    proxy->shutdown();
  }
  std::vector<json> sent;
  for (int i = 0; i < 500 && sent.size() < 5; ++i) {
    std::this_thread::sleep_for(10ms);
    sent = frames(read_text(copy));
  }
  ASSERT_EQ(sent.size(), 5u) << read_text(copy);
  EXPECT_EQ(sent[0].dump(), R"({"id":1,"jsonrpc":"2.0","method":"a","params":1})");
  EXPECT_EQ(sent[1].dump(), R"({"id":2,"jsonrpc":"2.0","method":"b","params":{}})");
  EXPECT_EQ(sent[2].dump(), R"({"id":3,"jsonrpc":"2.0","method":"c","params":null})");
  EXPECT_EQ(sent[3].dump(), R"({"id":4,"jsonrpc":"2.0","method":"shutdown","params":null})");
  EXPECT_EQ(sent[4].dump(), R"({"jsonrpc":"2.0","method":"exit","params":null})");
}

TEST(Proxy, AnswersArriveAsEventsOfTheirChild) {
  Fixture f;
  Proxy proxy = f.stand_in("echo");
  ASSERT_EQ(proxy.request("initialize", json::object()), 1);
  EXPECT_EQ(f.message_of(proxy.number()).at("result").at("serverInfo").at("name"), "stand-in");
  ASSERT_EQ(proxy.request("textDocument/hover", {{"x", 1}}), 2);
  EXPECT_EQ(f.message_of(proxy.number()).dump(),
            R"({"id":2,"jsonrpc":"2.0","result":{"method":"textDocument/hover","params":{"x":1}}})");
}

// Every child, however it ends, gives exactly one exit event, and once
// dropped it is reaped.
TEST(Proxy, OneExitEventPerChild) {
  struct Case {
    const char* name;
    const char* modes;
    std::function<void(std::optional<Proxy>&)> act;
  };
  const Case cases[] = {
      {"it exits at once", "exit-at-once", [](std::optional<Proxy>&) {}},
      {"it exits on a request", "exit-on=initialize",
       [](std::optional<Proxy>& p) { ASSERT_TRUE(p->request("initialize", json::object())); }},
      {"it is dropped (killed)", "", [](std::optional<Proxy>& p) { p.reset(); }},
      {"it is shut down", "", [](std::optional<Proxy>& p) { p->shutdown(); }},
      {"it is shut down and dropped", "",
       [](std::optional<Proxy>& p) {
         p->shutdown();
         p.reset();
       }},
      {"it never answers and is dropped", "never-answer",
       [](std::optional<Proxy>& p) {
         ASSERT_TRUE(p->request("initialize", json::object()));
         p.reset();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    std::optional<Proxy> proxy = f.stand_in(c.modes);
    const std::uint64_t number = proxy->number();
    const int pid = proxy->pid();
    c.act(proxy);
    std::vector<Event> events = f.events_until_exit(number);
    EXPECT_EQ(exit_events(events, number), 1u);
    // Besides, only what it said (its answer to shutdown, say), and that its
    // writer found its input closed.
    for (const Event& event : events)
      EXPECT_TRUE(std::holds_alternative<ChildExited>(event) || std::holds_alternative<Child>(event) ||
                  std::holds_alternative<ChildStalled>(event));
    proxy.reset();
    EXPECT_TRUE(gone(pid)) << "child " << pid << " left in the process table";
  }
}

// Output that is not a message ends the child as its end would, while the
// process itself still runs until it is dropped.
TEST(Proxy, MalformedOutputEndsTheChild) {
  for (const char* mode : {"garbage", "bad-json", "oversized"}) {
    SCOPED_TRACE(mode);
    Fixture f;
    std::optional<Proxy> proxy = f.stand_in(mode);
    const int pid = proxy->pid();
    ASSERT_TRUE(proxy->request("initialize", json::object()));
    EXPECT_EQ(f.message_of(proxy->number()).at("id"), 1);
    std::vector<Event> events = f.events_until_exit(proxy->number());
    EXPECT_EQ(exit_events(events, proxy->number()), 1u);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_TRUE(running(pid));
    proxy.reset();
    EXPECT_TRUE(gone(pid));
  }
}

// An exit event names its child, so that the exit of a child let go of is
// told apart from the current one's.
TEST(Proxy, ExitEventsNameTheirChild) {
  Fixture f;
  std::optional<Proxy> old = f.stand_in();
  Proxy current = f.stand_in();
  const std::uint64_t old_number = old->number();
  EXPECT_NE(old_number, current.number());
  old.reset();
  std::vector<Event> events = f.events_until_exit(old_number);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(exit_events(events, old_number), 1u);
  ASSERT_EQ(current.request("initialize", json::object()), 1);
  EXPECT_EQ(f.message_of(current.number()).at("id"), 1);
}

// A child attached to a descriptor rather than started: written as a
// started one is, numbered apart, and nothing to signal or reap.
TEST(Proxy, AnAttachedChildIsWrittenAsAStartedOne) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  process::Fd read_end(ends[0]);
  auto [sender, receiver] = Events::make();
  {
    auto proxy = Proxy::attach(process::Fd(ends[1]), sender);
    ASSERT_TRUE(proxy) << proxy.error().message;
    auto other = Proxy::attach(process::Fd(::open("/dev/null", O_WRONLY | O_CLOEXEC)), sender);
    ASSERT_TRUE(other) << other.error().message;
    EXPECT_NE(proxy->number(), other->number());
    EXPECT_EQ(proxy->pid(), -1);
    EXPECT_EQ(proxy->request("a", 1), 1);
    EXPECT_FALSE(proxy->notify("b", nullptr));
    proxy->shutdown();
  }
  std::string wire;
  char buffer[4096];
  for (ssize_t n; (n = ::read(read_end.get(), buffer, sizeof buffer)) > 0;)
    wire.append(buffer, static_cast<std::size_t>(n));
  const std::vector<json> sent = frames(wire);
  ASSERT_EQ(sent.size(), 4u) << wire;
  EXPECT_EQ(sent[0].dump(), R"({"id":1,"jsonrpc":"2.0","method":"a","params":1})");
  EXPECT_EQ(sent[1].dump(), R"({"jsonrpc":"2.0","method":"b","params":null})");
  EXPECT_EQ(sent[2].dump(), R"({"id":2,"jsonrpc":"2.0","method":"shutdown","params":null})");
  EXPECT_EQ(sent[3].dump(), R"({"jsonrpc":"2.0","method":"exit","params":null})");
  // Nothing reads for it, so nothing of it arrives.
  EXPECT_FALSE(receiver.receive_for(100ms));
}

TEST(Proxy, StartFailures) {
  testing::TempTree tree;
  Fixture f;
  auto missing = Proxy::spawn(tree.root() / "missing", {}, f.channel.first);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "No such file or directory");
  auto not_executable = Proxy::spawn(tree.file("plain", "#!/bin/sh\n", 0644), {}, f.channel.first);
  ASSERT_FALSE(not_executable);
  EXPECT_EQ(not_executable.error().message, "Permission denied");
  EXPECT_FALSE(f.channel.second.receive_for(200ms));
}

// Writing to a child that has gone is an error, never a SIGPIPE that would
// end the server: the writer stops and says so, later writes are errors at
// once, and the ids are used up all the same.
TEST(Proxy, WritesToAGoneChildAreErrors) {
  std::signal(SIGPIPE, SIG_DFL);
  Fixture f;
  Proxy proxy = f.stand_in("exit-at-once");
  ASSERT_EQ(exit_events(f.events_until_exit(proxy.number()), proxy.number()), 1u);
  EXPECT_EQ(proxy.request("initialize", json::object()), 1);  // queued; written later
  auto event = f.channel.second.receive_for(testing::PATIENCE);
  ASSERT_TRUE(event);
  auto* stalled = std::get_if<ChildStalled>(&*event);
  ASSERT_TRUE(stalled);
  EXPECT_EQ(stalled->child, proxy.number());
  EXPECT_EQ(stalled->why, outbox::Stop::Failed);
  EXPECT_EQ(proxy.request("initialize", json::object()).error().message, "luau-lsp is not reading its input");
  EXPECT_TRUE(proxy.notify("initialized", json::object()));
  proxy.shutdown();
  // The ids 1, 2 and (by shutdown) 3 were used up.
  EXPECT_FALSE(proxy.request("x", nullptr));
}

// The child starts with the default SIGPIPE whatever the server set, shares
// our standard error, and holds no pipe of another child.
TEST(Proxy, ChildStartsClean) {
  std::signal(SIGPIPE, SIG_IGN);
  Fixture f;
  Proxy first = f.stand_in();
  Proxy second = f.stand_in();
  const std::string proc = "/proc/" + std::to_string(second.pid());
  std::ifstream status(proc + "/status");
  std::string line;
  unsigned long long ignored = ~0ull;
  while (std::getline(status, line))
    if (line.starts_with("SigIgn:")) ignored = std::stoull(line.substr(7), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
  EXPECT_EQ(link_of(proc + "/fd/2"), link_of("/proc/self/fd/2"));
  const std::string first_proc = "/proc/" + std::to_string(first.pid());
  const std::string first_in = link_of(first_proc + "/fd/0"), first_out = link_of(first_proc + "/fd/1");
  ASSERT_TRUE(first_in.starts_with("pipe:"));
  for (const auto& entry : fs::directory_iterator(proc + "/fd")) {
    std::string target = link_of(entry.path());
    EXPECT_NE(target, first_in) << entry.path();
    EXPECT_NE(target, first_out) << entry.path();
  }
  std::signal(SIGPIPE, SIG_DFL);
}

// The stand-in's switches that later tests of the server lean on.
TEST(StandIn, HoldsRequestsUntilItsConfigurationIsAnswered) {
  Fixture f;
  Proxy proxy = f.stand_in("ask-configuration,echo");
  ASSERT_EQ(proxy.request("initialize", json::object()), 1);
  EXPECT_EQ(f.message_of(proxy.number()).at("id"), 1);
  EXPECT_FALSE(proxy.notify("initialized", json::object()));
  json ask = f.message_of(proxy.number());
  EXPECT_EQ(ask.at("method"), "workspace/configuration");
  ASSERT_EQ(proxy.request("textDocument/hover", {{"n", 2}}), 2);
  EXPECT_FALSE(f.channel.second.receive_for(200ms));
  EXPECT_FALSE(proxy.write(jsonrpc::build::result(ask.at("id"), json::array({json::object()}))));
  EXPECT_EQ(f.message_of(proxy.number()).at("result").at("params").at("n"), 2);
}

TEST(StandIn, OutOfOrderAnswersTheSecondFirst) {
  Fixture f;
  Proxy proxy = f.stand_in("out-of-order");
  ASSERT_EQ(proxy.request("initialize", json::object()), 1);
  EXPECT_EQ(f.message_of(proxy.number()).at("id"), 1);
  ASSERT_TRUE(proxy.request("a", nullptr));
  ASSERT_TRUE(proxy.request("b", nullptr));
  EXPECT_EQ(f.message_of(proxy.number()).at("id"), 3);
  EXPECT_EQ(f.message_of(proxy.number()).at("id"), 2);
}

TEST(StandIn, ScriptDiagnosticsAndRecord) {
  testing::TempTree tree;
  fs::path record = tree.root() / "record";
  fs::path script = tree.file("script.json", R"({"results":{"textDocument/hover":{"contents":"hi"}},)"
                                             R"("on":{"initialized":[{"jsonrpc":"2.0","method":"window/logMessage",)"
                                             R"("params":{"message":"ready","type":3}}]}})");
  ::setenv("TOVIX_STAND_IN_RECORD", record.c_str(), 1);
  ::setenv("TOVIX_STAND_IN_SCRIPT", script.c_str(), 1);
  Fixture f;
  Proxy proxy = f.stand_in("diagnostics");
  ::unsetenv("TOVIX_STAND_IN_RECORD");
  ::unsetenv("TOVIX_STAND_IN_SCRIPT");
  ASSERT_TRUE(proxy.request("initialize", json::object()));
  f.message_of(proxy.number());
  EXPECT_FALSE(proxy.notify("initialized", json::object()));
  EXPECT_EQ(f.message_of(proxy.number()).at("params").at("message"), "ready");
  EXPECT_FALSE(proxy.notify("textDocument/didOpen", {{"textDocument", {{"uri", "file:///a.luau"}}}}));
  json published = f.message_of(proxy.number());
  EXPECT_EQ(published.at("method"), "textDocument/publishDiagnostics");
  EXPECT_EQ(published.at("params").at("uri"), "file:///a.luau");
  EXPECT_EQ(published.at("params").at("diagnostics").at(0).at("message"), "stand-in diagnostic");
  ASSERT_TRUE(proxy.request("textDocument/hover", nullptr));
  EXPECT_EQ(f.message_of(proxy.number()).at("result").at("contents"), "hi");

  std::vector<json> lines;
  std::istringstream text(read_text(record));
  for (std::string line; std::getline(text, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines.at(0).at("argv"), json::array({TOVIX_STAND_IN_BINARY, "lsp", "--stdio", "--stand-in=diagnostics"}));
  EXPECT_EQ(lines.at(0).at("pid"), proxy.pid());
  EXPECT_EQ(lines.at(4).at("method"), "textDocument/hover");
}

}  // namespace
}  // namespace tovix_lsp::proxy
