// The child bridge over the wire, with the stand-in as luau-lsp: documents
// handed to the child, its diagnostics, notifications and requests carried
// to the editor, Luau requests forwarded and their answers moved back and
// merged, and the child's start, refusal, death and replacement.

#include <csignal>
#include <cstring>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "editor_session.h"
#include "marked_text.h"
#include "process_table.h"
#include "stand_in_child.h"
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
using testing::StandInRecord;
using testing::TempTree;
using testing_support::MarkedText;

const std::string STAND_IN = TOVIX_STAND_IN_BINARY;

// Luau around markup: a component, a function called in a hole, a local
// used inside the hole.
const char* const DOC =
    "local create = nil\n"
    "local value: number = 1\n"
    "local function Card(props: { title: string })\n"
    "  return <TextLabel Text={props.title} />\n"
    "end\n"
    "local function show(n: number) return n end\n"
    "return <Frame><Card title=\"hi\" />{show(value)}</Frame>\n";

using Child = testing::StandInChild;

bool method_is(const json& m, const std::string& method) { return m.value("method", "") == method; }

// The range of the `nth` occurrence (from 0) of `needle` in `text`.
json range_in(std::string_view text, std::string_view needle, std::size_t nth = 0) {
  std::size_t at = text.find(needle);
  for (std::size_t i = 0; i < nth && at != std::string_view::npos; ++i) at = text.find(needle, at + 1);
  EXPECT_NE(at, std::string_view::npos) << needle;
  return range_of(text, at, at + needle.size());
}

json at_start(const json& range) { return range.at("start"); }

// A forwarded request the child answers: once its answer is here, the
// child has read everything sent to it before, and the server has handled
// everything the child wrote before its answer.
void round_trip(EditorSession& s, const std::string& uri) {
  (void)s.request("textDocument/foldingRange", {{"textDocument", {{"uri", uri}}}});
}

TEST(ChildE2E, DocumentsReachTheChildOpenedChangedAndClosedInFullText) {
  Child child;
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC, 1);
  const std::string generated = child.generated("a.tovix");
  const auto first = child.compile("a.tovix", DOC);
  ASSERT_TRUE(first);

  auto opened = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); });
  ASSERT_TRUE(opened);
  EXPECT_EQ(
      opened->at("params"),
      (json{{"textDocument", {{"languageId", "luau"}, {"text", first->code}, {"uri", generated}, {"version", 1}}}}));
  EXPECT_TRUE(s.log_line("handed " + generated + " to luau-lsp (" + std::to_string(first->code.size()) + " bytes)"));

  // An incremental edit of the source reaches the child as the whole new text.
  const std::string edited = std::string(DOC) + "local more = <Frame/>\n";
  const std::string end_of_doc = "local more = <Frame/>\n";
  s.notify("textDocument/didChange",
           {{"textDocument", {{"uri", uri}, {"version", 2}}},
            {"contentChanges",
             json::array({{{"range", range_of(DOC, std::strlen(DOC), std::strlen(DOC))}, {"text", end_of_doc}}})}});
  auto changed = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didChange"); });
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->at("params"), (json{{"contentChanges", {{{"text", child.compile("a.tovix", edited)->code}}}},
                                         {"textDocument", {{"uri", generated}, {"version", 2}}}}));

  s.close(uri);
  auto closed = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didClose"); });
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->at("params"), (json{{"textDocument", {{"uri", generated}}}}));

  // Opened again: a new didOpen, and the "handed" line is not given twice.
  s.open("a.tovix", DOC, 3);
  ASSERT_TRUE(child.count(s, "textDocument/didOpen", 2));
  s.settle();
  EXPECT_EQ(s.logged("handed " + generated + " to luau-lsp (" + std::to_string(first->code.size()) + " bytes)"), 1u);

  std::vector<std::string> order;
  for (const json& line : child.lines_of(1))
    if (line.value("method", "").starts_with("textDocument/")) order.push_back(line.at("method"));
  EXPECT_EQ(order, (std::vector<std::string>{"textDocument/didOpen", "textDocument/didChange", "textDocument/didClose",
                                             "textDocument/didOpen"}));
}

TEST(ChildE2E, ADocumentWithoutACompileIsNotSentUntilItHasOne) {
  Child child;
  EditorSession s(child.options());
  child.ready(s);
  const std::string broken = "local create = nil\nlocal x = <Frame>\n";  // never closed: no compile at all
  const std::string uri = s.open("a.tovix", broken);
  const std::string unsent = "no compiled output yet, so luau-lsp has not been given this file";
  EXPECT_TRUE(s.log_line(unsent));
  s.change(uri, broken + "-- still open\n", 2);
  ASSERT_TRUE(s.diagnostics(uri));
  s.settle();
  EXPECT_EQ(s.logged(unsent), 1u);
  EXPECT_TRUE(child.record.of("textDocument/didOpen").empty());
  s.change(uri, "local create = nil\nlocal x = <Frame/>\n", 3);
  auto opened = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); });
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->at("params").at("textDocument").at("version"), 3);
}

TEST(ChildE2E, ADocumentOpenedBeforeTheChildIsReadyIsSentWhenItIs) {
  Child child;
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  auto configuration = s.server_request("workspace/configuration");
  ASSERT_TRUE(configuration);
  const std::string uri = s.open("a.tovix", DOC);
  ASSERT_TRUE(s.diagnostics(uri));
  EXPECT_TRUE(child.record.lines().empty());  // no child yet

  s.respond(configuration->at("id"), s.configuration_answer(*configuration));
  EXPECT_TRUE(s.log_line("luau-lsp: " + STAND_IN));
  auto opened = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/didOpen"); });
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->at("params").at("textDocument").at("text"), child.compile("a.tovix", DOC)->code);
  std::vector<std::string> order;
  for (const json& line : child.lines_of(1)) order.push_back(line.value("method", "(a response)"));
  EXPECT_EQ(order, (std::vector<std::string>{"initialize", "initialized", "textDocument/didOpen"}));
  EXPECT_TRUE(s.log_line("handed " + child.generated("a.tovix") + " to luau-lsp (" +
                         std::to_string(child.compile("a.tovix", DOC)->code.size()) + " bytes)"));
}

// The server's own configuration request, answered as the editor would.
void answer_configuration(EditorSession& s) {
  auto request = s.server_request("workspace/configuration");
  ASSERT_TRUE(request);
  s.respond(request->at("id"), s.configuration_answer(*request));
}

json diagnostic(const json& range, const std::string& message) {
  return {{"message", message}, {"range", range}, {"severity", 1}, {"source", "Luau"}};
}

TEST(ChildE2E, ChildDiagnosticsArePublishedInSourcePositionsAfterTheCompilers) {
  const std::string text = std::string(DOC) + "local bad = <Fram />\n";
  Child child("diagnostics");
  const auto compiled = child.compile("a.tovix", text);
  ASSERT_TRUE(compiled);
  const std::string& code = compiled->code;
  // One before any markup, one inside a hole, where columns differ.
  child.write_script(
      {{"diagnostics",
        {diagnostic(range_in(code, "value"), "first"), diagnostic(range_in(code, "value", 1), "in the hole")}}});
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", text);
  auto published = s.diagnostics(uri, [](const json& list) { return list.size() == 3; });
  ASSERT_TRUE(published);
  EXPECT_EQ(published->at(0).at("message"), "<Fram> is not a Roblox class and is not defined");
  EXPECT_EQ(published->at(1), diagnostic(range_in(text, "value"), "first"));
  EXPECT_EQ(published->at(2), diagnostic(range_in(text, "value", 1), "in the hole"));
  EXPECT_TRUE(s.log_line("luau-lsp answered about this file with 2 diagnostic(s)"));
}

