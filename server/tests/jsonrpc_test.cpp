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
      {"zero length is not JSON", "Content-Length: 0\r\n\r\n", "error:[json.exception.parse_error"},
      {"trailing whitespace", "Content-Length: 5\r\n\r\n{} \n\t", "{}"},
      {"trailing garbage", "Content-Length: 3\r\n\r\n{}x", "error:[json.exception.parse_error"},
      {"end of input at start", "", "none"},
      {"end of input after header lines", "Content-Length: 2\r\n", "none"},
      {"end of input in body", "Content-Length: 10\r\n\r\n{}", "error:failed to fill whole buffer"},
      {"header not UTF-8", "Content-Length: 2\xff\r\n\r\n{}", "error:stream did not contain valid UTF-8"},
      {"too large to accept", "Content-Length: 99999999999\r\n\r\n{}", "error:message header announced"},
      {"no-break space trimmed", "Content-Length:\xc2\xa0" "2\r\n\r\n{}", "{}"},
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
  std::string input = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body +
                      "Content-Length: 7\r\n\r\n[1,2,3]";
  io::StringInput in(input, 5000);
  Reader reader(in);
  auto first = reader.read();
  ASSERT_TRUE(first && *first);
  EXPECT_EQ((**first)["k"].get<std::string>().size(), big.size());
  auto second = reader.read();
  ASSERT_TRUE(second && *second);
  EXPECT_EQ((*second)->dump(), "[1,2,3]");
  auto third = reader.read();
  ASSERT_TRUE(third);
  EXPECT_FALSE(*third);
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
  EXPECT_TRUE(writer.write(json("\xff")));
  EXPECT_EQ(out.data, "");
}

TEST(Message, Classification) {
  struct Case {
    const char* value;
    const char* kind;  // request, response, notification, none
  } cases[] = {
      {R"({"id":null,"method":"m"})", "request"},
      {R"({"id":1,"method":2})", "response"},
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
    std::string kind = !m                                        ? "none"
                       : std::holds_alternative<Request>(*m)      ? "request"
                       : std::holds_alternative<Response>(*m)     ? "response"
                                                                  : "notification";
    EXPECT_EQ(kind, c.kind);
  }
  auto n = from_value(json::parse(R"({"method":"m"})"));
  EXPECT_TRUE(std::get<Notification>(*n).params.is_null());
  auto r = from_value(json::parse(R"({"id":null,"method":"m","params":[1]})"));
  EXPECT_TRUE(std::get<Request>(*r).id.is_null());
  EXPECT_EQ(std::get<Request>(*r).params, json::parse("[1]"));
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
