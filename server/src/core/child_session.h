#pragma once

// The session with luau-lsp: the one owner of the child process, of what
// waits for its answers, of the requests it relays to the editor, and of
// the child's side of every open document. The server calls it one way:
// each call returns what the server is to send or publish, in order.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/jsonrpc.h"
#include "core/open_documents.h"
#include "core/proxy.h"
#include "features/props.h"
#include "workspace/published.h"
#include "workspace/remap.h"
#include "workspace/snapshot.h"

namespace tovix_lsp::child_session {

// What a feature finishes an answer of the child's with: the local part,
// the child's answer moved into the source, and whether that answer speaks
// of an older text.
using Finish = nlohmann::json (*)(std::optional<nlohmann::json> local, nlohmann::json child, bool stale);

// An editor request to be asked of the child, with a local part to answer
// from when the child cannot, and to merge into its answer.
struct AskChild {
  std::string method;
  nlohmann::json params;
  std::optional<nlohmann::json> local;
  bool rename = false;
  // A prepareRename's position in the source: a range of the child's that
  // does not hold it gives way to the local part.
  std::optional<nlohmann::json> cursor = std::nullopt;
  // The feature's own rule for the answer; without one the answer is
  // `merged` with the local part.
  Finish finish = nullptr;
  // A rename whose edits replace an element's whole opening name is refused
  // with this message (markup would not call the new name there).
  std::optional<std::string> on_tags = std::nullopt;
  // The answer is a list of Locations: each one on an element's opening name
  // is followed by one on its closing name, which generated code lacks.
  bool join_locations = false;
};

// What one request to the child waits for, under the child's request id.
struct Pending {
  // An editor request asked of the child. The compile it was sent against
  // moves the answer back, whatever compiles came since.
  struct Asked {
    nlohmann::json id;  // the editor's
    std::string uri;    // the editor's document
    std::optional<nlohmann::json> local;
    bool rename = false;
    std::shared_ptr<const analysis::Compiled> compiled;
    // That compile was older than the text when the request was sent.
    bool stale = false;
    std::optional<nlohmann::json> cursor = std::nullopt;  // as the `AskChild`'s
    // The text the local part was worked out on (null: not known). The
    // local part speaks of that text: once it has changed it is not sent.
    std::shared_ptr<const snapshot::Snapshot> asked_of{};
    Finish finish = nullptr;
    std::optional<std::string> on_tags = std::nullopt;  // as the `AskChild`'s
    bool join_locations = false;                        // as the `AskChild`'s
  };
  // A completion of a component's props, asked at its generated call.
  struct Props {
    nlohmann::json id;     // the editor's
    std::string name;      // the component
    nlohmann::json range;  // the source range the items replace
    bool snippet = false;
    // The document and the text that range is of, as for `Asked`: items
    // for a text that has changed since are not sent.
    std::string uri{};
    std::shared_ptr<const snapshot::Snapshot> asked_of{};
  };
  // The child's own initialize.
  struct Initialize {};

  std::variant<Asked, Props, Initialize> what;
};

// What the server is to do, in order: send a message to the editor, or
// publish a document's diagnostics again (its child part has changed).
struct Publish {
  std::string uri;
};
using Effect = std::variant<nlohmann::json, Publish>;
using Effects = std::vector<Effect>;

// What the session reads of the server for a call.
struct Context {
  open_documents::OpenDocuments& documents;
  // The server's ids for its own requests to the editor.
  std::int64_t& next_id;
  bool trace = false;
};

// The protocol's code for a request that failed: what a refused rename is
// answered with (common clients answer -32801 silently, and the user must
// learn why nothing happened).
inline constexpr std::int64_t REQUEST_FAILED = -32803;

// How many log and show messages of the child reach the editor in a second;
// a child that writes more is flooding, not informing.
inline constexpr std::size_t CHILD_MESSAGES_PER_SECOND = 20;
// At most one line a while says how many were dropped.
inline constexpr std::chrono::seconds DROPPED_SAID_EVERY{10};
// How many of the child's requests may wait for the editor's answer at
// once, and how many are passed on in a second. luau-lsp asks a handful
// (capabilities, configuration, progress); a child past either bound is
// refused at once (`REQUEST_FAILED`: sound, but not asked now), so that neither the relayed table
// nor the editor's queue grows with a flood.
inline constexpr std::size_t MAX_RELAYED = 100;
inline constexpr std::size_t CHILD_REQUESTS_PER_SECOND = 50;

class ChildSession {
 public:
  // Starts luau-lsp at `program` with what the "luau-lsp" settings and the
  // editor's initialize params ask for, and sends it `initialize`; said
  // when it cannot be started or written to (it is then killed and
  // reaped).
  [[nodiscard]] Effects start(const std::filesystem::path& program, const nlohmann::json& luau_lsp_settings,
                              const nlohmann::json& editor_params, events::Events::Sender events);
  // The same with a child already running (the fuzzers' in-process child).
  [[nodiscard]] std::optional<io::Error> start(proxy::Proxy child, nlohmann::json initialize_params);