// luau-lsp checks each text in turn and says which one a publication is
// about: one may come for an older text after a newer one was handed over.
json publication(const std::string& generated, int version, json diagnostics) {
  return {{"jsonrpc", "2.0"},
          {"method", "textDocument/publishDiagnostics"},
          {"params", {{"diagnostics", std::move(diagnostics)}, {"uri", generated}, {"version", version}}}};
}

TEST(ChildE2E, ChildDiagnosticsStayOnTheTextTheyWereFoundIn) {
  const std::string edited = std::string("-- a note\n") + DOC;  // every line moves down
  struct Case {
    const char* what;
    const char* after;  // the child publishes about version 1 after this message
  } cases[] = {
      {"published for the open text, then the text changes", "textDocument/didOpen"},
      {"published for the open text after the changed one was handed over", "textDocument/didChange"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child child;
    const auto compiled = child.compile("a.tovix", DOC);
    ASSERT_TRUE(compiled);
    const json found = {diagnostic(range_in(compiled->code, "value"), "declared"),
                        diagnostic(range_in(compiled->code, "value", 1), "in the hole")};
    child.write_script({{"on", {{c.after, {publication(child.generated("a.tovix"), 1, found)}}}}});
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", DOC, 1);
    s.change(uri, edited, 2);
    round_trip(s, uri);
    // Every publication shows them where they are in the text of its moment:
    // in the text as opened (only before the change), or as changed.
    const json before = {diagnostic(range_in(DOC, "value"), "declared"),
                         diagnostic(range_in(DOC, "value", 1), "in the hole")};
    const json after = {diagnostic(range_in(edited, "value"), "declared"),
                        diagnostic(range_in(edited, "value", 1), "in the hole")};
    json last;
    for (const json& m : s.history()) {
      if (!method_is(m, "textDocument/publishDiagnostics")) continue;
      last = m.at("params").at("diagnostics");
      const bool opened_text = last == before && std::string(c.after) == "textDocument/didOpen";
      EXPECT_TRUE(last == json::array() || last == after || opened_text) << last.dump();
    }
    EXPECT_EQ(last, after);
  }
}

TEST(ChildE2E, OpeningAnOpenDocumentAgainIsAFullChange) {
  std::string broken = DOC;  // no longer compiles; the line count stays
  broken.replace(broken.rfind("</Frame>"), 8, "</Fram>");
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"a new text", std::string("-- a note\n") + DOC},
      {"the same text", DOC},
      {"a text that does not compile: the last compile stays in use", broken},
  };
  // What the child was sent about the document, and the diagnostics last
  // published, once `text` replaced the opened one by a second didOpen or by
  // a full-text didChange.
  struct Seen {
    std::vector<json> child;
    json diagnostics;
  };
  auto replaced = [](const std::string& text, bool by_open) {
    Child child;
    const auto compiled = child.compile("a.tovix", DOC);
    EXPECT_TRUE(compiled);
    if (!compiled) return Seen{};
    child.write_script(
        {{"on",
          {{"textDocument/didOpen",
            {publication(child.generated("a.tovix"), 1, {diagnostic(range_in(compiled->code, "value"), "luau")})}}}}});
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", DOC, 1);
    EXPECT_TRUE(s.diagnostics(uri, [](const json& list) { return list.size() == 1; }));
    if (by_open)
      s.open("a.tovix", text, 2);
    else
      s.change(uri, text, 2);
    round_trip(s, uri);
    Seen seen;
    for (json& line : child.lines_of(1)) {
      if (!line.value("method", "").starts_with("textDocument/did")) continue;
      // Each session has a folder of its own.
      EXPECT_EQ(line.at("params").at("textDocument").at("uri"), child.generated("a.tovix"));
      line["params"]["textDocument"].erase("uri");
      seen.child.push_back(std::move(line));
    }
    for (const json& m : s.history())
      if (method_is(m, "textDocument/publishDiagnostics")) seen.diagnostics = m.at("params").at("diagnostics");
    return seen;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Seen opened = replaced(c.text, true);
    const Seen changed = replaced(c.text, false);
    ASSERT_EQ(opened.child.size(), 2u);
    EXPECT_EQ(opened.child.at(0).at("method"), "textDocument/didOpen");
    EXPECT_EQ(opened.child.at(1).at("method"), "textDocument/didChange");
    EXPECT_EQ(opened.child.at(1).at("params").at("textDocument").at("version"), 2);
    EXPECT_EQ(opened.child, changed.child);
    // The child's diagnostic stays, on the text as it now is.
    EXPECT_EQ(opened.diagnostics, changed.diagnostics);
    ASSERT_FALSE(opened.diagnostics.empty());
    EXPECT_EQ(opened.diagnostics.back().at("message"), "luau");
  }
}

