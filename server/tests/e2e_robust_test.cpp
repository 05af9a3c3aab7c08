// Bad input from the editor never stops the server, and nothing is lost.
// Each test is one kind of fault, a table of cases sent to the built server
// over pipes; every case ends with a probe request answered, or with the
// exit status and the line on standard error of a connection that broke.

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "core/jsonrpc.h"
#include "lsp_process.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::LspProcess;
namespace fs = std::filesystem;

const std::string BINARY = TOVIX_LSP_BINARY;
const std::string URI = "file:///tmp/tovix-e2e-robust/doc.tovix";
const std::string LOST = "tovix: lost track of an edit — reopen the file to resynchronise";
// Sanitizer builds compile large inputs slowly.
constexpr auto PATIENCE = std::chrono::seconds(120);

std::string frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

const std::string DEEP = repeat("[", 100000) + repeat("]", 100000);

json notification(const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

json did_open(const std::string& uri, const std::string& text) {
  return notification("textDocument/didOpen",
                      {{"textDocument", {{"uri", uri}, {"languageId", "tovix"}, {"version", 1}, {"text", text}}}});
}

json range(json start_line, json start_character, json end_line, json end_character) {
  return {{"start", {{"line", start_line}, {"character", start_character}}},
          {"end", {{"line", end_line}, {"character", end_character}}}};
}

json edit(json r, const std::string& text) { return {{"range", std::move(r)}, {"text", text}}; }

json did_change(const std::string& uri, int version, json changes) {
  return notification("textDocument/didChange",
                      {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", std::move(changes)}});
}

// One line per message: a publish as "<uri>: line:character message, …"
// ("<uri>: none" when empty), a log line as its text, anything else as its
// JSON.
std::string summary(const json& m) {
  const std::string method = m.value("method", "");
  if (method == "window/logMessage") return m.at("params").at("message");
  if (method != "textDocument/publishDiagnostics") return m.dump();
  std::string out = m.at("params").at("uri").get<std::string>() + ":";
  if (m.at("params").at("diagnostics").empty()) out += " none";
  for (const json& d : m.at("params").at("diagnostics")) {
    const json& start = d.at("range").at("start");
    out += " " + std::to_string(start.at("line").get<int>()) + ":" + std::to_string(start.at("character").get<int>()) +
           " " + d.at("message").get<std::string>();
  }
  return out;
}

bool answers(const json& m, const json& id) { return m.contains("id") && !m.contains("method") && m.at("id") == id; }

// Sends a probe request; the summaries of the messages that came before its
// answer. The test fails when the answer does not come.
std::vector<std::string> until_probe(LspProcess& lsp) {
  lsp.send({{"jsonrpc", "2.0"}, {"id", "probe"}, {"method", "probe"}});
  std::vector<json> before;
  auto answer = lsp.receive_until([](const json& m) { return answers(m, "probe"); }, &before, PATIENCE);
  EXPECT_TRUE(answer) << "the probe was not answered";
  if (answer) {
    EXPECT_EQ(answer->dump(),
              R"({"error":{"code":-32601,"message":"probe is not supported"},"id":"probe","jsonrpc":"2.0"})");
  }
  std::vector<std::string> out;
  for (const json& m : before) out.push_back(summary(m));
  return out;
}

using Lines = std::vector<std::string>;

Lines then(Lines first, const Lines& rest) {
  first.insert(first.end(), rest.begin(), rest.end());
  return first;
}

TEST(BadInput, AHeaderWithoutAValidLengthEndsWithStatusOneAndSaysWhy) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string why;
  } cases[] = {
      {"no Content-Length", "Content-Type: application/vscode-jsonrpc\r\n\r\n{}",
       "message header carried no Content-Length"},
      {"letters", "Content-Length: abc\r\n\r\n{}", "message header carried no Content-Length"},
      {"negative", "Content-Length: -5\r\n\r\n{}", "message header carried no Content-Length"},
      {"2^64", "Content-Length: 18446744073709551616\r\n\r\n{}", "message header carried no Content-Length"},
      {"a header line over the limit", "Content-Length: 2\r\nX-Pad: " + std::string(70000, 'a') + "\r\n\r\n{}",
       "message header line is too long"},
      {"more than the server accepts", "Content-Length: 18446744073709551615\r\n\r\n{}",
       "message header announced 18446744073709551615 bytes, more than this server accepts"},
      {"a header that is not UTF-8", "Content-Length: 2\xff\r\n\r\n{}", "stream did not contain valid UTF-8"},
      {"the input ends inside a body", "Content-Length: 10\r\n\r\n{}", "the input ended inside a message body"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    EXPECT_EQ(until_probe(lsp), Lines{});
    lsp.send_raw(c.bytes);
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 1);
    EXPECT_EQ(lsp.drain_stdout(), "");
    EXPECT_EQ(lsp.stderr_text(), "tovix-lsp: cannot read the editor's input: " + c.why + "\n");
  }
  // The input that ends between messages is an orderly end.
  LspProcess lsp(BINARY, {});
  EXPECT_EQ(until_probe(lsp), Lines{});
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(PATIENCE), 0);
  EXPECT_EQ(lsp.stderr_text(), "");
}