  // A child runs, and has answered initialize.
  [[nodiscard]] bool running() const { return proxy_.has_value(); }
  [[nodiscard]] bool ready() const { return ready_; }
  // Whether child `number` is the one running.
  [[nodiscard]] bool current(std::uint64_t number) const { return proxy_ && proxy_->number() == number; }

  // Opens the document's generated file in the ready child, or sends its
  // whole new text. Nothing before the child is ready; a document without a
  // compile or generated URI is not sent (said once).
  [[nodiscard]] Effects sync(Context context, open_documents::OpenDocument& open);
  // Closes the document's generated file in the child, when it has it.
  void close(open_documents::OpenDocument& open);

  // Moves the child's last diagnostics of the document into its current
  // text, through the compile they were found in (forgotten when the
  // document has no compile): those on lines an edit changed since are left
  // out until the child speaks again.
  void relocate(Context context, open_documents::OpenDocument& open);

  // Asks the child an editor request, its params moved into the generated
  // file; answers at once from the local part when it cannot.
  [[nodiscard]] Effects ask(Context context, nlohmann::json id, AskChild request);
  // Asks the child for the props of a component; false (nothing asked) when
  // it cannot be asked.
  [[nodiscard]] bool ask_props(Context context, const nlohmann::json& id, open_documents::OpenDocument& open,
                               props::Question question, bool snippet, Effects& effects);

  // A message of the running child, and a publication of its read as text.
  [[nodiscard]] Effects take(Context context, jsonrpc::Message message);
  [[nodiscard]] Effects take(Context context, published::Notification publication);

  // A message of the running child too long to take, read past: said in
  // one line. A request of the child's is refused; what waited for a
  // response is answered as when the child cannot answer (the child that
  // does not answer initialize is let go of).
  [[nodiscard]] Effects skipped(Context context, const jsonrpc::Refused& refused);

  // The editor's id waiting on the child's response `message`, if any: what
  // a failure in handling that response must still answer.
  [[nodiscard]] std::optional<nlohmann::json> waiting_editor_id(const jsonrpc::Response& message) const;

  // The editor's $/cancelRequest of a request waiting for the child: it is
  // answered now ("request cancelled") and the child told. Nothing when no
  // such request waits.
  [[nodiscard]] Effects cancel(const nlohmann::json& params);

  // The editor's answer to a request relayed from the child, under our id:
  // passed on under the child's. False when it is none of those.
  bool relayed_answer(std::int64_t ours, nlohmann::json message);

  // A notification for the ready child (nothing before it is ready).
  void notify(std::string_view method, nlohmann::json params);

  // Lets go of the child, if any (after asking it to stop when `orderly`):
  // it is killed and reaped, forgets every document, its diagnostics are
  // withdrawn and the requests relayed for it forgotten. With `why`, says
  // it and answers what waited for the child locally.
  [[nodiscard]] Effects let_go(Context context, bool orderly, std::optional<std::string_view> why = std::nullopt);
  // Answers every request still waiting for the child locally.
  [[nodiscard]] Effects fail_pending(Context context);
  // Ends the child at once without a word: the process is about to end.
  void abandon() { proxy_.reset(); }

  // The child's writer stopped; whether that is the running child ending
  // (told as its end) rather than stopping reading.
  [[nodiscard]] bool ending(outbox::Stop why);

  // When `tick` has something to say (how many of the child's log and show
  // messages were dropped, how many of its requests refused); none while
  // nothing waits.
  [[nodiscard]] std::optional<std::chrono::steady_clock::time_point> deadline() const;
  [[nodiscard]] Effects tick();

