// A stand-in for luau-lsp in tests: the same command line and framed
// JSON-RPC on standard input and output, with behaviour chosen by the test.
//
// Command line:
//   stand_in --version        prints "0.0.0-stand-in" and exits 0
//   stand_in lsp [OPTION...]  speaks LSP; luau-lsp's own options are accepted
//                             and ignored (the record file shows them)
//
// Modes come from arguments "--stand-in=MODE" and from the environment
// variable TOVIX_STAND_IN (modes separated by commas); both add up:
//   version-fail           --version exits with status 1
//   version-hang           --version never ends
//   exit-at-once           exits with status 0 before reading anything
//   exit-on=METHOD         exits with status 3 when a message of METHOD arrives
//                          (before answering it)
//   refuse-initialize      answers initialize with error -32603 "stand-in refuses"
//   refuse-initialize-silently  the same error without a "message"
//   never-answer           answers no request at all (shutdown included)
//   out-of-order           answers requests other than initialize and shutdown
//                          two at a time, the second first; one left over is
//                          answered when shutdown arrives
//   echo                   answers requests with {"method": M, "params": P}
//   garbage                after answering initialize, writes a header without
//                          Content-Length, then goes on reading
//   bad-json               after answering initialize, writes a frame whose
//                          body is not JSON, then goes on reading
//   oversized              after answering initialize, writes a header
//                          announcing 1 GiB and a few bytes of it, then goes on
//                          reading
//   diagnostics            after each textDocument/didOpen and didChange,
//                          publishes diagnostics for its URI (the script's
//                          "diagnostics" list, else one error at 0:0-0:5
//                          "stand-in diagnostic")
//   ask-configuration      on initialized, sends workspace/configuration for
//                          the section "luau-lsp" and, as luau-lsp does, holds
//                          every request until that is answered
//   ask=METHOD             on initialized, sends a request of METHOD with
//                          params {}
//   stop-reading           after the first textDocument/didOpen, never reads
//                          its input again (and never ends by itself)
//   flood-diagnostics      after the first textDocument/didOpen, publishes
//                          diagnostics for its URI (200 errors each) without
//                          pause, while it goes on reading and answering
//   flood-log              the same with window/logMessage lines
//   many-diagnostics=N     after each textDocument/didOpen and didChange,
//                          publishes N diagnostics of mixed forms spread over
//                          the lines of the text it was given, with the
//                          version it was given (see `many_diagnostics`); each
//                          such body is recorded as {"published": body}
//   spaced-diagnostics     those bodies are written indented, not in the
//                          compact form luau-lsp writes
//   huge-answer=METHOD     answers requests of METHOD with a result string of
//                          66 MiB (past the server's limit for the child's
//                          bodies)
//   huge-notification      after the first textDocument/didOpen, writes a
//                          window/logMessage of 66 MiB, then one "after huge"
//   huge-request           after the first textDocument/didOpen, sends a
//                          workspace/configuration request of 66 MiB
//   flood-requests         after the first textDocument/didOpen, sends
//                          window/workDoneProgress/create requests (ids from
//                          1000000) without pause; of the error answers to
//                          them only the first 300 are recorded
// Requests of its own take ids 0, 1, 2, … in the order sent.
//
// Without a mode: initialize is answered with a few capabilities and
// serverInfo {"name": "stand-in"}, shutdown with null, every other request
// with null (or from the script), exit ends with status 0 after shutdown and
// 1 before; the end of input without exit ends with status 1.
//
// Files named by the environment:
//   TOVIX_STAND_IN_RECORD  appended, one JSON text a line, flushed at once:
//                          first {"argv": [...], "pid": N}, then every message
//                          received, as received; a --version run appends
//                          {"probe": N} with its pid
//   TOVIX_STAND_IN_SCRIPT  a JSON object, every member optional:
//                          "results": {METHOD: result}   answers by method
//                          "errors": {METHOD: error}     error answers by method
//                          "on": {METHOD: [message…]}    written (as they are)
//                                 after each message of METHOD is handled
//                          "diagnostics": [diagnostic…]  for the diagnostics mode

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