TEST(ChildE2E, DiagnosticsInGeneratedCodeAloneAreDroppedAndCounted) {
  // A spread: the merge helper goes in front of the first line.
  const std::string text = std::string(DOC) + "local spread = <Frame {value} />\n";
  struct Case {
    const char* what;
    bool with_one_that_maps;
    std::string line;  // logged for each publication of the stand-in
    std::size_t times;
  } cases[] = {
      {"all of them in the helpers", false,
       "luau-lsp reported 1 diagnostic(s) for this file; none of them mapped back into the source", 1},
      {"one in the helpers, one in Luau", true,
       "luau-lsp reported 2 diagnostic(s) for this file; 1 of them did not map back into the source", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child child("diagnostics");
    const auto compiled = child.compile("a.tovix", text);
    ASSERT_TRUE(compiled);
    json found = {diagnostic(range_in(compiled->code, "local function __tovix_merge"), "generated")};
    if (c.with_one_that_maps) found.push_back(diagnostic(range_in(compiled->code, "value"), "declared"));
    child.write_script({{"diagnostics", found}});
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", text);
    EXPECT_TRUE(s.log_line(c.line));
    s.change(uri, text + "\n", 2);  // the stand-in publishes again
    round_trip(s, uri);
    // The line saying that none mapped is said once a file; the count, again
    // only when it changes.
    EXPECT_EQ(s.logged(c.line), c.times);
    const json shown =
        c.with_one_that_maps ? json::array({diagnostic(range_in(text, "value"), "declared")}) : json::array();
    for (const json& m : s.history()) {
      if (method_is(m, "textDocument/publishDiagnostics")) {
        EXPECT_TRUE(m.at("params").at("diagnostics") == json::array() || m.at("params").at("diagnostics") == shown)
            << m.at("params").at("diagnostics").dump();
      }
    }
  }
}

TEST(ChildE2E, RelayedConfigurationIsAnsweredUnderTheChildsOwnId) {
  // The stand-in asks under the integer id 0, and under a string id.
  const json asked = {{"jsonrpc", "2.0"},
                      {"id", "str-1"},
                      {"method", "workspace/configuration"},
                      {"params", {{"items", {{{"section", "luau-lsp"}}}}}}};
  Child child("ask-configuration", {{"on", {{"initialized", {asked}}}}});
  SessionOptions options = child.options();
  options.luau_lsp = {{"marker", "from the editor"}};
  EditorSession s(options);
  child.ready(s);
  std::vector<json> relayed;
  for (int i = 0; i < 2; ++i) {
    auto request = s.wait_for([](const json& m) {
      return method_is(m, "workspace/configuration") && m.at("params").at("items").size() == 1;
    });
    ASSERT_TRUE(request);
    relayed.push_back(request->at("id"));
  }
  // The server's own ids: its first request, the configuration, took 1.
  EXPECT_EQ(relayed, (std::vector<json>{2, 3}));
  for (const json& id : {json(0), json("str-1")}) {
    SCOPED_TRACE(id.dump());
    auto answered =
        child.record.wait_for(s, [&](const json& m) { return !m.contains("method") && m.value("id", json()) == id; });
    ASSERT_TRUE(answered);
    EXPECT_EQ(*answered, (json{{"id", id}, {"jsonrpc", "2.0"}, {"result", {{{"marker", "from the editor"}}}}}));
  }
}

TEST(ChildE2E, AChildsCancelReachesTheEditorUnderTheServersId) {
  const json ask = {{"jsonrpc", "2.0"},
                    {"id", 7},
                    {"method", "window/showMessageRequest"},
                    {"params", {{"message", "pick"}, {"type", 3}, {"actions", {{{"title", "A"}}}}}}};
  const json cancel = {{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", 7}}}};
  Child child("", {{"on", {{"initialized", {ask, cancel}}}}});
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  auto request = s.server_request("window/showMessageRequest");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->at("params"), ask.at("params"));
  const json ours = request->at("id");
  EXPECT_EQ(ours, 2);
  auto cancelled = s.wait_for([](const json& m) { return method_is(m, "$/cancelRequest"); });
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(*cancelled, (json{{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", ours}}}}));

  // The editor's late answer no longer reaches the child.
  s.respond(ours, {{"title", "A"}});
  const std::string uri = s.open("a.tovix", DOC);
  round_trip(s, uri);
  for (const json& line : child.lines_of(1)) EXPECT_FALSE(line.value("id", json()) == 7 && !line.contains("method"));
}

TEST(ChildE2E, AChildsEditIsMovedIntoTheSourceOrRefused) {
  Child child;
  const auto compiled = child.compile("a.tovix", DOC);
  ASSERT_TRUE(compiled);
  const std::string generated = child.generated("a.tovix");
  const json in_the_hole = {{"newText", "count"}, {"range", range_in(compiled->code, "value", 1)}};
  const json in_generated_code = {{"newText", "x"}, {"range", range_in(compiled->code, "create(\"Frame\")")}};
  auto apply = [](const char* id, json edit) {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "workspace/applyEdit"}, {"params", {{"edit", edit}}}};
  };
  const json by_changes = apply("e1", {{"changes", {{generated, {in_the_hole}}}}});
  const json refused = apply("e2", {{"changes", {{generated, {in_the_hole, in_generated_code}}}}});
  const json by_document = apply(
      "e3",
      {{"documentChanges", {{{"textDocument", {{"uri", generated}, {"version", 1}}}, {"edits", {in_the_hole}}}}}});
  child.write_script({{"on", {{"textDocument/didOpen", {by_changes, refused, by_document}}}}});
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);

  const json moved = {{"newText", "count"}, {"range", range_in(DOC, "value", 1)}};
  auto first = s.server_request("workspace/applyEdit");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->at("params"), (json{{"edit", {{"changes", {{uri, {moved}}}}}}}));
  auto second = s.server_request("workspace/applyEdit");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->at("params"),
            (json{{"edit",
                   {{"documentChanges", {{{"edits", {moved}}, {"textDocument", {{"uri", uri}, {"version", 1}}}}}}}}}));

  for (const char* id : {"e1", "e2", "e3"}) {
    SCOPED_TRACE(id);
    auto answer =
        child.record.wait_for(s, [&](const json& m) { return !m.contains("method") && m.value("id", json()) == id; });
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->at("result"), (json{{"applied", std::string(id) != "e2"}}));
  }
  round_trip(s, uri);
  std::size_t edits = 0;
  for (const json& m : s.history()) edits += method_is(m, "workspace/applyEdit");
  EXPECT_EQ(edits, 2u);
}

TEST(ChildE2E, ADeadChildsDiagnosticsAreWithdrawnAndItsRelayedRequestsForgotten) {
  Child child("diagnostics,ask=window/showMessageRequest");
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  auto with_child = s.diagnostics(uri, [](const json& list) { return list.size() == 1; });
  ASSERT_TRUE(with_child);
  EXPECT_EQ(with_child->at(0).at("message"), "stand-in diagnostic");
  auto old_request = s.server_request("window/showMessageRequest");
  ASSERT_TRUE(old_request);

  const auto pids = child.record.pids();
  ASSERT_EQ(pids.size(), 1u);
  ASSERT_EQ(::kill(pids[0], SIGKILL), 0);
  EXPECT_TRUE(s.log_line("luau-lsp exited — markup features only"));
  EXPECT_TRUE(s.diagnostics(uri, [](const json& list) { return list.empty(); }));

  // A new child asks the same question under the same id of its own.
  s.notify("workspace/didChangeConfiguration", {{"settings", nullptr}});
  answer_configuration(s);
  child.ready(s, 2);
  auto new_request = s.server_request("window/showMessageRequest");
  ASSERT_TRUE(new_request);
  EXPECT_NE(new_request->at("id"), old_request->at("id"));
  s.respond(old_request->at("id"), {{"title", "late"}});
  s.respond(new_request->at("id"), {{"title", "fresh"}});
  round_trip(s, uri);
  std::vector<json> answers;
  for (const json& line : child.lines_of(2))
    if (!line.contains("method")) answers.push_back(line);
  EXPECT_EQ(answers, (std::vector<json>{{{"id", 0}, {"jsonrpc", "2.0"}, {"result", {{"title", "fresh"}}}}}));
}

TEST(ChildE2E, AnAnswerIsMovedBackThroughTheCompileItsRequestWasSentAgainst) {
  Child child("ask-configuration");  // holds every request until it is configured
  const auto compiled = child.compile("a.tovix", DOC);
  ASSERT_TRUE(compiled);
  const std::string generated = child.generated("a.tovix");
  child.write_script(
      {{"results",
        {{"textDocument/references", {{{"range", range_in(compiled->code, "value", 1)}, {"uri", generated}}}}}}});
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC, 1);
  ASSERT_TRUE(s.diagnostics(uri));
  const int asked = s.send_request("textDocument/references", {{"textDocument", {{"uri", uri}}},
                                                               {"position", at_start(range_in(DOC, "value", 1))},
                                                               {"context", {{"includeDeclaration", true}}}});
  // A line typed above while the child works: every later line moves down.
  const std::string edited = std::string("-- a note\n") + DOC;
  s.change(uri, edited, 2);
  ASSERT_TRUE(s.diagnostics(uri));
  auto held = s.server_request("workspace/configuration");
  ASSERT_TRUE(held);
  s.respond(held->at("id"), s.configuration_answer(*held));
  EXPECT_EQ(s.response(asked).at("result"), (json{{{"range", range_in(edited, "value", 1)}, {"uri", uri}}}));
}

// What the server answers alone about the component `Card` at its use in
// DOC's last line, and where the child is asked about it.
json card_position() { return position_of(DOC, std::string_view(DOC).find("Card title") + 2); }
json local_card_hover() {
  return {{"contents", {{"kind", "markdown"}, {"value", "```luau\nCard\n```\n\nComponent, bound on line 3."}}},
          {"range", range_in(DOC, "Card", 1)}};
}
json hover_of(const std::string& text) { return {{"contents", {{"kind", "markdown"}, {"value", text}}}}; }

