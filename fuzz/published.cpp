// Arbitrary bodies as the child's publications of diagnostics. A body the
// text reader takes must read, as a value, as the notification it made of
// it; each diagnostic's text must be what writing its value gives; and
// moving the diagnostics as text must give the bytes of moving their values
// and writing those, through fresh compiles (one of long CRLF lines) and
// through one older than the text. Any body that reads as a value goes the
// value reader's way too (`of_values`) and must give the same bytes.
//
// The input is the body when it starts with '{'; otherwise it follows the
// head of a publication written as luau-lsp writes it (up to the opening
// bracket of the list), so that mutations work on the diagnostics.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/jsonrpc.h"
#include "workspace/analysis.h"
#include "workspace/published.h"
#include "workspace/remap.h"

namespace {

using json = nlohmann::json;
using namespace tovix_lsp;

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view HEAD =
    R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";

// A component with a spread and reactive text (both helpers injected in
// front of the first line), a fragment, astral characters around markup.
const char* const A_TEXT =
    "local create = vide.create\n"
    "local name = \"😀 ü\"\n"
    "local function Card(props: { title: string })\n"
    "\treturn <TextLabel Text={props.title} {props}>{name} left 😀</TextLabel>\n"
    "end\n"
    "local list = <><Card title={name} /><Frame Name=\"x\"/></>\n"
    "return <Frame Name={name}>{list}</Frame>\n";
const char* const B_TEXT = "local create = vide.create\nlocal card = <Frame Name=\"card\" />\nreturn card\n";

// CRLF breaks and a line longer than the stretch positions are counted in
// at once.
std::string c_text() {
  std::string text = "local create = vide.create\r\nlocal values = { 1, 2 }\r\nlocal row = <Frame>";
  for (int i = 0; i < 24; ++i) text += "<TextLabel Text=\"😀ü " + std::to_string(i) + "\" Name={values[1]} />";
  return text + "</Frame>; local after = \"😀\" .. values[2]\r\nreturn row, after\r\n";
}

struct Doc {
  Doc(std::string uri, std::string text, std::string generated)
      : document(std::move(uri), std::move(text), 1),
        compiled(analysis::Analysis::run(document, project::Project::bare("/p"), nullptr).compiled),
        generated_uri(std::move(generated)) {
    check(compiled != nullptr);
  }
  [[nodiscard]] remap::Pair pair() const { return {&document, compiled, generated_uri}; }

  document::Document document;
  std::shared_ptr<const analysis::Compiled> compiled;
  std::string generated_uri;
};

struct Fixture {
  Doc a{"file:///p/a.tovix", A_TEXT, "file:///p/a.luau"};
  Doc b{"file:///p/b.tovix", B_TEXT, "file:///p/b.luau"};
  // `a` edited (a line added, the spread's line changed), its compile still
  // the one before.
  Doc edited{"file:///p/a.tovix", A_TEXT, "file:///p/a.luau"};
  Doc c{"file:///p/c.tovix", c_text(), "file:///p/c.luau"};

  Fixture() {
    std::string text = A_TEXT;
    text.insert(text.find("local function"), "local added = 2\n");
    text.replace(text.find("left"), 4, "right");
    check(edited.document.change(2, std::vector<json>{{{"text", text}}}));
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

remap::Lookup others() {
  return [](std::string_view uri) -> std::optional<remap::Pair> {
    if (remap::names(fixture().b.pair(), uri)) return fixture().b.pair();
    return std::nullopt;
  };
}

// The list moved as values and each diagnostic kept written compactly.
std::string reference(const json& list, const Doc& doc) {
  remap::Remap remap(doc.pair(), remap::Direction::ToSource, others());
  const auto moved = remap.diagnostics(list);
  check(moved.has_value());
  std::string out;
  for (const json& each : *moved) {
    if (!out.empty()) out.push_back(',');
    auto text = jsonrpc::serialize(each);
    check(text.has_value());
    out += *text;
  }
  return out;
}

void moves_alike(const published::Publication& publication, const json& list) {
  for (const Doc* doc : {&fixture().a, &fixture().edited, &fixture().c}) {
    remap::Remap remap(doc->pair(), remap::Direction::ToSource, others());
    std::string out;
    const std::size_t count = remap.diagnostics_text(publication, out);
    const std::string expected = reference(list, *doc);
    check(out == expected);
    check((count == 0) == expected.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string body = input.starts_with('{') ? std::string(input) : std::string(HEAD) + std::string(input);

  std::string taken = body;
  const auto scanned = published::scan_notification(taken);
  if (scanned) {
    const json value = json::parse(body, nullptr, false);
    check(!value.is_discarded());
    check(published::value_of(*scanned) == value);
    const json& list = value["params"]["diagnostics"];
    const published::Publication& publication = scanned->diagnostics;
    check(publication.items.size() == list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const published::Item& item = publication.items[i];
      const std::string_view text = publication.item_text(item);
      check(text == list[i].dump());
      if (!item.plain) continue;
      const json& range = list[i]["range"];
      check(text.substr(item.range_offset, item.range_length) == range.dump());
      check(range["start"]["line"] == item.range.start.line &&
            range["start"]["character"] == item.range.start.character && range["end"]["line"] == item.range.end.line &&
            range["end"]["character"] == item.range.end.character);
    }
    moves_alike(publication, list);
  } else {
    check(taken == body);
  }

  // Read as the value reader reads it, as a body the text reader refused is.
  std::string mended = body;
  const auto value = jsonrpc::parse_body(mended);
  if (!value || !value->is_object()) return 0;
  const auto params = value->find("params");
  if (params == value->end() || !params->is_object()) return 0;
  const auto list = params->find("diagnostics");
  if (list == params->end() || !list->is_array()) return 0;
  const published::Publication publication = published::of_values(*list);
  check(publication.items.size() == list->size());
  moves_alike(publication, *list);
  return 0;
}
