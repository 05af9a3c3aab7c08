// A child that stops reading, floods, hangs on --version, sends requests
// that make no sense, or leaves its pipes to something it started never
// stops the server answering the editor. Each case ends the same way: a
// markup request answered at once, shutdown answered, exit status 0, and no
// process of the case left running.
//
// The limits hold for a sanitizer build on a machine loaded several times
// over, and stay below what the fault they catch would take: the 5 s a child
// that stopped reading (or a hung probe) is given.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "core/child_session.h"
#include "core/outbox.h"
#include "core/proxy.h"
#include "editor_session.h"
#include "process_table.h"
#include "stand_in_child.h"
#include "workspace/project.h"

namespace tovix_lsp {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;
using testing::EditorSession;
using testing::SessionOptions;
using testing::StandInRecord;
using testing::TempTree;

const std::string STAND_IN = TOVIX_STAND_IN_BINARY;
const fs::path LUAU_LSP = TOVIX_LUAU_LSP;

// A markup request answered by the server alone, however the child does.
constexpr auto PROBE_LIMIT = 2s;
// A Luau answer while the child floods: it waits behind the flood in the
// child's output and in our backlog of it, which under a sanitizer with eight
// copies of the tests at once took more than 6 s.
constexpr std::chrono::seconds FLOODED_LUAU_LIMIT = 30s;
// Shutdown, or the end of the input, to the end of the process: below the
// stall limit, which a server that waited for the child would wait out.
constexpr auto END_LIMIT = outbox::STALL_LIMIT - 1s;
const std::string STOPPED = "luau-lsp stopped reading its input — markup features only";

// A document of about 73 KB: markup the compiler accepts, one element a line.
std::string big_document(int salt = 0) {
  std::string text = "local create = nil\n";
  for (int i = 0; text.size() < 73 * 1024; ++i)
    text += "local l" + std::to_string(i) + " = <TextLabel Text=\"" + std::to_string(salt) + "\" />\n";
  return text;
}

const char* const SMALL = "local create = nil\nlocal value = 1\nreturn <Frame Name=\"x\" />\n";

bool method_is(const json& m, const std::string& method) { return m.value("method", "") == method; }

bool is_answer_to(const json& m, int id) { return !m.contains("method") && m.value("id", json()) == id; }

// A case whose premise did not hold on this run says so and skips what
// rests on it.
void note(const std::string& text) {
  std::cout << "[     NOTE ] " << text << std::endl;
  ::testing::Test::RecordProperty("note", text);
}

// Where the first markup element's name is in `text`: a markup hover there
// is answered by the server alone, and cheaply even in a large document.
json markup_position(const std::string& text) { return testing::position_of(text, text.find('<') + 2); }

// The stand-in as the child, found at a configured path (or, with the
// configured path taken out, as "luau-lsp" on PATH, so that it is probed).
using Hostile = testing::StandInChild;

// Waits up to `limit` for `pid` to stop running (ended, or a zombie that
// whoever owns it now reaps).
bool stops_running(int pid, std::chrono::milliseconds limit = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (testing::running(pid)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// The probe: a hover on the markup of an open document (`text`), answered
// within the limit.
void expect_probe_answered(EditorSession& s, const std::string& uri, const std::string& text,
                           std::chrono::seconds limit = PROBE_LIMIT) {
  const auto asked = std::chrono::steady_clock::now();
  const int id = s.send_request("textDocument/hover", EditorSession::at(uri, markup_position(text)));
  const auto answer = s.wait_for([&](const json& m) { return is_answer_to(m, id); }, limit);
  ASSERT_TRUE(answer) << "no answer to a markup request within " << limit.count() << " s";
  EXPECT_TRUE(answer->value("result", json()).is_object()) << answer->dump();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
  ::testing::Test::RecordProperty("probe_ms", std::to_string(took.count()));
}

// How long `end` takes to end the server, which must end with status 0.
std::chrono::milliseconds time_to_end(const std::function<int()>& end) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(end(), 0);
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
}

// The end of every case: a probe, shutdown answered, exit 0, nothing left.
void expect_clean_end(EditorSession& s, const std::string& uri, const std::string& text, const std::vector<int>& pids) {
  expect_probe_answered(s, uri, text);
  EXPECT_LT(time_to_end([&] { return s.shutdown_and_exit(); }), END_LIMIT) << "shutdown and exit waited on the child";
  for (int pid : pids) EXPECT_TRUE(stops_running(pid)) << "process " << pid << " left running";
}

// Whether the input pipe of process `pid` is full (to within a page), read
// through its /proc entry; nothing when that cannot be read.
std::optional<bool> input_full(int pid) {
  const int fd = ::open(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  int unread = 0;
  const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
  const bool read = capacity > 0 && ::ioctl(fd, FIONREAD, &unread) == 0;
  ::close(fd);
  if (!read) return std::nullopt;
  return unread + 4096 > capacity;
}

// Edits until the input pipe of the child `pid` is full: each a new whole
// text, analysed before the next is sent (edits waiting behind each other
// are taken as one), so the server hands the child a new text each time:
// the big document with a comment of more than the 1 MiB pipe the server
// asks for, cheap to compile. It stops as soon as the pipe is full, so that
// the child is still held when the test goes on: from the first text left
// unread the stall limit runs.
void fill_the_pipe(EditorSession& s, const std::string& uri, int from_version, int pid) {
  std::string comment = "--[[\n";
  while (comment.size() < (std::size_t{1} << 20) + (64 << 10)) comment += std::string(99, 'x') + "\n";
  comment += "]]\n";
  for (int i = 0; i < 20; ++i) {
    s.change(uri, big_document(i + 1) + comment, from_version + i);
    ASSERT_TRUE(s.diagnostics(uri));
    // The child's writer is a thread of its own: give it a moment.
    for (int look = 0; look < 100; ++look) {
      const auto full = input_full(pid);
      if (!full) break;  // unknown: go on with the edits
      if (*full) {
        // What the edits left the server to do (compiling, handing the
        // text over) is done before the test goes on.
        s.settle();
        return;
      }
      s.pump(10ms);
    }
  }
}

// With its input pipe full, and with room left in it (what was written
// there is never read, and a request in there never answered).
TEST(HostileChildE2E, AChildThatStopsReadingIsLetGoAndNeverBlocksTheEditor) {
  for (const bool fill : {true, false}) {
    SCOPED_TRACE(fill ? "pipe full" : "room left");
    Hostile child("stop-reading");
    EditorSession s(child.options());
    const std::string text = big_document();
    const std::string uri = s.open("a.tovix", text);
    ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); }));
    const int pid = child.record.pids().at(0);
    if (fill) fill_the_pipe(s, uri, 2, pid);
    // The server still answers at once, a request for the child included
    // when the editor takes it back.
    expect_probe_answered(s, uri, text);
    const json luau = EditorSession::at(uri, {{"line", 1}, {"character", 7}});
    const int cancelled = s.send_request("textDocument/hover", luau);
    s.notify("$/cancelRequest", {{"id", cancelled}});
    const auto answer = s.wait_for([&](const json& m) { return is_answer_to(m, cancelled); }, PROBE_LIMIT);
    ASSERT_TRUE(answer);
    if (!answer->contains("error") && s.logged(STOPPED) > 0) {
      // Slower than the stall limit to get here: the child was let go before
      // the cancel, and the request was answered without it.
      note("the child was let go before the cancel; its answer is not checked: " + answer->dump());
    } else {
      ASSERT_TRUE(answer->contains("error")) << answer->dump();
      EXPECT_EQ(answer->at("error").value("code", 0), -32800) << answer->dump();
    }
    // One that waits is answered when the child is let go, within a few
    // seconds: killed, reaped, forgotten.
    const int waiting = s.send_request("textDocument/hover", luau);
    EXPECT_TRUE(s.log_line(STOPPED));
    EXPECT_EQ(s.response(waiting).value("result", json("absent")), json(nullptr));
    EXPECT_TRUE(stops_running(pid));
    EXPECT_TRUE(s.children().empty());
    // Luau requests are answered without it now.
    EXPECT_EQ(s.result("textDocument/hover", luau), json(nullptr));
    expect_clean_end(s, uri, text, child.pids());
  }
}

