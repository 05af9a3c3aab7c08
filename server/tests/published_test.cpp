// The child's diagnostics kept as text and moved by their ranges alone must
// reach the editor as exactly the bytes that reading them as values, moving
// those (`Remap::diagnostics`) and writing each again gives: checked on lists
// of every form, in the form luau-lsp writes and in others, through a fresh
// compile and through one older than the text.

#include "workspace/published.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/jsonrpc.h"
#include "editor_session.h"
#include "workspace/analysis.h"
#include "workspace/remap.h"

namespace tovix_lsp::published {
namespace {

using json = nlohmann::json;
using remap::Direction;
using remap::Pair;
using remap::Remap;
using testing::range_of;

constexpr std::string_view HEAD =
    R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
constexpr std::string_view TAIL = R"(],"uri":"file:///p/a.luau","version":1}})";

// A spread (the merge helper goes in front of the first line), reactive
// text (the read helper), astral characters on both sides of markup, and
// an element over several lines.
const char* const A_TEXT =
    "local create = vide.create\n"
    "local count = 1\n"
    "local props = { Size = 2 }\n"
    "local e = <TextLabel Name=\"😀\" {props}>{count} left</TextLabel>; local z = \"😀\" .. count\n"
    "local f = <Frame>\n"
    "  <TextLabel Text=\"ünï\" />\n"
    "</Frame>\n"
    "return e, f\n";
const char* const A_URI = "file:///p/a.tovix";
const char* const A_OUT = "file:///p/a.luau";

// Another open document, named by related information.
const char* const B_TEXT = "local create = vide.create\nlocal card = <Frame Name=\"card\" />\nreturn card\n";
const char* const B_URI = "file:///p/b.tovix";
const char* const B_OUT = "file:///p/b.luau";

// A document compiled for real; places in its generated code are named by a
// needle and which occurrence of it.
struct Doc {
  Doc(std::string uri, std::string text, std::string generated)
      : document(std::move(uri), std::move(text), 1),
        compiled(analysis::Analysis::run(document, project::Project::bare("/p"), nullptr).compiled),
        generated_uri(std::move(generated)) {
    EXPECT_TRUE(compiled) << document.text();
  }

  [[nodiscard]] Pair pair() const { return {&document, compiled, generated_uri}; }

  [[nodiscard]] json out(std::string_view needle, int nth = 0) const {
    const std::string_view code = compiled->code;
    std::size_t at = code.find(needle);
    for (int i = 0; i < nth && at != std::string_view::npos; ++i) at = code.find(needle, at + 1);
    if (at == std::string_view::npos) {
      ADD_FAILURE() << "no " << nth << "th '" << needle << "' in:\n" << code;
      at = 0;
    }
    return range_of(code, at, at + needle.size());
  }

