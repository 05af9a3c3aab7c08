// The server with the real luau-lsp as its child, driven like an editor:
// - keystroke → compiler diagnostics on the 2,000-line sample, without a
//   child, with one given time to check each text ("paced"), and with one
//   that is still checking the previous text ("fast": the next keystroke
//   comes as soon as the last one's diagnostics are in);
// - what handing a text to the child costs the main thread (the full-text
//   didChange built, serialised and written to a pipe);
// - one hover asked of luau-lsp directly on the generated file and through
//   tovix-lsp on the source, side by side, with the peak memory of each;
// - luau-lsp's diagnostics of a markup-heavy text, directly and through
//   tovix-lsp, and tovix-lsp's processor time for them.

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "binary.h"
#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/process.h"
#include "lsp_process.h"
#include "sample.h"
#include "workspace/analysis.h"
#include "workspace/project.h"
#include "workspace/protocol.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using tovix_lsp::testing::LspProcess;

const fs::path LUAU_LSP = TOVIX_LUAU_LSP;
const fs::path ROBLOX = TOVIX_ROBLOX_DATA;
constexpr auto PATIENCE = std::chrono::seconds(120);

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, std::size_t p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, values.size() * p / 100)];
}

// Peak resident set of a process in MiB, from /proc.
double peak_rss_mib(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return static_cast<double>(std::stol(line.substr(6))) / 1024.0;
  return -1;
}

// The first child process of `pid`.
int child_of(int pid) {
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream list(task.path() / "children");
    int child = 0;
    if (list >> child) return child;
  }
  return -1;
}

// A temporary project folder and a home whose luau-lsp extension storage
// holds the Roblox type files, so that the server finds them as a user's
// would. Removed when dropped.
struct Folders {
  Folders() {
    root = fs::temp_directory_path() / ("tovix-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(project());
    const fs::path storage = home() / ".config/Code/User/globalStorage/johnnymorganz.luau-lsp";
    fs::create_directories(storage);
    for (const char* file : {"globalTypes.PluginSecurity.d.luau", "api-docs.json"})
      fs::create_symlink(ROBLOX / file, storage / file);
  }
  ~Folders() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path project() const { return root / "project"; }
  fs::path home() const { return root / "home"; }
  fs::path root;
};

// An editor's side of a session: every request of the server (or of
// luau-lsp) is answered on the way, configurations with the sections given.
struct Editor {
  Editor(const std::string& program, const std::vector<std::string>& args,
         const std::map<std::string, std::string>& env, json tovix_section)
      : lsp(program, args, env), tovix(std::move(tovix_section)) {}

  std::optional<json> until(const std::function<bool(const json&)>& wanted) {
    const auto deadline = Clock::now() + PATIENCE;
    while (auto body = next(deadline)) {
      json message = json::parse(*body);
      if (wanted(message)) return message;
    }
    return std::nullopt;
  }

  // `until` for a session whose publications are large: bodies are looked
  // at as text, and only small ones (requests to answer) are read.
  std::optional<std::string> until_text(const std::function<bool(std::string_view)>& wanted) {
    const auto deadline = Clock::now() + PATIENCE;
    while (auto body = next(deadline)) {
      if (wanted(*body)) return body;
    }
    return std::nullopt;
  }

  // The next message's body, requests among them answered on the way.
  std::optional<std::string> next(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto body = lsp.receive_text(left);
    if (body && body->size() < 4096) {
      const json message = json::parse(*body);
      if (std::getenv("TOVIX_BENCH_VERBOSE") && message.value("method", "") == "window/logMessage")
        std::cerr << "  log " << lsp.pid() << ": " << message["params"]["message"].get<std::string>().substr(0, 120)
                  << "\n";
      if (message.contains("id") && message.contains("method")) answer(message);
    }
    return body;
  }

  void answer(const json& request) {
    json result = nullptr;
    if (request["method"] == "workspace/configuration") {
      result = json::array();
      for (const json& item : request["params"]["items"])
        result.push_back(item.value("section", "") == "tovix" ? tovix : json::object());
    }
    lsp.send({{"jsonrpc", "2.0"}, {"id", request["id"]}, {"result", result}});
  }