TEST(HostileChildE2E, ShutdownAndTheEndOfInputDoNotWaitForAChildThatStoppedReading) {
  for (const bool orderly : {true, false}) {
    SCOPED_TRACE(orderly ? "shutdown and exit" : "end of input");
    Hostile child("stop-reading");
    EditorSession s(child.options());
    const std::string text = big_document();
    const std::string uri = s.open("a.tovix", text);
    ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); }));
    fill_the_pipe(s, uri, 2, child.record.pids().at(0));
    expect_probe_answered(s, uri, text);
    if (s.logged(STOPPED) > 0) note("the child was let go before the end: the end did not wait with it held");
    const auto took = time_to_end([&] { return orderly ? s.shutdown_and_exit() : s.close_input(); });
    EXPECT_LT(took, END_LIMIT);
    for (int pid : child.pids()) EXPECT_TRUE(stops_running(pid));
  }
}

TEST(HostileChildE2E, AFloodingChildNeitherDelaysTheEditorNorFloodsIt) {
  for (const char* mode : {"flood-diagnostics", "flood-log"}) {
    SCOPED_TRACE(mode);
    Hostile child(mode);
    EditorSession s(child.options());
    const auto opened = std::chrono::steady_clock::now();
    const std::string uri = s.open("a.tovix", SMALL);
    ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); }));
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < until) {
      expect_probe_answered(s, uri, SMALL);
      std::this_thread::sleep_for(200ms);
    }
    if (std::string(mode) == "flood-log") {
      s.pump(1500ms);
      std::size_t shown = 0;
      for (const json& m : s.history())
        shown += method_is(m, "window/logMessage") && m.at("params").value("message", "") == "flood";
      // A second's worth for each second the flood ran, give or take the
      // edges of the seconds counted.
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - opened);
      EXPECT_LE(shown, (static_cast<std::size_t>(seconds.count()) + 2) * 20u);
      EXPECT_TRUE(s.wait_for([](const json& m) {
        return method_is(m, "window/logMessage") &&
               m.at("params")
                   .value("message", "")
                   .starts_with("tovix: luau-lsp sent more messages than can be shown: ");
      }));
    }
    expect_clean_end(s, uri, SMALL, child.pids());
  }
}

