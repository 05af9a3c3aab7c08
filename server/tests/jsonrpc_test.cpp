#include "core/jsonrpc.h"

#include <gtest/gtest.h>

namespace tovix_lsp::jsonrpc {
namespace {

using json = nlohmann::json;

struct ReadCase {
  const char* name;
  std::string input;
  // Expected: the body's compact JSON, "none" for end of input, or
  // "error:<message prefix>".
  std::string expected;
};

std::string read_one(const std::string& input, std::size_t chunk) {
  io::StringInput in(input, chunk);
  Reader reader(in);
  auto got = reader.read();
  if (!got) return "error:" + got.error().message;
  if (!*got) return "none";
  return (*got)->dump();
}

TEST(Reader, Framing) {
  const std::string NO_LENGTH = "error:message header carried no Content-Length";
  const ReadCase cases[] = {
      {"plain", "Content-Length: 2\r\n\r\n{}", "{}"},
      {"lower case name", "content-length: 2\r\n\r\n{}", "{}"},
      {"upper case name", "CONTENT-LENGTH: 2\r\n\r\n{}", "{}"},
      {"blanks around the name", "  Content-Length  :  2  \r\n\r\n{}", "{}"},
      {"plus sign", "Content-Length: +2\r\n\r\n{}", "{}"},
      {"minus sign", "Content-Length: -2\r\n\r\n{}", NO_LENGTH},
      {"lone plus", "Content-Length: +\r\n\r\n{}", NO_LENGTH},
      {"letter after digits", "Content-Length: 2x\r\n\r\n{}", NO_LENGTH},
      {"empty value", "Content-Length:\r\n\r\n{}", NO_LENGTH},
      {"overflow", "Content-Length: 99999999999999999999999\r\n\r\n{}", NO_LENGTH},
      {"valid then invalid", "Content-Length: 2\r\nContent-Length: x\r\n\r\n{}", NO_LENGTH},
      {"invalid then valid", "Content-Length: x\r\nContent-Length: 2\r\n\r\n{}", "{}"},
      {"other headers skipped",
       "Content-Type: application/vscode-jsonrpc\r\nno colon here\r\nContent-Length: 2\r\n\r\n{}", "{}"},
      {"bare LF", "Content-Length: 2\n\n{}", "{}"},
      {"CR CR LF", "Content-Length: 2\r\r\n\r\n{}", "{}"},
      {"empty first line", "\r\nContent-Length: 2\r\n\r\n{}", NO_LENGTH},
      {"zero length is not JSON", "Content-Length: 0\r\n\r\n",
       "error:message is not JSON: [json.exception.parse_error"},
      {"trailing whitespace", "Content-Length: 5\r\n\r\n{} \n\t", "{}"},
      {"trailing garbage", "Content-Length: 3\r\n\r\n{}x", "error:message is not JSON: [json.exception.parse_error"},
      {"end of input at start", "", "none"},
      {"end of input after header lines", "Content-Length: 2\r\n", "none"},
      {"end of input in body", "Content-Length: 10\r\n\r\n{}", "error:the input ended inside a message body"},
      {"header not UTF-8", "Content-Length: 2\xff\r\n\r\n{}", "error:stream did not contain valid UTF-8"},
      {"too large to accept", "Content-Length: 99999999999\r\n\r\n{}", "error:message header announced"},
      {"no-break space trimmed",
       "Content-Length:\xc2\xa0"
       "2\r\n\r\n{}",
       "{}"},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, SIZE_MAX}) {
      SCOPED_TRACE(std::string(c.name) + " chunk " + std::to_string(chunk));
      std::string got = read_one(c.input, chunk);
      if (c.expected.starts_with("error:"))
        EXPECT_TRUE(got.starts_with(c.expected)) << got;
      else
        EXPECT_EQ(got, c.expected);
    }
  }
}

TEST(Reader, ConsecutiveMessagesShareTheBuffer) {
  std::string big(20000, 'a');
  std::string body = json{{"k", big}}.dump();
  std::string input =
      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + "Content-Length: 7\r\n\r\n[1,2,3]";
  io::StringInput in(input, 5000);
  Reader reader(in);
  auto first = reader.read();
  ASSERT_TRUE(first && *first);
  EXPECT_EQ((**first).at("k").get<std::string>().size(), big.size());
  auto second = reader.read();
  ASSERT_TRUE(second && *second);
  EXPECT_EQ((*second)->dump(), "[1,2,3]");
  auto third = reader.read();
  ASSERT_TRUE(third);
  EXPECT_FALSE(*third);
}

