// The server ends with its editor, however the editor goes: one that closes
// its side and never reads again does not keep it writing for ever, and
// when the server itself is killed outright no probe of its outlives it.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/process.h"
#include "core/server.h"
#include "editor_session.h"
#include "process_table.h"
#include "stand_in_child.h"

namespace tovix_lsp {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

// Long enough for a sanitizer build on a loaded machine.
constexpr auto PATIENCE = 60s;

std::string frame(const json& message) {
  const std::string body = message.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The messages in `bytes`, framed as the server frames them.
std::vector<json> messages(const std::string& bytes) {
  std::vector<json> out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t header = bytes.find("Content-Length: ", at);
    const std::size_t body = bytes.find("\r\n\r\n", header);
    if (header == std::string::npos || body == std::string::npos) return out;
    const std::size_t length = std::stoul(bytes.substr(header + 16, body - header - 16));
    if (body + 4 + length > bytes.size()) return out;
    out.push_back(json::parse(bytes.substr(body + 4, length)));
    at = body + 4 + length;
  }
}

// The server given `requests` (more answers than a pipe holds), its input
// then closed; its output read only as each case says.
TEST(EditorGone, WhatIsOwedAfterTheInputEndsWaitsForTheEditorOnlySoLong) {
  constexpr int REQUESTS = 5000;
  std::string input = frame({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}, {"params", json::object()}});
  for (int id = 1; id <= REQUESTS; ++id) input += frame({{"jsonrpc", "2.0"}, {"id", id}, {"method", "tovix/none"}});

  struct Case {
    const char* what;
    bool reads;
  };
  for (const Case& c : {Case{"an editor that never reads again", false}, Case{"one that reads slowly", true}}) {
    SCOPED_TRACE(c.what);
    process::Command command{.program = TOVIX_LSP_BINARY,
                             .args = {"--stdio"},
                             .in = process::Stream::Pipe,
                             .out = process::Stream::Pipe,
                             .err = process::Stream::Null};
    auto server = process::spawn(command);
    ASSERT_TRUE(server) << server.error().message;
    process::Fd to_server = server->take_stdin();
    process::Fd from_server = server->take_stdout();
    // The server reads its input whatever it is writing.
    for (std::string_view rest = input; !rest.empty();) {
      const ssize_t n = ::write(to_server.get(), rest.data(), rest.size());
      ASSERT_GT(n, 0);
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
    to_server.reset();

    if (!c.reads) {
      const auto ended = std::chrono::steady_clock::now();
      const auto exit = server->wait_for(PATIENCE);
      ASSERT_TRUE(exit) << "the server is still writing to an editor that reads nothing";
      EXPECT_TRUE(exit->succeeded());
      EXPECT_GE(std::chrono::steady_clock::now() - ended, server::OWED_WRITE_LIMIT / 2)
          << "it gave up on an editor that might still have read";
      continue;
    }
    // A pause well within the limit, then reads a little at a time: every
    // answer comes.
    std::this_thread::sleep_for(server::OWED_WRITE_LIMIT / 5);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    for (char buffer[4096];;) {
      pollfd ready{from_server.get(), POLLIN, 0};
      ASSERT_EQ(::poll(&ready, 1, static_cast<int>(PATIENCE / 1ms)), 1) << "no output, and no end of it";
      const ssize_t n = ::read(from_server.get(), buffer, sizeof buffer);
      ASSERT_GE(n, 0);
      if (n == 0) break;
      output.append(buffer, static_cast<std::size_t>(n));
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(messages(output).size(), std::size_t{REQUESTS} + 1);
    const auto exit = server->wait_for(PATIENCE);
    ASSERT_TRUE(exit);
    EXPECT_TRUE(exit->succeeded());
  }
}

// Waits up to `limit` for `pid` to stop running (ended, or a zombie that
// whoever owns it now reaps).
bool stops_running(int pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (testing::running(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// luau-lsp found on PATH, whose --version never ends: killing the server
// while it waits ends the probe too.
TEST(ServerGone, AKilledServerTakesAHangingProbeWithIt) {
  testing::StandInChild child("version-hang");
  const fs::path bin = child.files.dir("bin");
  fs::create_symlink(TOVIX_STAND_IN_BINARY, bin / "luau-lsp");
  testing::SessionOptions options = child.options();
  options.tovix = json::object();
  options.env["PATH"] = bin.string();
  testing::EditorSession s(options);
  ASSERT_TRUE(child.record.wait_until(s, [](const std::vector<json>& lines) { return !lines.empty(); }));
  const std::vector<int> probes = child.pids();
  ASSERT_EQ(probes.size(), 1u);
  ASSERT_EQ(::kill(s.process().pid(), SIGKILL), 0);
  (void)s.close_input();  // reaps it
  // At once; a loaded machine may take a while to show it.
  EXPECT_TRUE(stops_running(probes[0], 10s)) << "probe " << probes[0] << " outlived the server";
  if (testing::running(probes[0])) ::kill(-probes[0], SIGKILL);
}

}  // namespace
}  // namespace tovix_lsp