// Bodies of the child's past the limit are read past, each said in one
// line: an answer among them still answers its request, a request is
// refused, and the server stays in step with the child.
TEST(HostileChildE2E, BodiesOfTheChildPastTheLimitAreSkipped) {
  const std::string skipped_tail =
      " bytes, over the " + std::to_string(proxy::MAX_CHILD_BODY) + "-byte limit — skipped";
  const auto is_skipped_line = [&](const json& m) {
    if (!method_is(m, "window/logMessage")) return false;
    const std::string text = m.at("params").value("message", "");
    return text.starts_with("tovix: luau-lsp sent a message of ") && text.ends_with(skipped_tail);
  };
  for (const char* mode : {"huge-answer=textDocument/hover", "huge-notification", "huge-request"}) {
    SCOPED_TRACE(mode);
    Hostile child(mode);
    EditorSession s(child.options());
    const std::string uri = s.open("a.tovix", SMALL);
    ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); }));
    const json luau = EditorSession::at(uri, {{"line", 1}, {"character", 7}});
    const std::string m = mode;
    if (m.starts_with("huge-answer")) {
      // Answered as when the child cannot: from the local part, none here.
      const int hover = s.send_request("textDocument/hover", luau);
      EXPECT_EQ(s.response(hover).value("result", json("absent")), json(nullptr));
    }
    ASSERT_TRUE(s.wait_for(is_skipped_line));
    if (m == "huge-notification") {
      EXPECT_TRUE(s.wait_for([](const json& m) {
        return method_is(m, "window/logMessage") && m.at("params").value("message", "") == "after huge";
      }));
    }
    if (m == "huge-request") {
      const auto refused = child.record.wait_for(
          s, [](const json& m) { return !m.contains("method") && m.value("id", json()) == 0 && m.contains("error"); });
      ASSERT_TRUE(refused);
      EXPECT_EQ((*refused).at("error").at("code"), -32600);
    }
    // The child is still heard.
    const int definition = s.send_request("textDocument/definition", luau);
    EXPECT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/definition"); }));
    EXPECT_TRUE(s.response(definition).contains("result"));
    expect_probe_answered(s, uri, SMALL);
    std::size_t said = 0;
    for (const json& each : s.history()) said += is_skipped_line(each);
    EXPECT_EQ(said, 1u);
    EXPECT_FALSE(s.logged("luau-lsp exited — markup features only"));
    expect_clean_end(s, uri, SMALL, child.pids());
  }
}

