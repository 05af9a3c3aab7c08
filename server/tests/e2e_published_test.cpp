// The child's diagnostics over the wire, with the stand-in publishing some
// thousands of them in mixed forms on a markup-heavy file: what the editor
// gets is byte for byte the publication that reading the child's list as a
// value, moving it into the source and writing it after the compiler's own
// gives, whether the child writes as luau-lsp does or otherwise, and also
// when an edit re-places the list into the new text.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/jsonrpc.h"
#include "editor_session.h"
#include "stand_in_child.h"
#include "workspace/analysis.h"
#include "workspace/published.h"
#include "workspace/remap.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::EditorSession;
using Child = testing::StandInChild;

constexpr std::size_t MANY = 3000;

// Components, spreads, holes with markup in them, reactive text, elements
// over several lines, text beyond ASCII.
const char* const TEXT =
    "--!strict\n"
    "local vide = require(game:GetService(\"ReplicatedStorage\"):WaitForChild(\"vide\")) :: any\n"
    "local create = vide.create\n"
    "local source = vide.source\n"
    "\n"
    "local count = source(0)\n"
    "local style = { BackgroundTransparency = 1 }\n"
    "\n"
    "local function Row(props: { label: string, value: number })\n"
    "\treturn <Frame {style} Name={props.label}>\n"
    "\t\t<TextLabel Text={props.label} />\n"
    "\t\t<TextLabel Text={`{props.value} 😀`} />\n"
    "\t</Frame>\n"
    "end\n"
    "\n"
    "-- ünïcödé 😀 before the markup\n"
    "return <ScrollingFrame Size={UDim2.fromScale(1, 1)}>\n"
    "\t<UIListLayout />\n"
    "\t<Row label=\"first 😀\" value={1} />\n"
    "\t<Row label=\"second\" value={count()} />\n"
    "\t<TextButton Text=\"reset\" Activated={function()\n"
    "\t\tcount(0)\n"
    "\tend} />\n"
    "\t<TextLabel Text={function() return `Clicks: {count()}` end} />\n"
    "\t<Frame>{<TextLabel Text=\"nested\" />}</Frame>\n"
    "</ScrollingFrame>\n";

// A line added near the top and a line of markup changed: what the child
// said about those no longer maps, the rest moves down a line.
std::string edited() {
  std::string text = TEXT;
  text.insert(text.find("local style"), "local extra = 1\n");
  text.replace(text.find("\"second\""), 8, "\"2nd\"");
  return text;
}

bool publication_for(const json& m, const std::string& uri) {
  return m.value("method", "") == "textDocument/publishDiagnostics" && m.at("params").at("uri") == uri;
}

// Equal texts; else where they part, with what follows there (publications
// are too long to print whole).
::testing::AssertionResult same_text(const std::string& got, const std::string& expected) {
  if (got == expected) return ::testing::AssertionSuccess();
  const auto at = static_cast<std::size_t>(
      std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin());
  return ::testing::AssertionFailure() << "the texts part at byte " << at << " of " << got.size() << " (expected "
                                       << expected.size() << "):\n  got:      " << got.substr(at, 300)
                                       << "\n  expected: " << expected.substr(at, 300);
}

// The stand-in's publication about `version`, as it wrote it.
std::string published_about(const Child& child, int version) {
  for (const json& line : child.record.lines()) {
    if (!line.contains("published")) continue;
    const std::string body = line.at("published");
    if (json::parse(body).at("params").at("version") == version) return body;
  }
  ADD_FAILURE() << "the stand-in published nothing about version " << version;
  return {};
}

// What the editor is owed for `document`: its own diagnostics, then the
// child's list in `child_body` read as a value, moved through `compiled`
// and written with them.
std::string owed(const document::Document& document, const std::vector<json>& own,
                 std::shared_ptr<const analysis::Compiled> compiled, const std::string& generated,
                 std::string child_body) {
  auto value = jsonrpc::parse_body(child_body);
  if (!value) {
    ADD_FAILURE() << "the stand-in's body is not JSON";
    return {};
  }
  remap::Remap remap({&document, std::move(compiled), generated}, remap::Direction::ToSource);
  const auto moved = remap.diagnostics(value->at("params").at("diagnostics"));
  json list(own);
  if (moved) list.insert(list.end(), moved->begin(), moved->end());
  const json message =
      jsonrpc::build::notification("textDocument/publishDiagnostics", {{"diagnostics", list}, {"uri", document.uri()}});
  return jsonrpc::serialize(message).value();
}

TEST(PublishedE2E, ThousandsOfChildDiagnosticsReachTheEditorAsWrittenFromTheirValues) {
  struct Case {
    const char* what;
    std::string modes;
    bool canonical;  // written as luau-lsp writes: read as text
  } cases[] = {
      {"written compactly in ascending member order", "many-diagnostics=" + std::to_string(MANY), true},
      {"written indented", "many-diagnostics=" + std::to_string(MANY) + ",spaced-diagnostics", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child child(c.modes);
    const std::string generated = child.generated("a.tovix");
    const project::Project project = project::Project::bare(child.project);
    const document::Document first(child.uri("a.tovix"), TEXT, 1);
    const analysis::Analysis compiled = analysis::Analysis::run(first, project, nullptr);
    ASSERT_TRUE(compiled.compiled);
    const document::Document second(child.uri("a.tovix"), edited(), 2);
    const analysis::Analysis recompiled = analysis::Analysis::run(second, project, nullptr);
    ASSERT_TRUE(recompiled.compiled);

    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", TEXT, 1);
    const std::size_t own = compiled.diagnostics.size();
    const auto shown = s.text_of(
        [&](const json& m) { return publication_for(m, uri) && m.at("params").at("diagnostics").size() > own; });
    ASSERT_TRUE(shown);
    std::string sent = published_about(child, 1);
    std::string taken = sent;
    EXPECT_EQ(published::scan_notification(taken).has_value(), c.canonical);
    const std::string expected = owed(first, compiled.diagnostics, compiled.compiled, generated, sent);
    EXPECT_TRUE(same_text(*shown, expected));
    // Neither all nor none of them map: the forms are mixed.
    const std::size_t child_part = json::parse(*shown).at("params").at("diagnostics").size() - own;
    EXPECT_GT(child_part, MANY / 2);
    EXPECT_LT(child_part, MANY);

    // The edit is published at once, the child's list of the text before
    // re-placed into the new text; then the child's list about the new one.
    const std::size_t before = s.history().size();
    s.change(uri, edited(), 2);
    const auto replaced = s.text_of([&](const json& m) { return publication_for(m, uri); }, before);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(same_text(*replaced, owed(second, recompiled.diagnostics, compiled.compiled, generated, sent)));
    EXPECT_LT(json::parse(*replaced).at("params").at("diagnostics").size() - recompiled.diagnostics.size(), child_part);

    const auto again = s.text_of([&](const json& m) { return publication_for(m, uri); }, before);
    ASSERT_TRUE(again);
    EXPECT_TRUE(same_text(
        *again, owed(second, recompiled.diagnostics, recompiled.compiled, generated, published_about(child, 2))));
  }
}

}  // namespace
}  // namespace tovix_lsp