// A body that cannot be taken leaves the stream in step: the next message
// is read as usual. Framing errors end it.
TEST(Reader, RefusedBodiesAreSkippedInStep) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string bodies[] = {"{",       "",         "{}x",
                                "[1e400]", "\"\xff\"", "{\"id\":1,\"method\":\"m\",\"params\":" + deep + "}"};
  std::string input;
  for (const std::string& body : bodies) input += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  input += "Content-Length: 2\r\n\r\n{}Content-Length: x\r\n\r\n{}";
  io::StringInput in(input, 7);
  Reader reader(in);
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body.substr(0, 40));
    auto got = reader.read();
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind, io::Error::Kind::InvalidJson);
  }
  auto good = reader.read();
  ASSERT_TRUE(good && *good);
  EXPECT_EQ((*good)->dump(), "{}");
  auto bad_header = reader.read();
  ASSERT_FALSE(bad_header);
  EXPECT_EQ(bad_header.error().kind, io::Error::Kind::InvalidData);
}

// A body longer than the reader takes is read past unparsed, in step; a
// request among them is owed -32600 with its id, and a response is told
// with its id.
TEST(Reader, BodiesTooLongToTakeAreRefusedInStep) {
  const std::string padding(300, 'a');
  struct Case {
    const char* what;
    std::string body;
    bool owed;
    json id;
    bool response = false;
  } cases[] = {
      {"id first", R"({"jsonrpc":"2.0","id":7,"method":"m","params":")" + padding + R"("})", true, 7},
      {"id last, after a long string", R"({"method":"m","params":{"t":")" + padding + R"(,\"}"},"id":"a,}"})", true,
       "a,}"},
      {"id between blanks", R"({ "method" : "m" , "params" : ")" + padding + R"(" , "id" : -3 })", true, -3},
      {"an id that is no plain value", R"({"method":"m","id":{"a":1},"params":")" + padding + R"("})", true, nullptr},
      {"a member named like id deeper down", R"({"method":"m","params":{"id":1,"x":")" + padding + R"("}})", false,
       nullptr},
      {"a method that is no string", R"({"method":1,"id":2,"params":")" + padding + R"("})", false, 2, true},
      {"a notification", R"({"method":"m","params":")" + padding + R"("})", false, nullptr},
      {"a response", R"({"id":3,"result":")" + padding + R"("})", false, 3, true},
      {"a response to be read past", R"({"result":")" + padding + R"(","id":"x"})", false, "x", true},
      {"an array", "[" + padding + "]", false, nullptr},
      {"not JSON at all", padding, false, nullptr},
  };
  std::string input;
  for (const Case& c : cases) input += "Content-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body;
  input += "Content-Length: 2\r\n\r\n{}";
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, SIZE_MAX}) {
    io::StringInput in(input, chunk);
    Reader reader(in, 200);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + " chunk " + std::to_string(chunk));
      auto got = reader.read();
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind, io::Error::Kind::InvalidJson);
      const Refused& refused = reader.refused();
      EXPECT_EQ(refused.message,
                "message of " + std::to_string(c.body.size()) + " bytes is more than the 200 this server takes");
      EXPECT_EQ(refused.owed_answer, c.owed);
      EXPECT_EQ(refused.response, c.response);
      if (c.owed) {
        EXPECT_EQ(refused.code, INVALID_REQUEST);
      }
      if (c.owed || c.response) {
        EXPECT_EQ(refused.id, c.id);
      }
    }
    auto next = reader.read();
    ASSERT_TRUE(next && *next);
    EXPECT_EQ((*next)->dump(), "{}");
  }
  // The limit itself is taken.
  const std::string at_limit = "[\"" + std::string(196, 'b') + "\"]";
  io::StringInput in("Content-Length: 200\r\n\r\n" + at_limit, SIZE_MAX);
  Reader reader(in, 200);
  auto got = reader.read();
  ASSERT_TRUE(got && *got);
  EXPECT_EQ((**got)[0].get<std::string>().size(), 196u);
}

