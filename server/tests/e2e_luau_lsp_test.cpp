// The child bridge over the wire with the real luau-lsp: its diagnostics,
// hovers, definitions, references and renames land on the .tovix source,
// never on generated code; the component props it infers complete markup.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "editor_session.h"
#include "marked_text.h"
#include "props_fixture.h"
#include "workspace/analysis.h"
#include "workspace/project.h"

namespace tovix_lsp {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::EditorSession;
using testing::position_of;
using testing::range_of;
using testing::SessionOptions;
using testing::TempTree;
using testing_support::MarkedText;

const fs::path LUAU_LSP = TOVIX_LUAU_LSP;
const fs::path ROBLOX = TOVIX_ROBLOX_DATA;

#define SKIP_WITHOUT_LUAU_LSP() \
  if (!fs::exists(LUAU_LSP)) GTEST_SKIP() << "the real luau-lsp is not at " << LUAU_LSP
#define SKIP_WITHOUT_ROBLOX_TYPES() \
  if (!fs::exists(ROBLOX / "globalTypes.PluginSecurity.d.luau")) GTEST_SKIP() << "no Roblox type files at " << ROBLOX

// A home of its own for the server (so nothing of the user's is found),
// holding the Roblox type files in the luau-lsp extension's storage when
// asked to.
struct Home {
  explicit Home(bool roblox_types = false) {
    if (!roblox_types) return;
    const fs::path storage = tree.dir("home/.config/Code/User/globalStorage/johnnymorganz.luau-lsp");
    for (const char* file : {"globalTypes.None.d.luau", "globalTypes.PluginSecurity.d.luau", "api-docs.json"})
      fs::create_symlink(ROBLOX / file, storage / file);
  }
  SessionOptions options() const {
    SessionOptions options;
    options.env = {{"HOME", tree.dir("home").string()}};
    options.tovix = {{"luauLsp", {{"path", LUAU_LSP.string()}}}};
    return options;
  }
  TempTree tree;
};

// A session with luau-lsp running and `fixture` open (markers taken out),
// ready once luau-lsp has checked it and published what it found.
struct Opened {
  explicit Opened(const std::string& fixture, bool roblox_types = false)
      : home(roblox_types), s(home.options()), text(fixture), uri(s.open("a.tovix", text.text)) {
    EXPECT_TRUE(s.log_line("handed " + s.generated_uri("a.tovix") + " to luau-lsp (" +
                           std::to_string(generated_size()) + " bytes)"));
    EXPECT_TRUE(s.wait_for([](const json& m) {
      return m.value("method", "") == "window/logMessage" &&
             m.at("params").at("message").get<std::string>().starts_with(
                 "tovix: luau-lsp answered about this file with");
    }));
  }

  std::size_t generated_size() const {
    const document::Document document(uri, text.text, 1);
    const auto compiled = analysis::Analysis::run(document, project::Project::bare(s.dir()), nullptr).compiled;
    return compiled ? compiled->code.size() : 0;
  }

  // The params of a request at the cursor, with `extra` members.
  json at_cursor(json extra = json::object()) const {
    json params = EditorSession::at(uri, position_of(text.text, *text.cursor));
    for (auto& [key, value] : extra.items()) params[key] = value;
    return params;
  }