// `<Fram />` with its quick fix, for code actions with a local part.
const std::string MISSPELT = std::string(DOC) + "local bad = <Fram />\n";

// A codeAction request in Luau code (a range in markup is never asked of
// the child) carrying the misspelt element's diagnostic.
json code_action_params(EditorSession& s, const std::string& uri) {
  auto list = s.diagnostics(uri, [](const json& l) { return !l.empty(); });
  if (!list) return nullptr;
  return {{"textDocument", {{"uri", uri}}}, {"range", range_in(DOC, "value")}, {"context", {{"diagnostics", *list}}}};
}

TEST(ChildE2E, AnswersAreMergedWithTheLocalPart) {
  const json child_actions = {{{"title", "child one"}}, {{"title", "child two"}}};
  const std::string fenced = "```luau\nfunction Card(props: { title: string }): Instance\n```";
  const std::string tail = "\n\n---\n\nComponent, bound on line 3.";
  struct Case {
    const char* what;
    const char* method;
    json child;     // the child's result
    json expected;  // null: built by the case below
  };
  const Case cases[] = {
      {"hover: the child's text, then the local text after its code fence",
       "textDocument/hover",
       hover_of("child says"),
       {{"contents", {{"kind", "markdown"}, {"value", "child says" + tail}}}, {"range", range_in(DOC, "Card", 1)}}},
      {"hover: a fenced child text the same way",
       "textDocument/hover",
       hover_of(fenced),
       {{"contents", {{"kind", "markdown"}, {"value", fenced + tail}}}, {"range", range_in(DOC, "Card", 1)}}},
      {"hover: a null child answer leaves the local part", "textDocument/hover", nullptr, local_card_hover()},
      {"code actions: arrays join, local first", "textDocument/codeAction", child_actions, nullptr},
      {"code actions: null leaves the local array", "textDocument/codeAction", nullptr, nullptr},
      {"code actions: an object replaces the local part",
       "textDocument/codeAction",
       {{"title", "odd"}},
       {{"title", "odd"}}},
  };
  json local_fix;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child child("", {{"results", {{c.method, c.child}}}});
    EditorSession s(child.options());
    child.ready(s);
    if (std::string(c.method) == "textDocument/hover") {
      const std::string uri = s.open("a.tovix", DOC);
      EXPECT_EQ(s.result(c.method, EditorSession::at(uri, card_position())), c.expected);
      continue;
    }
    const std::string uri = s.open("a.tovix", MISSPELT);
    const json actions = s.result(c.method, code_action_params(s, uri));
    if (!c.expected.is_null()) {
      EXPECT_EQ(actions, c.expected);
      continue;
    }
    ASSERT_TRUE(actions.is_array());
    ASSERT_FALSE(actions.empty());
    EXPECT_EQ(actions.at(0).at("title"), "Change element to Frame");
    json expected = json::array({actions[0]});
    if (c.child.is_array())
      for (const json& action : c.child) expected.push_back(action);
    EXPECT_EQ(actions, expected);
  }
}

TEST(ChildE2E, ChildErrorsAnswerFromTheLocalPartOrPassThrough) {
  struct Case {
    json error;
    bool no_answer;  // the child has none: the local part (or null) answers
  };
  const Case cases[] = {
      {{{"code", -32601}, {"message", "unknown method"}}, true},
      {{{"code", -32002}, {"message", "not initialized"}}, true},
      {{{"code", -32803}, {"message", "No managed text document for file:///x.luau"}}, true},
      {{{"code", -32803}, {"message", "request failed"}}, false},
      {{{"code", -32603}, {"message", "internal"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error.dump());
    Child child("", {{"errors", {{"textDocument/hover", c.error}}}});
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", DOC);
    // With a local part, that part answers.
    EXPECT_EQ(s.result("textDocument/hover", EditorSession::at(uri, card_position())), local_card_hover());
    // Without one, null, or the child's error as it is.
    const json luau = s.request("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value"))));
    if (c.no_answer) {
      EXPECT_EQ(luau.value("result", json("absent")), json(nullptr));
    } else {
      EXPECT_EQ(luau, (json{{"error", c.error}, {"id", luau.at("id")}, {"jsonrpc", "2.0"}}));
    }
  }
}

TEST(ChildE2E, ALostDocumentIsOpenedAgainBeforeTheNextRequest) {
  Child child(
      "", {{"errors", {{"textDocument/hover", {{"code", -32803}, {"message", "No managed text document for x"}}}}}});
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const json params = EditorSession::at(uri, at_start(range_in(DOC, "value")));
  EXPECT_EQ(s.result("textDocument/hover", params), json(nullptr));
  EXPECT_EQ(s.result("textDocument/hover", params), json(nullptr));
  std::vector<std::string> order;
  for (const json& line : child.lines_of(1))
    if (line.value("method", "").starts_with("textDocument/")) order.push_back(line.at("method"));
  EXPECT_EQ(order, (std::vector<std::string>{"textDocument/didOpen", "textDocument/hover", "textDocument/didOpen",
                                             "textDocument/hover"}));
}

TEST(ChildE2E, ARenameThatLandsInGeneratedCodeIsRefused) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", DOC);
  ASSERT_TRUE(compiled);
  const json in_the_hole = {{"newText", "count"}, {"range", range_in(compiled->code, "value", 1)}};
  const json declaration = {{"newText", "count"}, {"range", range_in(compiled->code, "value")}};
  const json in_generated_code = {{"newText", "count"}, {"range", range_in(compiled->code, "create(\"Frame\")")}};
  for (bool lands_in_generated_code : {false, true}) {
    SCOPED_TRACE(lands_in_generated_code);
    json edits = {declaration, in_the_hole};
    if (lands_in_generated_code) edits.push_back(in_generated_code);
    Child child("", {{"results", {{"textDocument/rename", {{"changes", {{probe.generated("a.tovix"), edits}}}}}}}});
    child.project = probe.project;
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", DOC);
    json params = EditorSession::at(uri, at_start(range_in(DOC, "value")));
    params["newName"] = "count";
    const json answer = s.request("textDocument/rename", params);
    if (lands_in_generated_code) {
      EXPECT_EQ(answer.at("error"),
                (json{{"code", -32803},
                      {"message", "some of this rename lands in generated code, so it cannot be applied here"}}));
    } else {
      EXPECT_EQ(answer.at("result"), (json{{"changes",
                                            {{uri,
                                              {{{"newText", "count"}, {"range", range_in(DOC, "value")}},
                                               {{"newText", "count"}, {"range", range_in(DOC, "value", 1)}}}}}}}));
    }
  }
}

json location_in(const std::string& uri, const json& range) { return {{"range", range}, {"uri", uri}}; }

