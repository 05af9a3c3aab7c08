#pragma once

// What the whole-path targets (editor_input, child_output) share.
//
// A machine of their own: a temporary root, made once per process, holds
// HOME (with the luau-lsp extension's storage and its two Roblox type files,
// from which the API facts are installed once, before the first input, so
// that no configuration answer starts a load off the main thread),
// PATH (an empty folder) and a project with its tovix.toml, held open as
// descriptor PROJECT_FD: documents named "file:///proc/self/fd/987/…" live
// in that project wherever the root was made, so that seeds can name them,
// and a child's messages their generated files. (The working directory
// stays: libFuzzer reads corpora and writes crashes there.)
//
// A handler table that keeps fuzzed settings inside it: `exit` is gone (it
// ends the process), and every configuration answer names a luau-lsp that
// does not exist (a configured path is only looked at, never run; with it
// no search probes anything) and moves the type files it names into the
// root. No search ever reaches its end while the loop runs: every event is
// queued before the loop starts, the end of the input among them, so its
// answer comes after the end and is ignored. Runs are therefore decided by
// their input alone, but for the child's log lines past twenty in one
// second (the quota counts real time).
//
// `Editor`, the editor's side of the stream: every message the server
// writes is checked as it is written, against the documents open then; a
// log line of the catch-all (a handler that failed) fails the run.
//
// With TOVIX_FUZZ_SHOW set in the environment, what the server writes is
// also shown on standard error, one JSON text a line ("<- " to the editor,
// "-> " to the child), to see what a crashing input did.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/io.h"
#include "core/server.h"
#include "core/settings.h"
#include "features/api.h"
#include "workspace/line_index.h"
#include "workspace/project.h"
#include "workspace/protocol.h"
#include "workspace/utf8_text.h"

namespace tovix_fuzz {

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace tovix_lsp;

inline void check(bool ok) {
  if (!ok) std::abort();
}

// Shows `body` when TOVIX_FUZZ_SHOW is set.
inline void show(std::string_view prefix, std::string_view body) {
  static const bool on = std::getenv("TOVIX_FUZZ_SHOW") != nullptr;
  if (!on) return;
  std::string line(prefix);
  line += body;
  line += '\n';
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

// A small definitions file and its documentation: enough for member types,
// an event's parameters, an inherited member and documented members.
inline constexpr std::string_view DEFINITIONS =
    "declare class Instance\n"
    "\tName: string\n"
    "\tChanged: RBXScriptSignal<string>\n"
    "end\n"
    "declare class GuiObject extends Instance\n"
    "\tSize: UDim2\n"
    "\tVisible: boolean\n"
    "\tInputBegan: RBXScriptSignal<(InputObject, boolean)>\n"
    "end\n"
    "declare class Frame extends GuiObject\n"
    "end\n"
    "declare class TextLabel extends GuiObject\n"
    "\tText: string\n"
    "\tTextSize: number\n"
    "end\n"
    "declare class TextButton extends TextLabel\n"
    "\tActivated: RBXScriptSignal<(InputObject, number)>\n"
    "end\n";
inline constexpr std::string_view DOCUMENTATION = R"({
  "@roblox/globaltype/TextLabel.Text": {"documentation": "The <b>text</b> shown.", "learn_more_link": "https://example.com/Text"},
  "@roblox/globaltype/GuiObject.Size": {"documentation": "Its size."},
  "@roblox/globaltype/TextButton.Activated": ["Fires when <i>activated</i>.", ""]
})";

// What the server's catch-all logs when a handler fails.
inline constexpr std::string_view GUARD_LINE = "internal error handling ";

// The descriptor of the project folder, named in documents' URIs.
inline constexpr int PROJECT_FD = 987;
inline constexpr std::string_view PROJECT_URI = "file:///proc/self/fd/987/";

struct Root {
  fs::path dir;
  fs::path project;  // open as PROJECT_FD
  fs::path absent;   // where no file is: the only luau-lsp ever configured
};

