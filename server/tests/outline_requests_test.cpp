#include "core/outline_requests.h"

#include <gtest/gtest.h>

#include "features/symbols.h"
#include "reply_fixture.h"

namespace tovix_lsp::outline_requests {
namespace {

using json = nlohmann::json;
using testing_support::at;
using testing_support::describe;
using testing_support::REPLY_URI;
using Fixture = testing_support::ReplyFixture;

// The outline is written as text, and the core sends it as it is: the
// response an editor reads is the one the value would give.
TEST(OutlineRequestsReplies, SymbolsAreSentAsWritten) {
  Fixture f("local a = <Frame Name='top'><TextLabel/></Frame>\nreturn <>{a}</>\n");
  server::Reply reply = document_symbol(f.server, 1, at(0, 0));
  const auto* written = std::get_if<server::Serialized>(&reply);
  ASSERT_TRUE(written);
  const json expected = symbols::symbols(f.server.documents.get(REPLY_URI)->document);
  EXPECT_EQ(written->json, expected.dump());
  f.server.answer(4, std::move(reply));
  const std::string body = json{{"id", 4}, {"jsonrpc", "2.0"}, {"result", expected}}.dump();
  EXPECT_EQ(f.out.data, "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST(OutlineRequestsReplies, UnusableParamsAnswerNull) {
  Fixture f("return <Frame/>\n");
  const std::string other = "file:///tmp/tovix-requests/closed.tovix";
  EXPECT_EQ(describe(document_symbol(f.server, 1, at(0, 0, other))), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, at(0, 0, other))), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, json::object())), "null");
  EXPECT_EQ(describe(semantic_tokens(f.server, 1, at(0, 0))), R"(value {"data":[0,8,5,0,0]})");
}

}  // namespace
}  // namespace tovix_lsp::outline_requests