// A child that names places its text does not have: line 999 of a short
// file, a negative line, line 2^40.
TEST(ChildE2E, PositionsOutsideTheGeneratedTextNeverReachTheEditor) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", DOC);
  ASSERT_TRUE(compiled);
  const std::string generated = probe.generated("a.tovix");
  const auto at_line = [](json line) { return json{{"character", 0}, {"line", std::move(line)}}; };
  const json past_the_end = {{"end", at_line(999)}, {"start", at_line(0)}};
  const json negative = {{"end", at_line(-1)}, {"start", at_line(-1)}};
  const json huge = {{"end", at_line(std::uint64_t{1} << 40)}, {"start", at_line(std::uint64_t{1} << 40)}};
  const json declared = range_in(compiled->code, "value");
  Child child(
      "diagnostics",
      {{"results",
        {{"textDocument/hover", {{"contents", {{"kind", "markdown"}, {"value", "x"}}}, {"range", huge}}},
         {"textDocument/definition",
          {location_in(generated, negative), location_in(generated, past_the_end), location_in(generated, declared)}},
         {"textDocument/rename", {{"changes", {{generated, {{{"newText", "x"}, {"range", past_the_end}}}}}}}}}},
       {"diagnostics",
        {diagnostic(past_the_end, "whole file"), diagnostic(negative, "before it"),
         diagnostic(declared, "declared")}}});
  child.project = probe.project;
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const auto published = s.diagnostics(uri, [](const json& list) { return !list.empty(); });
  ASSERT_TRUE(published);
  EXPECT_EQ(*published, json::array({diagnostic(range_in(DOC, "value"), "declared")}));

  const json in_luau = EditorSession::at(uri, at_start(range_in(DOC, "value")));
  EXPECT_EQ(s.request("textDocument/hover", in_luau).value("result", json("absent")), json(nullptr));
  EXPECT_EQ(s.result("textDocument/definition", in_luau), json::array({location_in(uri, range_in(DOC, "value"))}));
  json rename = in_luau;
  rename["newName"] = "x";
  EXPECT_EQ(s.request("textDocument/rename", rename).at("error"),
            (json{{"code", -32803},
                  {"message", "some of this rename lands in generated code, so it cannot be applied here"}}));
  // Nor does a place past the end of the source become one in the child's
  // text: the request is not sent.
  EXPECT_EQ(s.request("textDocument/references", {{"context", {{"includeDeclaration", true}}},
                                                  {"position", at_line(999)},
                                                  {"textDocument", {{"uri", uri}}}})
                .value("result", json("absent")),
            json(nullptr));
  round_trip(s, uri);
  EXPECT_TRUE(child.record.of("textDocument/references").empty());

  // Still answering, and it ends cleanly.
  const int probe_id = s.send_request("probe", json::object());
  EXPECT_TRUE(s.wait_for([&](const json& m) { return !m.contains("method") && m.value("id", json()) == probe_id; }));
  const int pid = s.process().pid();
  const auto children = child.record.pids();
  EXPECT_EQ(s.shutdown_and_exit(), 0);
  EXPECT_TRUE(s.index_of([&](const json& m) {
    return !m.contains("method") && m.value("id", json()) == probe_id + 1 && m.contains("result") &&
           m.at("result").is_null();
  })) << "shutdown was not answered";
  EXPECT_TRUE(testing::gone(pid));
  ASSERT_EQ(children.size(), 1u);
  EXPECT_TRUE(testing::gone(children[0]));
}

// A child whose answers have the wrong shape where places are: ranges that
// are strings, nulls or hold no positions, lines and positions that are
// none. Each such item is dropped on its way as one that does not map.
TEST(ChildE2E, AnswersOfTheWrongShapeNeverReachTheEditor) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", DOC);
  ASSERT_TRUE(compiled);
  const std::string generated = probe.generated("a.tovix");
  const json declared = range_in(compiled->code, "value");
  const json no_positions = {{"end", {2}}, {"start", 1}};
  const json past_the_end = {{"end", {{"character", 1}, {"line", 999}}}, {"start", {{"character", 0}, {"line", 999}}}};
  const json locations = {location_in(generated, "range"), location_in(generated, no_positions),
                          location_in(generated, declared)};
  const auto item = [](const char* label, json edit) { return json{{"label", label}, {"textEdit", std::move(edit)}}; };
  json odd = diagnostic(declared, "related nowhere");
  odd["relatedInformation"] = {{{"location", {{"range", "range"}, {"uri", generated}}}, {"message", "r"}},
                               {{"location", location_in(generated, declared)}, {"message", "here"}}};
  Child child(
      "diagnostics",
      {{"results",
        {{"textDocument/definition", locations},
         {"textDocument/typeDefinition", locations},
         {"textDocument/references", locations},
         {"textDocument/documentHighlight", {{{"range", nullptr}}, {{"kind", 1}, {"range", declared}}}},
         {"textDocument/foldingRange",
          {{{"endLine", 1000000001}, {"startLine", 1000000000}},
           {{"endLine", 2}, {"startLine", "x"}},
           {{"endLine", 2}, {"startLine", 0}}}},
         {"textDocument/inlayHint",
          {{{"label", ": number"}, {"position", "nowhere"}}, {{"label", ": one"}, {"position", declared.at("end")}}}},
         {"textDocument/completion",
          {{"isIncomplete", false},
           {"items",
            {item("outside", {{"newText", "x"}, {"range", past_the_end}}),
             item("a string", {{"newText", "x"}, {"range", "range"}}),
             item("no insert range", {{"insert", no_positions}, {"newText", "x"}, {"replace", declared}}),
             {{"label", "fine"}}}}}},
         {"textDocument/rename",
          {{"changes",
            {{generated, {{{"newText", "x"}, {"range", declared}}, {{"newText", "x"}, {"range", "range"}}}}}}}}}},
       {"diagnostics", {{{"message", "odd"}, {"range", "range"}}, diagnostic(declared, "declared"), odd}}});
  child.project = probe.project;
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const json value = range_in(DOC, "value");
  json related = diagnostic(value, "related nowhere");
  related["relatedInformation"] = {{{"location", location_in(uri, value)}, {"message", "here"}}};
  const auto published = s.diagnostics(uri, [](const json& list) { return !list.empty(); });
  ASSERT_TRUE(published);
  EXPECT_EQ(*published, json::array({diagnostic(value, "declared"), related}));

  const json in_luau = EditorSession::at(uri, at_start(value));
  const json doc = {{"textDocument", {{"uri", uri}}}};
  struct Asked {
    const char* method;
    json params;
    json expected;
  } asked[] = {
      {"textDocument/definition", in_luau, {location_in(uri, value)}},
      {"textDocument/typeDefinition", in_luau, {location_in(uri, value)}},
      {"textDocument/references",
       [&] {
         json p = in_luau;
         p["context"] = {{"includeDeclaration", true}};
         return p;
       }(),
       {location_in(uri, value)}},
      {"textDocument/documentHighlight", in_luau, {{{"kind", 1}, {"range", value}}}},
      {"textDocument/foldingRange", doc, {{{"endLine", 2}, {"startLine", 0}}}},
      {"textDocument/inlayHint",
       {{"range", {{"end", {{"character", 0}, {"line", 7}}}, {"start", {{"character", 0}, {"line", 0}}}}},
        {"textDocument", {{"uri", uri}}}},
       {{{"label", ": one"}, {"position", value.at("end")}}}},
      {"textDocument/completion", in_luau, {{"isIncomplete", false}, {"items", {{{"label", "fine"}}}}}},
  };
  for (const Asked& a : asked) {
    SCOPED_TRACE(a.method);
    EXPECT_EQ(s.result(a.method, a.params), a.expected);
  }
  json rename = in_luau;
  rename["newName"] = "x";
  EXPECT_EQ(s.request("textDocument/rename", rename).at("error"),
            (json{{"code", -32803},
                  {"message", "some of this rename lands in generated code, so it cannot be applied here"}}));
}

