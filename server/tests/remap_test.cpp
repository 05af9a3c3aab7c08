#include "workspace/remap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "props_fixture.h"

namespace tovix_lsp::remap {
namespace {

using json = nlohmann::json;

// A protocol position counted here rather than by the line index, so the
// expectations do not lean on the code under test: lines by LF, columns in
// UTF-16 units (two for a four-byte character).
json utf16_position(std::string_view text, std::size_t offset) {
  std::size_t line = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  std::size_t units = 0;
  for (std::size_t i = start; i < offset; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return {{"character", units}, {"line", line}};
}

json range(json start, json end) { return {{"end", std::move(end)}, {"start", std::move(start)}}; }

json location(std::string_view uri, json range) { return {{"range", std::move(range)}, {"uri", uri}}; }

json text_document_edit(std::string_view uri, json edit) {
  return {{"edits", json::array({std::move(edit)})}, {"textDocument", {{"uri", uri}, {"version", 3}}}};
}

// A diagnostic as luau-lsp publishes one, with related information when given.
json diagnostic(json range, json related = nullptr) {
  json d = {{"code", 1000}, {"message", "m"}, {"range", std::move(range)}, {"severity", 1}, {"source", "Luau"}};
  if (!related.is_null())
    d["relatedInformation"] = json::array({json{{"location", std::move(related)}, {"message", "r"}}});
  return d;
}

std::size_t find(std::string_view text, std::string_view needle, int nth) {
  std::size_t at = text.find(needle);
  for (int i = 0; i < nth && at != std::string_view::npos; ++i) at = text.find(needle, at + 1);
  if (at == std::string_view::npos) ADD_FAILURE() << "no " << nth << "th '" << needle << "' in:\n" << text;
  return at == std::string_view::npos ? 0 : at;
}

// An open document compiled for real, its generated file named next to it.
// Places are named by a needle and which occurrence of it, in the document's
// current text (`src…`) or in the generated code of its compile (`out…`).
struct Doc {
  Doc(std::string uri, std::string text, std::string generated)
      : document(std::move(uri), std::move(text), 1), generated_uri(std::move(generated)) {
    compiled = analysis::Analysis::run(document, project::Project::bare("/p"), nullptr).compiled;
    EXPECT_TRUE(compiled) << document.text();
  }

  [[nodiscard]] Pair pair() const { return {&document, compiled, generated_uri}; }

  // Replaces the whole text; `reanalyse` compiles it again (keeping the old
  // compile, stale, when the new text does not compile), otherwise the old
  // compile stays as a request sent before the edit would hold it.
  void edit(std::string text, bool reanalyse) {
    EXPECT_TRUE(document.change(document.version() + 1, std::vector<json>{{{"text", std::move(text)}}}));
    if (!reanalyse) return;
    auto analysed = analysis::Analysis::run(document, project::Project::bare("/p"), compiled);
    compiled = analysed.compiled;
    stale = analysed.stale;
  }

  [[nodiscard]] std::string_view code() const { return compiled->code; }

  [[nodiscard]] json src(std::string_view needle, int nth = 0, std::size_t shift = 0) const {
    return utf16_position(document.text(), find(document.text(), needle, nth) + shift);
  }
  [[nodiscard]] json out(std::string_view needle, int nth = 0, std::size_t shift = 0) const {
    return utf16_position(code(), find(code(), needle, nth) + shift);
  }
  [[nodiscard]] json src_range(std::string_view needle, int nth = 0) const {
    return range(src(needle, nth), src(needle, nth, needle.size()));
  }
  [[nodiscard]] json out_range(std::string_view needle, int nth = 0) const {
    return range(out(needle, nth), out(needle, nth, needle.size()));
  }

  document::Document document;
  std::string generated_uri;
  std::shared_ptr<const analysis::Compiled> compiled;
  bool stale = false;
};

// Three uses of `count`: plain Luau (#0), inside a markup hole (#1) and after
// markup on the same line (#2), with astral characters before it on both
// sides; the generated file starts with an injected helper.
const char* const A_TEXT =
    "local create = vide.create\n"
    "local count = 1\n"
    "local e = <TextLabel Name=\"😀\">{count} left</TextLabel>; local z = \"😀\" .. count\n"
    "return e\n";
const char* const A_URI = "file:///p/a.tovix";
const char* const A_OUT = "file:///p/a.luau";

// Another open document, for answers that point into it.
const char* const B_TEXT =
    "local create = vide.create\n"
    "local function Card(props)\n"
    "\treturn <Frame Name={props.title} />\n"
    "end\n"
    "return Card\n";
const char* const B_URI = "file:///p/b.tovix";
const char* const B_OUT = "file:///p/b.luau";

struct Case {
  const char* name;
  json input;
  std::optional<json> expected;  // nothing: the value has no counterpart
  bool lost = false;
};

std::string shown(const std::optional<json>& value) { return value ? value->dump() : "(nothing)"; }

void check(const Doc& doc, Direction direction, const std::vector<Case>& cases, const Lookup& others = {}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Remap remap(doc.pair(), direction, others);
    EXPECT_EQ(shown(remap.value(c.input)), shown(c.expected));
    EXPECT_EQ(remap.lost(), c.lost);
  }
}

TEST(Remap, ChildPayloadsMoveIntoTheSource) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const json third = {{"uri", "file:///p/other.luau"},
                      {"range", range({{"character", 1}, {"line", 0}}, {{"character", 2}, {"line", 0}})}};
  const json edit_ok = {{"newText", "n"}, {"range", a.out_range("count", 2)}};
  const json edit_ok_moved = {{"newText", "n"}, {"range", a.src_range("count", 2)}};
  const json edit_lost = {{"newText", "n"}, {"range", a.out_range("__tovix_read")}};
  const json nested = {{"a", {{"b", {1, "x", nullptr, true, {{"c", 2.5}}}}}},
                       {"d", json::array()},
                       {"e", json::object()}};
  const std::vector<Case> cases = {
      {"position in Luau", a.out("count"), a.src("count")},
      {"position in a hole", a.out("count", 1), a.src("count", 1)},
      {"position after astral characters on both sides", a.out("count", 2), a.src("count", 2)},
      {"position just after a hole's code (end lookup)", a.out("count", 1, 5), a.src("count", 1, 5)},
      {"position in generated-only text", a.out("__tovix_read"), std::nullopt},
      {"positions in an array, one generated-only",
       {a.out("count"), a.out("create(\"TextLabel\")", 0, 2)},
       json::array({a.src("count")}),
       true},
      {"range of an astral character", a.out_range("😀"), a.src_range("😀")},
      {"range across two runs", range(a.out("Name"), a.out("count", 1, 5)), std::nullopt},
      {"range with a third member keeps only its ends",
       {{"end", a.out("count", 1, 5)}, {"start", a.out("count", 1)}, {"x", 1}},
       a.src_range("count", 1)},
      {"position with a third member is copied",
       {{"character", 0}, {"line", 0}, {"x", 1}},
       json{{"character", 0}, {"line", 0}, {"x", 1}}},
      {"positions that are no position of the generated text are left out",
       {{"p", {{"character", 0}, {"line", -1}}},
        {"q", {{"character", 0}, {"line", 1.5}}},
        {"r", {{"character", 0}, {"line", 999}}},
        {"s", {{"character", 0}, {"line", std::uint64_t{1} << 40}}},
        {"t", {{"character", 6}, {"line", (std::uint64_t{1} << 32) + 1}}},  // never wrapped to line 1
        {"u", {{"character", "0"}, {"line", 0}}},
        {"kept", 1}},
       json{{"kept", 1}},
       true},
      {"a range past the end of the generated text",
       range({{"character", 0}, {"line", 0}}, {{"character", 0}, {"line", 999}}), std::nullopt},
      {"a range with one end at a negative line", range(a.out("count"), {{"character", 0}, {"line", -1}}),
       std::nullopt},
      {"an edit over lines the generated text does not have is dropped, not passed on",
       {{"changes",
         {{A_OUT,
           {edit_ok,
            {{"newText", "x"},
             {"range", range({{"character", 0}, {"line", 0}}, {{"character", 0}, {"line", 999}})}}}}}}},
       json{{"changes", {{A_URI, json::array({edit_ok_moved})}}}},
       true},
      {"a hover whose range lies past the end",
       {{"contents", "x"}, {"range", range({{"character", 0}, {"line", 999}}, {{"character", 1}, {"line", 999}})}},
       std::nullopt,
       true},
      {"the end of the text is a position of it", {{"character", 0}, {"line", 4}}, a.src("return e\n", 0, 9)},
      {"location of the generated file",
       {{"uri", A_OUT}, {"range", a.out_range("count", 1)}},
       json{{"range", a.src_range("count", 1)}, {"uri", A_URI}}},
      {"locations, one in generated-only text",
       {{{"uri", A_OUT}, {"range", a.out_range("count")}}, {{"uri", A_OUT}, {"range", a.out_range("__tovix_read")}}},
       json::array({{{"range", a.src_range("count")}, {"uri", A_URI}}}),
       true},
      {"location link in this document",
       {{"originSelectionRange", a.out_range("count", 2)},
        {"targetRange", a.out_range("count")},
        {"targetSelectionRange", a.out_range("count")},
        {"targetUri", A_OUT}},
       json{{"originSelectionRange", a.src_range("count", 2)},
            {"targetRange", a.src_range("count")},
            {"targetSelectionRange", a.src_range("count")},
            {"targetUri", A_URI}}},
      {"text edits, one in generated-only text", {edit_ok, edit_lost}, json::array({edit_ok_moved}), true},
      {"workspace edit: changes keyed by the generated file",
       {{"changes", {{A_OUT, {edit_ok, edit_lost}}}}},
       json{{"changes", {{A_URI, json::array({edit_ok_moved})}}}},
       true},
      {"workspace edit: document changes",
       {{"documentChanges", json::array({text_document_edit(A_OUT, edit_ok)})}},
       json{{"documentChanges", json::array({text_document_edit(A_URI, edit_ok_moved)})}}},
      {"diagnostics with related information, one in generated-only text",
       json::array({diagnostic(a.out_range("count", 2), location(A_OUT, a.out_range("count"))),
                    diagnostic(a.out_range("create(\"TextLabel\")"))}),
       json::array({diagnostic(a.src_range("count", 2), location(A_URI, a.src_range("count")))}), true},
      {"hover whose range does not move",
       {{"contents", {{"kind", "markdown"}, {"value", "x"}}}, {"range", a.out_range("__tovix_read")}},
       std::nullopt,
       true},
      {"a range under another member is left out",
       {{"name", "n"}, {"other", a.out_range("__tovix_read")}},
       json{{"name", "n"}},
       true},
      {"a symbol without its selection range goes",
       json::array({{{"name", "n"}, {"range", a.out_range("count")}, {"selectionRange", a.out_range("__tovix_read")}}}),
       json::array(), true},
      {"values without positions", nested, nested},
      {"a plain string is never a URI", {{"data", A_OUT}}, json{{"data", A_OUT}}},
      {"a uri that is not a string", {{{"uri", 5}}, 1}, json::array({1}), true},
      {"another file's location is copied, a nested one of this file moves",
       {{"uri", "file:///p/other.luau"},
        {"range", third.at("range")},
        {"inner", {{"uri", A_OUT}, {"range", a.out_range("count")}}}},
       json{{"inner", {{"range", a.src_range("count")}, {"uri", A_URI}}},
            {"range", third.at("range")},
            {"uri", "file:///p/other.luau"}}},
      {"another file's positions are its own: copied, wherever they are",
       {{"uri", "file:///p/other.luau"},
        {"range", range({{"character", 0}, {"line", 998}}, {{"character", 0}, {"line", 999}})}},
       json{{"range", range({{"character", 0}, {"line", 998}}, {{"character", 0}, {"line", 999}})},
            {"uri", "file:///p/other.luau"}}},
      {"but never one that is no position of any file",
       {{"uri", "file:///p/other.luau"},
        {"range", range({{"character", 0}, {"line", -1}}, {{"character", 0}, {"line", 999}})}},
       std::nullopt,
       true},
      {"a URI spelt differently names the same file",
       {{"uri", "file:///p//a.luau"}, {"range", a.out_range("count")}},
       json{{"range", a.src_range("count")}, {"uri", A_URI}}},
  };
  check(a, Direction::ToSource, cases);
}

// Whatever the child sends, what reaches the editor has the protocol's
// shapes where the walk looks: an item whose range, position, location or
// lines are not of their form goes as one that does not map.
TEST(Remap, ItemsOfTheWrongShapeAreDropped) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const char* const other = "file:///p/other.luau";
  const json ok = a.out_range("count");
  const json ok_moved = a.src_range("count");
  const json start_and_end_not_positions = {{"end", {2}}, {"start", 1}};
  const auto highlight = [](json range) { return json{{"kind", 1}, {"range", std::move(range)}}; };
  const auto fold = [](json start, json end) {
    return json{{"endLine", std::move(end)}, {"startLine", std::move(start)}};
  };
  const auto hint = [](json position) { return json{{"label", ": number"}, {"position", std::move(position)}}; };
  const auto related = [](json location) { return json{{"location", std::move(location)}, {"message", "r"}}; };
  const auto with_related = [](json range, json list) {
    json d = diagnostic(std::move(range));
    d["relatedInformation"] = std::move(list);
    return d;
  };
  const std::vector<Case> cases = {
      {"locations whose range is a string or holds no positions",
       {location(A_OUT, "range"), location(A_OUT, start_and_end_not_positions), location(A_OUT, nullptr),
        location(A_OUT, ok)},
       json::array({location(A_URI, ok_moved)}),
       true},
      {"another file's location whose range is no range",
       {location(other, "range"), location(other, start_and_end_not_positions),
        location(other, range({{"character", 0}, {"line", 1.5}}, {{"character", 0}, {"line", 2}})),
        location(other, ok)},
       json::array({location(other, ok)}),
       true},
      {"a location link whose target range is no range",
       {{{"targetRange", "x"}, {"targetSelectionRange", ok}, {"targetUri", A_OUT}},
        {{"originSelectionRange", {{"start", ok.at("start")}}},
         {"targetRange", ok},
         {"targetSelectionRange", ok},
         {"targetUri", A_OUT}}},
       json::array(),
       true},
      {"document highlights with a null range, a numeric one",
       {highlight(nullptr), highlight(5), highlight(ok)},
       json::array({highlight(ok_moved)}),
       true},
      {"a hover whose range is a string", {{"contents", "x"}, {"range", "range"}}, std::nullopt, true},
      {"folding ranges past the end, of a string, of a negative or fractional line",
       {fold(1000000000, 1), fold("x", 2), fold(0, -1), fold(0.5, 2), fold(0, nullptr), fold(0, 3),
        json{{"endLine", 3}, {"kind", "region"}, {"startLine", 1}}},
       json::array({fold(0, 3), json{{"endLine", 3}, {"kind", "region"}, {"startLine", 1}}}),
       true},
      {"inlay hints at a string, a point without a line, a generated-only place",
       {hint("nowhere"), hint({{"character", 0}}), hint(a.out("__tovix_read")), hint(a.out("count", 2))},
       json::array({hint(a.src("count", 2))}),
       true},
      {"related information whose location is no location, or lies nowhere",
       with_related(
           ok, {related(5), related(location(A_OUT, "range")), related(location(A_OUT, a.out_range("__tovix_read"))),
                related(location(A_OUT, ok)), related(location(other, ok))}),
       with_related(ok_moved, {related(location(A_URI, ok_moved)), related(location(other, ok))}), true},
  };
  check(a, Direction::ToSource, cases);

