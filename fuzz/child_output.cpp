// Arbitrary bytes as the output of the luau-lsp child, through everything
// the server does with a child's messages: the child's reader, the loop, the
// answers matched to what waits for them (all of `Pending`'s kinds), the
// payload remapping back into the sources, the merges, the child's
// diagnostics placed into changing texts, its requests relayed to the editor
// and its notifications. The server runs in-process with two documents of
// the sealed project open and compiled (harness.h), and a child attached to
// a memory file: what the server writes to it is kept and checked; what it
// says is the input, read by the child's reader before the loop starts and
// taken by the loop in order, its end (the end of the child) last. What the
// reader merges (publications about one file waiting behind each other)
// stays between two editor actions.
//
// The input: a flag byte, then the child's output.
//   bit 0  the output is a list of bodies split at each 0x1E byte, each
//          framed with its true length; else the bytes as they are
//   bit 1  the child's `initialize` (id 1) is left to the output to answer;
//          else it is answered first with {"capabilities": {}}
//   bit 2  the editor supports snippets
//   bit 3  the usual requests are asked before the output: one of each
//          kind the child can be waiting for, child ids 2 to 12 (see USUAL)
//   bit 4  tracing is on
// A notification "fuzz/editor" in the output is not the child's: its params
// (an action number, or {"do": number, "with": value}) make the editor act
// at that point: ask (forwarded requests, props, rename), edit, close and
// reopen, cancel, answer a relayed request, change the settings, shut down.
// Request ids of the editor are 1000 and up, every fourth a string.
//
// Checks: nothing crashes; everything written to the editor is well-framed
// JSON, every request is answered exactly once (the child's end answers what
// still waits), and no position or range of an answer, a publication or a
// relayed edit lies outside the open document it names, nor names a
// generated file; everything written to the child is well-framed JSON; the
// child's options and fast flags built from the settings are well-formed.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/events.h"
#include "core/jsonrpc.h"
#include "core/process.h"
#include "core/proxy.h"
#include "core/server.h"
#include "core/settings.h"
#include "harness.h"

namespace {

using namespace tovix_fuzz;

constexpr std::string_view ACT = "fuzz/editor";

// The bits of the flag byte.
constexpr std::uint8_t FRAMED = 1, LEFT_TO_CHILD = 2, SNIPPETS = 4, USUAL_REQUESTS = 8, TRACE = 16;

const std::string MAIN = R"(local vide = require(game:GetService("ReplicatedStorage"):WaitForChild("vide")) :: any
local create = vide.create
local source = vide.source

local count = source(0)

local function Counter(props: { label: string, onClick: () -> () })
	return <TextButton Text={props.label} Activated={function()
		count(count() + 1)
	end} />
end

-- ünïcödé 😀 before the markup
return <Frame Size={UDim2.fromScale(1, 1)}>
	<TextLabel Text={function() return `Clicks: {count()}` end} />
	<Counter label="Click me 😀" onClick={function() end} />
	<Txtlabel Text="typo" />
</Frame>
)";

const std::string CARD = R"(local vide = require(game:GetService("ReplicatedStorage"):WaitForChild("vide")) :: any
local create = vide.create

type Props = { title: string, onClick: (() -> ())? }

return function(props: Props)
	return <TextButton Text={props.title} Activated={props.onClick} />
end
)";

const std::string& main_uri() {
  static const std::string uri = document_uri("main.tovix");
  return uri;
}
const std::string& card_uri() {
  static const std::string uri = document_uri("card.tovix");
  return uri;
}

json default_settings() {
  return json::array({
      {{"types",
        {{"definitionFiles", {"defs/extra.d.luau"}},
         {"documentationFiles", {"docs.json"}},
         {"robloxSecurityLevel", "PluginSecurity"}}},
       {"fflags", {{"enableNewSolver", true}, {"override", {{"FFlagLuauExample", "true"}}}}},
       {"platform", {{"type", "roblox"}}}},
      {{"luauLsp", {{"path", ""}}}},
  });
}

