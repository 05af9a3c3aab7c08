// Arbitrary bytes as the editor's input, through everything the server does
// with it: framing, parsing, the reader's answers to bodies it cannot take,
// the main loop with its bursts, dispatch and the open documents. No
// threads: the reader runs to the end of the input, then the loop takes
// what it queued, exactly as it would have arrived.
//
// An input whose first byte is odd is a list of bodies split at each 0x1E
// byte, each framed with its true length, so that mutations of a body keep
// its frame; otherwise the bytes are the stream as they are.
//
// Checks: nothing crashes; everything written is well-framed JSON; every
// open document's text is valid UTF-8 and its index is that of its text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/io.h"
#include "core/jsonrpc.h"
#include "core/proxy.h"
#include "core/server.h"
#include "workspace/line_index.h"
#include "workspace/utf8_text.h"

namespace {

using namespace tovix_lsp;

void check(bool ok) {
  if (!ok) std::abort();
}

std::string framed(std::string_view bodies) {
  std::string out;
  for (;;) {
    const std::size_t end = std::min(bodies.find('\x1e'), bodies.size());
    out += "Content-Length: " + std::to_string(end) + "\r\n\r\n";
    out += bodies.substr(0, end);
    if (end == bodies.size()) return out;
    bodies.remove_prefix(end + 1);
  }
}

// The standard table, less `exit`, which ends the process.
const server::Handlers& handlers() {
  static const server::Handlers table = [] {
    server::Handlers h = server::Handlers::standard();
    h.notifications.erase("exit");
    return h;
  }();
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  const bool frame_each = (bytes.front() & 1) != 0;
  bytes.remove_prefix(1);
  // Small reads exercise the reader's buffering across every boundary.
  io::StringInput input(frame_each ? framed(bytes) : std::string(bytes), 1 + size % 61);

  auto [sender, receiver] = proxy::Events::make();
  server::read_editor(input, sender);
  io::StringOutput output;
  {
    server::Server server(output, sender, handlers());
    (void)server::serve(server, receiver);
    for (const std::string& uri : server.documents.uris()) {
      const document::Document& doc = server.documents.get(uri)->document;
      check(utf8_text::is_valid(doc.text()));
      check(doc.index() == line_index::LineIndex(doc.text()));
    }
  }

  io::StringInput written(std::move(output.data));
  jsonrpc::Reader reader(written);
  for (;;) {
    auto message = reader.read();
    check(message.has_value());
    if (!*message) break;
  }
  return 0;
}