  // A rename's edits of the wrong shape are lost, so the rename is refused.
  Remap rename(a.pair(), Direction::ToSource);
  const auto edits = rename.value(
      {{"changes", {{A_OUT, {{{"newText", "n"}, {"range", ok}}, {{"newText", "n"}, {"range", "everywhere"}}}}}}});
  EXPECT_EQ(shown(edits), shown(json{{"changes", {{A_URI, {{{"newText", "n"}, {"range", ok_moved}}}}}}}));
  EXPECT_TRUE(rename.lost());

  check(a, Direction::ToOutput,
        {{"position params whose position is a string",
          {{"position", "nowhere"}, {"textDocument", {{"uri", A_URI}}}},
          std::nullopt,
          true}});
}

TEST(Remap, EditorPayloadsMoveIntoTheGeneratedFile) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const std::vector<Case> cases = {
      {"position params",
       {{"position", a.src("count", 1)}, {"textDocument", {{"uri", A_URI}}}},
       json{{"position", a.out("count", 1)}, {"textDocument", {{"uri", A_OUT}}}}},
      {"position params on a tag name",
       {{"position", a.src("TextLabel")}, {"textDocument", {{"uri", A_URI}}}},
       std::nullopt,
       true},
      // A point at a run's end maps as the end of what came before.
      {"position where markup starts", a.src("<TextLabel"), a.out("create(")},
      {"position at the end of the text", {{"character", 0}, {"line", 4}}, a.out("return e\n", 0, 9)},
      // Never a made-up place in the generated file: the request has no
      // counterpart there.
      {"position params past the end of the source",
       {{"position", {{"character", 0}, {"line", 999}}}, {"textDocument", {{"uri", A_URI}}}},
       std::nullopt,
       true},
      {"position params at a negative line",
       {{"position", {{"character", 0}, {"line", -1}}}, {"textDocument", {{"uri", A_URI}}}},
       std::nullopt,
       true},
      {"a range past the end of the source", range(a.src("count"), {{"character", 0}, {"line", 999}}), std::nullopt},
      {"range after astral characters", a.src_range("count", 2), a.out_range("count", 2)},
      {"changes keyed by the source document",
       {{"changes", {{A_URI, {{{"newText", "n"}, {"range", a.src_range("count")}}}}}}},
       json{{"changes", {{A_OUT, {{{"newText", "n"}, {"range", a.out_range("count")}}}}}}}},
  };
  check(a, Direction::ToOutput, cases);
}

