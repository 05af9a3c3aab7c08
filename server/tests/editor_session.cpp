#include "editor_session.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "workspace/document.h"
#include "workspace/project.h"

namespace tovix_lsp::testing {

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

bool is_request(const json& m) { return m.contains("id") && m.contains("method"); }

json default_initialize(const std::string& root) {
  return {
      {"processId", nullptr},
      {"rootUri", root},
      {"workspaceFolders", {{{"uri", root}, {"name", "project"}}}},
      {"capabilities",
       {{"general", {{"positionEncodings", {"utf-8", "utf-16"}}}},
        {"workspace", {{"configuration", true}, {"applyEdit", true}, {"workspaceEdit", {{"documentChanges", true}}}}},
        {"textDocument",
         {{"completion", {{"completionItem", {{"snippetSupport", true}}}}},
          {"hover", {{"contentFormat", {"markdown", "plaintext"}}}},
          {"rename", {{"prepareSupport", true}}}}}}}};
}

}  // namespace

EditorSession::EditorSession(SessionOptions options)
    : auto_answer(options.auto_answer),
      options_(std::move(options)),
      dir_(options_.folder.empty() ? tree_.root() : options_.folder),
      lsp_(TOVIX_LSP_BINARY, {"--stdio"}, options_.env) {
  if (options_.start) start();
}

EditorSession::~EditorSession() {
  if (!ended_) shutdown_and_exit();
  // However the test ended the server, a sanitizer's report fails it.
  if (const auto report = lsp_.sanitizer_report()) ADD_FAILURE() << "the server's standard error:\n" << *report;
}

std::string EditorSession::uri(const std::string& name) const { return project::path_to_uri(dir() / name); }

std::string EditorSession::generated_uri(const std::string& name) const {
  return project::path_to_uri((dir() / name).replace_extension(".luau"));
}

json EditorSession::start() {
  json params = options_.initialize.is_null() ? default_initialize(project::path_to_uri(dir())) : options_.initialize;
  json answer = request("initialize", std::move(params));
  notify("initialized", json::object());
  return answer;
}

int EditorSession::send_request(const std::string& method, json params) {
  const int id = ++next_id_;
  lsp_.send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
  return id;
}