  Home home;
  EditorSession s;
  MarkedText text;
  std::string uri;
};

// Where `inner` is inside the one occurrence of `needle` in `text`.
std::size_t where(std::string_view text, std::string_view needle, std::string_view inner) {
  const std::size_t at = text.find(needle);
  EXPECT_NE(at, std::string_view::npos) << needle;
  EXPECT_EQ(text.find(needle, at + 1), std::string_view::npos) << needle << " is not unique";
  const std::size_t offset = needle.find(inner);
  EXPECT_NE(offset, std::string_view::npos) << inner;
  return at + offset;
}
json range_at(std::string_view text, std::string_view needle, std::string_view inner) {
  const std::size_t at = where(text, needle, inner);
  return range_of(text, at, at + inner.size());
}
// Params of a request in the middle of `inner` inside `needle` of `text`,
// open as `uri`, with `extra` members.
json inside(const std::string& uri, std::string_view text, std::string_view needle, std::string_view inner,
            json extra = json::object()) {
  json params = EditorSession::at(uri, position_of(text, where(text, needle, inner) + inner.size() / 2));
  for (auto& [key, value] : extra.items()) params[key] = value;
  return params;
}
json inside(const Opened& o, std::string_view needle, std::string_view inner, json extra = json::object()) {
  return inside(o.uri, o.text.text, needle, inner, std::move(extra));
}
json location(const std::string& uri, const json& range) { return {{"range", range}, {"uri", uri}}; }

// Luau with markup: a component with typed props, a function called from
// holes, a local used in holes.
const char* const FIXTURE =
    "--!strict\n"
    "local create: any = nil\n"
    "type Props = { title: string, count: number }\n"
    "local function label(text: string, size: number?)\n"
    "  return <TextLabel Text={text} />\n"
    "end\n"
    "local function Card(props: Props)\n"
    "  return <Frame>{label(props.title)}</Frame>\n"
    "end\n"
    "local count: number = 1\n"
    "local card: Props = { title = \"a\", count = count }\n"
    "return <Frame>{label(\"n\", count)}<Card title={card.title} count={count} /></Frame>\n";

TEST(LuauLspE2E, DiagnosticsLandOnTheSourceNextToTheCompilersAndGoWhenFixed) {
  SKIP_WITHOUT_LUAU_LSP();
  const std::string broken =
      "--!strict\n"
      "local create: any = nil\n"
      "local count: number = \"one\"\n"
      "local function label(text: string)\n"
      "  return <TextLabel Text={text} />\n"
      "end\n"
      "return <Frame>{label(42)}{count}<Fram /></Frame>\n";
  Home home;
  EditorSession s(home.options());
  const std::string uri = s.open("a.tovix", broken);
  auto luau_errors = [](const json& list) {
    return std::count_if(list.begin(), list.end(), [](const json& d) { return d.value("source", "") == "Luau"; });
  };
  auto published = s.diagnostics(uri, [&](const json& list) { return luau_errors(list) == 2; });
  ASSERT_TRUE(published);
  ASSERT_EQ(published->size(), 3u) << published->dump();
  EXPECT_EQ(published->at(0).at("message"), "<Fram> is not a Roblox class and is not defined");
  EXPECT_EQ(published->at(1).at("message"), "TypeError: Expected this to be 'number', but got 'string'");
  EXPECT_EQ(published->at(1).at("range"),
            range_at(broken, "local count: number = \"one\"", "local count: number = \"one\""));
  EXPECT_EQ(published->at(2).at("message"), "TypeError: Expected this to be 'string', but got 'number'");
  EXPECT_EQ(published->at(2).at("range"), range_at(broken, "label(42)", "42"));

  std::string fixed = broken;
  fixed.replace(fixed.find("\"one\""), 5, "1");
  fixed.replace(fixed.find("(42)"), 4, "(\"42\")");
  s.change(uri, fixed, 2);
  ASSERT_TRUE(s.diagnostics(uri, [&](const json& list) { return luau_errors(list) == 0; }));
  // Once luau-lsp has answered a request sent after the change, it has
  // published about the fixed text too.
  (void)s.request("textDocument/hover", EditorSession::at(uri, position_of(fixed, fixed.find("count"))));
  json last;
  for (const json& m : s.history())
    if (m.value("method", "") == "textDocument/publishDiagnostics") last = m.at("params").at("diagnostics");
  ASSERT_EQ(last.size(), 1u) << last.dump();
  EXPECT_EQ(last.at(0).at("message"), "<Fram> is not a Roblox class and is not defined");
}

TEST(LuauLspE2E, LuauAnswersLandOnTheSource) {
  SKIP_WITHOUT_LUAU_LSP();
  Opened o(FIXTURE);
  const std::string& t = o.text.text;
  // luau-lsp's hover of a local used in a hole (it gives no range).
  EXPECT_EQ(o.s.result("textDocument/hover", inside(o, "label(\"n\", count)", "count")),
            (json{{"contents", {{"kind", "markdown"}, {"value", "```luau\nlocal count: number\n```"}}}}));
  // Go to definition from a hole lands on the declaration.
  EXPECT_EQ(o.s.result("textDocument/definition", inside(o, "{label(\"n\"", "label")),
            json::array({location(o.uri, range_at(t, "local function label", "label"))}));
  // References of that function include its uses inside holes.
  EXPECT_EQ(o.s.result("textDocument/references",
                       inside(o, "local function label", "label", {{"context", {{"includeDeclaration", true}}}})),
            (json{location(o.uri, range_at(t, "local function label", "label")),
                  location(o.uri, range_at(t, "{label(props.title)}", "label")),
                  location(o.uri, range_at(t, "{label(\"n\"", "label"))}));
  EXPECT_EQ(o.s.result("textDocument/typeDefinition", inside(o, "title={card.title}", "card")),
            location(o.uri, range_at(t, "{ title: string, count: number }", "{ title: string, count: number }")));
  const json help = o.s.result("textDocument/signatureHelp", inside(o, "label(\"n\", count)", "count"));
  EXPECT_EQ(help.at("signatures").at(0).at("label"), "function label(text: string, size: number?): ...any");
  EXPECT_EQ(help.at("activeParameter"), 1);
  // luau-lsp 1.69 has no document highlights: it refuses them (-32601),
  // which answers null.
  EXPECT_EQ(o.s.result("textDocument/documentHighlight", inside(o, "local count", "count")), json());
}

TEST(LuauLspE2E, AHoverFromAStaleCompileSaysSo) {
  SKIP_WITHOUT_LUAU_LSP();
  Opened o(FIXTURE);
  // A closing tag that does not match: the text no longer compiles, and the
  // last compile stays in use while the line count is the same.
  std::string broken = o.text.text;
  broken.replace(broken.rfind("</Frame>"), 8, "</Fram>");
  o.s.change(o.uri, broken, 2);
  ASSERT_TRUE(o.s.diagnostics(o.uri, [](const json& list) {
    return !list.empty() && list.at(0).at("message") == "closing </Fram> does not match opening <Frame>";
  }));
  EXPECT_EQ(
      o.s.result("textDocument/hover", inside(o, "local count", "count")),
      (json{{"contents",
             {{"kind", "markdown"},
              {"value", "```luau\nlocal count: number\n```\n\n---\n\n*From the last version that compiled.*"}}}}));
}

TEST(LuauLspE2E, TheTypeErrorsOfAComponentsPropsLandOnItsTags) {
  SKIP_WITHOUT_LUAU_LSP();
  SKIP_WITHOUT_ROBLOX_TYPES();
  const std::string text = testing_support::PROPS_TABLES;
  Home home(true);  // the Roblox types, as a user has them
  EditorSession s(home.options());
  const std::string uri = s.open("a.tovix", text);
  const auto published = s.diagnostics(uri, [](const json& list) { return !list.empty(); });
  ASSERT_TRUE(published);
  json shown = json::array();
  for (const json& d : *published) shown.push_back({d.at("message"), d.at("range")});
  const auto mismatch = [](const char* got) {
    return std::string("TypeError: Expected this to be exactly\n\t'{ Title: string }'\nbut got\n\t'{| Title: ") + got +
           " |}'\ncaused by:\n  Property 'Title' is not compatible.\nExpected this to be exactly 'string', but got '" +
           got + "'";
  };
  EXPECT_EQ(shown, json::array({
                       json::array({mismatch("number"), range_at(text, "<Card Title={5}/>", "Title={5")}),
                       json::array({"TypeError: Table type '{|  |}' not compatible with type '{ Title: string }' "
                                    "because the former is missing field 'Title'",
                                    range_at(text, "local b = <Card/>", "Card")}),
                       json::array({mismatch("boolean"), range_at(text, "Title={true}", "Title={true")}),
                       json::array({"TypeError: Table type '{|  |}' not compatible with type '{ Title: string }' "
                                    "because the former is missing field 'Title'",
                                    range_at(text, "<Card/></Frame>", "Card")}),
                   }))
      << shown.dump();
  EXPECT_EQ(s.logged("luau-lsp reported 4 diagnostic(s) for this file; none of them mapped back into the source"), 0u);
}

TEST(LuauLspE2E, UnfinishedMarkupOnANewLineLeavesTheRestOfTheFileAnswered) {
  SKIP_WITHOUT_LUAU_LSP();
  SKIP_WITHOUT_ROBLOX_TYPES();
  const std::string text =
      "--!strict\n"
      "local create: any = nil\n"
      "local function label(text: string, size: number?)\n"
      "  return <TextLabel Text={text} />\n"
      "end\n"
      "local count: number = 1\n"
      "local wrong: string = count\n"
      "return <Frame>{label(\"n\", count)}</Frame>\n";
  Home home(true);  // the Roblox types, as a user has them
  EditorSession s(home.options());
  const std::string uri = s.open("a.tovix", text);
  auto luau = [](const json& list) {
    json out = json::array();
    for (const json& d : list)
      if (d.value("source", "") == "Luau") out.push_back({d.at("message"), d.at("range")});
    return out;
  };
  const auto checked = s.diagnostics(uri, [&](const json& list) { return !luau(list).empty(); });
  ASSERT_TRUE(checked);
  const json found = luau(*checked);
  ASSERT_EQ(found.size(), 2u) << found.dump();  // the type error and the unused local, both on `wrong`'s line

  // A new line above, its markup unfinished: the text does not compile.
  std::string typing = text;
  typing.insert(typing.find("local function label"), "local probe = <Tex\n");
  s.change(uri, typing, 2);
  const auto published =
      s.diagnostics(uri, [](const json& list) { return !list.empty() && list[0].value("source", "") == "tovix"; });
  ASSERT_TRUE(published);
  // luau-lsp's diagnostics follow their line down.
  json moved = found;
  for (json& d : moved)
    for (const char* end : {"start", "end"}) d[1][end]["line"] = d.at(1).at(end).at("line").get<int>() + 1;
  EXPECT_EQ(luau(*published), moved);
  EXPECT_EQ(
      s.result("textDocument/hover", inside(uri, typing, "label(\"n\", count)", "count")),
      (json{{"contents",
             {{"kind", "markdown"},
              {"value", "```luau\nlocal count: number\n```\n\n---\n\n*From the last version that compiled.*"}}}}));
  EXPECT_EQ(s.result("textDocument/definition", inside(uri, typing, "{label(", "label")),
            json::array({location(uri, range_at(typing, "local function label", "label"))}));
}

TEST(LuauLspE2E, RobloxTypesFromTheConfiguredDefinitions) {
  SKIP_WITHOUT_LUAU_LSP();
  SKIP_WITHOUT_ROBLOX_TYPES();
  Opened o(
      "local create: any = nil\n"
      "local frame = Instance.new(\"Frame\")\n"
      "return <Frame>{frame}</Frame>\n",
      true);
  const json hover = o.s.result("textDocument/hover", inside(o, "local frame", "frame"));
  EXPECT_TRUE(hover.at("contents").at("value").get<std::string>().starts_with("```luau\nlocal frame: Frame\n```\n"))
      << hover.dump();
}

// Outside VS Code the Roblox types come from the settings: with no
// extension storage in the home, markup hovers and luau-lsp both get them.
// Each case runs in a fresh tovix-lsp: the facts are installed once a process.
TEST(LuauLspE2E, RobloxTypesAndDocumentationNamedInTheSettings) {
  SKIP_WITHOUT_LUAU_LSP();
  const fs::path definitions = ROBLOX / "globalTypes.None.d.luau";
  const fs::path documentation = ROBLOX / "api-docs.json";
  if (!fs::exists(definitions) || !fs::exists(documentation)) GTEST_SKIP() << "no Roblox type files at " << ROBLOX;
  struct Case {
    const char* what;
    json definition_files;
  } cases[] = {
      {"a list of paths", json::array({definitions.string()})},
      {"luau-lsp's object of package names", json{{"@roblox", definitions.string()}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Home home;  // no extension storage
    SessionOptions options = home.options();
    options.luau_lsp = {
        {"types",
         {{"definitionFiles", c.definition_files}, {"documentationFiles", json::array({documentation.string()})}}}};
    EditorSession s(options);
    const std::string text =
        "local create: any = nil\n"
        "local label = Instance.new(\"TextLabel\")\n"
        "return <TextLabel TextSize={label.TextSize} />\n";
    const std::string uri = s.open("a.tovix", text);
    // Once luau-lsp has the file, it answers about it.
    ASSERT_TRUE(s.wait_for([](const json& m) {
      return m.value("method", "") == "window/logMessage" &&
             m.at("params").at("message").get<std::string>().starts_with("tovix: handed ");
    }));
    // The facts are read off the main thread: their hover comes once they are in.
    const json rich = {{"contents",
                        {{"kind", "markdown"},
                         {"value",
                          "```luau\nTextSize: number\n```\n\nProperty of `TextLabel`.\n\n---\n\n"
                          "Determine the line height of text in pixels.\n\n"
                          "[Learn more](https://create.roblox.com/docs/reference/engine/classes/TextLabel#TextSize)"}}},
                       {"range", range_at(text, "TextSize={", "TextSize")}};
    EXPECT_EQ(s.result_when("textDocument/hover", inside(uri, text, "TextSize={", "TextSize"),
                            [&](const json& hover) { return hover == rich; }),
              rich);
    // luau-lsp was given them too.
    const json hover = s.result("textDocument/hover", inside(uri, text, "local label", "label"));
    EXPECT_TRUE(hover.at("contents").at("value").get<std::string>().starts_with("```luau\nlocal label: TextLabel\n```"))
        << hover.dump();
  }
}

TEST(LuauLspE2E, ComponentsInMarkup) {
  SKIP_WITHOUT_LUAU_LSP();
  Opened o(FIXTURE);
  const std::string& t = o.text.text;
  // Definition: the component's local function in the source.
  EXPECT_EQ(o.s.result("textDocument/definition", inside(o, "<Card title", "Card")),
            location(o.uri, range_at(t, "local function Card", "Card")));
  // Hover: luau-lsp's type, then the local text.
  EXPECT_EQ(
      o.s.result("textDocument/hover", inside(o, "<Card title", "Card")),
      (json{{"contents",
             {{"kind", "markdown"},
              {"value", "```luau\nfunction Card(props: Props): ...any\n```\n\n---\n\nComponent, bound on line 7."}}},
            {"range", range_at(t, "<Card title", "Card")}}));
}

TEST(LuauLspE2E, PropsOfAComponentFromItsTypedParameter) {
  SKIP_WITHOUT_LUAU_LSP();
  Opened o(
      "local create: any = nil\n"
      "local function Card(props: { title: string, count: number, onClick: () -> () })\n"
      "  return <TextLabel Text={props.title} />\n"
      "end\n"
      "return <Card ^ />\n");
  const json at = range_of(o.text.text, *o.text.cursor, *o.text.cursor);
  auto prop = [&](const char* name, const char* detail) {
    return json{{"detail", detail},
                {"kind", 10},
                {"label", name},
                {"sortText", std::string("0") + name},
                {"textEdit", {{"newText", name}, {"range", at}}}};
  };
  const json handler = {{"detail", "() -> ()"},
                        {"insertTextFormat", 2},
                        {"kind", 23},
                        {"label", "onClick"},
                        {"sortText", "0onClick"},
                        {"textEdit", {{"newText", "onClick={function() $1 end}"}, {"range", at}}}};
  json items = o.s.result("textDocument/completion", o.at_cursor()).at("items");
  std::sort(items.begin(), items.end(), [](const json& a, const json& b) { return a.at("label") < b.at("label"); });
  EXPECT_EQ(items, (json{prop("count", "number"), handler, prop("title", "string")}));
}

TEST(LuauLspE2E, RenameInLuauCode) {
  SKIP_WITHOUT_LUAU_LSP();
  Opened o(FIXTURE);
  const std::string& t = o.text.text;
  EXPECT_EQ(o.s.result("textDocument/prepareRename", inside(o, "local count", "count")),
            range_at(t, "local count", "count"));
  const json edit = o.s.result("textDocument/rename", inside(o, "local count", "count", {{"newName", "total"}}));
  ASSERT_TRUE(edit.contains("changes")) << edit.dump();
  ASSERT_EQ(edit.at("changes").size(), 1u) << edit.dump();
  ASSERT_TRUE(edit.at("changes").contains(o.uri)) << edit.dump();
  // Applied, the edits rename every use and touch nothing else.
  const std::string renamed = testing::applied(t, edit.at("changes").at(o.uri));
  std::string expected = t;
  for (auto [before, after] :
       {std::pair{"local count:", "local total:"}, std::pair{"count = count }", "count = total }"},
        std::pair{"\"n\", count)", "\"n\", total)"}, std::pair{"count={count}", "count={total}"}})
    expected.replace(where(t, before, before), std::strlen(before), after);
  EXPECT_EQ(renamed, expected);

  // `create` is called only by generated code: its rename cannot be applied.
  EXPECT_EQ(o.s.request("textDocument/rename", inside(o, "local create", "create", {{"newName", "make"}})).at("error"),
            (json{{"code", -32803},
                  {"message", "some of this rename lands in generated code, so it cannot be applied here"}}));
}

// Renaming a component renames the function, every call and every tag
// pair together, from wherever it starts; the text then still compiles.
TEST(LuauLspE2E, RenameOfAComponent) {
  SKIP_WITHOUT_LUAU_LSP();
  const std::string text =
      "local create: any = nil\n"
      "local UI = {}\n"
      "function UI.Badge(props: { Label: string })\n"
      "  return <TextLabel Text={props.Label} />\n"
      "end\n"
      "local function Card(props: { Title: string })\n"
      "  return <TextLabel Text={props.Title} />\n"
      "end\n"
      "return <Frame>\n"
      "  <Card Title=\"x\"></Card>\n"
      "  <Card Title=\"y\"/>\n"
      "  <UI.Badge Label=\"z\"></UI.Badge>\n"
      "</Frame>\n";
  Opened o(text);
  auto renamed = [&](std::string_view name, std::string_view with) {
    std::string out = text;
    for (std::size_t at = 0; (at = out.find(name, at)) != std::string::npos; at += with.size())
      out.replace(at, name.size(), with);
    return out;
  };
  struct Case {
    const char* needle;  // the name renamed is in the middle of its `inner`
    const char* inner;
    const char* from;
    const char* to;
  };
  const Case cases[] = {
      {"local function Card", "Card", "Card", "Panel"},
      {"<Card Title=\"x\">", "Card", "Card", "Panel"},
      {"</Card>", "Card", "Card", "Panel"},
      {"</UI.Badge>", "Badge", "Badge", "Chip"},
      {"</UI.Badge>", "UI", "UI", "Lib"},
      // A Roblox class tag is renamed alone, here.
      {"return <Frame>", "Frame", "Frame", "ScrollingFrame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.needle) + " " + c.inner);
    const json edit = o.s.result("textDocument/rename", inside(o, c.needle, c.inner, {{"newName", c.to}}));
    ASSERT_TRUE(edit.contains("changes")) << edit.dump();
    const std::string result = testing::applied(text, edit.at("changes").at(o.uri));
    EXPECT_EQ(result, renamed(c.from, c.to)) << edit.dump();
    const document::Document document(o.uri, result, 2);
    const auto analysed = analysis::Analysis::run(document, project::Project::bare(o.s.dir()), nullptr);
    EXPECT_TRUE(analysed.compiled);
    EXPECT_EQ(json(analysed.diagnostics), json::array());
  }
  // luau-lsp has no prepareRename: the name under the cursor, the closing
  // one included, starts the rename.
  EXPECT_EQ(o.s.result("textDocument/prepareRename", inside(o, "</Card>", "Card")), range_at(text, "</Card>", "Card"));
  EXPECT_EQ(o.s.result("textDocument/prepareRename", inside(o, "</UI.Badge>", "Badge")),
            range_at(text, "</UI.Badge>", "Badge"));
}

// Compiles `text` as the project file `source` (under `root`) and writes its
// generated Luau where the project's build settings put it, as a build
// would: luau-lsp reads a required module from disk. The path written;
// none when the text does not compile.
std::optional<fs::path> build_onto_disk(const fs::path& root, const fs::path& source, const std::string& text) {
  const project::Project project = project::Project::discover(root / source);
  const document::Document document(project::path_to_uri(root / source), text, 1);
  const auto compiled = analysis::Analysis::run(document, project, nullptr).compiled;
  if (!compiled) return std::nullopt;
  const fs::path built = project.build_path(root / source);
  fs::create_directories(built.parent_path());
  std::ofstream(built, std::ios::binary) << compiled->code;
  return built;
}

// A component defined in one file and used from another: luau-lsp reads the
// module it requires from disk, as the build writes it. References from a
// closing tag list the binding and every opening and closing tag.
TEST(LuauLspE2E, ReferencesOfAComponentFromAnotherFile) {
  SKIP_WITHOUT_LUAU_LSP();
  Home home;
  const fs::path root = home.tree.dir("project");
  home.tree.file("project/tovix.toml", "[build]\nin = \"src\"\nout = \"out\"\n");
  const std::string card =
      "local create: any = nil\n"
      "local function Card(props: { Title: string })\n"
      "  return <TextLabel Text={props.Title} />\n"
      "end\n"
      "return Card\n";
  const std::string app =
      "local create: any = nil\n"
      "local Card = require(\"./card\")\n"
      "return <Frame>\n"
      "  <Card Title=\"x\"></Card>\n"
      "  <Card Title=\"y\"/>\n"
      "  <Card Title=\"z\">\n"
      "  </Card>\n"
      "</Frame>\n";
  home.tree.file("project/src/card.tovix", card);
  home.tree.file("project/src/app.tovix", app);
  // The used module's generated Luau, where the project's build puts it.
  EXPECT_EQ(build_onto_disk(root, "src/card.tovix", card), root / "out" / "card.luau");

  SessionOptions options = home.options();
  options.folder = root;
  EditorSession s(options);
  const std::string uri = s.open("src/app.tovix", app);
  ASSERT_TRUE(
      s.log_line("handed " + project::path_to_uri(root / "out" / "app.luau") + " to luau-lsp (" +
                 std::to_string(analysis::Analysis::run(document::Document(uri, app, 1),
                                                        project::Project::discover(root / "src" / "app.tovix"), nullptr)
                                    .compiled->code.size()) +
                 " bytes)"));
  // The require is resolved: the props' type reaches the tags.
  const json hover = s.result_when("textDocument/hover", inside(uri, app, "<Card Title=\"y\"", "Card"),
                                   [](const json& h) { return h.dump().find("Title: string") != std::string::npos; });
  ASSERT_NE(hover.dump().find("Title: string"), std::string::npos) << hover.dump();

  auto card_at = [&](std::size_t nth) {
    std::size_t at = app.find("Card");
    for (std::size_t i = 0; i < nth; ++i) at = app.find("Card", at + 1);
    return location(uri, range_of(app, at, at + 4));
  };
  const json every = {card_at(0), card_at(1), card_at(2), card_at(3), card_at(4), card_at(5)};
  for (const char* from : {"</Card>\n  <Card", "<Card Title=\"y\"", "  </Card>\n</Frame>"}) {
    SCOPED_TRACE(from);
    const json found = s.result("textDocument/references",
                                inside(uri, app, from, "Card", {{"context", {{"includeDeclaration", true}}}}));
    EXPECT_EQ(found, every) << found.dump();
  }
  // Renamed from its binding to a name markup takes for a Roblox class, the
  // tags would create Frames: refused once luau-lsp's edits reach them.
  EXPECT_EQ(
      s.request("textDocument/rename", inside(uri, app, "local Card", "Card", {{"newName", "Frame"}})).at("error"),
      (json{{"code", -32803}, {"message", "`Frame` is a Roblox class in markup"}}));
  const json edit = s.result("textDocument/rename", inside(uri, app, "local Card", "Card", {{"newName", "Panel"}}));
  ASSERT_TRUE(edit.contains("changes")) << edit.dump();
  std::string renamed = app;
  for (std::size_t at; (at = renamed.find("Card")) != std::string::npos;) renamed.replace(at, 4, "Panel");
  EXPECT_EQ(testing::applied(app, edit.at("changes")[uri]), renamed) << edit.dump();
}

// A component defined in one module and used from another as a dotted tag:
// each segment speaks of itself. luau-lsp reads the required module from
// disk, where the project's build settings put its generated Luau.
TEST(LuauLspE2E, DottedTagsOfAComponentFromAnotherModule) {
  SKIP_WITHOUT_LUAU_LSP();
  SKIP_WITHOUT_ROBLOX_TYPES();
  Home home(true);
  const fs::path root = home.tree.dir("project");
  home.tree.file("project/tovix.toml", "[build]\nin = \"src\"\nout = \"out\"\n");
  const std::string widgets =
      "local create: any = nil\n"
      "local Widgets = {}\n"
      "function Widgets.Button(props: { text: string })\n"
      "  return <TextButton Text={props.text} />\n"
      "end\n"
      "return Widgets\n";
  const std::string app =
      "local create: any = nil\n"
      "local Widgets = require(\"./Widgets\")\n"
      "return <Frame><Widgets.Button text=\"x\"></Widgets.Button></Frame>\n";
  const fs::path generated = root / "out/Widgets.luau";
  ASSERT_EQ(build_onto_disk(root, "src/Widgets.tovix", widgets), generated);
  // Where `Button` is declared, in the module's source and (line for line
  // and byte for byte there) in its generated Luau.
  const json declared = range_at(widgets, "function Widgets.Button", "Button");
  const json member = {{"contents",
                        {{"kind", "markdown"},
                         {"value",
                          "```luau\nfunction Widgets.Button(props: { text: string }): ...any\n```\n\n---\n\n"
                          "Component, bound on line 2."}}},
                       {"range", range_at(app, "<Widgets.Button text", "Widgets.Button")}};

  struct Case {
    const char* what;
    bool module_open;  // the editor has the module open too
    // Where a definition of `Button` lands.
    std::string uri;
  };
  const Case cases[] = {
      // The server knows the module's source: the answer is moved there.
      {"both open", true, project::path_to_uri(root / "src/Widgets.tovix")},
      // It does not: luau-lsp's answer stays on the generated file, which
      // is the source line for line (no compile of it to move it through).
      {"the module not open", false, project::path_to_uri(generated)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionOptions options = home.options();
    options.folder = root;
    EditorSession s(options);
    if (c.module_open) s.open("src/Widgets.tovix", widgets);
    const std::string uri = s.open("src/App.tovix", app);
    // Once luau-lsp has checked each open file, it answers about them.
    for (int open = c.module_open ? 2 : 1; open > 0; --open) {
      ASSERT_TRUE(s.wait_for([](const json& m) {
        return m.value("method", "") == "window/logMessage" &&
               m.at("params").at("message").get<std::string>().starts_with(
                   "tovix: luau-lsp answered about this file with");
      }));
    }
    const json on_button = inside(uri, app, "<Widgets.Button text", "Button");
    // The member, not the whole table.
    EXPECT_EQ(s.result("textDocument/hover", on_button), member);
    EXPECT_EQ(s.result("textDocument/hover", inside(uri, app, "</Widgets.Button>", "Button")).at("contents"),
              member.at("contents"));
    // The member's declaration in the other module, not `local Widgets`.
    EXPECT_EQ(s.result("textDocument/definition", on_button), json::array({location(c.uri, declared)}));
    // The first segment is the local, from either name.
    const json local_widgets = location(uri, range_at(app, "local Widgets", "Widgets"));
    EXPECT_EQ(s.result("textDocument/definition", inside(uri, app, "<Widgets.Button text", "Widgets")),
              json::array({local_widgets}));
    EXPECT_EQ(s.result("textDocument/definition", inside(uri, app, "</Widgets.Button>", "Widgets")),
              json::array({local_widgets}));
    // References of the member: its declaration, the opening name's segment
    // and, joined to it, the closing name's.
    json references = s.result("textDocument/references", inside(uri, app, "<Widgets.Button text", "Button",
                                                                 {{"context", {{"includeDeclaration", true}}}}));
    EXPECT_EQ(references,
              (json{location(uri, range_at(app, "<Widgets.Button text", "Button")),
                    location(uri, range_at(app, "</Widgets.Button>", "Button")), location(c.uri, declared)}));
    // After `<Widgets.` the module's members, written as names: no class.
    const json completion = s.result(
        "textDocument/completion", EditorSession::at(uri, position_of(app, where(app, "<Widgets.Button t", "Button"))));
    json labels = json::array();
    for (const json& item : completion.at("items")) labels.push_back({item.at("label"), item.value("insertText", "")});
    EXPECT_EQ(labels, json::array({json::array({"Button", "Button"})})) << completion.dump();
  }
}

TEST(LuauLspE2E, AstralCharactersAndCrlfLines) {
  SKIP_WITHOUT_LUAU_LSP();
  Home home;
  SessionOptions options = home.options();
  options.luau_lsp = {{"inlayHints", {{"parameterNames", "all"}, {"variableTypes", true}}}};
  EditorSession s(options);
  const std::string text =
      "local create: any = nil\r\n"
      "local function label(text: string, size: number?)\r\n"
      "  return <TextLabel Text={text} />\r\n"
      "end\r\n"
      "local emoji = \"😀\"\r\n"
      "local unused = 3\r\n"
      "return <Frame Name=\"😀😀\">{label(\"😀\", #emoji)}</Frame>\r\n";
  const std::string uri = s.open("a.tovix", text);
  ASSERT_TRUE(s.diagnostics(uri, [](const json& list) { return !list.empty(); }));  // luau-lsp has checked it
  auto in_the_middle = [&](std::string_view needle, std::string_view inner, json extra = json::object()) {
    return inside(uri, text, needle, inner, std::move(extra));
  };
  EXPECT_EQ(s.result("textDocument/definition", in_the_middle("{label(", "label")),
            json::array({location(uri, range_at(text, "local function label", "label"))}));
  EXPECT_EQ(
      s.result("textDocument/references",
               in_the_middle("local emoji", "emoji", {{"context", {{"includeDeclaration", true}}}})),
      (json{location(uri, range_at(text, "local emoji", "emoji")), location(uri, range_at(text, "#emoji", "emoji"))}));

  // The visible range spans markup: it is asked by whole lines, and the
  // parameter names in the hole come back after the astral characters.
  json hints =
      s.result("textDocument/inlayHint", {{"textDocument", {{"uri", uri}}}, {"range", range_of(text, 0, text.size())}});
  json names = json::array();
  for (const json& hint : hints)
    if (hint.value("kind", 0) == 2) names.push_back({hint.at("label").at(0).at("value"), hint.at("position")});
  EXPECT_EQ(names, json::array({json::array({"text:", position_of(text, where(text, "(\"😀\", #", "\"😀\""))}),
                                json::array({"size:", position_of(text, where(text, "(\"😀\", #", "#"))})}));

  // luau-lsp's quick fixes edit the source.
  const json actions =
      s.result("textDocument/codeAction", in_the_middle("local unused", "unused",
                                                        {{"range", range_at(text, "local unused", "unused")},
                                                         {"context", {{"diagnostics", json::array()}}}}));
  ASSERT_TRUE(actions.is_array());
  ASSERT_FALSE(actions.empty());
  EXPECT_EQ(actions.at(0).at("title"), "Prefix 'unused' with '_' to silence");
  EXPECT_EQ(actions.at(0).at("edit"), (json{{"changes",
                                             {{uri,
                                               {{{"newText", "_"},
                                                 {"range", range_of(text, where(text, "local unused", "unused"),
                                                                    where(text, "local unused", "unused"))}}}}}}}));
}

}  // namespace
}  // namespace tovix_lsp