TEST(Remap, CrlfDocuments) {
  const Doc a("file:///p/c.tovix",
              "local create = vide.create\r\nlocal count = 1\r\nlocal e = <Frame Name=\"😀\"/>\r\nreturn count\r\n",
              "file:///p/c.luau");
  ASSERT_NE(a.code().find("\r\n"), std::string_view::npos);
  const std::vector<Case> to_source = {
      {"range on a line after CR LF breaks", a.out_range("count", 1), a.src_range("count", 1)},
      {"astral character in a quoted value", a.out_range("\"😀\""), a.src_range("\"😀\"")},
      // Past the end of a line clamps before its CR, which both texts share.
      {"column past the line's end", {{"character", 99}, {"line", 1}}, a.src("\r\nlocal e")},
      {"range over a line's break", range(a.out("1\r\n"), a.out("local e")), range(a.src("1\r\n"), a.src("local e"))},
  };
  check(a, Direction::ToSource, to_source);
  const std::vector<Case> to_output = {
      {"position before a CR", a.src("\r\nlocal e"), a.out("\r\nlocal e")},
      {"position in markup", a.src("Frame"), std::nullopt},
  };
  check(a, Direction::ToOutput, to_output);
}

TEST(Remap, StaleCompileMovesOnlyOnUnchangedLines) {
  Doc a(A_URI, A_TEXT, A_OUT);
  // Line 2 no longer compiles; the line count holds, so the compile stays.
  a.edit("local create = vide.create\nlocal count = 1\nlocal e = <TextLabel>{count} left; local z = count\nreturn e\n",
         true);
  ASSERT_TRUE(a.stale);
  const std::vector<Case> to_source = {
      {"unchanged line", a.out_range("count"), a.src_range("count")},
      {"unchanged line after the change", a.out_range("return e"), a.src_range("return e")},
      {"changed line, though its text maps", a.out_range("count", 2), std::nullopt},
      {"diagnostics, one on the changed line",
       {{{"range", a.out_range("count")}}, {{"range", a.out_range("count", 2)}}, {{"range", a.out_range("return e")}}},
       json::array({{{"range", a.src_range("count")}}, {{"range", a.src_range("return e")}}}),
       true},
  };
  check(a, Direction::ToSource, to_source);
  const std::vector<Case> to_output = {
      {"unchanged line", a.src("return e", 0, 7), a.out("return e", 0, 7)},
      {"changed line", a.src("count", 2), std::nullopt},
  };
  check(a, Direction::ToOutput, to_output);

  // Unfinished markup typed on a new line: the compile stays, and the lines
  // after the new one move down a line on their way back.
  Doc b(A_URI, A_TEXT, A_OUT);
  b.edit(
      "local create = vide.create\nlocal probe = <Tex\nlocal count = 1\n"
      "local e = <TextLabel Name=\"😀\">{count} left</TextLabel>; local z = \"😀\" .. count\nreturn e\n",
      true);
  ASSERT_TRUE(b.stale);
  const std::vector<Case> added_source = {
      {"before the new line", b.out_range("create"), b.src_range("create")},
      {"in a hole after it", b.out_range("count", 1), b.src_range("count", 1)},
      {"after markup after it", b.out_range("count", 2), b.src_range("count", 2)},
  };
  check(b, Direction::ToSource, added_source);
  const std::vector<Case> added_output = {
      {"in a hole after the new line", b.src("count", 1), b.out("count", 1)},
      {"on the new line", b.src("probe"), std::nullopt},
  };
  check(b, Direction::ToOutput, added_output);
}