// A component used with a closing tag and without one.
const char* const PAIRED =
    "local create = nil\n"
    "local function Card(props: { title: string })\n"
    "  return <TextLabel Text={props.title} />\n"
    "end\n"
    "return <Frame><Card title=\"a\"></Card><Card title=\"b\"/></Frame>\n";

// PAIRED with every `Card` renamed `Panel`: what renaming the component
// must leave, whether it starts at the function or at a tag.
std::string paired_renamed() {
  std::string out = PAIRED;
  for (std::size_t at; (at = out.find("Card")) != std::string::npos;) out.replace(at, 4, "Panel");
  return out;
}

// The edits of the document in a rename's answer, in either form.
json edits_of(const json& edit, const std::string& uri) {
  if (edit.contains("changes")) return edit.at("changes").value(uri, json());
  for (const json& change : edit.value("documentChanges", json::array()))
    if (change.at("textDocument").at("uri") == uri) return change.at("edits");
  return nullptr;
}

// luau-lsp renames a component where the generated code names it (the
// function and each call); the closing names, which the generated code does
// not have, are joined to the calls' edits.
TEST(ChildE2E, AComponentsRenameIsTheChildsWithItsClosingNames) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", PAIRED);
  ASSERT_TRUE(compiled);
  json edits = json::array();
  for (std::size_t i = 0; i < 3; ++i)
    edits.push_back({{"newText", "Panel"}, {"range", range_in(compiled->code, "Card", i)}});
  const std::string generated = probe.generated("a.tovix");
  const json forms[] = {
      {{"changes", {{generated, edits}}}},
      {{"documentChanges", {{{"edits", edits}, {"textDocument", {{"uri", generated}, {"version", 1}}}}}}},
  };
  for (const json& form : forms) {
    SCOPED_TRACE(form.begin().key());
    Child child("", {{"results", {{"textDocument/rename", form}}}});
    child.project = probe.project;
    EditorSession s(child.options());
    child.ready(s);
    const std::string uri = s.open("a.tovix", PAIRED);
    const json from[] = {range_in(PAIRED, "Card", 2), range_in(PAIRED, "Card", 1), range_in(PAIRED, "Card", 0)};
    for (const json& name : from) {
      SCOPED_TRACE(name.dump());
      json params = EditorSession::at(
          uri, {{"character", name.at("start").at("character").get<int>() + 1}, {"line", name.at("start").at("line")}});
      params["newName"] = "Panel";
      const json answer = s.result("textDocument/rename", params);
      EXPECT_EQ(testing::applied(PAIRED, edits_of(answer, uri)), paired_renamed()) << answer.dump();
    }
    // From a tag, the child was asked at the generated call's name.
    const auto asked = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/rename"); });
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->at("params").at("position"), position_of(compiled->code, compiled->code.find("Card({")));
  }
}

// luau-lsp finds a component's references where the generated code names
// it (the function and each call): asked from a closing name at its opening
// name, the answer has every closing name joined to its opening one.
TEST(ChildE2E, AComponentsReferencesHaveTheirClosingNames) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", PAIRED);
  ASSERT_TRUE(compiled);
  const std::string generated = probe.generated("a.tovix");
  json found = json::array();
  for (std::size_t i = 0; i < 3; ++i)
    found.push_back({{"range", range_in(compiled->code, "Card", i)}, {"uri", generated}});
  Child child("", {{"results", {{"textDocument/references", found}}}});
  child.project = probe.project;
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", PAIRED);
  auto at = [&](std::size_t nth) { return json{{"range", range_in(PAIRED, "Card", nth)}, {"uri", uri}}; };
  const json every = {at(0), at(1), at(2), at(3)};
  for (std::size_t nth : {2, 1}) {
    SCOPED_TRACE(nth);
    json params = EditorSession::at(uri, range_in(PAIRED, "Card", nth).at("end"));
    params["context"] = {{"includeDeclaration", true}};
    EXPECT_EQ(s.result("textDocument/references", params), every);
    // From the closing name too, the child was asked at the generated call.
    const auto asked = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/references"); });
    ASSERT_TRUE(asked);
    EXPECT_EQ((*asked).at("params").at("position"), range_in(compiled->code, "Card", 1).at("start"));
  }
}

// A new name that would break the file: refused at once when the rename
// starts on a tag, or when it is no Luau identifier or a keyword; refused
// once the child's edits reach a tag when it starts in Luau code and markup
// takes the name for a class.
TEST(ChildE2E, ARenameThatWouldBreakTheFileIsRefused) {
  Child probe;
  const auto compiled = probe.compile("a.tovix", PAIRED);
  ASSERT_TRUE(compiled);
  json edits = json::array();
  for (std::size_t i = 0; i < 3; ++i)
    edits.push_back({{"newText", "Frame"}, {"range", range_in(compiled->code, "Card", i)}});
  Child child("", {{"results", {{"textDocument/rename", {{"changes", {{probe.generated("a.tovix"), edits}}}}}}}});
  child.project = probe.project;
  EditorSession s(child.options());
  child.ready(s);
  const std::string uri = s.open("a.tovix", PAIRED);
  auto renamed = [&](std::size_t nth, const char* name) {
    json params = EditorSession::at(uri, range_in(PAIRED, "Card", nth).at("end"));
    params["newName"] = name;
    return s.request("textDocument/rename", params).value("error", json());
  };
  auto refusal = [](const char* message) { return json{{"code", -32803}, {"message", message}}; };
  EXPECT_EQ(renamed(2, "Frame"), refusal("`Frame` is a Roblox class in markup"));
  EXPECT_EQ(renamed(0, "end"), refusal("`end` is a Luau keyword"));
  EXPECT_EQ(renamed(1, "ui.Card"), refusal("`ui.Card` is not a Luau identifier"));
  round_trip(s, uri);
  EXPECT_TRUE(child.record.of("textDocument/rename").empty());
  // From the function: the child's edits reach the tags.
  EXPECT_EQ(renamed(0, "Frame"), refusal("`Frame` is a Roblox class in markup"));
  EXPECT_EQ(child.record.of("textDocument/rename").size(), 1u);
}