// A child that asks the editor without pause, with an editor that never
// answers: only so many are relayed, the rest are refused to the child at
// once, and the editor is answered meanwhile.
TEST(HostileChildE2E, AChildThatFloodsRequestsIsRefusedPastTheBound) {
  Hostile child("flood-requests");
  EditorSession s(child.options());
  ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "initialized"); }));
  s.auto_answer = false;
  const std::string uri = s.open("a.tovix", SMALL);
  const json luau = EditorSession::at(uri, {{"line", 1}, {"character", 7}});
  const auto until = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < until) {
    expect_probe_answered(s, uri, SMALL);
    const int hover = s.send_request("textDocument/hover", luau);
    EXPECT_TRUE(s.wait_for([&](const json& m) { return !m.contains("method") && m.value("id", json()) == hover; },
                           FLOODED_LUAU_LIMIT));
    std::this_thread::sleep_for(200ms);
  }
  const auto refused = child.record.wait_for(s, [](const json& m) {
    return !m.contains("method") && m.contains("error") && m.at("error").value("code", 0) == -32803;
  });
  ASSERT_TRUE(refused);
  EXPECT_GE((*refused).at("id").get<std::int64_t>(), 1000000);
  EXPECT_TRUE(s.wait_for([](const json& m) {
    return method_is(m, "window/logMessage") &&
           m.at("params")
               .value("message", "")
               .starts_with("tovix: luau-lsp asked the editor more than it can be asked: ");
  }));
  std::vector<json> relayed;
  for (const json& m : s.history())
    if (method_is(m, "window/workDoneProgress/create")) relayed.push_back(m);
  ASSERT_FALSE(relayed.empty());
  EXPECT_LE(relayed.size(), child_session::MAX_RELAYED);
  // An answer of the editor still reaches the child, under the child's id.
  const std::string token = relayed.front().at("params").at("token");
  const std::int64_t child_id = std::stoll(token.substr(token.find(' ') + 1));
  s.respond(relayed.front().at("id"), nullptr);
  EXPECT_TRUE(child.record.wait_for(s, [&](const json& m) {
    return !m.contains("method") && m.value("id", json()) == child_id && m.contains("result");
  }));
  // The editor's messages are taken ahead of the flood: markup answers and
  // the end are as quick as without it.
  expect_clean_end(s, uri, SMALL, child.pids());
}

// Probes of "luau-lsp" found on PATH, in Rokit's storage and in an editor's
// extension folder, every one of which hangs on --version.
TEST(HostileChildE2E, HangingProbesRunSideBySideOffTheMainThread) {
  Hostile child("version-hang");
  const fs::path home = child.files.dir("home");
  auto link = [&](const fs::path& at) {
    fs::create_directories(at.parent_path());
    fs::create_symlink(STAND_IN, at);
  };
  link(child.files.root() / "bin" / "luau-lsp");
  link(home / ".rokit/tool-storage/someone/luau-lsp/1.0.0/luau-lsp");
  link(home / ".vscode/extensions/johnnymorganz.luau-lsp-1.0.0/bin/server");
  SessionOptions options = child.options();
  options.tovix = json::object();
  options.env["PATH"] = (child.files.root() / "bin").string();
  EditorSession s(options);
  const std::string uri = s.open("a.tovix", SMALL);
  ASSERT_TRUE(child.record.wait_until(s, [](const std::vector<json>& lines) { return lines.size() >= 3; }));
  // One limit for the three, not one each: all three hang at once (one at a
  // time, the first would be ended before the last started).
  const std::vector<int> probes = child.pids();
  EXPECT_EQ(probes.size(), 3u);
  for (int pid : probes) EXPECT_TRUE(testing::running(pid)) << "probe " << pid << " did not run beside the others";
  // While they hang, the editor is answered, Luau requests locally.
  expect_probe_answered(s, uri, SMALL);
  EXPECT_EQ(s.result("textDocument/hover", EditorSession::at(uri, {{"line", 1}, {"character", 7}})), json(nullptr));
  EXPECT_TRUE(s.log_line("luau-lsp not found — markup features only, no Luau types"));
  for (int pid : probes) EXPECT_TRUE(stops_running(pid)) << "probe " << pid << " left running";
  expect_clean_end(s, uri, SMALL, probes);
}