TEST(Remap, AnswerToAnOlderCompileAfterLinesMoved) {
  // A request was sent against this compile; two lines were added above the
  // markup and one changed below before the answer came.
  Doc a(A_URI, A_TEXT, A_OUT);
  a.edit(std::string("-- one\n-- two\n") + A_TEXT, false);
  const std::vector<Case> shifted = {
      {"a line after the inserted ones", a.out_range("count", 2), a.src_range("count", 2)},
      {"the first line", a.out_range("local create"), a.src_range("local create")},
      {"a folding range moves with its lines",
       {{"endLine", 3}, {"kind", "region"}, {"startLine", 2}},
       json{{"endLine", 5}, {"kind", "region"}, {"startLine", 4}}},
  };
  check(a, Direction::ToSource, shifted);

  a.edit(std::string("-- one\n-- two\n") + "local create = vide.create\nlocal count = 1\nlocal e = 1\nreturn e\n",
         false);
  const std::vector<Case> both_ends = {
      // Only the lines before the first difference and after the last count.
      {"between the insertion and the change", a.out_range("count"), std::nullopt},
      {"the changed line", a.out_range("count", 2), std::nullopt},
      {"after the change", a.out_range("return e"), a.src_range("return e")},
      {"a folding range into the changed lines", {{"endLine", 3}, {"startLine", 1}}, std::nullopt},
      {"a folding range after them", {{"endLine", 4}, {"startLine", 3}}, json{{"endLine", 6}, {"startLine", 5}}},
  };
  check(a, Direction::ToSource, both_ends);

  // Text typed at the end of a line changes that line, not the next; a
  // last line without a break stays the same line when lines are added
  // after it, and changes when text is.
  const char* const short_text = "local create = vide.create\nlocal count = 1\nreturn count";
  struct LineEnd {
    const char* edited;
    const char* name;
    int count;  // which `count` of the generated code
    bool same;
  } line_ends[] = {
      {"local create = vide.create\nlocal count = 1 <\nreturn count", "typed at the end of a line", 0, false},
      {"local create = vide.create\nlocal count = 1 <\nreturn count", "the line after it", 1, true},
      {"local create = vide.create\nlocal count = 1\nreturn count\nlocal q = <", "lines added after the last", 1, true},
      {"local create = vide.create\nlocal count = 1\nreturn count2", "text added to the last line", 1, false},
      {"local create = vide.create\nlocal count = 1 return count", "a line joined to the one before", 1, false},
      {"local create = vide.create\nlocal probe = <\nlocal count = 1\nreturn count",
       "a line typed above one that starts alike", 0, true},
  };
  for (const auto& l : line_ends) {
    Doc c("file:///p/e.tovix", short_text, "file:///p/e.luau");
    c.edit(l.edited, false);
    const auto out = c.out_range("count", l.count);
    check(c, Direction::ToSource,
          {{l.name, out, l.same ? std::optional(c.src_range("count", l.count)) : std::nullopt}});
  }

  // A line that reads alike at the same place is not taken for the same
  // line: here the "end" on line 2 is another one.
  Doc b("file:///p/d.tovix", "local create = vide.create\nlocal a = 1\nend\nend\nlocal y = <Frame/>\n",
        "file:///p/d.luau");
  b.edit("local create = vide.create\nend\nend\nlocal a = 1\nlocal y = <Frame/>\n", false);
  const std::vector<Case> alike = {
      {"a line that reads alike", b.out_range("end"), std::nullopt},
      {"a line after the change", b.out_range("local y"), b.src_range("local y")},
  };
  check(b, Direction::ToSource, alike);
}