TEST(BadInput, ABodyThatIsNotJsonIsAnsweredAndTheNextMessageIsRead) {
  const std::string PARSE_ERROR = R"({"error":{"code":-32700,"message":"message is not JSON: [json.exception.)";
  const std::string NULL_ID = R"("},"id":null,"jsonrpc":"2.0"})";
  struct Case {
    const char* name;
    std::string body;
    std::string library_message;
  } cases[] = {
      {"the reproducer", "{",
       "parse_error.101] parse error at line 1, column 2: syntax error while parsing object key - unexpected end "
       "of input; expected string literal"},
      {"invalid UTF-8", "{\"a\":\"\xff\"}",
       "parse_error.101] parse error at line 1, column 7: syntax error while parsing value - invalid string: "
       "ill-formed UTF-8 byte; last read: '\\\"\xef\xbf\xbd'"},
      {"an empty body", "",
       "parse_error.101] parse error at line 1, column 1: syntax error while parsing value - unexpected end of "
       "input; expected '[', '{', or a literal"},
      {"trailing bytes", "{} {}",
       "parse_error.101] parse error at line 1, column 4: syntax error while parsing value - unexpected '{'; "
       "expected end of input"},
      {"a number out of range", R"({"jsonrpc":"2.0","id":1e400,"method":"x"})",
       "out_of_range.406] number overflow parsing '1e400'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send_raw(frame(c.body));
    EXPECT_EQ(until_probe(lsp), Lines{PARSE_ERROR + c.library_message + NULL_ID});
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

// JavaScript writes an unpaired surrogate as "\ud800". Each reads as U+FFFD,
// one UTF-16 unit, so the editor's positions still fit: the second change
// below turns the "e" of TextLabel into "x" only when the first was kept and
// counted as the editor counts it.
TEST(BadInput, LoneSurrogateEscapesAreReadAsReplacementCharacters) {
  struct Case {
    const char* name;
    std::string escaped;  // as written inside a JSON string
    int units;            // UTF-16 units it stands for
  } cases[] = {
      {"high alone", R"(\ud800)", 1},
      {"low alone", R"(\udc00)", 1},
      {"high before another character", R"(\ud800\u0041)", 2},
      {"reversed pair", R"(\udc00\ud800)", 2},
      {"a real pair", R"(\ud83d\ude00)", 2},
      {"an escaped backslash", R"(\\ud800)", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int tag = 14 + c.units;  // where "<TxxtLabel/>" starts on line 1
    const std::string diagnostic =
        URI + ": 1:" + std::to_string(tag) + " <TxxtLabel> is not a Roblox class and is not defined";
    LspProcess lsp(BINARY, {"--stdio"});
    // In an opened text.
    lsp.send_raw(frame(R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":")" + URI +
                       R"(","version":1,"text":"local create = 1\n--[[)" + c.escaped +
                       R"(]] return <TxxtLabel/>\n"}}})"));
    EXPECT_EQ(until_probe(lsp), Lines{diagnostic});
    // In a change, with a change after it that relies on its width.
    lsp.send(did_open(URI, "local create = 1\n--[[]] return <TextLabel/>\n"));
    lsp.send_raw(frame(R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":")" + URI +
                       R"(","version":2},"contentChanges":[{"range":{"start":{"line":1,"character":4},)"
                       R"("end":{"line":1,"character":4}},"text":")" +
                       c.escaped + R"("}]}})"));
    EXPECT_EQ(until_probe(lsp), (Lines{URI + ": none", URI + ": none"}));
    lsp.send(did_change(URI, 3, json::array({edit(range(1, tag + 2, 1, tag + 3), "x")})));
    EXPECT_EQ(until_probe(lsp), Lines{diagnostic});
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

