#include "core/forwarding.h"

#include <gtest/gtest.h>

namespace tovix_lsp::forwarding {
namespace {

using json = nlohmann::json;

json hover(const std::string& text, json range = nullptr) {
  json out = {{"contents", {{"kind", "markdown"}, {"value", text}}}};
  if (!range.is_null()) out["range"] = std::move(range);
  return out;
}

TEST(Merged, FollowsTheRulesInOrder) {
  const json range = {{"start", 1}, {"end", 2}};  // any value: it is copied, not read
  struct Case {
    const char* what;
    std::optional<json> local;
    json child;
    json expected;
  };
  const Case cases[] = {
      {"no local part", std::nullopt, json{{"a", 1}}, json{{"a", 1}}},
      {"no local part, null child", std::nullopt, nullptr, nullptr},
      {"arrays join, local first", json::array({1}), json::array({2, 3}), json::array({1, 2, 3})},
      {"null child keeps the local array", json::array({1}), nullptr, json::array({1})},
      {"null child keeps a local hover", hover("x"), nullptr, hover("x")},
      {"an object replaces a local array", json::array({1}), json{{"o", 1}}, json{{"o", 1}}},
      {"hovers: the documentation after the last fence follows the child's text",
       hover("```luau\nclass Frame\n```\n\n Docs here. \n", range), hover("child text", {{"other", 1}}),
       hover("child text\n\n---\n\nDocs here.", range)},
      {"hovers: a local text without a fence follows whole", hover(" plain note ", range), hover("c"),
       hover("c\n\n---\n\nplain note", range)},
      {"hovers: a local text ending in a fence adds nothing", hover("```luau\nx\n```", range), hover("c"),
       hover("c", range)},
      {"hovers: the range is null without a local one", hover("note"), hover("c", range),
       json{{"contents", {{"kind", "markdown"}, {"value", "c\n\n---\n\nnote"}}}, {"range", nullptr}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(merged(c.local ? &*c.local : nullptr, c.child), c.expected);
  }
}

TEST(LostTheDocument, NeedsTheCodeAndTheMarker) {
  EXPECT_TRUE(lost_the_document(json::parse(R"({"code":-32803,"message":"No managed text document for file:///x.luau"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803,"message":"something else"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32802,"message":"No managed text document"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803.0,"message":"No managed text document"})")));
  EXPECT_FALSE(lost_the_document(json::parse(R"({"code":-32803})")));
  EXPECT_FALSE(lost_the_document(nullptr));
}

TEST(StaleNote, FollowsTheHoverText) {
  json h = hover("type");
  add_stale_note(h);
  EXPECT_EQ(h, hover("type\n\n---\n\n*From the last version that compiled.*"));
  json other = json::array();
  add_stale_note(other);
  EXPECT_EQ(other, json::array());
}

}  // namespace
}  // namespace tovix_lsp::forwarding

#include <stdexcept>

#include "core/server.h"

namespace tovix_lsp::forwarding {
namespace {

// What the server wrote, one message body each.
std::vector<json> written(const std::string& wire) {
  std::vector<json> out;
  for (std::size_t pos = 0; pos < wire.size();) {
    const auto end = wire.find("\r\n\r\n", pos);
    const std::size_t length = std::stoul(wire.substr(pos + 16, end - pos - 16));
    out.push_back(json::parse(wire.substr(end + 4, length)));
    pos = end + 4 + length;
  }
  return out;
}

TEST(ChildAnswers, AFailureWhileHandlingOneStillAnswersTheEditorsRequest) {
  server::Handlers handlers = server::Handlers::standard();
  handlers.child = [](server::Server&, jsonrpc::Message) { throw std::runtime_error("boom"); };
  io::StringOutput out;
  auto channel = proxy::Events::make();
  server::Server s(out, channel.first, handlers);
  s.pending.emplace(4, server::Pending{server::Pending::Forward{json(9), "file:///a.tovix", std::nullopt, false, nullptr}});
  s.pending.emplace(5, server::Pending{server::Pending::Props{json("p"), "Card", nullptr, false}});
  s.pending.emplace(6, server::Pending{server::Pending::Initialize{}});
  const json log = {{"jsonrpc", "2.0"},
                    {"method", "window/logMessage"},
                    {"params", {{"message", "tovix: internal error handling a response — please report it"}, {"type", 1}}}};
  struct Case {
    int child_id;
    json editor_id;  // null: nobody waits
  } cases[] = {{4, 9}, {5, "p"}, {6, nullptr}, {7, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.child_id);
    out.data.clear();
    auto message = jsonrpc::from_value({{"jsonrpc", "2.0"}, {"id", c.child_id}, {"result", nullptr}});
    ASSERT_TRUE(message);
    s.guarded(std::move(*message), false);
    std::vector<json> expected = {log};
    if (!c.editor_id.is_null())
      expected.push_back(json{{"error", {{"code", -32603}, {"message", "tovix-lsp could not handle this request"}}},
                              {"id", c.editor_id},
                              {"jsonrpc", "2.0"}});
    EXPECT_EQ(written(out.data), expected);
  }
}

}  // namespace
}  // namespace tovix_lsp::forwarding