TEST(Remap, EachUriTakesTheScopeOfItsDocument) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const Doc b(B_URI, B_TEXT, B_OUT);
  Doc uncompiled(B_URI, B_TEXT, B_OUT);
  uncompiled.compiled = nullptr;
  const Lookup others = [&](std::string_view uri) -> std::optional<Pair> {
    if (names(b.pair(), uri)) return b.pair();
    return std::nullopt;
  };
  const json plain = {{"uri", "file:///p/util.luau"},
                      {"range", range({{"character", 3}, {"line", 40}}, {{"character", 9}, {"line", 40}})}};
  const json b_link = {{"originSelectionRange", a.out_range("count", 2)},
                       {"targetRange", b.out_range("props.title")},
                       {"targetSelectionRange", b.out_range("Card", 1)},
                       {"targetUri", B_OUT}};
  const std::vector<Case> cases = {
      {"location link into another document", b_link,
       json{{"originSelectionRange", a.src_range("count", 2)},
            {"targetRange", b.src_range("props.title")},
            {"targetSelectionRange", b.src_range("Card", 1)},
            {"targetUri", B_URI}}},
      {"location in another document",
       {{"uri", B_OUT}, {"range", b.out_range("props.title")}},
       json{{"range", b.src_range("props.title")}, {"uri", B_URI}}},
      {"location in another document's generated-only text",
       json::array({{{"uri", B_OUT}, {"range", b.out_range("create(")}}}), json::array(), true},
      {"location in a plain Luau file", plain, plain},
      {"location link into a plain Luau file",
       {{"originSelectionRange", a.out_range("count")},
        {"targetRange", plain.at("range")},
        {"targetSelectionRange", plain.at("range")},
        {"targetUri", "file:///p/util.luau"}},
       json{{"originSelectionRange", a.src_range("count")},
            {"targetRange", plain.at("range")},
            {"targetSelectionRange", plain.at("range")},
            {"targetUri", "file:///p/util.luau"}}},
      {"changes keyed by three files",
       {{"changes",
         {{A_OUT, {{{"newText", "a"}, {"range", a.out_range("count")}}}},
          {B_OUT, {{{"newText", "b"}, {"range", b.out_range("Card", 1)}}}},
          {"file:///p/util.luau", {{{"newText", "u"}, {"range", plain.at("range")}}}}}}},
       json{{"changes",
             {{A_URI, {{{"newText", "a"}, {"range", a.src_range("count")}}}},
              {B_URI, {{{"newText", "b"}, {"range", b.src_range("Card", 1)}}}},
              {"file:///p/util.luau", {{{"newText", "u"}, {"range", plain.at("range")}}}}}}}},
      {"document changes of another document",
       {{"documentChanges",
         {{{"edits", {{{"newText", "b"}, {"range", b.out_range("Card", 1)}}}},
           {"textDocument", {{"uri", B_OUT}, {"version", nullptr}}}}}}},
       json{{"documentChanges",
             {{{"edits", {{{"newText", "b"}, {"range", b.src_range("Card", 1)}}}},
               {"textDocument", {{"uri", B_URI}, {"version", nullptr}}}}}}}},
  };
  check(a, Direction::ToSource, cases, others);

  // Without a way to find it, the other document is a plain file.
  json unknown = b_link;
  unknown["originSelectionRange"] = a.src_range("count", 2);
  check(a, Direction::ToSource, {{"unknown document", b_link, unknown}});

  // A document without a compile has nothing to move through.
  const Lookup without = [&](std::string_view uri) -> std::optional<Pair> {
    if (names(uncompiled.pair(), uri)) return uncompiled.pair();
    return std::nullopt;
  };
  check(a, Direction::ToSource, {{"document without a compile", json::array({b_link}), json::array(), true}}, without);

  // Towards the child, a source URI of another document becomes its generated one.
  check(a, Direction::ToOutput,
        {{"changes keyed by another source",
          {{"changes", {{B_URI, {{{"newText", "b"}, {"range", b.src_range("Card", 1)}}}}}}},
          json{{"changes", {{B_OUT, {{{"newText", "b"}, {"range", b.out_range("Card", 1)}}}}}}}}},
        others);
}