TEST(BadInput, JsonNestedTooDeepIsRefusedWhereItIsParsed) {
  const std::string TOO_DEEP = "message is nested more than 512 levels deep";
  auto invalid_request = [&](const std::string& id) {
    return R"({"error":{"code":-32600,"message":")" + TOO_DEEP + R"("},"id":)" + id + R"(,"jsonrpc":"2.0"})";
  };
  // What is owed no answer is still said to be dropped.
  const std::string dropped = "tovix: dropped a message from the editor: " + TOO_DEEP;
  struct Case {
    const char* name;
    std::string body;
    Lines expected;
  } cases[] = {
      {"a request id", R"({"jsonrpc":"2.0","id":)" + DEEP + R"(,"method":"x"})", {invalid_request("null")}},
      {"a response id", R"({"jsonrpc":"2.0","id":)" + DEEP + R"(,"result":null})", {dropped}},
      {"a range of a change",
       R"({"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":")" + URI +
           R"(","version":2},"contentChanges":[{"range":)" + DEEP + R"(,"text":"\""}]}})",
       {dropped}},
      {"the params of a request",
       R"({"jsonrpc":"2.0","id":7,"method":"x","params":)" + DEEP + "}",
       {invalid_request("7")}},
      {"the params of a request, its id last",
       R"({"jsonrpc":"2.0","method":"x","params":)" + DEEP + R"(,"id":"i"})",
       {invalid_request(R"("i")")}},
      {"the whole body", DEEP, {dropped}},
      {"deep and unbalanced",
       repeat("[", 100000),
       {R"({"error":{"code":-32700,"message":"message is not JSON: [json.exception.parse_error.101] parse error at )"
        R"(line 1, column 100001: syntax error while parsing value - unexpected end of input; expected '[', '{', )"
        R"(or a literal"},"id":null,"jsonrpc":"2.0"})"}},
      {"as deep as is taken",
       R"({"jsonrpc":"2.0","id":8,"method":"x","params":)" + repeat("[", 511) + repeat("]", 511) + "}",
       {R"({"error":{"code":-32601,"message":"x is not supported"},"id":8,"jsonrpc":"2.0"})"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(URI, "return 1\n"));
    EXPECT_EQ(until_probe(lsp), Lines{URI + ": none"});
    lsp.send_raw(frame(c.body));
    EXPECT_EQ(until_probe(lsp), c.expected);
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

// A body longer than the server takes is read past unparsed: a request is
// answered with an error under its id, a notification dropped with a line
// that says so, and the messages after it are read as usual.
TEST(BadInput, ABodyTooLongIsRefusedInStep) {
  const std::string text(tovix_lsp::jsonrpc::MAX_EDITOR_BODY, 'a');
  const std::string request =
      R"({"jsonrpc":"2.0","method":"textDocument/hover","params":{"text":")" + text + R"("},"id":"big"})";
  const std::string open = R"({"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":")" +
                           URI + R"(2","version":1,"text":"return <TxtLabel/>\n)" + text + R"("}}})";
  LspProcess lsp(BINARY, {"--stdio"});
  lsp.send(did_open(URI, "return 1\n"));
  EXPECT_EQ(until_probe(lsp), Lines{URI + ": none"});
  lsp.send_raw(frame(request));
  EXPECT_EQ(until_probe(lsp),
            Lines{R"({"error":{"code":-32600,"message":"message of )" + std::to_string(request.size()) +
                  R"( bytes is more than the )" + std::to_string(tovix_lsp::jsonrpc::MAX_EDITOR_BODY) +
                  R"( this server takes"},"id":"big","jsonrpc":"2.0"})"});
  lsp.send_raw(frame(open));
  EXPECT_EQ(until_probe(lsp), Lines{"tovix: dropped a message from the editor: message of " +
                                    std::to_string(open.size()) + " bytes is more than the " +
                                    std::to_string(tovix_lsp::jsonrpc::MAX_EDITOR_BODY) + " this server takes"});
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(PATIENCE), 0);
}