  // For tests and the fuzzers: the running child, the pending table.
  [[nodiscard]] proxy::Proxy* child() { return proxy_ ? &*proxy_ : nullptr; }
  [[nodiscard]] std::unordered_map<std::int64_t, Pending>& pending() { return pending_; }
  [[nodiscard]] const std::unordered_map<std::int64_t, Pending>& pending() const { return pending_; }
  [[nodiscard]] const std::unordered_map<std::int64_t, nlohmann::json>& relayed() const { return relayed_; }
  void adopt(proxy::Proxy child, bool ready);
  // As if the child had answered initialize (or not yet).
  void mark_ready(bool ready) { ready_ = ready; }

 private:
  struct Call;

  void answer_locally(Effects& out, nlohmann::json id, const std::optional<nlohmann::json>& local);
  // Asks the child `request` for the editor's request `id` and keeps what
  // waits for the answer; false when it cannot, `id` and the local part
  // then left as they were.
  bool try_ask(Call& call, nlohmann::json& id, AskChild& request);
  // Sends a request to the child; its id, or none (said) when it cannot.
  std::optional<std::int64_t> send_request(Call& call, std::string_view method, nlohmann::json params,
                                           const std::string& document);
  void initialized(Call& call, const nlohmann::json& message);
  void props_answered(Call& call, Pending::Props props, const nlohmann::json& message);
  void asked_answered(Call& call, Pending::Asked asked, nlohmann::json& message);
  void response(Call& call, jsonrpc::Response message);
  void notification(Call& call, jsonrpc::Notification message);
  void request(Call& call, jsonrpc::Request message);
  // Answers a request of the child's that cannot be taken with -32600.
  void refuse(nlohmann::json id);
  void publication(Call& call, published::Notification publication);
  void sync(Call& call, open_documents::OpenDocument& open);
  void let_go(Call& call, bool orderly, std::optional<std::string_view> why);
  void fail_pending(Call& call);
  // Answers what waited under one child id as when the child cannot.
  void fail(Call& call, Pending waiting);
  void write(const nlohmann::json& message, outbox::Tag tag = {});
  [[nodiscard]] bool first_time(std::string key) { return said_once_.insert(std::move(key)).second; }
  [[nodiscard]] bool admit_message();
  // Why a request of the child is not relayed now, if it is not.
  [[nodiscard]] std::optional<std::string_view> refuse_request();

  std::optional<proxy::Proxy> proxy_;
  bool ready_ = false;
  std::unordered_map<std::int64_t, Pending> pending_;
  // The child's requests passed on to the editor: our id -> the child's id.
  std::unordered_map<std::int64_t, nlohmann::json> relayed_;
  std::unordered_set<std::string> said_once_;
  // A count that starts again every second.
  struct PerSecond {
    std::chrono::steady_clock::time_point start{};
    std::size_t used = 0;
    // Whether one more fits under `limit` in the current second (counted).
    [[nodiscard]] bool admit(std::size_t limit);
  };
  // The child's log and show messages of the current second, and those
  // dropped since the last line that said so.
  PerSecond messages_;
  std::size_t dropped_ = 0;
  std::chrono::steady_clock::time_point dropped_said_{};
  // The same for the child's requests relayed, and those refused.
  PerSecond requests_;
  std::size_t refused_ = 0;
};

// The local part and the child's answer as one answer, for a request whose
// feature does not finish it itself: arrays are joined (local elements
// first); a null child answer gives the local part; otherwise the child's
// answer wins. `local` is null when there is no local part.
[[nodiscard]] nlohmann::json merged(const nlohmann::json* local, nlohmann::json child);

// The child's `initialize` params: the editor's own (an object, or treated
// as an empty one) with our process id, without the pull-diagnostic
// capabilities (we publish the child's diagnostics ourselves), positions
// counted in UTF-16 as the source map counts them, and `fflags` (when not
// empty) in "initializationOptions".
[[nodiscard]] nlohmann::json initialize_params(const nlohmann::json& init_params, long process_id,
                                               const nlohmann::json& fflags);

// Whether a child's error says it does not have the document open.
[[nodiscard]] bool lost_the_document(const nlohmann::json& error);

// What a request about the document is asked of: the snapshot of its text
// as it is now (null when there is none of exactly this text).
[[nodiscard]] std::shared_ptr<const snapshot::Snapshot> asked_of(const open_documents::OpenDocument& open);

}  // namespace tovix_lsp::child_session