struct Modes {
  std::set<std::string> flags;
  std::set<std::string> exit_on;
  std::vector<std::string> ask;
  std::set<std::string> huge_answer;
  std::size_t many_diagnostics = 0;

  void add(std::string_view mode) {
    if (mode.empty()) return;
    if (mode.starts_with("exit-on="))
      exit_on.insert(std::string(mode.substr(8)));
    else if (mode.starts_with("many-diagnostics="))
      many_diagnostics = std::stoul(std::string(mode.substr(17)));
    else if (mode.starts_with("ask="))
      ask.push_back(std::string(mode.substr(4)));
    else if (mode.starts_with("huge-answer="))
      huge_answer.insert(std::string(mode.substr(12)));
    else
      flags.insert(std::string(mode));
  }
  void add_list(std::string_view list) {
    for (;;) {
      auto comma = list.find(',');
      add(list.substr(0, comma));
      if (comma == std::string_view::npos) return;
      list.remove_prefix(comma + 1);
    }
  }
  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
};

[[noreturn]] void hang() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Messages are written whole, also while a flood writes from its own thread.
std::mutex write_mutex;

void write_raw(std::string_view bytes) {
  std::lock_guard lock(write_mutex);
  while (!bytes.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      std::_Exit(4);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void write_body(const std::string& body) {
  write_raw("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

void write_message(const json& message) { write_body(message.dump()); }

// Past the server's limit for a body of the child's (64 MiB).
constexpr std::size_t HUGE_SIZE = std::size_t{66} << 20;
constexpr std::int64_t FLOOD_FIRST_ID = 1000000;

// Framed messages from standard input; nothing at the end of input.
class Input {
 public:
  std::optional<json> next() {
    for (;;) {
      auto end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t length = content_length(buffer_.substr(0, end));
        if (buffer_.size() >= end + 4 + length) {
          std::string body = buffer_.substr(end + 4, length);
          buffer_.erase(0, end + 4 + length);
          json value = json::parse(body, nullptr, false);
          if (value.is_discarded()) std::_Exit(5);
          return value;
        }
      }
      char chunk[65536];
      ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  static std::size_t content_length(const std::string& header) {
    std::istringstream lines(header);
    std::string line;
    while (std::getline(lines, line)) {
      auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "content-length") return std::stoul(line.substr(colon + 1));
    }
    std::_Exit(5);
  }
  std::string buffer_;
};

class StandIn {
 public:
  StandIn(Modes modes, json script, std::string record_path)
      : modes_(std::move(modes)), script_(std::move(script)), record_path_(std::move(record_path)) {}

  void record(const json& value) {
    if (record_path_.empty()) return;
    std::ofstream out(record_path_, std::ios::app);
    out << value.dump() << '\n' << std::flush;
  }

  // Handles one message; the exit status when it ends the program.
  std::optional<int> handle(json message) {
    std::string method = message.value("method", "");
    bool is_request = message.contains("id") && message.contains("method");
    bool is_response = message.contains("id") && !message.contains("method");
    const bool flood_answer =
        is_response && message.at("id").is_number_integer() && message.at("id").get<std::int64_t>() >= FLOOD_FIRST_ID;
    if (!flood_answer || !message.contains("error") || ++flood_answers_ <= 300) record(message);
    if (!method.empty() && modes_.exit_on.count(method)) return 3;

    if (is_response) {
      if (waiting_for_configuration_ && message.at("id") == configuration_id_) {
        waiting_for_configuration_ = false;
        for (json& held : std::exchange(held_, {})) answer(held);
      }
      return std::nullopt;
    }
    if (method == "exit") return shutdown_ ? 0 : 1;
    if (is_request) {
      if (method == "initialize") {
        answer_initialize(message);
      } else if (method == "shutdown") {
        shutdown_ = true;
        for (json& held : std::exchange(held_, {})) answer(held);
        answer(message);
      } else if (waiting_for_configuration_) {
        held_.push_back(std::move(message));
      } else if (modes_.has("out-of-order")) {
        held_.push_back(std::move(message));
        if (held_.size() == 2) {
          answer(held_[1]);
          answer(held_[0]);
          held_.clear();
        }
      } else {
        answer(message);
      }
    } else if (method == "initialized") {
      initialized();
    } else if (method == "textDocument/didOpen" || method == "textDocument/didChange") {
      if (modes_.has("diagnostics")) publish(message.at("params").at("textDocument").at("uri"));
      if (modes_.many_diagnostics > 0) {
        const json& params = message.at("params");
        const json& text = method == "textDocument/didOpen" ? params.at("textDocument").at("text")
                                                            : params.at("contentChanges").back().at("text");
        publish_many(params.at("textDocument"), text.get<std::string>());
      }
      if (method == "textDocument/didOpen" && !opened_) {
        opened_ = true;
        if (modes_.has("flood-diagnostics") || modes_.has("flood-log") || modes_.has("flood-requests"))
          flood(message.at("params").at("textDocument").at("uri"));
        if (modes_.has("huge-notification")) {
          write_message({{"jsonrpc", "2.0"},
                         {"method", "window/logMessage"},
                         {"params", {{"type", 3}, {"message", std::string(HUGE_SIZE, 'x')}}}});
          write_message({{"jsonrpc", "2.0"},
                         {"method", "window/logMessage"},
                         {"params", {{"type", 3}, {"message", "after huge"}}}});
        }
        if (modes_.has("huge-request"))
          write_message({{"jsonrpc", "2.0"},
                         {"id", next_id_++},
                         {"method", "workspace/configuration"},
                         {"params", {{"items", {{{"section", std::string(HUGE_SIZE, 'x')}}}}}}});
        if (modes_.has("stop-reading")) hang();
      }
    }
    if (const json* then = find(script_, "on", method))
      for (const json& each : *then) write_message(each);
    return std::nullopt;
  }

 private:
  static const json* find(const json& script, const char* table, const std::string& key) {
    if (!script.is_object() || !script.contains(table) || !script[table].is_object()) return nullptr;
    auto it = script[table].find(key);
    return it == script[table].end() ? nullptr : &*it;
  }

  void answer_initialize(const json& request) {
    if (modes_.has("never-answer")) return;
    if (modes_.has("refuse-initialize")) {
      write_message({{"jsonrpc", "2.0"},
                     {"id", request.at("id")},
                     {"error", {{"code", -32603}, {"message", "stand-in refuses"}}}});
    } else if (modes_.has("refuse-initialize-silently")) {
      write_message({{"jsonrpc", "2.0"}, {"id", request.at("id")}, {"error", {{"code", -32603}}}});
    } else {
      json capabilities = {{"textDocumentSync", 1},
                           {"hoverProvider", true},
                           {"definitionProvider", true},
                           {"completionProvider", json::object()}};
      write_message({{"jsonrpc", "2.0"},
                     {"id", request.at("id")},
                     {"result", {{"capabilities", capabilities}, {"serverInfo", {{"name", "stand-in"}}}}}});
    }
    if (modes_.has("garbage")) write_raw("this is not a header\r\n\r\n");
    if (modes_.has("bad-json")) write_raw("Content-Length: 9\r\n\r\n{not json");
    if (modes_.has("oversized")) write_raw("Content-Length: 1073741824\r\n\r\n{\"jsonrpc\":\"2.0\",");
  }

  void answer(const json& request) {
    if (modes_.has("never-answer")) return;
    std::string method = request.value("method", "");
    const json& id = request.at("id");
    if (method == "shutdown") {
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"result", nullptr}});
    } else if (modes_.huge_answer.count(method)) {
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::string(HUGE_SIZE, 'x')}});
    } else if (const json* error = find(script_, "errors", method)) {
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"error", *error}});
    } else if (const json* result = find(script_, "results", method)) {
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"result", *result}});
    } else if (modes_.has("echo")) {
      json params = request.contains("params") ? request.at("params") : json(nullptr);
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"result", {{"method", method}, {"params", params}}}});
    } else {
      write_message({{"jsonrpc", "2.0"}, {"id", id}, {"result", nullptr}});
    }
  }

  void initialized() {
    if (modes_.has("ask-configuration")) {
      configuration_id_ = next_id_++;
      waiting_for_configuration_ = true;
      write_message({{"jsonrpc", "2.0"},
                     {"id", configuration_id_},
                     {"method", "workspace/configuration"},
                     {"params", {{"items", {{{"section", "luau-lsp"}}}}}}});
    }
    for (const std::string& method : modes_.ask)
      write_message({{"jsonrpc", "2.0"}, {"id", next_id_++}, {"method", method}, {"params", json::object()}});
  }

  // Writes without pause from a thread of its own until the output fails.
  void flood(const json& uri) const {
    json message;
    if (modes_.has("flood-diagnostics")) {
      json diagnostics = json::array();
      for (int i = 0; i < 200; ++i)
        diagnostics.push_back(
            {{"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 5}}}}},
             {"severity", 1},
             {"source", "stand-in"},
             {"message", "flood " + std::to_string(i)}});
      message = {{"jsonrpc", "2.0"},
                 {"method", "textDocument/publishDiagnostics"},
                 {"params", {{"uri", uri}, {"diagnostics", diagnostics}}}};
    } else if (modes_.has("flood-requests")) {
      std::thread([] {
        for (std::int64_t id = FLOOD_FIRST_ID;; ++id)
          write_message({{"jsonrpc", "2.0"},
                         {"id", id},
                         {"method", "window/workDoneProgress/create"},
                         {"params", {{"token", "flood " + std::to_string(id)}}}});
      }).detach();
      return;
    } else {
      message = {{"jsonrpc", "2.0"}, {"method", "window/logMessage"}, {"params", {{"type", 3}, {"message", "flood"}}}};
    }
    std::thread([message] {
      for (;;) write_message(message);
    }).detach();
  }

  void publish(const json& uri) {
    json diagnostics =
        script_.is_object() && script_.contains("diagnostics")
            ? script_.at("diagnostics")
            : json::array(
                  {{{"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 5}}}}},
                    {"severity", 1},
                    {"source", "stand-in"},
                    {"message", "stand-in diagnostic"}}});
    write_message({{"jsonrpc", "2.0"},
                   {"method", "textDocument/publishDiagnostics"},
                   {"params", {{"uri", uri}, {"diagnostics", diagnostics}}}});
  }

  // Diagnostics as luau-lsp could publish them about `text`, one line after
  // another: ranges in place, over whole lines and across two, reversed, past
  // the end, of huge or negative numbers; related information in this file
  // and another; fixes in "data"; text beyond ASCII.
  json many_diagnostics(const json& uri, const std::string& text) const {
    std::vector<std::int64_t> widths = {0};  // UTF-16 units of each line
    for (unsigned char byte : text) {
      if (byte == '\n')
        widths.push_back(0);
      else if ((byte & 0xC0) != 0x80)
        widths.back() += byte >= 0xF0 ? 2 : 1;
    }
    const auto lines = static_cast<std::int64_t>(widths.size());
    const auto at = [](std::int64_t line, std::int64_t character) {
      return json{{"character", character}, {"line", line}};
    };
    const auto range = [](json start, json end) { return json{{"end", std::move(end)}, {"start", std::move(start)}}; };
    json out = json::array();
    for (std::size_t n = 0; n < modes_.many_diagnostics; ++n) {
      const auto i = static_cast<std::int64_t>(n);
      const std::int64_t line = i % lines;
      const std::int64_t width = widths[static_cast<std::size_t>(line)];
      const std::int64_t from = (i * 13) % (width + 1);
      const std::int64_t to = std::min(width, from + 1 + i % 7);
      json d = {{"code", 1000 + i % 4},
                {"message", "TypeError: many " + std::to_string(i)},
                {"range", range(at(line, from), at(line, to))},
                {"severity", 1 + i % 4},
                {"source", "Luau"}};
      switch (i % 10) {
        case 1: d["range"] = range(at(line, 0), at(line, width)); break;
        case 2: d["range"] = range(at(line, from), at(std::min(line + 1, lines - 1), 2)); break;
        case 3:
          d["relatedInformation"] = {
              {{"location", {{"range", d.at("range")}, {"uri", uri}}}, {"message", "here"}},
              {{"location", {{"range", range(at(0, 0), at(0, 1))}, {"uri", "file:///elsewhere/x.luau"}}},
               {"message", "there"}}};
          break;
        case 4: d["data"] = {{"edits", {{{"newText", "x"}, {"range", d.at("range")}}}}}; break;
        case 5: d["range"] = range(at(lines + i, 0), at(lines + i, 1)); break;
        case 6: d["range"] = range(at((std::int64_t{1} << 32) + line, 0), at((std::int64_t{1} << 32) + line, 1)); break;
        case 7: d["range"] = range(at(line, -1), at(line, to)); break;
        case 8:
          d["message"] = "ünïcödé 😀 \"quoted\"\n\tline " + std::to_string(i);
          d["code"] = "LintUnused";
          d["tags"] = {1};
          break;
        case 9: d["range"] = range(at(line, to), at(line, from)); break;
        default: break;
      }
      out.push_back(std::move(d));
    }
    return out;
  }

  void publish_many(const json& document, const std::string& text) {
    const json message = {{"jsonrpc", "2.0"},
                          {"method", "textDocument/publishDiagnostics"},
                          {"params",
                           {{"diagnostics", many_diagnostics(document.at("uri"), text)},
                            {"uri", document.at("uri")},
                            {"version", document.at("version")}}}};
    const std::string body = modes_.has("spaced-diagnostics") ? message.dump(2) : message.dump();
    record({{"published", body}});
    write_body(body);
  }

  Modes modes_;
  json script_;
  std::string record_path_;
  bool shutdown_ = false;
  bool opened_ = false;
  bool waiting_for_configuration_ = false;
  std::int64_t configuration_id_ = -1;
  std::int64_t next_id_ = 0;
  std::size_t flood_answers_ = 0;
  std::vector<json> held_;
};

json read_script() {
  const char* path = std::getenv("TOVIX_STAND_IN_SCRIPT");
  if (!path || !*path) return json::object();
  std::ifstream in(path);
  json script = json::parse(in, nullptr, false);
  if (script.is_discarded()) {
    std::cerr << "stand-in: the script " << path << " is not JSON\n";
    std::exit(6);
  }
  return script;
}

}  // namespace

int main(int argc, char** argv) {
  Modes modes;
  if (const char* env = std::getenv("TOVIX_STAND_IN")) modes.add_list(env);
  std::vector<std::string> args(argv, argv + argc);
  for (const std::string& arg : args)
    if (arg.starts_with("--stand-in=")) modes.add_list(std::string_view(arg).substr(11));

  const char* record = std::getenv("TOVIX_STAND_IN_RECORD");
  if (argc == 2 && args[1] == "--version") {
    if (record && *record)
      std::ofstream(record, std::ios::app) << json{{"probe", ::getpid()}}.dump() << '\n' << std::flush;
    if (modes.has("version-hang")) hang();
    if (modes.has("version-fail")) return 1;
    std::cout << "0.0.0-stand-in\n";
    return 0;
  }
  if (argc < 2 || args[1] != "lsp") {
    std::cerr << "stand-in: expected lsp or --version\n";
    return 2;
  }

  StandIn stand_in(modes, read_script(), record ? record : "");
  stand_in.record({{"argv", args}, {"pid", ::getpid()}});
  if (modes.has("exit-at-once")) return 0;

  Input input;
  while (auto message = input.next()) {
    if (auto status = stand_in.handle(std::move(*message))) return *status;
  }
  return 1;
}