TEST(BadInput, ADeepSettingsFileIsReportedOnEveryDocument) {
  const std::string dotted = "a" + repeat(".a", 199999);
  struct Case {
    const char* name;
    std::string toml;
  } cases[] = {
      {"a table header of 200,000 dotted keys", "[" + dotted + "]\n"},
      {"an array of tables", "[[" + dotted + "]]\n"},
      {"a dotted key", dotted + " = 1\n"},
      {"inline tables", "a = " + repeat("{a = ", 100000) + "1" + repeat("}", 100000) + "\n"},
      {"arrays", "a = " + repeat("[", 100000) + repeat("]", 100000) + "\n"},
  };
  const fs::path root = fs::temp_directory_path() / ("tovix-e2e-deep-" + std::to_string(std::random_device()()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(root);
    std::ofstream(root / "tovix.toml", std::ios::binary) << c.toml;
    const std::string a = "file://" + (root / "a.tovix").string(), b = "file://" + (root / "b.tovix").string();
    const std::string message = " 0:0 tovix.toml: tables and arrays are nested more than 128 levels deep";
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(a, "return 1\n"));
    lsp.send(did_open(b, "return 2\n"));
    EXPECT_EQ(until_probe(lsp), (Lines{a + ":" + message, b + ":" + message}));
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
    fs::remove_all(root);
  }
}