// prepareRename of a Luau binding, a name in Luau code or a component's, is
// the child's: nothing while no child is ready, else the child's range when
// it holds the cursor, or the name under the cursor.
TEST(ChildE2E, PrepareRenameOfALuauBinding) {
  Child probe;
  const auto luau = probe.compile("a.tovix", DOC);
  const auto paired = probe.compile("a.tovix", PAIRED);
  ASSERT_TRUE(luau && paired);
  const json value = range_in(DOC, "value");
  const json opening = range_in(PAIRED, "Card", 1);
  const json closing = range_in(PAIRED, "Card", 2);
  const json call = range_in(paired->code, "Card", 1);
  const char* const INTERPOLATED =
      "local create = nil\nlocal function count() return 1 end\nlocal s = `Clicks: {count()}`\n"
      "return <TextLabel Text={`Clicks: {count()}`} />\n";
  ASSERT_TRUE(probe.compile("a.tovix", INTERPOLATED));
  const json plain = range_in(INTERPOLATED, "count", 1);
  const json in_markup = range_in(INTERPOLATED, "count", 2);
  auto refused = [](int code) {
    return json{{"errors", {{"textDocument/prepareRename", {{"code", code}, {"message", "no"}}}}}};
  };
  auto answered = [](json result) { return json{{"results", {{"textDocument/prepareRename", std::move(result)}}}}; };
  struct Case {
    const char* what;
    const char* modes;
    json script;
    const char* text;
    json at;
    json expected;
  };
  const Case cases[] = {
      {"Luau, no child ready", "never-answer", json::object(), DOC, value.at("start"), nullptr},
      {"Luau, a null answer", "", json::object(), DOC, value.at("start"), value},
      {"Luau, -32601", "", refused(-32601), DOC, value.at("start"), value},
      {"Luau, another error", "", refused(-32603), DOC, value.at("start"), value},
      {"Luau, the child's answer moved back",
       "",
       answered({{"placeholder", "value"}, {"range", range_in(luau->code, "value")}}),
       DOC,
       value.at("start"),
       {{"placeholder", "value"}, {"range", value}}},
      {"a component, no child ready", "never-answer", json::object(), PAIRED, closing.at("end"), nullptr},
      {"a component, -32601 on the closing name", "", refused(-32601), PAIRED, closing.at("end"), closing},
      {"a component, a null answer on the opening name", "", json::object(), PAIRED, opening.at("end"), opening},
      {"a component, the child's range on the opening name",
       "",
       answered({{"placeholder", "Card"}, {"range", call}}),
       PAIRED,
       opening.at("end"),
       {{"placeholder", "Card"}, {"range", opening}}},
      {"a component, the child's range away from the cursor", "", answered(call), PAIRED, closing.at("end"), closing},
      {"Luau, a hole of an interpolated string", "", refused(-32601), INTERPOLATED, plain.at("end"), plain},
      {"Luau, that hole in a markup hole", "", refused(-32601), INTERPOLATED, in_markup.at("start"), in_markup},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child child(c.modes, c.script);
    child.project = probe.project;
    EditorSession s(child.options());
    if (std::string_view(c.modes).empty()) {
      child.ready(s);
    } else {
      ASSERT_TRUE(child.count(s, "initialize", 1));
    }
    const std::string uri = s.open("a.tovix", c.text);
    EXPECT_EQ(s.result("textDocument/prepareRename", EditorSession::at(uri, c.at)), c.expected);
  }
}

TEST(ChildE2E, AChildThatRefusesToInitializeOrEndsIsLetGo) {
  struct Case {
    const char* mode;
    const char* line;
  } cases[] = {
      {"refuse-initialize", "luau-lsp refused to initialize (stand-in refuses) — markup features only"},
      {"refuse-initialize-silently", "luau-lsp refused to initialize (no reason given) — markup features only"},
      {"exit-at-once", "luau-lsp exited — markup features only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Child child(c.mode);
    EditorSession s(child.options());
    EXPECT_TRUE(s.log_line(c.line));
    const auto pids = child.record.pids();
    ASSERT_EQ(pids.size(), 1u);
    const std::string uri = s.open("a.tovix", DOC);
    EXPECT_EQ(s.result("textDocument/hover", EditorSession::at(uri, card_position())), local_card_hover());
    EXPECT_EQ(s.result("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value")))), json(nullptr));
    EXPECT_TRUE(testing::gone(pids[0]));
    EXPECT_EQ(child.record.of("textDocument/didOpen").size(), 0u);
  }
}

// Completion of `Card`'s props: the child is asked at its generated call.
const char* const PROPS_DOC =
    "local create = nil\n"
    "local function Card(props: { title: string })\n"
    "  return <TextLabel Text={props.title} />\n"
    "end\n"
    "return <Card ^ />\n";

TEST(ChildE2E, RequestsWaitingWhenTheChildDiesAreAnsweredLocally) {
  Child child("ask-configuration");  // holds every request
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const MarkedText props(PROPS_DOC);
  const std::string props_uri = s.open("b.tovix", props.text);
  const int component = s.send_request("textDocument/hover", EditorSession::at(uri, card_position()));
  const int luau = s.send_request("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value"))));
  const int completion =
      s.send_request("textDocument/completion", EditorSession::at(props_uri, position_of(props.text, *props.cursor)));
  ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/completion"); }));
  ::kill(child.record.pids().at(0), SIGKILL);
  EXPECT_EQ(s.response(component).at("result"), local_card_hover());
  EXPECT_EQ(s.response(luau).value("result", json("absent")), json(nullptr));
  EXPECT_EQ(s.response(completion).at("result"), (json{{"isIncomplete", false}, {"items", json::array()}}));
  EXPECT_TRUE(s.log_line("luau-lsp exited — markup features only"));
}

TEST(ChildE2E, TheChildsInitializeParamsKeyByKey) {
  Child child;
  SessionOptions options = child.options();
  options.luau_lsp = {{"fflags", {{"override", {{"FFlagFromSettings", "7"}}}}}};
  options.initialize = {
      {"processId", 4242},
      {"rootUri", child.uri("")},
      {"capabilities",
       {{"general", {{"positionEncodings", {"utf-8", "utf-16"}}, {"markdown", {{"parser", "marked"}}}}},
        {"textDocument",
         {{"diagnostic", {{"dynamicRegistration", true}}}, {"hover", {{"contentFormat", {"markdown"}}}}}},
        {"workspace", {{"diagnostics", {{"refreshSupport", true}}}, {"configuration", true}}}}},
      {"initializationOptions", {{"fflags", {{"EditorFlag", "true"}}}, {"other", 1}}},
      {"trace", "off"}};
  EditorSession s(options);
  child.ready(s);
  auto initialize = child.record.wait_for(s, [](const json& m) { return method_is(m, "initialize"); });
  ASSERT_TRUE(initialize);
  const json& params = initialize->at("params");
  EXPECT_EQ(params.at("processId"), s.process().pid());
  EXPECT_EQ(params.at("rootUri"), options.initialize.at("rootUri"));
  EXPECT_EQ(params.at("trace"), "off");
  EXPECT_EQ(params.at("capabilities").at("general"),
            (json{{"markdown", {{"parser", "marked"}}}, {"positionEncodings", {"utf-16"}}}));
  EXPECT_EQ(params.at("capabilities").at("textDocument"), (json{{"hover", {{"contentFormat", {"markdown"}}}}}));
  EXPECT_EQ(params.at("capabilities").at("workspace"), (json{{"configuration", true}}));
  EXPECT_EQ(params.at("initializationOptions"),
            (json{{"fflags", {{"EditorFlag", "true"}, {"FromSettings", "7"}}}, {"other", 1}}));
  EXPECT_EQ(params.size(), options.initialize.size());
}

TEST(ChildE2E, TheEditorsCancelReachesTheChildUnderItsId) {
  Child child("ask-configuration");
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const int hover = s.send_request("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value"))));
  auto asked = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/hover"); });
  ASSERT_TRUE(asked);
  s.notify("$/cancelRequest", {{"id", hover}});
  auto cancelled = child.record.wait_for(s, [](const json& m) { return method_is(m, "$/cancelRequest"); });
  ASSERT_TRUE(cancelled);
  EXPECT_EQ(cancelled->at("params"), (json{{"id", asked->at("id")}}));
  // Answered at once, though the child holds it.
  EXPECT_EQ(s.response(hover).at("error"), (json{{"code", -32800}, {"message", "request cancelled"}}));
  // The child's late answer, once it is configured, is dropped.
  auto held = s.server_request("workspace/configuration");
  ASSERT_TRUE(held);
  s.respond(held->at("id"), s.configuration_answer(*held));
  // A later request is answered after it, as the child answers in order.
  s.result("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value"))));
  std::size_t answers = 0;
  for (const json& m : s.history()) answers += !m.contains("method") && m.value("id", json()) == hover;
  EXPECT_EQ(answers, 1u);
}