  document::Document document;
  std::shared_ptr<const analysis::Compiled> compiled;
  std::string generated_uri;
};

json position(json line, json character) { return {{"character", std::move(character)}, {"line", std::move(line)}}; }
json range(json start, json end) { return {{"end", std::move(end)}, {"start", std::move(start)}}; }

// A diagnostic as luau-lsp publishes one, with `more` members merged in.
json diagnostic(json range, json more = json::object()) {
  json d = {{"code", 1000},
            {"codeDescription", {{"href", "https://luau.org/types"}}},
            {"message", "TypeError: m"},
            {"range", std::move(range)},
            {"relatedInformation", json::array()},
            {"severity", 1},
            {"source", "Luau"},
            {"tags", json::array()}};
  d.update(more);
  return d;
}

json related(std::string_view uri, json range, std::string_view message = "r") {
  return {{"location", {{"range", std::move(range)}, {"uri", uri}}}, {"message", message}};
}

// The diagnostics' texts as the child writes them, comma-joined.
std::string listed(const std::vector<json>& diagnostics) {
  std::string out;
  for (const json& d : diagnostics) {
    if (!out.empty()) out += ',';
    out += d.dump();
  }
  return out;
}

std::string body_of(std::string_view list) { return std::string(HEAD) + std::string(list) + std::string(TAIL); }

struct Moved {
  std::string text;
  std::size_t count = 0;
};

// What the editor got before the diagnostics were kept as text: the body
// read as a value, its list moved whole, each diagnostic kept written
// compactly.
Moved reference(std::string body, Remap& remap) {
  auto value = jsonrpc::parse_body(body);
  if (!value) {
    ADD_FAILURE() << "not JSON: " << body;
    return {};
  }
  const auto moved = remap.diagnostics(value->at("params").at("diagnostics"));
  if (!moved) {
    ADD_FAILURE() << "a list always moves";
    return {};
  }
  Moved out;
  for (const json& each : *moved) {
    if (out.count++ > 0) out.text += ',';
    out.text += jsonrpc::serialize(each).value();
  }
  return out;
}

Moved as_text(const Publication& publication, Remap& remap) {
  Moved out;
  out.count = remap.diagnostics_text(publication, out.text);
  return out;
}

struct Case {
  const char* name;
  std::string list;   // the diagnostics array's contents, as written
  bool canonical;     // read as text, not as a value
  std::size_t kept;   // through the fresh compile
  std::size_t plain;  // read as text, how many move by their range alone
};

std::vector<Case> cases(const Doc& a, const Doc& b) {
  const json plain = diagnostic(a.out("count"));
  const json whole_line_3 = range(position(3, 0), a.out("count", 2).at("end"));
  const json helper = a.out("__tovix_merge");
  return {
      {"an empty list", "", true, 0, 0},
      {"plain diagnostics on mapped Luau, astral characters before them",
       listed({plain, diagnostic(a.out("local z")), diagnostic(a.out("😀", 1)), diagnostic(a.out("count", 2)),
               diagnostic(a.out("\"ünï\""))}),
       true, 5, 5},
      {"ranges that do not map whole are narrowed to the pieces they hold",
       listed({diagnostic(whole_line_3), diagnostic(range(a.out("local e").at("start"), a.out("props", 1).at("end"))),
               diagnostic(range(position(4, 0), position(6, 8)))}),
       true, 3, 3},
      {"ranges on an element's generated call go on its opening name",
       listed({diagnostic(a.out("create(\"TextLabel\")")), diagnostic(a.out("create(\"Frame\")")),
               diagnostic(a.out("__tovix_merge", 1)), diagnostic(a.out("Text = function() return"))}),
       true, 4, 4},
      {"ranges in the injected helpers are dropped",
       listed({diagnostic(helper), diagnostic(a.out("select(\"#\", ...)")), plain,
               diagnostic(a.out("local function __tovix_read"))}),
       true, 1, 4},
      {"ranges that are no place of the generated text are dropped",
       listed({diagnostic(range(position(999, 0), position(999, 1))),
               diagnostic(range(position(0, 0), position(999, 0))),
               diagnostic(range(position(std::uint64_t{1} << 32, 0), position((std::uint64_t{1} << 32) + 1, 0))),
               diagnostic(range(position(-1, 0), position(1, 0))), diagnostic(range(position(1, -3), position(1, 2))),
               diagnostic(range(position(1, "0"), position(1, 2))), plain}),
       true, 1, 3},
      {"ranges not of a range's form are dropped",
       listed({diagnostic(range(position(1, 0), json(5))), diagnostic(json("range")), diagnostic(json(nullptr)),
               diagnostic(range(json(1), json::array({2}))), diagnostic(range(position(1, 6), json::object())),
               diagnostic(a.out("count"), {{"message", "odd"}, {"range", "range"}}), plain}),
       true, 1, 1},
      {"columns past a line's end and empty ranges are kept, a reversed one goes",
       listed({diagnostic(range(position(1, 3), position(1, 900))), diagnostic(range(position(1, 9), position(1, 2))),
               diagnostic(range(position(1, 6), position(1, 6))), diagnostic(range(position(8, 0), position(8, 0)))}),
       true, 3, 4},
      {"fractional and float numbers",
       listed({diagnostic(range(position(1, 1.5), position(1, 4))), plain,
               diagnostic(a.out("count", 1), {{"severity", 1.0}}),
               diagnostic(a.out("count", 1), {{"severity", 2e300}})}),
       false, 3, 0},
      {"related information naming the generated file, another open document and other files",
       listed({diagnostic(a.out("count", 2),
                          {{"relatedInformation",
                            {related(A_OUT, a.out("count")), related(A_OUT, helper, "in a helper"),
                             related("file:///p/other.luau", range(position(-1, 0), position(999, 0))),
                             related(B_OUT, b.out("card")), related(B_URI, b.out("card"), "by the source's own"),
                             related("file:///p//a.luau", a.out("props", 1), "spelt differently"),
                             related(A_OUT, json("range"), "no range"), related(A_OUT, nullptr, "a null one"),
                             related("file:///p/other.luau", range(json(1), json::array({2})), "nor elsewhere")}}}),
               diagnostic(helper, {{"relatedInformation", {related(A_OUT, a.out("count"))}}})}),
       true, 1, 0},
      {"data holding edits, moved but never narrowed",
       listed({diagnostic(a.out("count", 2), {{"data",
                                               {{"edits",
                                                 {{{"newText", "n"}, {"range", a.out("count")}},
                                                  {{"newText", "x"}, {"range", helper}},
                                                  {{"newText", "y"}, {"range", whole_line_3}}}},
                                                {"uri", A_OUT}}}}),
               diagnostic(a.out("count"),
                          {{"data", {{"changes", {{A_OUT, {{{"newText", "z"}, {"range", a.out("count", 1)}}}}}}}}})}),
       true, 2, 0},
      {"moving member names elsewhere in a diagnostic",
       listed({diagnostic(a.out("count"), {{"position", position(1, 6)}}),
               diagnostic(a.out("count"), {{"extra", {{"start", position(1, 6)}, {"end", position(1, 8)}}}}),
               diagnostic(a.out("count"), {{"point", {{"line", 1}, {"character", 7}}}}),
               diagnostic(a.out("count"), {{"uri", 5}}),
               diagnostic(a.out("count"), {{"textDocument", {{"uri", A_OUT}}}})}),
       true, 4, 0},
      {"a range with extra members, a position with extra members",
       listed({diagnostic({{"end", a.out("count").at("end")}, {"start", a.out("count").at("start")}, {"x", 1}}),
               diagnostic(range({{"character", 6}, {"line", 1}, {"x", 1}}, a.out("count").at("end"))),
               diagnostic({{"end", a.out("count").at("end")}, {"start", a.out("count").at("start")}})}),
       true, 3, 1},
      {"diagnostics that are not objects or have no range",
       listed({json(5), json("x"), json(nullptr), json::array({1, plain}), json{{"message", "m"}}, plain}), true, 1, 1},
      {"non-ASCII and escaped text, large and negative integers",
       listed({diagnostic(a.out("count"), {{"message", "ünïcödé 😀 ✓\n\t\"q\" \\ \x01\x1f\x7f"}}),
               diagnostic(a.out("count"), {{"code", 123456789012345678}, {"n", -9}, {"z", 0}, {"t", true}})}),
       true, 2, 2},
      {"an integer of twenty digits",
       listed({plain, diagnostic(a.out("count"), {{"code", std::uint64_t{18446744073709551615u}}})}), false, 2, 0},
      {"members in another order",
       R"({"range":{"start":{"line":1,"character":6},"end":{"line":1,"character":11}},"message":"m","severity":1})",
       false, 1, 0},
      {"extra whitespace", " { \"message\" : \"m\" , \"range\" : " + a.out("count").dump(2) + " } ,\n" + plain.dump(),
       false, 2, 0},
      {"escapes the writer does not write",
       R"({"message":"a\/b\u0041\u00e9\ud83d\ude00\u001F","range":)" + a.out("count").dump() + "}", false, 1, 0},
      {"a lone surrogate escape", R"({"message":"\ud800 alone","range":)" + a.out("count").dump() + "}", false, 1, 0},
      {"duplicate keys", R"({"message":"first","message":"second","range":)" + a.out("count").dump() + "}", false, 1,
       0},
      {"a key with an escape", R"({"m\u0065ssage":"m","range":)" + a.out("count").dump() + "}", false, 1, 0},
      {"negative zero and an exponent", R"({"a":-0,"b":1e2,"range":)" + a.out("count").dump() + "}", false, 1, 0},
      {"nesting deeper than a diagnostic's",
       R"({"data":)" + std::string(40, '[') + std::string(40, ']') + R"(,"range":)" + a.out("count").dump() + "}",
       false, 1, 0},
  };
}

TEST(Published, TextPathGivesTheBytesOfTheValuePath) {
  const Doc a(A_URI, A_TEXT, A_OUT);
  const Doc b(B_URI, B_TEXT, B_OUT);
  // The same document after an edit, its compile still the one before: a
  // line added below the second and the spread's line changed, so what lies
  // on them no longer maps and the lines after move down.
  Doc edited(A_URI, A_TEXT, A_OUT);
  std::string changed = A_TEXT;
  changed.insert(changed.find("local props"), "local added = 2\n");
  changed.replace(changed.find("left"), 4, "right");
  ASSERT_TRUE(edited.document.change(2, std::vector<json>{{{"text", changed}}}));

  const remap::Lookup others = [&](std::string_view uri) -> std::optional<Pair> {
    if (remap::names(b.pair(), uri)) return b.pair();
    return std::nullopt;
  };
  for (const Case& c : cases(a, b)) {
    SCOPED_TRACE(c.name);
    const std::string body = body_of(c.list);
    for (const Doc* doc : {&a, static_cast<const Doc*>(&edited)}) {
      SCOPED_TRACE(doc == &a ? "fresh compile" : "compile older than the text");
      Remap reference_remap(doc->pair(), Direction::ToSource, others);
      const Moved expected = reference(body, reference_remap);
      if (doc == &a) {
        EXPECT_EQ(expected.count, c.kept) << expected.text;
      }

      std::string taken = body;
      const auto scanned = scan_notification(taken);
      EXPECT_EQ(scanned.has_value(), c.canonical) << body;
      if (scanned) {
        EXPECT_EQ(std::count_if(scanned->diagnostics.items.begin(), scanned->diagnostics.items.end(),
                                [](const Item& item) { return item.plain; }),
                  c.plain);
        EXPECT_EQ(scanned->uri, A_OUT);
        EXPECT_EQ(scanned->version, 1);
        EXPECT_EQ(value_of(*scanned), json::parse(body));
        Remap remap(doc->pair(), Direction::ToSource, others);
        const Moved got = as_text(scanned->diagnostics, remap);
        EXPECT_EQ(got.text, expected.text);
        EXPECT_EQ(got.count, expected.count);
      } else {
        EXPECT_EQ(taken, body) << "a body not taken is left as it came";
      }

      std::string parsed_body = body;
      const auto value = jsonrpc::parse_body(parsed_body);
      ASSERT_TRUE(value);
      const Publication values = of_values(value->at("params").at("diagnostics"));
      EXPECT_EQ(values.items.size(), value->at("params").at("diagnostics").size());
      Remap remap(doc->pair(), Direction::ToSource, others);
      const Moved got = as_text(values, remap);
      EXPECT_EQ(got.text, expected.text);
      EXPECT_EQ(got.count, expected.count);
    }
  }
}

// Lines longer than the stretch positions are counted in at once, with
// astral characters throughout and CRLF breaks: ranges from every few bytes
// of the generated code, of several lengths, also across lines.
TEST(Published, RangesFromAllOverALongCrlfFileMoveAlike) {
  std::string long_line = "local row = <Frame>";
  for (int i = 0; i < 24; ++i)
    long_line += "<Row label=\"😀ü " + std::to_string(i) + "\" value={values[" + std::to_string(i % 3 + 1) + "]} />";
  long_line += "</Frame>; local after = \"😀😀😀\" .. values[1]\r\n";
  const std::string text =
      "local create = vide.create\r\nlocal values = { 1, 2, 3 }\r\n"
      "local function Row(props: { label: string, value: number }) return nil end\r\n" +
      long_line + "return row, after\r\n";
  const Doc c("file:///p/c.tovix", text, "file:///p/c.luau");
  Doc edited("file:///p/c.tovix", text, "file:///p/c.luau");
  ASSERT_TRUE(edited.document.change(2, std::vector<json>{{{"text", "-- a note\r\n" + text}}}));
  ASSERT_GT(long_line.size(), 3 * 256u);
  const std::string_view code = c.compiled->code;

  std::vector<json> diagnostics;
  const auto boundary = [&](std::size_t at) {
    at = std::min(at, code.size());
    while (at < code.size() && (static_cast<unsigned char>(code[at]) & 0xC0) == 0x80) ++at;
    return at;
  };
  for (std::size_t start = 0;; start = boundary(start + 5)) {
    for (std::size_t length : {0, 3, 17, 120, 400})
      diagnostics.push_back(diagnostic(range_of(code, start, boundary(start + length))));
    if (start == code.size()) break;
  }
  const std::string body = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)" +
                           listed(diagnostics) + R"(],"uri":"file:///p/c.luau"}})";
  std::string taken = body;
  const auto scanned = scan_notification(taken);
  ASSERT_TRUE(scanned);
  for (const Doc* doc : {&c, static_cast<const Doc*>(&edited)}) {
    SCOPED_TRACE(doc == &c ? "fresh compile" : "compile older than the text");
    Remap reference_remap(doc->pair(), Direction::ToSource);
    const Moved expected = reference(body, reference_remap);
    EXPECT_GT(expected.count, diagnostics.size() / 2);
    Remap remap(doc->pair(), Direction::ToSource);
    const Moved got = as_text(scanned->diagnostics, remap);
    EXPECT_EQ(got.text, expected.text);
    EXPECT_EQ(got.count, expected.count);
  }
}

TEST(Published, LuauLspsOwnFormIsReadAsText) {
  std::string body =
      R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[{"code":1000,"codeDescription":{"href":"https://luau.org/types"},"message":"TypeError: ...","range":{"end":{"character":21,"line":0},"start":{"character":0,"line":0}},"relatedInformation":[],"severity":1,"source":"Luau","tags":[]}],"uri":"file:///tmp/x.luau","version":1}})";
  const json value = json::parse(body);
  const auto scanned = scan_notification(body);
  ASSERT_TRUE(scanned);
  EXPECT_EQ(scanned->uri, "file:///tmp/x.luau");
  EXPECT_EQ(scanned->version, 1);
  ASSERT_EQ(scanned->diagnostics.items.size(), 1u);
  const Item& item = scanned->diagnostics.items[0];
  EXPECT_TRUE(item.plain);
  EXPECT_EQ(scanned->diagnostics.item_text(item), value.at("params").at("diagnostics").at(0).dump());
  EXPECT_EQ(scanned->diagnostics.item_text(item).substr(item.range_offset, item.range_length),
            value.at("params").at("diagnostics").at(0).at("range").dump());
  EXPECT_EQ(item.range.start.line, 0u);
  EXPECT_EQ(item.range.start.character, 0u);
  EXPECT_EQ(item.range.end.line, 0u);
  EXPECT_EQ(item.range.end.character, 21u);
  EXPECT_EQ(value_of(*scanned), value);

  // Without a version, and with none of its diagnostics.
  std::string bare =
      R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[],"uri":"file:///tmp/x.luau"}})";
  const json bare_value = json::parse(bare);
  const auto empty = scan_notification(bare);
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->version);
  EXPECT_TRUE(empty->diagnostics.empty());
  EXPECT_EQ(value_of(*empty), bare_value);
}