// The state of the run the actions need beyond the server's.
struct Run {
  Transcript transcript;
  int requests = 0;
  std::int64_t version = 1;
};
Run* run = nullptr;

json next_id() {
  const int k = run->requests++;
  return k % 4 == 3 ? json("e" + std::to_string(k)) : json(1000 + k);
}

void ask(server::Server& s, std::string method, json params) {
  json id = next_id();
  ++run->transcript.allowed[id.dump()];
  s.guarded(jsonrpc::Request{std::move(id), std::move(method), std::move(params)}, true);
}

void tell(server::Server& s, std::string method, json params) {
  s.guarded(jsonrpc::Notification{std::move(method), std::move(params)}, true);
}

// The position `past` bytes into the first `anchor` of the document's text
// (its start when there is none).
json at(server::Server& s, const std::string& uri, std::string_view anchor, std::size_t past = 0) {
  const auto* open = s.documents.get(uri);
  if (!open) return {{"character", 0}, {"line", 0}};
  const std::string& text = open->document.text();
  std::size_t offset = text.find(anchor);
  offset = offset == std::string::npos ? 0 : std::min(offset + past, text.size());
  return open->document.position_at(offset);
}

json whole(server::Server& s, const std::string& uri) {
  const auto* open = s.documents.get(uri);
  const std::size_t size = open ? open->document.text().size() : 0;
  return {{"end", open ? open->document.position_at(size) : json{{"character", 0}, {"line", 0}}},
          {"start", {{"character", 0}, {"line", 0}}}};
}

json position_params(server::Server& s, const std::string& uri, std::string_view anchor, std::size_t past) {
  return {{"position", at(s, uri, anchor, past)}, {"textDocument", {{"uri", uri}}}};
}

json document(const std::string& uri) { return {{"uri", uri}}; }

void change(server::Server& s, json changes) {
  tell(s, "textDocument/didChange",
       {{"contentChanges", std::move(changes)}, {"textDocument", {{"uri", main_uri()}, {"version", ++run->version}}}});
}

json replace(server::Server& s, std::string_view anchor, std::size_t past, std::size_t length, std::string text) {
  const json start = at(s, main_uri(), anchor, past);
  const json end = at(s, main_uri(), anchor, past + length);
  return json::array({{{"range", {{"end", end}, {"start", start}}}, {"text", std::move(text)}}});
}

void edit(server::Server& s, std::int64_t variant, const json& with) {
  switch (variant % 6) {
    case 0: return change(s, replace(s, "source(0", 7, 1, "1"));    // Luau only, same lines
    case 1: return change(s, replace(s, "\"typo\" />", 7, 2, ""));  // fatal, same lines: stale
    case 2: return change(s, replace(s, "", 0, 0, "-- a line more\n"));
    case 3: return change(s, json::array({{{"text", MAIN}}}));
    case 4: return change(s, replace(s, "", 0, 0, "local broken = <Frame\n"));  // fatal, lines moved
    default: return change(s, json::array({{{"text", with.is_string() ? with.get<std::string>() : MAIN}}}));
  }
}

// The options and fast flags a child would be started with, from settings
// that may hold anything.
void start_options(server::Server& s, const json& settings) {
  locate::Environment env = locate::Environment::current();
  const std::vector<std::string> args = proxy::arguments(settings, env);
  check(!args.empty() && args.front() == "--stdio");
  const json* editor_flags = protocol::value_at(s.init_params, "/initializationOptions/fflags");
  const json flags = proxy::fflags(settings, editor_flags);
  check(flags.is_object());
  for (const auto& [name, value] : flags.items()) check(value.is_string());
  const json params = child_session::initialize_params(s.init_params, 1, flags);
  check(params.is_object() && params.contains("processId"));
}

void answer_relayed(server::Server& s, std::int64_t pick, const json& with) {
  std::vector<std::int64_t> ids;
  for (const auto& [ours, theirs] : s.child.relayed()) ids.push_back(ours);
  std::sort(ids.begin(), ids.end());
  const std::int64_t id = ids.empty() ? 9999 : ids[static_cast<std::size_t>(pick) % ids.size()];
  json response = {{"id", id}, {"jsonrpc", "2.0"}};
  if (with.is_object() && with.contains("error"))
    response["error"] = with["error"];
  else
    response["result"] = with;
  s.guarded(jsonrpc::Response{id, std::move(response)}, true);
}