TEST(BadInput, PositionsOutOfRangeAreRefusedNeverWrapped) {
  // Three lines; the third is empty.
  const std::string TEXT = "local a = 1\nlocal b = 2\n";
  const std::string OPEN_STRING = URI + ": 2:10 unterminated string";
  struct Case {
    const char* name;
    json range;
    Lines expected;
  } cases[] = {
      {"line 2^32 + 1 (line 1 once wrapped)", range(4294967297ull, 0, 4294967297ull, 0), {LOST, URI + ": none"}},
      {"character 2^32 (0 once wrapped)", range(1, 4294967296ull, 1, 4294967296ull), {LOST, URI + ": none"}},
      {"the end at 2^32", range(2, 0, 2, 4294967296ull), {LOST, URI + ": none"}},
      {"the largest character clamps", range(2, 4294967295ull, 2, 4294967295ull), {OPEN_STRING}},
      {"the start of the line after the last is the end", range(3, 0, 3, 0), {OPEN_STRING}},
      {"a change through the last line's end", range(2, 0, 3, 0), {OPEN_STRING}},
      {"the line after the last, character 1", range(3, 1, 3, 1), {LOST, URI + ": none"}},
      {"two lines after the last", range(4, 0, 4, 0), {LOST, URI + ": none"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(URI, TEXT));
    lsp.send(did_change(URI, 2, json::array({edit(c.range, "local c = \"")})));
    EXPECT_EQ(until_probe(lsp), then({URI + ": none"}, c.expected));
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

TEST(BadInput, APartlyRefusedChangePublishesTheTextTheServerHolds) {
  const json valid = edit(range(1, 0, 1, 0), "return <Txtlabel/>\n");
  const json refused = edit(range(99, 0, 99, 0), "x");
  const json fix = edit(range(1, 8, 1, 16), "TextLabel");
  const std::string TYPO = URI + ": 1:7 <Txtlabel> is not a Roblox class and is not defined";
  struct Case {
    const char* name;
    json changes;
    Lines expected;
  } cases[] = {
      {"the reproducer: applied, then refused", json::array({valid, refused}), {LOST, TYPO}},
      {"refused, then applied", json::array({refused, valid}), {LOST, TYPO}},
      {"applied, refused, applied", json::array({valid, refused, fix}), {LOST, URI + ": none"}},
      {"all refused", json::array({refused, refused}), {LOST, URI + ": none"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(URI, "local create = 1\n"));
    lsp.send(did_change(URI, 2, c.changes));
    EXPECT_EQ(until_probe(lsp), then({URI + ": none"}, c.expected));
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

TEST(BadInput, LocalhostNamesThisMachine) {
  struct Case {
    std::string uri;
    bool analysed;
  } cases[] = {
      {"file://localhost/tmp/tovix-e2e-robust/ui.tovix", true},
      {"file://LOCALHOST/tmp/tovix-e2e-robust/ui.tovix", true},
      {"file:///tmp/tovix-e2e-robust/ui.tovix", true},
      {"file://elsewhere/tmp/tovix-e2e-robust/ui.tovix", false},  // not a file here: stored, not analysed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(c.uri, "local create = 1\nreturn <Txtlabel/>\n"));
    const Lines published = {c.uri + ": 1:7 <Txtlabel> is not a Roblox class and is not defined"};
    EXPECT_EQ(until_probe(lsp), c.analysed ? published : Lines{});
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

// Edits sent faster than they are analysed are taken as bursts. Each edit
// types one more character before an open string, so a publish's column
// says how many edits it includes: publishes never go back, a request sees
// every edit sent before it, and none is lost.
TEST(BadInput, BurstsOfEditsKeepUpAndKeepTheirOrder) {
  struct Case {
    const char* name;
    int edits;
    std::vector<int> requests_after;  // a request after this many edits
  } cases[] = {
      {"one edit", 1, {1}},
      {"2,000 edits", 2000, {2000}},
      {"requests in between", 2000, {1, 700, 1500, 2000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LspProcess lsp(BINARY, {"--stdio"});
    lsp.send(did_open(URI, "local s = \"\n"));
    EXPECT_EQ(until_probe(lsp), Lines{URI + ": 0:10 unterminated string"});
    std::string bytes;
    std::size_t next_request = 0;
    for (int i = 1; i <= c.edits; ++i) {
      bytes += frame(did_change(URI, i + 1, json::array({edit(range(0, 0, 0, 0), "x")})).dump());
      for (; next_request < c.requests_after.size() && c.requests_after[next_request] == i; ++next_request)
        bytes += frame(json{{"jsonrpc", "2.0"}, {"id", next_request}, {"method", "r"}}.dump());
    }
    // Written from another thread while the answers are read, as an editor
    // would: neither side's pipe may fill up and stop the other.
    std::thread writer([&] { lsp.send_raw(bytes); });
    int column = 10;
    std::size_t publishes = 0;
    for (std::size_t r = 0; r < c.requests_after.size(); ++r) {
      SCOPED_TRACE("request " + std::to_string(r));
      std::vector<json> before;
      auto answer = lsp.receive_until([&](const json& m) { return answers(m, r); }, &before, PATIENCE);
      ASSERT_TRUE(answer);
      for (const json& m : before) {
        ASSERT_EQ(m.value("method", ""), "textDocument/publishDiagnostics") << m.dump();
        const int now = m.at("params").at("diagnostics").at(0).at("range").at("start").at("character");
        EXPECT_GE(now, column);
        column = now;
        ++publishes;
      }
      EXPECT_EQ(column, 10 + c.requests_after[r]);
    }
    writer.join();
    EXPECT_EQ(until_probe(lsp), Lines{});
    EXPECT_LE(publishes, static_cast<std::size_t>(c.edits));
    lsp.close_stdin();
    EXPECT_EQ(lsp.wait(PATIENCE), 0);
  }
}

}  // namespace
}  // namespace tovix_lsp