  void send(const std::string& method, json params, std::optional<int> id = std::nullopt) {
    json message = {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
    if (id) message["id"] = *id;
    lsp.send(message);
  }

  std::optional<json> request(int id, const std::string& method, json params) {
    send(method, std::move(params), id);
    return until([&](const json& m) { return !m.contains("method") && m.value("id", json()) == id; });
  }

  void start(const std::string& root_uri) {
    (void)request(1, "initialize",
                  {{"processId", ::getpid()},
                   {"rootUri", root_uri},
                   {"capabilities", {{"workspace", {{"configuration", true}}}}}});
    send("initialized", json::object());
  }

  void stop() {
    (void)request(999999, "shutdown", nullptr);
    send("exit", nullptr);
    lsp.close_stdin();
    lsp.wait();
  }

  LspProcess lsp;
  json tovix;
};

// luau-lsp as the editor would start it, with the Roblox type files.
Editor luau_lsp_alone() {
  return Editor(LUAU_LSP.string(),
                {"lsp", "--stdio", "--definitions=" + (ROBLOX / "globalTypes.PluginSecurity.d.luau").string(),
                 "--docs=" + (ROBLOX / "api-docs.json").string()},
                {}, json::object());
}

bool is_log_starting(const json& m, std::string_view text) {
  return m.value("method", "") == "window/logMessage" &&
         m["params"]["message"].get_ref<const std::string&>().starts_with(text);
}

// The server with luau-lsp as its child or with none, and `text` open as
// `name`; ready once luau-lsp has checked it (or the compiler, alone).
struct Session {
  Session(const Folders& folders, bool with_child, const std::string& name, std::string opened,
          const std::string& binary = tovix_bench::server_binary())
      : editor(binary, {"--stdio"}, {{"HOME", folders.home().string()}},
               {{"luauLsp", {{"path", with_child ? LUAU_LSP.string() : std::string("/nonexistent/luau-lsp")}}}}),
        uri(tovix_lsp::project::path_to_uri(folders.project() / name)),
        text(std::move(opened)),
        child(with_child) {
    editor.start(tovix_lsp::project::path_to_uri(folders.project()));
    editor.send("textDocument/didOpen",
                {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", text}}}});
    ready = static_cast<bool>(editor.until([&](const json& m) {
      return with_child ? is_log_starting(m, "tovix: luau-lsp answered about this file with") : is_diagnostics(m);
    }));
  }

  bool is_diagnostics(const json& m) const {
    return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == uri;
  }

  // Changes the last letter of the misspelt element on the first line; the time until the compiler's
  // diagnostics of the new text are published (the first publication naming
  // the new element), or nothing. `paced`: then waits for the child's own
  // publication about that text.
  std::optional<double> keystroke(int i, bool paced) {
    const std::string letter(1, static_cast<char>('A' + (i % 26)));
    const std::string expected = "<Fram" + letter + "> is not a Roblox class and is not defined";
    json position = {{"line", 0}, {"character", 21}};
    json end = {{"line", 0}, {"character", 22}};
    json change = {{"range", {{"start", position}, {"end", end}}}, {"text", letter}};
    const auto start = Clock::now();
    editor.send("textDocument/didChange",
                {{"textDocument", {{"uri", uri}, {"version", i + 2}}}, {"contentChanges", json::array({change})}});
    auto compiled = editor.until([&](const json& m) {
      if (!is_diagnostics(m)) return false;
      for (const json& d : m["params"]["diagnostics"])
        if (d["message"] == expected) return true;
      return false;
    });
    if (!compiled) return std::nullopt;
    const double ms = ms_since(start);
    published = (*compiled)["params"]["diagnostics"].size();
    // What reading the publication costs this editor is part of the time
    // measured: report it beside the figures.
    const std::string body = compiled->dump();
    const auto parse_start = Clock::now();
    benchmark::DoNotOptimize(json::parse(body));
    parse_ms.push_back(ms_since(parse_start));
    if (paced && child && !editor.until([&](const json& m) { return is_diagnostics(m); })) return std::nullopt;
    return ms;
  }

  Editor editor;
  std::string uri;
  std::string text;
  bool child;
  bool ready = false;
  std::size_t published = 0;     // diagnostics in the last publication timed
  std::vector<double> parse_ms;  // the editor's parse of each publication timed
};

void keystrokes(benchmark::State& state, bool with_child, bool paced) {
  if (with_child && !fs::exists(LUAU_LSP)) {
    state.SkipWithError("the real luau-lsp is absent");
    return;
  }
  Folders folders;
  for (auto _ : state) {
    // A misspelt element in the first line, whose letter each keystroke changes.
    Session session(folders, with_child, "typing.tovix",
                    "local _marker = <FramA/>\n" + tovix_bench::sample_tovix(2000));
    if (!session.ready) {
      state.SkipWithError("the session did not start");
      return;
    }
    std::vector<double> ms;
    for (int i = 1; i <= 300; ++i) {
      auto taken = session.keystroke(i, paced);
      if (!taken) {
        state.SkipWithError("no diagnostics after a keystroke");
        return;
      }
      ms.push_back(*taken);
    }
    state.counters["p50_ms"] = percentile(ms, 50);
    state.counters["p99_ms"] = percentile(ms, 99);
    state.counters["server_peak_MiB"] = peak_rss_mib(session.editor.lsp.pid());
    state.counters["diagnostics"] = static_cast<double>(session.published);
    state.counters["editor_parse_p50_ms"] = percentile(session.parse_ms, 50);
    if (with_child) state.counters["luau_lsp_peak_MiB"] = peak_rss_mib(child_of(session.editor.lsp.pid()));
    session.editor.stop();
  }
}

void BM_KeystrokeToDiagnosticsNoChild(benchmark::State& state) { keystrokes(state, false, true); }
void BM_KeystrokeToDiagnosticsChildPaced(benchmark::State& state) { keystrokes(state, true, true); }
void BM_KeystrokeToDiagnosticsChildFast(benchmark::State& state) { keystrokes(state, true, false); }
BENCHMARK(BM_KeystrokeToDiagnosticsNoChild)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeToDiagnosticsChildPaced)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeystrokeToDiagnosticsChildFast)->Iterations(1)->Unit(benchmark::kMillisecond);

// What handing the 2,000-line sample's generated text to the child costs
// the main thread: the full-text didChange built, serialised and written to
// a pipe that another thread drains, as luau-lsp's input is.
void BM_HandFullTextToChild(benchmark::State& state) {
  const tovix_lsp::document::Document document("file:///bench/a.tovix", tovix_bench::sample_tovix(2000), 1);
  const auto compiled =
      tovix_lsp::analysis::Analysis::run(document, tovix_lsp::project::Project::bare("/bench"), nullptr).compiled;
  int fds[2];
  if (!compiled || ::pipe(fds) != 0) {
    state.SkipWithError("no compile or no pipe");
    return;
  }
  (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);  // as the server's pipe to its child
  std::thread drain([fd = fds[0]] {
    char buffer[65536];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
  });
  {
    tovix_lsp::io::FdOutput pipe(fds[1]);
    tovix_lsp::jsonrpc::Writer writer(pipe);
    std::int64_t version = 1;
    for (auto _ : state) {
      // As the server builds it for each analysis of the document.
      const json message = tovix_lsp::jsonrpc::build::notification(
          "textDocument/didChange", {{"contentChanges", json::array({{{"text", compiled->code}}})},
                                     {"textDocument", {{"uri", "file:///bench/a.luau"}, {"version", ++version}}}});
      benchmark::DoNotOptimize(writer.write(message));
    }
    state.counters["bytes"] = static_cast<double>(compiled->code.size());
  }
  ::close(fds[1]);
  drain.join();
  ::close(fds[0]);
}
BENCHMARK(BM_HandFullTextToChild)->Unit(benchmark::kMicrosecond);

// One hover in Luau code inside a hole near the start or the end of the
// sample, asked of luau-lsp directly on the generated file and of tovix-lsp
// on the source, one after the other, 500 times each.
void BM_HoverDirectAndThroughTovix(benchmark::State& state) {
  if (!fs::exists(LUAU_LSP)) {
    state.SkipWithError("the real luau-lsp is absent");
    return;
  }
  Folders folders;
  const std::string text = tovix_bench::sample_tovix(2000);
  const std::string source_uri = tovix_lsp::project::path_to_uri(folders.project() / "hover.tovix");
  const std::string generated_uri = tovix_lsp::project::path_to_uri(folders.project() / "direct.luau");
  const tovix_lsp::document::Document document(source_uri, text, 1);
  const auto compiled =
      tovix_lsp::analysis::Analysis::run(document, tovix_lsp::project::Project::bare(folders.project()), nullptr)
          .compiled;
  // In "props", in the first such hole or the last: before the server
  // forwards, the hover feature reads the text up to the cursor.
  const std::size_t hole = state.range(0) == 0 ? text.find("{props.items}") : text.rfind("{props.items}");
  const std::size_t at = hole + 3;
  const auto mapped = compiled ? compiled->map.to_output(at) : std::nullopt;
  if (!mapped) {
    state.SkipWithError("the hover target does not map");
    return;
  }
  const auto source_position = document.index().position(text, at);
  const auto generated_position = compiled->code_index.position(compiled->code, *mapped);
  const std::string root = tovix_lsp::project::path_to_uri(folders.project());

  for (auto _ : state) {
    Editor direct = luau_lsp_alone();
    direct.start(root);
    direct.send(
        "textDocument/didOpen",
        {{"textDocument", {{"uri", generated_uri}, {"languageId", "luau"}, {"version", 1}, {"text", compiled->code}}}});
    Session through(folders, true, "hover.tovix", text);
    const bool started = through.ready && direct.until([&](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == generated_uri;
    });
    if (!started) {
      state.SkipWithError("a session did not start");
      return;
    }
    auto hover = [](Editor& editor, int id, const std::string& uri, tovix_lsp::protocol::Position p) {
      return editor.request(
          id, "textDocument/hover",
          {{"textDocument", {{"uri", uri}}}, {"position", {{"line", p.line}, {"character", p.character}}}});
    };
    std::vector<double> direct_ms, through_ms;
    for (int i = 0; i < 550; ++i) {
      auto start = Clock::now();
      auto a = hover(direct, 10 + i, generated_uri, generated_position);
      const double d = ms_since(start);
      start = Clock::now();
      auto b = hover(through.editor, 10 + i, source_uri, source_position);
      const double t = ms_since(start);
      if (!a || !b || (*a)["result"].is_null() || (*a)["result"]["contents"] != (*b)["result"]["contents"]) {
        state.SkipWithError("the two hovers differ");
        return;
      }
      if (i < 50) continue;  // warm-up
      direct_ms.push_back(d);
      through_ms.push_back(t);
    }
    state.counters["direct_p50_ms"] = percentile(direct_ms, 50);
    state.counters["direct_p99_ms"] = percentile(direct_ms, 99);
    state.counters["tovix_p50_ms"] = percentile(through_ms, 50);
    state.counters["tovix_p99_ms"] = percentile(through_ms, 99);
    state.counters["added_p50_ms"] = percentile(through_ms, 50) - percentile(direct_ms, 50);
    state.counters["direct_luau_lsp_peak_MiB"] = peak_rss_mib(direct.lsp.pid());
    state.counters["tovix_peak_MiB"] = peak_rss_mib(through.editor.lsp.pid());
    state.counters["child_luau_lsp_peak_MiB"] = peak_rss_mib(child_of(through.editor.lsp.pid()));
    through.editor.stop();
    direct.stop();
  }
}
BENCHMARK(BM_HoverDirectAndThroughTovix)
    ->ArgName("at_end")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// CPU time (user + system, every thread) a process has used, in ms.
double cpu_ms(int pid) {
  const auto ticks = tovix_lsp::process::cpu_ticks(pid).value_or(0);
  return static_cast<double>(ticks) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The first line holds an unknown global, whose last letter each keystroke
// changes: luau-lsp names it in its diagnostics, so its publication about
// the new text is told from those about older ones.
constexpr std::string_view TYPED_LINE = "local _marker = zzA\n";
constexpr std::uint32_t TYPED_AT = 18;

std::string letter(int i) { return std::string(1, static_cast<char>('A' + (i % 26))); }

std::string typed(const std::string& text, int i) {
  std::string changed = text;
  changed[TYPED_AT] = letter(i)[0];
  return changed;
}

// luau-lsp's diagnostics of a markup-heavy text (the sample at 10,000 and
// 50,000 lines: thousands per publication), keystroke by keystroke:
// - the time from the keystroke until luau-lsp's publication reaches the
//   editor through tovix-lsp, against luau-lsp given the generated file
//   directly (the same text, sent whole), interleaved;
// - tovix-lsp's CPU per keystroke with the child, against without it.
// TOVIX_BENCH_BASELINE names an older server binary, measured in the same
// run, interleaved, for a side-by-side comparison; TOVIX_BENCH_VERBOSE
// prints every keystroke's times.
void BM_ChildDiagnosticsDirectAndThroughTovix(benchmark::State& state) {
  if (!fs::exists(LUAU_LSP)) {
    state.SkipWithError("the real luau-lsp is absent");
    return;
  }
  const char* baseline_env = std::getenv("TOVIX_BENCH_BASELINE");
  const std::string baseline = baseline_env && *baseline_env ? baseline_env : "";
  Folders folders;
  const std::string text =
      std::string(TYPED_LINE) + tovix_bench::sample_tovix(static_cast<std::size_t>(state.range(0)));
  const std::string generated_uri = tovix_lsp::project::path_to_uri(folders.project() / "direct.luau");
  // The generated code of every text typed, compiled beforehand.
  std::vector<std::string> generated;
  for (int i = 0; i < 26; ++i) {
    const tovix_lsp::document::Document document("file:///bench/typing.tovix", typed(text, i), 1);
    const auto compiled =
        tovix_lsp::analysis::Analysis::run(document, tovix_lsp::project::Project::bare(folders.project()), nullptr)
            .compiled;
    if (!compiled) {
      state.SkipWithError("the sample does not compile");
      return;
    }
    generated.push_back(compiled->code);
  }
  const std::string root = tovix_lsp::project::path_to_uri(folders.project());
  constexpr int KEYSTROKES = 20;

  for (auto _ : state) {
    Editor direct = luau_lsp_alone();
    direct.start(root);
    const auto published_directly = [&](const json& m) {
      return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == generated_uri;
    };
    direct.send(
        "textDocument/didOpen",
        {{"textDocument", {{"uri", generated_uri}, {"languageId", "luau"}, {"version", 1}, {"text", generated[1]}}}});
    Session through(folders, true, "typing.tovix", typed(text, 1));
    Session alone(folders, false, "alone.tovix", typed(text, 1));
    std::optional<Session> before;
    if (!baseline.empty()) before.emplace(folders, true, "before.tovix", typed(text, 1), baseline);
    if (!through.ready || !alone.ready || (before && !before->ready) || !direct.until(published_directly)) {
      state.SkipWithError("a session did not start");
      return;
    }
    // The keystroke's time until the child's publication reaches the editor
    // (the one after the compiler's), and the server's CPU for it.
    struct Figures {
      std::vector<double> ms;
      double cpu = 0;
      std::size_t diagnostics = 0;
    };
    const auto is_publication = [](std::string_view body) {
      return body.starts_with(R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics")");
    };
    // The editor reads only what it waits for: its own parse of every
    // publication would be timed too.
    const auto type = [&](Session& session, int i) {
      json position = {{"line", 0}, {"character", TYPED_AT}};
      json end = {{"line", 0}, {"character", TYPED_AT + 1}};
      json change = {{"range", {{"start", position}, {"end", end}}}, {"text", letter(i)}};
      session.editor.send("textDocument/didChange", {{"textDocument", {{"uri", session.uri}, {"version", i + 2}}},
                                                     {"contentChanges", json::array({change})}});
    };
    const auto about_new_text = [&](int i) {
      return [&, expected = "Unknown global 'zz" + letter(i) + "'"](std::string_view b) {
        return is_publication(b) && b.find(expected) != std::string_view::npos;
      };
    };
    const auto through_child = [&](Session& session, int i, Figures& figures) {
      const double cpu_before = cpu_ms(session.editor.lsp.pid());
      const auto start = Clock::now();
      type(session, i);
      // luau-lsp may publish about older texts too.
      auto child = session.editor.until_text(about_new_text(i));
      if (!child) return false;
      figures.ms.push_back(ms_since(start));
      if (std::getenv("TOVIX_BENCH_VERBOSE")) std::cerr << "through " << figures.ms.back() << "\n";
      figures.diagnostics = json::parse(*child)["params"]["diagnostics"].size();
      // Nothing more is due for this text: what it cost the server is in.
      figures.cpu += cpu_ms(session.editor.lsp.pid()) - cpu_before;
      return true;
    };
    Figures tovix, old, directly, without;
    bool ok = true;
    bool before_failed = false;
    for (int i = 2; ok && i < 2 + KEYSTROKES; ++i) {
      auto start = Clock::now();
      direct.send("textDocument/didChange", {{"textDocument", {{"uri", generated_uri}, {"version", i}}},
                                             {"contentChanges", json::array({{{"text", generated[i % 26]}}})}});
      auto answer = direct.until_text(about_new_text(i));
      ok = static_cast<bool>(answer);
      if (!ok) break;
      directly.ms.push_back(ms_since(start));
      if (std::getenv("TOVIX_BENCH_VERBOSE")) std::cerr << "direct " << directly.ms.back() << "\n";
      directly.diagnostics = json::parse(*answer)["params"]["diagnostics"].size();
      ok = through_child(through, i, tovix);
      // An older server that loses its child here is said, not waited for.
      if (ok && before && !through_child(*before, i, old)) {
        before.reset();
        before_failed = true;
      }
      const double cpu_before = cpu_ms(alone.editor.lsp.pid());
      type(alone, i);
      // The compiler publishes once a keystroke.
      ok = ok && alone.editor.until_text(is_publication);
      without.cpu += cpu_ms(alone.editor.lsp.pid()) - cpu_before;
    }
    if (!ok) {
      if (std::getenv("TOVIX_BENCH_VERBOSE"))
        std::cerr << "stopped at: direct " << directly.ms.size() << ", through " << tovix.ms.size() << "\n"
                  << through.editor.lsp.stderr_text().substr(0, 2000) << "\n";
      state.SkipWithError("no diagnostics after a keystroke");
      return;
    }
    const double n = KEYSTROKES;
    state.counters["direct_p50_ms"] = percentile(directly.ms, 50);
    state.counters["tovix_p50_ms"] = percentile(tovix.ms, 50);
    state.counters["ratio_p50"] = percentile(tovix.ms, 50) / percentile(directly.ms, 50);
    state.counters["child_diagnostics"] = static_cast<double>(directly.diagnostics);
    state.counters["shown"] = static_cast<double>(tovix.diagnostics);
    state.counters["cpu_child_ms"] = tovix.cpu / n;
    state.counters["cpu_alone_ms"] = without.cpu / n;
    state.counters["cpu_ratio"] = tovix.cpu / std::max(without.cpu, 1.0);
    if (before_failed) state.counters["before_failed"] = 1;
    if (before && !old.ms.empty()) {
      state.counters["before_p50_ms"] = percentile(old.ms, 50);
      state.counters["before_ratio_p50"] = percentile(old.ms, 50) / percentile(directly.ms, 50);
      state.counters["before_cpu_child_ms"] = old.cpu / n;
      state.counters["before_cpu_ratio"] = old.cpu / std::max(without.cpu, 1.0);
    }
    if (before) before->editor.stop();
    alone.editor.stop();
    through.editor.stop();
    direct.stop();
  }
}
BENCHMARK(BM_ChildDiagnosticsDirectAndThroughTovix)
    ->Arg(10000)
    ->Arg(50000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