TEST(HostileChildE2E, ShutdownEndsAProbeThatHangs) {
  Hostile child("version-hang");
  const fs::path bin = child.files.dir("bin");
  fs::create_symlink(STAND_IN, bin / "luau-lsp");
  SessionOptions options = child.options();
  options.tovix = json::object();
  options.env["PATH"] = bin.string();
  EditorSession s(options);
  const std::string uri = s.open("a.tovix", SMALL);
  ASSERT_TRUE(child.record.wait_until(s, [](const std::vector<json>& lines) { return !lines.empty(); }));
  expect_clean_end(s, uri, SMALL, child.pids());
}

// A failing probe that leaves a process of its own running.
TEST(HostileChildE2E, AProbesOwnProcessesEndWithIt) {
  TempTree files;
  const fs::path bin = files.dir("bin");
  const fs::path pid_file = files.root() / "sleeper";
  files.script("bin/luau-lsp", "sleep 300 &\necho $! > \"" + pid_file.string() + "\"\nexit 1\n");
  SessionOptions options;
  options.env = {{"PATH", bin.string() + ":/usr/bin:/bin"}, {"HOME", files.dir("home").string()}};
  EditorSession s(options);
  EXPECT_TRUE(s.log_line("luau-lsp not found — markup features only, no Luau types"));
  int sleeper = 0;
  std::ifstream(pid_file) >> sleeper;
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(stops_running(sleeper));
  const std::string uri = s.open("a.tovix", SMALL);
  expect_clean_end(s, uri, SMALL, {sleeper});
}