TEST(Remap, AnswersDropItemsThatLostPartOfTheirEdits) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const json ok = {{"newText", "n"}, {"range", a.out_range("count")}};
  const json bad = {{"newText", "n"}, {"range", a.out_range("__tovix_read")}};
  const auto action = [&](const char* title, json edits) {
    return json{{"edit", {{"changes", {{A_OUT, std::move(edits)}}}}}, {"kind", "quickfix"}, {"title", title}};
  };
  const json command = {{"command", {{"command", "c"}, {"title", "t"}}}, {"title", "command only"}};
  const json actions = {action("whole", {ok}), action("half", {ok, bad}), command};

  Remap answer(a.pair(), Direction::ToSource);
  const auto moved = answer.answer(actions);
  ASSERT_TRUE(moved);
  ASSERT_EQ(moved->size(), 2u);
  EXPECT_EQ(moved->at(0).at("title"), "whole");
  EXPECT_EQ(moved->at(0).at("edit").at("changes").at(A_URI).at(0).at("range"), a.src_range("count"));
  EXPECT_EQ(moved->at(1), command);
  EXPECT_TRUE(answer.lost());

  // A rename keeps the half it could move and tells that it lost the rest.
  Remap rename(a.pair(), Direction::ToSource);
  const auto kept = rename.value(actions);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->size(), 3u);
  EXPECT_EQ(kept->at(1).at("edit").at("changes").at(A_URI).size(), 1u);
  EXPECT_TRUE(rename.lost());

  const json past_the_end = {{"newText", "n"},
                             {"range", range({{"character", 0}, {"line", 999}}, {{"character", 1}, {"line", 999}})}};
  const auto insert_replace = [](json insert, json replace) {
    return json{{"insert", std::move(insert)}, {"newText", "n"}, {"replace", std::move(replace)}};
  };
  const json items = {
      {"isIncomplete", false},
      {"items",
       {{{"label", "text edit"}, {"textEdit", ok}},
        {{"label", "lost text edit"}, {"textEdit", bad}},
        {{"label", "lost additional edit"}, {"textEdit", ok}, {"additionalTextEdits", {ok, bad}}},
        {{"label", "lost insert-replace half"},
         {"textEdit", insert_replace(a.out_range("count"), a.out_range("__tovix_read"))}},
        {{"label", "an edit past the end of the text"}, {"textEdit", past_the_end}},
        {{"label", "an additional edit past the end"}, {"additionalTextEdits", {past_the_end}}},
        {{"label", "an edit whose range is a string"}, {"textEdit", {{"newText", "n"}, {"range", "x"}}}},
        {{"label", "an insert range that is none"}, {"textEdit", insert_replace("x", a.out_range("count"))}},
        {{"label", "a replace range past the end"},
         {"textEdit", insert_replace(a.out_range("count"), past_the_end.at("range"))}},
        {{"label", "an additional edit without positions"},
         {"additionalTextEdits", {{{"newText", "n"}, {"range", {{"end", {2}}, {"start", 1}}}}}}},
        {{"label", "plain"}}}}};
  Remap completion(a.pair(), Direction::ToSource);
  const auto list = completion.answer(items);
  ASSERT_TRUE(list);
  std::vector<std::string> labels;
  for (const json& item : list->at("items")) labels.push_back(item.at("label"));
  EXPECT_EQ(labels, (std::vector<std::string>{"text edit", "plain"}));
  EXPECT_EQ(list->at("isIncomplete"), false);

  // A lone item (a resolve answer) that lost an edit gives no answer.
  Remap resolve(a.pair(), Direction::ToSource);
  EXPECT_FALSE(resolve.answer(items.at("items").at(1)));
  EXPECT_TRUE(resolve.lost());
}