void cancel(server::Server& s, std::int64_t pick) {
  std::vector<std::pair<std::int64_t, json>> waiting;
  for (const auto& [child_id, entry] : s.child.pending()) {
    if (const auto* f = std::get_if<child_session::Pending::Asked>(&entry.what)) waiting.emplace_back(child_id, f->id);
    if (const auto* p = std::get_if<child_session::Pending::Props>(&entry.what)) waiting.emplace_back(child_id, p->id);
  }
  std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  const json id = waiting.empty() ? json(4242) : waiting[static_cast<std::size_t>(pick) % waiting.size()].second;
  tell(s, "$/cancelRequest", {{"id", id}});
}

void settings_changed(server::Server& s, const json& with) {
  const json sections = with.is_array() ? with : default_settings();
  tell(s, "workspace/didChangeConfiguration", {{"settings", sections}});
  if (s.config_requests.empty()) return;
  const std::int64_t id = *std::max_element(s.config_requests.begin(), s.config_requests.end());
  s.guarded(jsonrpc::Response{id, {{"id", id}, {"jsonrpc", "2.0"}, {"result", sections}}}, true);
  start_options(s, s.luau_lsp_settings);
}

void act(server::Server& s, const json& params) {
  const json* number = params.is_object() ? protocol::member(params, "do") : &params;
  const std::int64_t n = number ? protocol::read_i64(*number).value_or(0) : 0;
  const json* given = protocol::member(params, "with");
  const json with = given ? *given : json(nullptr);
  const std::int64_t what = ((n % 18) + 18) % 18, arg = (n < 0 ? -(n + 1) : n) / 18;
  const std::string& a = main_uri();
  switch (what) {
    case 0: return ask(s, "textDocument/hover", position_params(s, a, "count(count()", 2));
    case 1: return ask(s, "textDocument/hover", position_params(s, a, "<Counter", 3));
    case 2: return ask(s, "textDocument/completion", position_params(s, a, "vide.create", 5));
    case 3: return ask(s, "textDocument/completion", position_params(s, a, "label=\"Click", 2));
    case 4: {
      json params = position_params(s, a, "local count", 8);
      params["newName"] = with.is_string() ? with : json("total");
      return ask(s, "textDocument/rename", std::move(params));
    }
    case 5: return ask(s, "textDocument/prepareRename", position_params(s, a, "local count", 8));
    case 6: {
      // At a Luau line (asked of the child too), or over our diagnostics
      // (markup, answered by us alone), as an editor asks at the cursor.
      json diagnostics = json::array();
      if (const auto* open = s.documents.get(a))
        for (const json& d : open->diagnostics) diagnostics.push_back(d);
      json range = arg % 2 == 0 || diagnostics.empty()
                       ? json{{"end", at(s, a, "local count", 11)}, {"start", at(s, a, "local count", 6)}}
                       : diagnostics.front()["range"];
      return ask(s, "textDocument/codeAction",
                 {{"context", {{"diagnostics", std::move(diagnostics)}}},
                  {"range", std::move(range)},
                  {"textDocument", document(a)}});
    }
    case 7:
      return ask(s, "textDocument/definition",
                 arg % 2 ? position_params(s, a, "<Counter", 3) : position_params(s, a, "source(0", 2));
    case 8: {
      const json luau = position_params(s, a, "count(count()", 8);
      switch (arg % 7) {
        case 0: {
          json params = luau;
          params["context"] = {{"includeDeclaration", true}};
          return ask(s, "textDocument/references", std::move(params));
        }
        case 1: return ask(s, "textDocument/documentHighlight", luau);
        case 2: return ask(s, "textDocument/typeDefinition", luau);
        case 3: return ask(s, "textDocument/signatureHelp", position_params(s, a, "source(0", 7));
        case 4: return ask(s, "textDocument/foldingRange", {{"textDocument", document(a)}});
        case 5:
          return ask(s, "textDocument/selectionRange",
                     {{"positions", json::array({at(s, a, "count(count()", 8)})}, {"textDocument", document(a)}});
        default: return ask(s, "textDocument/inlayHint", {{"range", whole(s, a)}, {"textDocument", document(a)}});
      }
    }
    case 9: return edit(s, arg, with);
    case 10:
      if (s.documents.get(card_uri()))
        return tell(s, "textDocument/didClose", {{"textDocument", document(card_uri())}});
      return tell(s, "textDocument/didOpen",
                  {{"textDocument", {{"languageId", "tovix"}, {"text", CARD}, {"uri", card_uri()}, {"version", 1}}}});
    case 11: return cancel(s, arg);
    case 12: return answer_relayed(s, arg, with);
    case 13:
      if (arg % 2) return tell(s, "textDocument/didSave", {{"textDocument", document(a)}});
      return tell(s, "workspace/didChangeWatchedFiles",
                  {{"changes", json::array({{{"type", 2}, {"uri", document_uri("tovix.toml")}}})}});
    case 14: return settings_changed(s, with);
    case 15: return ask(s, "shutdown", nullptr);
    case 16:
      switch (arg % 3) {
        case 0: return ask(s, "textDocument/documentSymbol", {{"textDocument", document(a)}});
        case 1: return ask(s, "textDocument/semanticTokens/full", {{"textDocument", document(a)}});
        default: return ask(s, "tovix/closingTag", position_params(s, a, "</Frame>", 0));
      }
    default:
      switch (arg % 3) {
        case 0: return ask(s, "textDocument/hover", position_params(s, card_uri(), "<TextButton", 3));
        case 1: return ask(s, "textDocument/completion", position_params(s, card_uri(), "props.title", 6));
        default: return ask(s, "textDocument/definition", position_params(s, card_uri(), "props.onClick", 8));
      }
  }
}