void EditorSession::notify(const std::string& method, json params) {
  lsp_.send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

void EditorSession::respond(const json& id, json result) {
  lsp_.send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void EditorSession::respond_error(const json& id, int code, const std::string& message) {
  lsp_.send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

json EditorSession::request(const std::string& method, json params) {
  return response(send_request(method, std::move(params)));
}

json EditorSession::result(const std::string& method, json params) {
  json answer = request(method, std::move(params));
  EXPECT_FALSE(answer.contains("error")) << method << ": " << answer.dump();
  return answer.value("result", json());
}

json EditorSession::result_when(const std::string& method, const json& params,
                                const std::function<bool(const json&)>& wanted, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    json got = result(method, params);
    if (wanted(got)) return got;
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << method << " never gave the result wanted; the last: " << got.dump();
      return got;
    }
    pump(std::chrono::milliseconds(10));
  }
}

json EditorSession::response(int id) {
  auto answer = wait_for([&](const json& m) { return !m.contains("method") && m.value("id", json()) == id; });
  return answer ? *answer : json();
}

std::string EditorSession::open(const std::string& name, const std::string& text, int version) {
  const std::string document = uri(name);
  notify("textDocument/didOpen",
         {{"textDocument", {{"uri", document}, {"languageId", "tovix"}, {"version", version}, {"text", text}}}});
  return document;
}

void EditorSession::change(const std::string& uri, const std::string& text, int version) {
  notify("textDocument/didChange",
         {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", json::array({{{"text", text}}})}});
}

void EditorSession::close(const std::string& uri) {
  notify("textDocument/didClose", {{"textDocument", {{"uri", uri}}}});
}

json EditorSession::at(const std::string& uri, const json& position) {
  return {{"textDocument", {{"uri", uri}}}, {"position", position}};
}

bool EditorSession::receive_one(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  auto text = lsp_.receive_text(left);
  if (!text) return false;
  json message = json::parse(*text);
  if (auto_answer && is_request(message)) {
    if (message.at("method") == "workspace/configuration")
      respond(message.at("id"), configuration_answer(message));
    else if (message.at("method") == "workspace/applyEdit")
      respond(message.at("id"), {{"applied", true}});
    else
      respond(message.at("id"), nullptr);
  }
  seen_.push_back({std::move(message), std::move(*text), false});
  return true;
}

EditorSession::Seen* EditorSession::take(const std::function<bool(const json&)>& wanted, std::size_t from,
                                         std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t next = from;
  for (;;) {
    for (; next < seen_.size(); ++next) {
      Seen& each = seen_[next];
      if (!each.taken && wanted(each.message)) {
        each.taken = true;
        return &each;
      }
    }
    if (!receive_one(deadline)) {
      ADD_FAILURE() << "the awaited message did not come; stderr of the server:\n" << lsp_.stderr_text();
      return nullptr;
    }
  }
}

std::optional<json> EditorSession::wait_for(const std::function<bool(const json&)>& wanted,
                                            std::chrono::milliseconds timeout) {
  const Seen* found = take(wanted, 0, timeout);
  if (!found) return std::nullopt;
  return found->message;
}

std::optional<std::string> EditorSession::text_of(const std::function<bool(const json&)>& wanted, std::size_t from,
                                                  std::chrono::milliseconds timeout) {
  const Seen* found = take(wanted, from, timeout);
  if (!found) return std::nullopt;
  return found->text;
}

std::optional<json> EditorSession::diagnostics(const std::string& uri,
                                               const std::function<bool(const json& list)>& wanted) {
  auto message = wait_for([&](const json& m) {
    return m.value("method", "") == "textDocument/publishDiagnostics" && m.at("params").at("uri") == uri &&
           (!wanted || wanted(m.at("params").at("diagnostics")));
  });
  if (!message) return std::nullopt;
  return message->at("params").at("diagnostics");
}

std::optional<json> EditorSession::log_line(const std::string& text) {
  return wait_for([&](const json& m) {
    return m.value("method", "") == "window/logMessage" && m.at("params").at("message") == "tovix: " + text;
  });
}

std::size_t EditorSession::logged(const std::string& text) const {
  std::size_t n = 0;
  for (const Seen& each : seen_) {
    const json& m = each.message;
    n += m.value("method", "") == "window/logMessage" && m.at("params").at("message") == "tovix: " + text;
  }
  return n;
}

std::optional<json> EditorSession::server_request(const std::string& method) {
  return wait_for([&](const json& m) { return is_request(m) && m.at("method") == method; });
}

void EditorSession::pump(std::chrono::milliseconds for_at_most) {
  const auto deadline = Clock::now() + for_at_most;
  while (receive_one(deadline)) {
  }
}

void EditorSession::settle() {
  // Unusable params: answered null at once, after everything sent before.
  (void)request("tovix/closingTag", json::object());
}

std::vector<json> EditorSession::history() const {
  std::vector<json> out;
  for (const Seen& each : seen_) out.push_back(each.message);
  return out;
}

std::optional<std::size_t> EditorSession::index_of(const std::function<bool(const json&)>& wanted) const {
  for (std::size_t i = 0; i < seen_.size(); ++i)
    if (wanted(seen_[i].message)) return i;
  return std::nullopt;
}

json EditorSession::configuration_answer(const json& request) const {
  json answer = json::array();
  const json* items = request.contains("params") ? &request.at("params").at("items") : nullptr;
  if (!items || !items->is_array()) return answer;
  for (const json& item : *items) {
    const std::string section = item.value("section", "");
    if (section == "luau-lsp")
      answer.push_back(options_.luau_lsp);
    else if (section == "tovix")
      answer.push_back(options_.tovix);
    else
      answer.push_back(nullptr);
  }
  return answer;
}

int EditorSession::shutdown_and_exit() {
  ended_ = true;
  (void)request("shutdown", nullptr);
  notify("exit", nullptr);
  return end();
}

int EditorSession::close_input() {
  ended_ = true;
  return end();
}

int EditorSession::end() {
  lsp_.close_stdin();
  // The server's output is read until it ends (a server left blocked
  // writing would never end), and what came meanwhile joins the history.
  const int status = lsp_.wait(PATIENCE);
  while (auto text = lsp_.receive_text(std::chrono::milliseconds(0))) {
    json message = json::parse(*text, nullptr, false);
    if (!message.is_discarded()) seen_.push_back({std::move(message), std::move(*text), false});
  }
  return status;
}

std::vector<int> EditorSession::children() const {
  std::vector<int> out;
  const std::filesystem::path tasks = "/proc/" + std::to_string(lsp_.pid()) + "/task";
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream list(task.path() / "children");
    int pid = 0;
    while (list >> pid) out.push_back(pid);
  }
  return out;
}

std::vector<json> StandInRecord::lines() const {
  std::vector<json> out;
  std::ifstream in(path_);
  std::string line;
  while (std::getline(in, line)) {
    // A line still being written is read on the next look.
    if (in.eof()) break;
    json value = json::parse(line, nullptr, false);
    if (!value.is_discarded()) out.push_back(std::move(value));
  }
  return out;
}

std::vector<json> StandInRecord::of(const std::string& method) const {
  std::vector<json> out;
  for (json& line : lines())
    if (line.value("method", "") == method) out.push_back(std::move(line));
  return out;
}

std::optional<json> StandInRecord::wait_for(EditorSession& session, const std::function<bool(const json&)>& wanted,
                                            std::size_t from, std::chrono::milliseconds timeout) const {
  std::optional<json> found;
  (void)wait_until(
      session,
      [&](const std::vector<json>& all) {
        for (std::size_t i = from; i < all.size(); ++i) {
          if (wanted(all[i])) {
            found = all[i];
            return true;
          }
        }
        return false;
      },
      timeout);
  return found;
}

bool StandInRecord::wait_until(EditorSession& session, const std::function<bool(const std::vector<json>&)>& done,
                               std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (done(lines())) return true;
    if (Clock::now() > deadline) {
      ADD_FAILURE() << "the stand-in never recorded the awaited message";
      return false;
    }
    session.pump(std::chrono::milliseconds(5));
  }
}

std::vector<int> StandInRecord::pids() const {
  std::vector<int> out;
  for (const json& line : lines())
    if (line.contains("argv") && line.contains("pid")) out.push_back(line.at("pid").get<int>());
  return out;
}

json position_of(std::string_view text, std::size_t offset) {
  std::size_t line = 0;
  std::size_t character = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      ++line;
      character = 0;
    } else if ((byte & 0xC0) != 0x80) {
      character += byte >= 0xF0 ? 2 : 1;
    }
  }
  return {{"character", character}, {"line", line}};
}

json range_of(std::string_view text, std::size_t start, std::size_t end) {
  return {{"end", position_of(text, end)}, {"start", position_of(text, start)}};
}

std::string applied(std::string_view text, const json& edits) {
  const document::Document document("file:///applied", std::string(text), 1);
  std::vector<std::pair<line_index::ByteRange, std::string>> spans;
  for (const json& edit : edits) {
    const auto range = document.byte_range(edit.value("range", json()));
    if (!range || !edit.value("newText", json()).is_string()) return "?";
    spans.emplace_back(*range, edit.at("newText").get<std::string>());
  }
  std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) { return a.first.start > b.first.start; });
  std::string out(text);
  std::size_t limit = out.size();
  for (const auto& [range, new_text] : spans) {
    if (range.end > limit) return "?";
    out.replace(range.start, range.end - range.start, new_text);
    limit = range.start;
  }
  return out;
}

}  // namespace tovix_lsp::testing