TEST(ParseBody, WhatARefusedBodyIsOwed) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string NOT_JSON = "message is not JSON: [json.exception.";
  const std::string TOO_DEEP = "message is nested more than 512 levels deep";
  struct Case {
    const char* what;
    std::string body;
    std::string message;  // a prefix
    bool owed;
    std::int64_t code;
    json id;
  } cases[] = {
      {"bad syntax", "{Content-Length", NOT_JSON, true, -32700, nullptr},
      {"empty", "", NOT_JSON, true, -32700, nullptr},
      {"trailing bytes", "{} {}", NOT_JSON, true, -32700, nullptr},
      {"number out of range", R"({"id":1e400,"method":"m"})", NOT_JSON + "out_of_range.406", true, -32700, nullptr},
      {"invalid UTF-8", "{\"id\":\"\xc3\",\"method\":\"m\"}", NOT_JSON, true, -32700, nullptr},
      {"deep request id", R"({"id":)" + deep + R"(,"method":"m"})", TOO_DEEP, true, -32600, nullptr},
      {"deep params, id before", R"({"id":7,"method":"m","params":)" + deep + "}", TOO_DEEP, true, -32600, 7},
      {"deep params, id after", R"({"method":"m","params":)" + deep + R"(,"id":"x"})", TOO_DEEP, true, -32600, "x"},
      {"deep response id", R"({"id":)" + deep + R"(,"result":1})", TOO_DEEP, false, 0, nullptr},
      {"deep notification", R"({"method":"m","params":)" + deep + "}", TOO_DEEP, false, 0, nullptr},
      {"deep and then bad syntax", R"({"id":1,"method":"m","params":)" + deep + "x", NOT_JSON, true, -32700, nullptr},
      {"deep bare array", deep, TOO_DEEP, false, 0, nullptr},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string body = c.body;
    auto got = parse_body(body);
    ASSERT_FALSE(got);
    EXPECT_TRUE(got.error().message.starts_with(c.message)) << got.error().message;
    EXPECT_EQ(got.error().owed_answer, c.owed);
    if (c.owed) {
      EXPECT_EQ(got.error().code, c.code);
      EXPECT_EQ(got.error().id, c.id);
    }
  }
  // The deepest value that is taken.
  std::string deepest = std::string(512, '[') + std::string(512, ']');
  EXPECT_TRUE(parse_body(deepest));
  std::string one_more = "[" + deepest + "]";
  EXPECT_FALSE(parse_body(one_more));
}

TEST(ParseBody, LoneSurrogateEscapesReadAsReplacementCharacters) {
  const std::string FFFD = "\xEF\xBF\xBD";
  struct Case {
    const char* what;
    std::string json_text;  // inside the quotes
    std::string expected;
  } cases[] = {
      {"high alone", R"(a\ud800b)", "a" + FFFD + "b"},
      {"low alone", R"(\uDC00)", FFFD},
      {"high at the end", R"(x\ud83d)", "x" + FFFD},
      {"high before a non-surrogate", R"(\ud800\u0041)", FFFD + "A"},
      {"two highs", R"(\ud800\ud800)", FFFD + FFFD},
      {"reversed pair", R"(\udc00\ud800)", FFFD + FFFD},
      {"a pair stays", R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
      {"high before a pair", R"(\ud800\ud83d\ude00)", FFFD + "\xF0\x9F\x98\x80"},
      {"escaped backslash is no escape", R"(\\ud800)", "\\ud800"},
      {"after other escapes", R"(\n\"\\\ud800)", "\n\"\\" + FFFD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string body = "[\"" + c.json_text + "\"]";
    auto got = parse_body(body);
    ASSERT_TRUE(got) << got.error().message;
    EXPECT_EQ(got->at(0).get<std::string>(), c.expected);
  }
}

TEST(Writer, FramesCompactSortedJson) {
  io::StringOutput out;
  Writer writer(out);
  EXPECT_FALSE(writer.write(json{{"b", 1}, {"a", {1, 2}}, {"é", "x"}}));
  EXPECT_EQ(out.data, "Content-Length: 26\r\n\r\n{\"a\":[1,2],\"b\":1,\"é\":\"x\"}");
}

TEST(Writer, InvalidUtf8IsAnError) {
  io::StringOutput out;
  Writer writer(out);
  for (const json& bad :
       {json("\xff"), json{{"k\xc0\x80", 1}}, json::array({"ok", "long enough to be read by words\xed\xa0\x80"})}) {
    SCOPED_TRACE(bad.dump(-1, ' ', false, json::error_handler_t::replace));
    EXPECT_TRUE(writer.write(bad));
    EXPECT_FALSE(serialize(bad));
  }
  EXPECT_EQ(out.data, "");
  // The writer goes on after a refusal, its buffer reused.
  EXPECT_FALSE(writer.write(json::array()));
  EXPECT_EQ(out.data, "Content-Length: 2\r\n\r\n[]");
}

TEST(Writer, SerialisesAsTheLibraryDumps) {
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls.push_back(static_cast<char>(c));
  const json cases[] = {
      nullptr,
      true,
      false,
      0,
      -1,
      INT64_MIN,
      UINT64_MAX,
      1.5,
      -0.0,
      1e300,
      0.1,
      "",
      "plain ascii that runs for more than eight bytes",
      controls,
      "\"\\/\x7f",
      "quote \" and backslash \\ inside words, tab\t, line\n",
      "é日本語🎉 mixed with ascii text 12345678",
      json::array(),
      json::object(),
      json::array({json::array(), json::object(), json::array({1, json::array({2})})}),
      json{{"z", 1}, {"a", {{"b", nullptr}, {"a", "x"}}}, {"é", json::array({true, "\n"})}, {"", 0}},
      json::binary({1, 2, 3}),
  };
  for (const json& value : cases) {
    SCOPED_TRACE(value.dump());
    const auto text = serialize(value);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, value.dump());
  }
}

TEST(Writer, DeepNestingIsWrittenWithoutRecursion) {
  json deep = json::array();
  for (int i = 0; i < 200000; ++i) deep = json::array({std::move(deep)});
  const auto text = serialize(deep);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 2u * 200001);
  EXPECT_TRUE(text->starts_with("[[[") && text->ends_with("]]]"));
}