// The usual requests, one of each kind that waits for the child.
constexpr int USUAL[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 8 + 18 * 6, 17 + 18};

void child_message(server::Server& s, jsonrpc::Message message) {
  if (auto* n = std::get_if<jsonrpc::Notification>(&message); n && n->method == ACT) return act(s, n->params);
  server::Handlers::standard().child(s, std::move(message));
}

const server::Handlers& handlers() {
  static const server::Handlers table = [] {
    server::Handlers h = sealed_handlers();
    h.child = child_message;
    return h;
  }();
  return table;
}

// A memory file holding `bytes`, read from its start.
process::Fd memory_file(std::string_view bytes) {
  process::Fd fd(::memfd_create("tovix-fuzz", MFD_CLOEXEC));
  check(static_cast<bool>(fd));
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    check(n > 0);
    done += static_cast<std::size_t>(n);
  }
  check(::lseek(fd.get(), 0, SEEK_SET) == 0);
  return fd;
}

// Everything in `fd` from its start: whole frames of one JSON object each.
void well_framed(const process::Fd& fd) {
  check(::lseek(fd.get(), 0, SEEK_SET) == 0);
  std::string wire;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;) wire.append(buffer, static_cast<std::size_t>(n));
  io::StringInput input(std::move(wire));
  jsonrpc::Reader reader(input);
  for (;;) {
    auto message = reader.read();
    check(message.has_value());
    if (!*message) break;
    check((*message)->is_object());
    show("-> ", (*message)->dump());
  }
}

