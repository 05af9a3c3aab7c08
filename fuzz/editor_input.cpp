// Arbitrary bytes as the editor's input, through everything the server does
// with it: framing, parsing, the reader's answers to bodies it cannot take,
// the main loop with its bursts, dispatch, the open documents and the
// settings. No threads but a search for luau-lsp that finds nothing (see
// harness.h): the reader runs to the end of the input, then the loop takes
// what it queued, exactly as it would have arrived.
//
// An input whose first byte is odd is a list of bodies split at each 0x1E
// byte, each framed with its true length, so that mutations of a body keep
// its frame; otherwise the bytes are the stream as they are.
//
// Checks: nothing crashes; everything written is well-framed JSON; every
// request (and every body owed an answer) is answered exactly once; no
// position written lies outside the open document it names; every open
// document's text is valid UTF-8 and its index is that of its text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/proxy.h"
#include "core/server.h"
#include "harness.h"

namespace {

using namespace tovix_fuzz;

const server::Handlers& handlers() {
  static const server::Handlers table = sealed_handlers();
  return table;
}

// What the reader queued, taken out and counted (the requests, and the
// bodies owed an answer), then put back in the same order.
void count_requests(events::Events::Sender& sender, events::Events::Receiver& receiver, Transcript& t) {
  std::vector<events::Event> queued;
  while (auto event = receiver.receive_if([](const events::Event&) { return true; }))
    queued.push_back(std::move(*event));
  for (events::Event& event : queued) {
    if (const auto* editor = std::get_if<events::Editor>(&event)) {
      const json& v = editor->value;
      // A body with an id and a method is owed an answer unless it is a
      // response; a method that is no string is answered too (refused).
      const bool owed = v.is_object() && v.contains("id") && v.contains("method") &&
                        (v["method"].is_string() || (!v.contains("result") && !v.contains("error")));
      if (owed) ++t.allowed[v["id"].dump()];
    } else if (const auto* refused = std::get_if<events::EditorRefused>(&event); refused && refused->owed_answer) {
      ++t.allowed[refused->id.dump()];
    }
    sender.send(std::move(event));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)root();
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  const bool frame_each = (bytes.front() & 1) != 0;
  bytes.remove_prefix(1);
  // Small reads exercise the reader's buffering across every boundary.
  io::StringInput input(frame_each ? framed(bytes) : std::string(bytes), 1 + size % 61);

  Transcript t;
  // A quick fix edits the range the diagnostic the editor sends back holds,
  // as it holds it: what the editor makes up there is not ours to place.
  t.unplaced.insert("textDocument/codeAction");
  transcript() = &t;
  auto [sender, receiver] = events::Events::make();
  server::read_editor(input, sender);
  count_requests(sender, receiver, t);
  Editor output(t);
  {
    server::Server server(output, sender, handlers());
    output.watch(&server);
    (void)server::serve(server, receiver);
    documents_sound(server);
    output.watch(nullptr);
  }
  all_answered(t);
  transcript() = nullptr;
  return 0;
}