TEST(Message, Classification) {
  struct Case {
    const char* value;
    const char* kind;  // request, response, notification, invalid, none
  } cases[] = {
      {R"({"id":null,"method":"m"})", "request"},
      {R"({"id":1,"method":2})", "invalid"},
      {R"({"id":"s7","method":null,"params":{}})", "invalid"},
      {R"({"id":1,"method":2,"result":null})", "response"},
      {R"({"error":{"code":1,"message":"m"},"id":1,"method":[]})", "response"},
      {R"({"id":"x","result":1})", "response"},
      {R"({"method":"m"})", "notification"},
      {R"({})", "none"},
      {R"([1])", "none"},
      {R"({"jsonrpc":"2.0"})", "none"},
      {R"({"method":3})", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    auto m = from_value(json::parse(c.value));
    std::string kind = !m                                     ? "none"
                       : std::holds_alternative<Request>(*m)  ? "request"
                       : std::holds_alternative<Response>(*m) ? "response"
                       : std::holds_alternative<Invalid>(*m)  ? "invalid"
                                                              : "notification";
    EXPECT_EQ(kind, c.kind);
  }
  auto n = from_value(json::parse(R"({"method":"m"})"));
  EXPECT_TRUE(std::get<Notification>(*n).params.is_null());
  auto r = from_value(json::parse(R"({"id":null,"method":"m","params":[1]})"));
  EXPECT_TRUE(std::get<Request>(*r).id.is_null());
  EXPECT_EQ(std::get<Request>(*r).params, json::parse("[1]"));
  // A request whose method is no string is still owed its answer.
  auto invalid = from_value(json::parse(R"({"jsonrpc":"2.0","id":13,"method":5})"));
  EXPECT_EQ(std::get<Invalid>(*invalid).id, 13);
  auto resp = from_value(json::parse(R"({"id":4,"result":{"a":1}})"));
  EXPECT_EQ(std::get<Response>(*resp).message.dump(), R"({"id":4,"result":{"a":1}})");
}

// A result serialised before is spliced in as the value would be written.
TEST(Build, ResultText) {
  const std::string result = R"([{"a":[1,2]},"x\"y",null])";
  for (const json& id : {json(7), json("q\"\\é"), json(nullptr)}) {
    SCOPED_TRACE(id.dump());
    const auto text = build::result_text(id, result);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, build::result(id, json::parse(result)).dump());
  }
  EXPECT_FALSE(build::result_text(json("\xff"), "1"));
}

TEST(Writer, WritesSerialisedText) {
  io::StringOutput out;
  Writer writer(out);
  EXPECT_FALSE(writer.write_text(R"({"é":1})"));
  EXPECT_EQ(out.data, "Content-Length: 8\r\n\r\n{\"é\":1}");
}

TEST(Build, Shapes) {
  EXPECT_EQ(build::error(7, -32601, "x is not supported").dump(),
            R"({"error":{"code":-32601,"message":"x is not supported"},"id":7,"jsonrpc":"2.0"})");
  EXPECT_EQ(build::request(1, "shutdown", nullptr).dump(),
            R"({"id":1,"jsonrpc":"2.0","method":"shutdown","params":null})");
  EXPECT_EQ(build::notification("n", json::object()).dump(), R"({"jsonrpc":"2.0","method":"n","params":{}})");
  EXPECT_EQ(build::result("a", nullptr).dump(), R"({"id":"a","jsonrpc":"2.0","result":null})");
}

}  // namespace
}  // namespace tovix_lsp::jsonrpc