// The child's output read by the child's reader onto `sender`. The reader
// drops a publication still waiting when a newer one for the same file
// comes, and here everything is read before the loop starts: a publication,
// an editor action and another publication would never be played. So the
// bodies (in the framed form) are read in pieces that each end with a body
// naming an action, each piece on a channel of its own, and moved in order
// onto the server's; only the end of the last piece is the child's.
void read_in_pieces(std::uint64_t child, std::string_view bytes, bool bodies, const events::Events::Sender& sender) {
  std::vector<std::string_view> pieces;
  if (bodies) {
    std::size_t start = 0;
    for (std::size_t at = 0; at <= bytes.size(); ++at) {
      if (at < bytes.size() && bytes[at] != '\x1e') continue;
      if (at == bytes.size() || bytes.substr(start, at - start).find(ACT) != std::string_view::npos) {
        pieces.push_back(bytes.substr(start, at - start));
        start = at + 1;
      }
    }
  } else {
    pieces.push_back(bytes);
  }
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    auto [piece_sender, piece_events] = events::Events::make();
    const std::string stream = bodies ? framed(pieces[k]) : std::string(pieces[k]);
    proxy::read_child(child, memory_file(stream), process::Fd(), piece_sender);
    while (auto event = piece_events.receive_for(std::chrono::milliseconds(0))) {
      if (std::holds_alternative<events::ChildExited>(*event) && k + 1 < pieces.size()) continue;
      sender.send(std::move(*event));
    }
  }
}

json initialize_params(bool snippets) {
  return {{"capabilities",
           {{"general", {{"positionEncodings", {"utf-16"}}}},
            {"textDocument",
             {{"completion", {{"completionItem", {{"snippetSupport", snippets}}}}}, {"diagnostic", json::object()}}},
            {"workspace", {{"diagnostics", json::object()}}}}},
          {"initializationOptions", {{"fflags", {{"LuauEditorFlag", "true"}}}}},
          {"processId", nullptr},
          {"rootUri", document_uri("")}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)root();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  const std::uint8_t flags = static_cast<std::uint8_t>(bytes.front());
  bytes.remove_prefix(1);

  Run state;
  run = &state;
  Transcript& t = state.transcript;
  t.generated_uris_allowed = false;
  transcript() = &t;

  process::Fd to_child(::memfd_create("tovix-fuzz-child-input", MFD_CLOEXEC));
  check(static_cast<bool>(to_child));
  {
    auto [sender, receiver] = events::Events::make();
    Editor output(t);
    server::Server server(output, sender, handlers());
    output.watch(&server);

    // The child, as the settings' answer would have started it.
    auto attached = proxy::Proxy::attach(process::Fd(::dup(to_child.get())), sender);
    check(attached.has_value());
    const std::uint64_t child = attached->number();
    // The child's initialize goes out under id 1.
    check(
        !server.child.start(std::move(*attached), child_session::initialize_params(json::object(), 1, json::object())));

    auto editor = [&](json value) { sender.send(events::Editor{std::move(value)}); };
    auto from_child = [&](json value) { sender.send(events::Child{child, std::move(value)}); };
    const json init_id = next_id();
    ++t.allowed[init_id.dump()];
    editor(jsonrpc::build::request(init_id, "initialize", initialize_params((flags & SNIPPETS) != 0)));
    editor(jsonrpc::build::notification("initialized", json::object()));
    editor({{"id", 1}, {"jsonrpc", "2.0"}, {"result", default_settings()}});
    if (flags & TRACE) editor(jsonrpc::build::notification("$/setTrace", {{"value", "verbose"}}));
    for (const auto& [uri, text] : {std::pair{main_uri(), MAIN}, std::pair{card_uri(), CARD}})
      editor(jsonrpc::build::notification(
          "textDocument/didOpen",
          {{"textDocument", {{"languageId", "tovix"}, {"text", text}, {"uri", uri}, {"version", 1}}}}));
    if (!(flags & LEFT_TO_CHILD))
      from_child({{"id", 1}, {"jsonrpc", "2.0"}, {"result", {{"capabilities", json::object()}}}});
    if (flags & USUAL_REQUESTS)
      for (int action : USUAL) from_child(jsonrpc::build::notification(ACT, action));

    read_in_pieces(child, bytes, (flags & FRAMED) != 0, sender);
    sender.send(events::EditorClosed{});
    (void)server::serve(server, receiver);

    documents_sound(server);
    output.watch(nullptr);
  }
  all_answered(t);
  well_framed(to_child);
  transcript() = nullptr;
  run = nullptr;
  return 0;
}