namespace detail {

inline void write_file(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
  check(out.good());
}

inline Root make_root() {
  std::string name = (fs::temp_directory_path() / "tovix-fuzz-XXXXXX").string();
  check(::mkdtemp(name.data()) != nullptr);
  Root root{name, fs::path(name) / "project", fs::path(name) / "absent" / "luau-lsp"};
  const fs::path home = root.dir / "home";
  const fs::path bin = root.dir / "bin";
  fs::create_directories(bin);
  write_file(root.project / "tovix.toml", "");
  const fs::path storage = home / ".config" / "Code" / "User" / "globalStorage" / "johnnymorganz.luau-lsp";
  write_file(storage / "globalTypes.PluginSecurity.d.luau", DEFINITIONS);
  write_file(storage / "api-docs.json", DOCUMENTATION);
  check(::setenv("HOME", home.c_str(), 1) == 0);
  check(::setenv("PATH", bin.c_str(), 1) == 0);
  check(::unsetenv("APPDATA") == 0);
  const int project = ::open(root.project.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(project >= 0 && ::dup2(project, PROJECT_FD) == PROJECT_FD && ::close(project) == 0);
  check(::fcntl(PROJECT_FD, F_SETFD, FD_CLOEXEC) == 0);
  api::install((storage / "globalTypes.PluginSecurity.d.luau").string(), (storage / "api-docs.json").string());
  check(api::present() != nullptr);
  // Trace lines ($/setTrace) are still built, but go nowhere.
  std::cerr.setstate(std::ios::badbit);
  return root;
}

}  // namespace detail

// The root, made on first use and removed when the process exits normally.
inline const Root& root() {
  static const Root made = detail::make_root();
  // Registered after `made` is built, so it runs before `made` is destroyed.
  static const bool removed_at_exit = std::atexit([] {
                                        std::error_code ignored;
                                        fs::remove_all(root().dir, ignored);
                                      }) == 0;
  (void)removed_at_exit;
  return made;
}

// A document of the project, by its name there.
inline std::string document_uri(std::string_view name) { return std::string(PROJECT_URI) + std::string(name); }

// A type file named in fuzzed settings, moved into the root: only its last
// component is kept.
inline std::string rooted(const std::string& path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  if (name.empty() || name == "." || name == "..") name = "_";
  return (root().dir / "named" / name).string();
}

// A configuration answer made harmless, changed in place.
inline void seal_settings(json& message) {
  json* result = message.is_object() && message.contains("result") ? &message["result"] : nullptr;
  if (result == nullptr || !result->is_array()) return;  // no section: nothing configured
  const std::string absent = root().absent.string();
  if (!result->empty() && (*result)[0].is_object()) {
    json& luau = (*result)[0];
    if (!luau["server"].is_object()) luau["server"] = json::object();
    luau["server"]["path"] = absent;
    if (auto types = luau.find("types"); types != luau.end() && types->is_object()) {
      for (const char* key : {"definitionFiles", "documentationFiles"}) {
        auto files = types->find(key);
        if (files == types->end() || !(files->is_array() || files->is_object())) continue;
        for (json& file : *files)
          if (file.is_string()) file = rooted(file.get<std::string>());
      }
    }
  }
  if (result->size() >= 2 && (*result)[1].is_object()) {
    json& own = (*result)[1];
    if (!own["luauLsp"].is_object()) own["luauLsp"] = json::object();
    own["luauLsp"]["path"] = absent;
  }
}

// What the checks know of one run: how many answers each request id may
// have, and which document the request named.
struct Transcript {
  std::map<std::string, int> allowed;            // id (as JSON text) -> requests with it
  std::map<std::string, int> answered;           // id -> answers written
  std::map<std::string, std::string> uri_of;     // id -> "/textDocument/uri" of its last request
  std::map<std::string, std::string> method_of;  // id -> the method of its last request
  // Methods whose answers are not checked for their places.
  std::set<std::string> unplaced;
  // Whether a URI of a generated file may reach the editor in an answer.
  bool generated_uris_allowed = true;
};

// The transcript of the run under way; the handler table records into it.
inline Transcript*& transcript() {
  static Transcript* current = nullptr;
  return current;
}

// The standard table made safe for fuzzing (above), recording the document
// each request names.
inline server::Handlers sealed_handlers() {
  server::Handlers h = server::Handlers::standard();
  h.notifications.erase("exit");
  for (auto& [method, handler] : h.requests) {
    handler = [inner = handler, method = method](server::Server& s, const json& id, json params) {
      if (Transcript* t = transcript()) {
        t->uri_of[id.dump()] = protocol::string_at(params, "/textDocument/uri").value_or("");
        t->method_of[id.dump()] = method;
      }
      return inner(s, id, std::move(params));
    };
  }
  h.response = [](server::Server& s, json id, json message) {
    if (const auto ours = protocol::read_i64(id); ours && s.config_requests.contains(*ours)) seal_settings(message);
    server::Handlers::standard().response(s, std::move(id), std::move(message));
  };
  return h;
}

// The editor's end of the server's output. Each write must be whole frames
// of exactly the server's header and one JSON object; answers are counted
// by id; the positions of answers, of published diagnostics and of relayed
// edits must lie inside the documents they name, open at that moment.
class Editor final : public io::Output {
 public:
  explicit Editor(Transcript& transcript) : transcript_(transcript) {}

  // The server whose documents positions are checked against (none: not
  // checked).
  void watch(const server::Server* server) { server_ = server; }

  std::expected<void, io::Error> write_all(std::string_view bytes) override {
    for (;;) {
      constexpr std::string_view HEADER = "Content-Length: ";
      check(bytes.starts_with(HEADER));
      bytes.remove_prefix(HEADER.size());
      const std::size_t digits = bytes.find("\r\n\r\n");
      check(digits != std::string_view::npos && digits > 0);
      std::size_t length = 0;
      for (char c : bytes.substr(0, digits)) {
        check(c >= '0' && c <= '9');
        length = length * 10 + static_cast<std::size_t>(c - '0');
      }
      bytes.remove_prefix(digits + 4);
      check(length <= bytes.size());
      const std::string_view body = bytes.substr(0, length);
      show("<- ", body);
      json message = json::parse(body.begin(), body.end(), nullptr, false);
      check(!message.is_discarded() && message.is_object());
      inspect(message);
      bytes.remove_prefix(length);
      ++messages;
      if (bytes.empty()) return {};
    }
  }