TEST(Published, BodiesNotWrittenCanonicallyAreLeftToTheValueReader) {
  const std::string item =
      R"({"message":"m","range":{"end":{"character":2,"line":0},"start":{"character":0,"line":0}}})";
  const std::string head(HEAD);
  const std::vector<std::pair<const char*, std::string>> bodies = {
      {"whitespace between members",
       R"({"jsonrpc": "2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[],"uri":"file:///x.luau"}})"},
      {"a trailing line break", head + R"(],"uri":"file:///x.luau"}})" + "\n"},
      {"params in another order",
       R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":"file:///x.luau","diagnostics":[]}})"},
      {"another method",
       R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostic","params":{"diagnostics":[],"uri":"file:///x.luau"}})"},
      {"a request",
       R"({"id":1,"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[],"uri":"file:///x.luau"}})"},
      {"a further top-level member", head + R"(],"uri":"file:///x.luau"},"x":1})"},
      {"a further member of params", head + R"(],"uri":"file:///x.luau","version":1,"x":1}})"},
      {"no uri", head + R"(]}})"},
      {"a uri that is no string", head + R"(],"uri":5}})"},
      {"a uri with an escape", head + R"(],"uri":"file:\/\/\/x.luau"}})"},
      {"a version that is no integer", head + R"(],"uri":"file:///x.luau","version":1.0}})"},
      {"a version that is no number", head + R"(],"uri":"file:///x.luau","version":"1"}})"},
      {"a version of leading zeros", head + R"(],"uri":"file:///x.luau","version":01}})"},
      {"cut short", head + item},
      {"a comma after the last diagnostic", head + item + R"(,],"uri":"file:///x.luau"}})"},
      {"text after the body", head + R"(],"uri":"file:///x.luau"}}{})"},
      {"invalid UTF-8 in a message", head + R"({"message":"\xff"}],"uri":"file:///x.luau"}})"},
      {"an encoded surrogate in a message", head + "{\"message\":\"\xed\xa0\x80\"}" + R"(],"uri":"file:///x.luau"}})"},
      {"an overlong encoding in a message", head + "{\"message\":\"\xc0\xaf\"}" + R"(],"uri":"file:///x.luau"}})"},
      {"a raw control character in a message", head + "{\"message\":\"a\tb\"}" + R"(],"uri":"file:///x.luau"}})"},
      {"an escaped DEL", head + R"({"message":"\u007f"}],"uri":"file:///x.luau"}})"},
      {"an escape the writer writes short", head + R"({"message":"\u000a"}],"uri":"file:///x.luau"}})"},
      {"an integer of more digits than kept", head + R"({"code":1234567890123456789}],"uri":"file:///x.luau"}})"},
      {"a plus sign", head + R"({"code":+1}],"uri":"file:///x.luau"}})"},
      {"a member without its value", head + R"({"code":}],"uri":"file:///x.luau"}})"},
      {"a literal misspelt", head + R"({"code":nul}],"uri":"file:///x.luau"}})"},
  };
  for (const auto& [name, body] : bodies) {
    SCOPED_TRACE(name);
    std::string taken = body;
    EXPECT_FALSE(scan_notification(taken));
    EXPECT_EQ(taken, body);
  }
}

}  // namespace
}  // namespace tovix_lsp::published