// Requests of the child that make no sense: each is answered to the child,
// and none delays what the editor asked.
TEST(HostileChildE2E, NonsenseRequestsOfTheChildAreAnsweredAndDelayNothing) {
  Hostile child("");
  const std::string generated = child.generated("a.tovix");
  auto request = [](json id, const std::string& method, json params) {
    json m = {{"jsonrpc", "2.0"}, {"id", std::move(id)}, {"method", method}};
    if (!params.is_null()) m["params"] = std::move(params);
    return m;
  };
  const json past_the_end = {
      {"range", {{"start", {{"line", 999}, {"character", 0}}}, {"end", {{"line", 999}, {"character", 3}}}}},
      {"newText", "x"}};
  const json asks = json::array({
      request(100, "workspace/applyEdit", {{"edit", {{"changes", {{generated, {past_the_end}}}}}}}),
      request(101, "workspace/applyEdit", "garbage"),
      request(102, "workspace/applyEdit", {{"edit", {{"documentChanges", {5}}}}}),
      request(103, "workspace/configuration", {{"items", 5}}),
      request(json::array({1}), "workspace/configuration", {{"items", json::array()}}),
      request(104, "tovix/unknown", json::object()),
      request(nullptr, "workspace/configuration", {{"items", json::array()}}),
      {{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", {{"odd", true}}}}}},
      {{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", 5}},
      request(105, "workspace/configuration", {{"items", {{{"section", "luau-lsp"}}}}}),
      {{"id", "s7"}, {"method", 42}},
  });
  child.write_script({{"on", {{"textDocument/didOpen", asks}}}});
  EditorSession s(child.options());
  const std::string uri = s.open("a.tovix", SMALL);
  // The child hears an answer to each request, the well-formed one relayed.
  const auto answered = [&](const json& id) {
    return child.record.wait_for(s,
                                 [&](const json& m) { return !m.contains("method") && m.value("id", json(-1)) == id; });
  };
  const auto code = [](const std::optional<json>& m) {
    return m && m->contains("error") ? m->at("error").value("code", 0) : 0;
  };
  const auto past = answered(100);
  ASSERT_TRUE(past);
  EXPECT_EQ(past->value("result", json()), (json{{"applied", false}}));
  EXPECT_EQ(code(answered(101)), -32600);
  EXPECT_EQ(code(answered(102)), -32600);
  EXPECT_EQ(code(answered(103)), -32600);
  EXPECT_EQ(code(answered(104)), -32601);
  EXPECT_EQ(code(answered("s7")), -32600);
  const auto relayed = answered(105);
  ASSERT_TRUE(relayed);
  EXPECT_TRUE(relayed->value("result", json()).is_array());
  // The two whose id names no request are answered under a null id.
  EXPECT_TRUE(child.record.wait_until(s, [](const std::vector<json>& lines) {
    std::size_t refused = 0;
    for (const json& m : lines)
      refused += m.contains("error") && m.value("id", json(0)).is_null() && m.at("error").value("code", 0) == -32600;
    return refused == 2;
  }));
  // The editor saw only the well-formed request.
  std::size_t relayed_to_editor = 0;
  for (const json& m : s.history())
    relayed_to_editor += method_is(m, "workspace/configuration") && m.at("params").at("items").size() == 1;
  EXPECT_EQ(relayed_to_editor, 1u);
  expect_clean_end(s, uri, SMALL, child.pids());
}

// A wrapper that starts the child in the background on the same pipes and
// exits: its exit is the child's end, and what it started goes with it.
TEST(HostileChildE2E, AWrapperThatExitsLeavingTheChildOnThePipesIsLetGo) {
  Hostile child("");
  // It exits once what it started is running (and has said so in its record).
  const fs::path wrapper = child.files.script(
      "wrapper",
      "\"" + STAND_IN + "\" \"$@\" &\nwhile [ ! -s \"$TOVIX_STAND_IN_RECORD\" ]; do sleep 0.01; done\nexit 0\n");
  SessionOptions options = child.options();
  options.tovix = {{"luauLsp", {{"path", wrapper.string()}}}};
  EditorSession s(options);
  ASSERT_TRUE(child.record.wait_until(s, [](const std::vector<json>& lines) { return !lines.empty(); }));
  const int background = child.record.pids().at(0);
  EXPECT_TRUE(s.log_line("luau-lsp exited — markup features only"));
  EXPECT_TRUE(stops_running(background));
  EXPECT_TRUE(s.children().empty()) << "the wrapper was not reaped";
  const std::string uri = s.open("a.tovix", SMALL);
  expect_clean_end(s, uri, SMALL, {background});
}

// The real luau-lsp, stopped with SIGSTOP once it has the document, while
// the editor goes on typing.
TEST(HostileChildE2E, TheRealLuauLspStoppedIsLetGo) {
  if (!fs::exists(LUAU_LSP)) GTEST_SKIP() << "the real luau-lsp is not at " << LUAU_LSP;
  TempTree files;
  SessionOptions options;
  options.env = {{"HOME", files.dir("home").string()}};
  options.tovix = {{"luauLsp", {{"path", LUAU_LSP.string()}}}};
  EditorSession s(options);
  const std::string text = big_document();
  const std::string uri = s.open("a.tovix", text);
  ASSERT_TRUE(s.wait_for([](const json& m) {
    return method_is(m, "window/logMessage") &&
           m.at("params").value("message", "").starts_with("tovix: luau-lsp answered about this file with");
  }));
  const std::vector<int> children = s.children();
  ASSERT_EQ(children.size(), 1u);
  ::kill(children[0], SIGSTOP);
  fill_the_pipe(s, uri, 2, children[0]);
  expect_probe_answered(s, uri, text);
  EXPECT_TRUE(s.log_line(STOPPED));
  EXPECT_TRUE(stops_running(children[0]));
  expect_clean_end(s, uri, text, children);
}

}  // namespace
}  // namespace tovix_lsp