  std::size_t messages = 0;

 private:
  const document::Document* open(const json& uri) const {
    if (!server_ || !uri.is_string()) return nullptr;
    const auto* entry = server_->documents.get(uri.get_ref<const std::string&>());
    return entry ? &entry->document : nullptr;
  }

  void no_generated(const std::string& uri) const {
    if (transcript_.generated_uris_allowed || !server_) return;
    for (const std::string& each : server_->documents.uris()) {
      const auto* entry = server_->documents.get(each);
      check(entry->generated_uri().empty() || !project::same_file(entry->generated_uri(), uri));
    }
  }

  void inspect(const json& message) {
    check(message.contains("jsonrpc") && message["jsonrpc"] == "2.0");
    const auto method = message.find("method");
    if (method == message.end()) {
      const auto id = message.find("id");
      check(id != message.end());
      check(message.contains("result") != message.contains("error"));
      const std::string key = id->dump();
      check(++transcript_.answered[key] <= transcript_.allowed[key]);
      const auto method = transcript_.method_of.find(key);
      const bool placed = method == transcript_.method_of.end() || !transcript_.unplaced.contains(method->second);
      if (const auto result = message.find("result"); result != message.end() && placed) {
        const auto uri = transcript_.uri_of.find(key);
        within(*result, uri == transcript_.uri_of.end() ? nullptr : open(uri->second), 0);
      }
      return;
    }
    check(method->is_string());
    const json* params = protocol::member(message, "params");
    // The guard's line: a handler failed, which no input may make it do.
    if (*method == "window/logMessage" && params) {
      const json* text = protocol::member(*params, "message");
      check(!(text && text->is_string() && text->get_ref<const std::string&>().find(GUARD_LINE) != std::string::npos));
    }
    if (*method == "textDocument/publishDiagnostics" && params) {
      within(*params, nullptr, 0);
    } else if (*method == "workspace/applyEdit" && message.contains("id") && params) {
      within(*params, nullptr, 0);
    }
  }

  // `v` speaks of `doc` (none: not checked) until one of its objects names
  // another document: by "uri", by a location link's "targetUri" for its
  // target ranges, by the member names of an edit's "changes".
  void within(const json& v, const document::Document* doc, int depth) {
    check(depth < 300);
    if (v.is_array()) {
      for (const json& each : v) within(each, doc, depth + 1);
      return;
    }
    if (!v.is_object()) return;
    // The scopes of the payload remapping: a "uri" of the object's own, else
    // that of its "textDocument".
    if (const auto uri = v.find("uri"); uri != v.end()) {
      if (uri->is_string()) {
        no_generated(uri->get<std::string>());
        doc = open(*uri);
      }
    } else if (const json* uri = protocol::value_at(v, "/textDocument/uri"); uri && uri->is_string()) {
      doc = open(*uri);
    }
    if (const auto at = protocol::read_position(v); at && v.size() == 2) {
      if (doc) check(doc->offset(*at).has_value());
      return;
    }
    if (const auto range = protocol::read_range(v); range && doc) {
      const auto start = doc->offset(range->start), end = doc->offset(range->end);
      check(start && end && *start <= *end);
    }
    const document::Document* target = doc;
    if (const auto uri = v.find("targetUri"); uri != v.end() && uri->is_string()) {
      no_generated(uri->get<std::string>());
      target = open(*uri);
    }
    for (const auto& [key, member] : v.items()) {
      if (key == "changes" && member.is_object()) {
        for (const auto& [uri, edits] : member.items()) {
          no_generated(uri);
          within(edits, open(uri), depth + 1);
        }
      } else if (key == "targetRange" || key == "targetSelectionRange") {
        within(member, target, depth + 1);
      } else {
        within(member, doc, depth + 1);
      }
    }
  }

  Transcript& transcript_;
  const server::Server* server_ = nullptr;
};

// Bodies split at each 0x1E byte, each framed with its true length, so that
// mutations of a body keep its frame.
inline std::string framed(std::string_view bodies) {
  std::string out;
  for (;;) {
    const std::size_t end = std::min(bodies.find('\x1e'), bodies.size());
    out += "Content-Length: " + std::to_string(end) + "\r\n\r\n";
    out += bodies.substr(0, end);
    if (end == bodies.size()) return out;
    bodies.remove_prefix(end + 1);
  }
}

// Every open document's text is valid UTF-8 and its index that of its text.
inline void documents_sound(const server::Server& server) {
  for (const std::string& uri : server.documents.uris()) {
    const document::Document& doc = server.documents.get(uri)->document;
    check(utf8_text::is_valid(doc.text()));
    check(doc.index() == line_index::LineIndex(doc.text()));
  }
}

// Every request answered exactly as often as it was made.
inline void all_answered(const Transcript& t) {
  for (const auto& [id, count] : t.allowed) {
    const auto answered = t.answered.find(id);
    check((answered == t.answered.end() ? 0 : answered->second) == count);
  }
}

}  // namespace tovix_fuzz