TEST(Remap, ChildDiagnosticsAreNarrowedToWhatShowsInTheSource) {
  Doc a("file:///p/n.tovix", testing_support::PROPS_TABLES, "file:///p/n.luau");
  const auto span = [](json start, json end) { return range(std::move(start), std::move(end)); };
  const auto point = [](json at) { return range(at, at); };
  // The range of `inner` inside the first `needle` of the generated code.
  const auto out_in = [&](std::string_view needle, std::string_view inner) {
    const std::size_t shift = needle.find(inner);
    return range(a.out(needle, 0, shift), a.out(needle, 0, shift + inner.size()));
  };
  struct Narrowed {
    const char* name;
    json range;                    // in the generated code
    std::optional<json> expected;  // in the source; nothing: left out
  } cases[] = {
      {"a range that maps whole", a.out_range("props.Title"), a.src_range("props.Title")},
      {"a props table: from its first mapped piece to its last", a.out_range("{ Title = 5 }"),
       span(a.src("Title={5"), a.src("Title={5", 0, 8))},
      {"a statement reaching into markup", span(a.out("local a"), a.out("5 })", 0, 4)),
       span(a.src("local a"), a.src("Title={5", 0, 8))},
      {"a multi-line props table", span(a.out("{\n    Title = true"), a.out("  }),")),
       span(a.src("Title={true"), a.src("Title={true", 0, 11))},
      {"an empty props table: the component's name", out_in("Card({})", "{}"), a.src_range("Card", 2)},
      {"a point in it", point(a.out("{})", 0, 1)), a.src_range("Card", 2)},
      {"a class element's head", a.out_range("create(\"Frame\")"), a.src_range("Frame")},
      {"the end of a component's call inside a class element", a.out_range("  })"), a.src_range("Card", 3)},
      // Its call ends before the comma: the element around it holds both.
      {"and the comma after it", a.out_range("  }),"), a.src_range("Frame")},
      {"the end of the class element around it", point(a.out("})\nlocal d", 0, 1)), a.src_range("Frame")},
      {"a spread's merge call", a.out_range("__tovix_merge(a"), span(a.src("{a}", 0, 1), a.src("{a}", 0, 2))},
      {"a merge call that holds no mapped piece", a.out_range("__tovix_merge(", 1), a.src_range("Frame", 2)},
      {"a component among a merge call's children", out_in("Card({}) })", "({})"), a.src_range("Card", 4)},
      {"across the siblings of a fragment: the first it reaches", a.out_range("{ create(\"Frame\")({}), create"),
       a.src_range("Frame", 4)},
      {"the second sibling", out_in("create(\"Frame\")({}) }", "create(\"Frame\")({})"), a.src_range("Frame", 5)},
      {"the injected helper: left out", a.out_range("local function __tovix_merge"), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Remap remap(a.pair(), Direction::ToSource);
    const json published = json::array({diagnostic(c.range)});
    const auto moved = remap.diagnostics(published);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->dump(), (c.expected ? json::array({diagnostic(*c.expected)}) : json::array()).dump());
    // Only diagnostics are narrowed: any other payload drops what does not
    // map whole.
    Remap plain(a.pair(), Direction::ToSource);
    const auto whole = plain.value(published);
    const bool maps_whole = std::string(c.name) == "a range that maps whole";
    EXPECT_EQ(whole->size(), maps_whole ? 1u : 0u);
  }

  // A fix carried in a diagnostic's data is an edit: never narrowed.
  Remap remap(a.pair(), Direction::ToSource);
  json with_fix = diagnostic(out_in("Card({})", "{}"));
  with_fix["data"] = {{"edits", json::array({{{"newText", "x"}, {"range", out_in("Card({})", "{}")}},
                                             {{"newText", "y"}, {"range", a.out_range("props.Title")}}})}};
  json narrowed = diagnostic(a.src_range("Card", 2));
  narrowed["data"] = {{"edits", json::array({{{"newText", "y"}, {"range", a.src_range("props.Title")}}})}};
  EXPECT_EQ(shown(remap.diagnostics(json::array({with_fix}))), shown(json::array({narrowed})));

  // Through a compile older than the text: a line typed above moves them down.
  a.edit(std::string("local probe = <Tex\n") + std::string(a.document.text()), true);
  ASSERT_TRUE(a.stale);
  Remap stale(a.pair(), Direction::ToSource);
  EXPECT_EQ(shown(stale.diagnostics(
                json::array({diagnostic(a.out_range("{ Title = 5 }")), diagnostic(out_in("Card({})", "{}"))}))),
            shown(json::array(
                {diagnostic(span(a.src("Title={5"), a.src("Title={5", 0, 8))), diagnostic(a.src_range("Card", 2))})));
}