TEST(ChildE2E, ShutdownAnswersWaitingRequestsBeforeItsOwnReply) {
  Child child("ask-configuration");
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC);
  const int hover = s.send_request("textDocument/hover", EditorSession::at(uri, card_position()));
  ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/hover"); }));
  const int shutdown = s.send_request("shutdown", nullptr);
  EXPECT_EQ(s.response(shutdown).at("result"), json(nullptr));
  const auto answered =
      s.index_of([&](const json& m) { return !m.contains("method") && m.value("id", json()) == hover; });
  const auto shut =
      s.index_of([&](const json& m) { return !m.contains("method") && m.value("id", json()) == shutdown; });
  ASSERT_TRUE(answered);
  EXPECT_LT(*answered, *shut);
  EXPECT_EQ(s.history()[*answered].at("result"), local_card_hover());
  EXPECT_TRUE(testing::gone(child.record.pids().at(0)));
}

TEST(ChildE2E, AConfigurationAnswerAfterShutdownStartsNoChild) {
  Child child;
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  auto configuration = s.server_request("workspace/configuration");
  ASSERT_TRUE(configuration);
  EXPECT_EQ(s.request("shutdown", nullptr).at("result"), json(nullptr));
  s.respond(configuration->at("id"), s.configuration_answer(*configuration));
  s.settle();
  EXPECT_TRUE(child.record.lines().empty());
  EXPECT_TRUE(s.children().empty());
  EXPECT_EQ(s.logged("luau-lsp: " + STAND_IN), 0u);
}

TEST(ChildE2E, ConfigurationChangesReachAReadyChild) {
  Child child;
  EditorSession s(child.options());
  child.ready(s);
  const json settings = {{"settings", {{"luau-lsp", {{"completion", {{"enabled", false}}}}}}}};
  s.notify("workspace/didChangeConfiguration", settings);
  auto passed =
      child.record.wait_for(s, [](const json& m) { return method_is(m, "workspace/didChangeConfiguration"); });
  ASSERT_TRUE(passed);
  EXPECT_EQ(passed->at("params"), settings);
  // The new configuration answer restarts nothing.
  const std::string uri = s.open("a.tovix", DOC);
  round_trip(s, uri);
  EXPECT_EQ(child.record.pids().size(), 1u);
}

TEST(ChildE2E, AKilledChildLeavesMarkupWorkingAndTheNextConfigurationStartsANewOne) {
  Child child;
  EditorSession s(child.options());
  child.ready(s);
  const std::string a = s.open("a.tovix", DOC);
  const std::string b = s.open("b.tovix", MarkedText(PROPS_DOC).text);
  round_trip(s, a);
  ::kill(child.record.pids().at(0), SIGKILL);
  EXPECT_TRUE(s.log_line("luau-lsp exited — markup features only"));

  // Markup answers stay; Luau ones have nobody to ask.
  const json frame =
      s.result("textDocument/hover", EditorSession::at(a, position_of(DOC, std::string_view(DOC).find("Frame>") + 1)));
  EXPECT_TRUE(frame.at("contents").at("value").get<std::string>().starts_with("```luau\nFrame\n```")) << frame.dump();
  EXPECT_EQ(s.result("textDocument/hover", EditorSession::at(a, at_start(range_in(DOC, "value")))), json(nullptr));

  s.notify("workspace/didChangeConfiguration", {{"settings", nullptr}});
  child.ready(s, 2);
  round_trip(s, a);
  round_trip(s, b);
  std::set<std::string> opened;
  for (const json& line : child.lines_of(2))
    if (method_is(line, "textDocument/didOpen")) opened.insert(line.at("params").at("textDocument").at("uri"));
  EXPECT_EQ(opened, (std::set<std::string>{child.generated("a.tovix"), child.generated("b.tovix")}));
  EXPECT_NE(child.record.pids().at(1), child.record.pids().at(0));
}

TEST(ChildE2E, PropsOfAComponentFromTheChildsCompletionAtItsGeneratedCall) {
  const json child_items = {
      {"isIncomplete", true},
      {"items",
       {{{"label", "title"}, {"sortText", "1"}, {"kind", 5}, {"detail", "string"}, {"documentation", "The title."}},
        {{"label", "onClick"}, {"sortText", "1"}, {"kind", 3}, {"detail", "() -> ()"}, {"documentation", nullptr}},
        {{"label", "print"}, {"sortText", "4"}, {"kind", 3}}}}};
  Child child("", {{"results", {{"textDocument/completion", child_items}}}});
  EditorSession s(child.options());
  child.ready(s);
  const MarkedText doc(PROPS_DOC);
  const std::string uri = s.open("b.tovix", doc.text);
  const json list = s.result("textDocument/completion", EditorSession::at(uri, position_of(doc.text, *doc.cursor)));
  const json at = range_of(doc.text, *doc.cursor, *doc.cursor);
  EXPECT_EQ(list, (json{{"isIncomplete", true},
                        {"items",
                         {{{"detail", "string"},
                           {"documentation", "The title."},
                           {"kind", 10},
                           {"label", "title"},
                           {"sortText", "0title"},
                           {"textEdit", {{"newText", "title"}, {"range", at}}}},
                          {{"detail", "() -> ()"},
                           {"insertTextFormat", 2},
                           {"kind", 23},
                           {"label", "onClick"},
                           {"sortText", "0onClick"},
                           {"textEdit", {{"newText", "onClick={function() $1 end}"}, {"range", at}}}}}}}));
  // The child was asked just inside the props table of the generated call.
  const auto compiled = child.compile("b.tovix", doc.text);
  ASSERT_TRUE(compiled);
  auto asked = child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/completion"); });
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->at("params"), (json{{"position", position_of(compiled->code, compiled->code.find("Card({") + 6)},
                                       {"textDocument", {{"uri", child.generated("b.tovix")}}}}));
}

TEST(ChildE2E, AnAnswerAskedOfAStaleCompileSaysSo) {
  Child child("ask-configuration",
              {{"results", {{"textDocument/hover", hover_of("```luau\nlocal value: number\n```")}}}});
  SessionOptions options = child.options();
  options.auto_answer = false;
  EditorSession s(options);
  answer_configuration(s);
  child.ready(s);
  const std::string uri = s.open("a.tovix", DOC, 1);
  ASSERT_TRUE(s.diagnostics(uri));
  // An element left open: the text does not compile, the last compile stays.
  std::string broken = DOC;
  broken.replace(broken.find("<Card title=\"hi\" />"), 19, "<Card title=\"hi\"  >");
  s.change(uri, broken, 2);
  ASSERT_TRUE(s.diagnostics(uri, [](const json& list) { return !list.empty(); }));
  const int asked = s.send_request("textDocument/hover", EditorSession::at(uri, at_start(range_in(DOC, "value"))));
  ASSERT_TRUE(child.record.wait_for(s, [](const json& m) { return method_is(m, "textDocument/hover"); }));
  // Mended before the child answers: the answer still speaks of the old text.
  s.change(uri, DOC, 3);
  ASSERT_TRUE(s.diagnostics(uri, [](const json& list) { return list.empty(); }));
  auto held = s.server_request("workspace/configuration");
  ASSERT_TRUE(held);
  s.respond(held->at("id"), s.configuration_answer(*held));
  EXPECT_EQ(s.response(asked).at("result"),
            hover_of("```luau\nlocal value: number\n```\n\n---\n\n*From the last version that compiled.*"));
}

}  // namespace
}  // namespace tovix_lsp
