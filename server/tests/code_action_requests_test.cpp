#include "core/code_action_requests.h"

#include <gtest/gtest.h>

#include "reply_fixture.h"

namespace tovix_lsp::code_action_requests {
namespace {

using json = nlohmann::json;
using testing_support::at;
using testing_support::describe;
using testing_support::REPLY_URI;

// The local quick fixes go to the child with the request, also when the
// context holds no diagnostics to fix.
TEST(CodeActionRequestsReplies, WhatIsForwardedAndHow) {
  testing_support::ReplyFixture f("local count = 1\nreturn <Frame>{count}</Frame>\n");
  json action = {{"textDocument", {{"uri", REPLY_URI}}}, {"range", at(0, 0).at("position")}};
  EXPECT_EQ(describe(code_action(f.server, 1, action)), "forward textDocument/codeAction local=[]");
  action["context"] = {{"diagnostics", 3}};
  EXPECT_EQ(describe(code_action(f.server, 1, action)), "forward textDocument/codeAction local=[]");
  EXPECT_EQ(describe(code_action(f.server, 1, json::object())), "null");
}

}  // namespace
}  // namespace tovix_lsp::code_action_requests