TEST(Remap, InlayHintRangeMovesByWholeLines) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const auto line = [](std::uint32_t l, std::uint32_t c) { return json{{"character", c}, {"line", l}}; };
  struct LinesCase {
    const char* name;
    json range;
    std::optional<json> expected;
  } cases[] = {
      // The markup on line 2 would never map as a range.
      {"lines across markup", range(a.src("TextLabel"), a.src("count", 2)), range(line(2, 0), line(3, 0))},
      {"to the last line", range(line(1, 4), line(4, 0)), range(line(1, 0), a.out("return e\n", 0, 9))},
      {"past the last line", range(line(0, 0), line(90, 0)), range(line(0, 0), a.out("return e\n", 0, 9))},
      {"reversed", range(line(2, 0), line(1, 0)), std::nullopt},
      {"not a range", json{{"start", 1}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Remap remap(a.pair(), Direction::ToOutput);
    EXPECT_EQ(shown(remap.whole_lines(c.range)), shown(c.expected));
  }

  // Lines added and removed since the compile: the unchanged lines keep their
  // place, and a range reaching into the changed ones takes in all of them.
  Doc b(A_URI, A_TEXT, A_OUT);
  b.edit("-- one\n-- two\nlocal create = vide.create\nlocal count = 1 <\nreturn e\n", false);
  LinesCase moved[] = {
      {"unchanged lines after the change", range(line(4, 0), line(4, 3)), range(line(3, 0), a.out("return e\n", 0, 9))},
      {"into the changed stretch", range(line(1, 0), line(1, 2)), range(line(0, 0), line(3, 0))},
      {"all of it", range(line(0, 0), line(5, 0)), range(line(0, 0), a.out("return e\n", 0, 9))},
  };
  for (const auto& c : moved) {
    SCOPED_TRACE(c.name);
    Remap remap(b.pair(), Direction::ToOutput);
    EXPECT_EQ(shown(remap.whole_lines(c.range)), shown(c.expected));
  }

  Remap remap(a.pair(), Direction::ToOutput);
  const auto params = remap.inlay_hint_params(
      {{"range", range(a.src("TextLabel"), a.src("count", 2))}, {"textDocument", {{"uri", A_URI}}}});
  EXPECT_EQ(shown(params), shown(json{{"range", range(line(2, 0), line(3, 0))}, {"textDocument", {{"uri", A_OUT}}}}));
  EXPECT_FALSE(remap.lost());
}

TEST(Remap, DeepNestingIsCutNotFollowed) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  // Built and handed over by moves: copying a value this deep would itself
  // recurse as deep.
  json deep = json::array();
  for (int i = 0; i < 5000; ++i) {
    json outer = json::array();
    outer.push_back(std::move(deep));
    deep = std::move(outer);
  }
  Remap remap(a.pair(), Direction::ToSource);
  const auto moved = remap.value(std::move(deep));
  ASSERT_TRUE(moved);
  EXPECT_TRUE(remap.lost());
}

}  // namespace
}  // namespace tovix_lsp::remap
