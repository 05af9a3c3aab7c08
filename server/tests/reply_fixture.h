#pragma once

// What the tests of the core's request handlers share: a server with one
// open document, position params for it, and a handler's reply as one line.
// Handlers are called directly, so the reply they return is seen before the
// core carries it out.

#include <string>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

#include "core/server.h"

namespace tovix_lsp::testing_support {

inline const std::string REPLY_URI = "file:///tmp/tovix-requests/a.tovix";

struct ReplyFixture {
  explicit ReplyFixture(std::string text) { server.documents.open(REPLY_URI, std::move(text), 1); }
  io::StringOutput out;
  std::pair<events::Events::Sender, events::Events::Receiver> channel = events::Events::make();
  server::Server server{out, channel.first};
};

inline nlohmann::json at(nlohmann::json line, nlohmann::json character, std::string uri = REPLY_URI) {
  return {{"position", {{"character", character}, {"line", line}}}, {"textDocument", {{"uri", std::move(uri)}}}};
}

// The reply as one line: "null", "value <json>", "error <code> <message>" or
// "forward <method> local=<json> rename on_tags=<message> join".
inline std::string describe(const server::Reply& reply) {
  if (const auto* value = std::get_if<nlohmann::json>(&reply))
    return value->is_null() ? "null" : "value " + value->dump();
  if (const auto* failure = std::get_if<server::Failure>(&reply))
    return "error " + std::to_string(failure->code) + " " + failure->message;
  if (const auto* forward = std::get_if<server::AskChild>(&reply))
    return "forward " + forward->method + (forward->local ? " local=" + forward->local->dump() : "") +
           (forward->rename ? " rename" : "") + (forward->on_tags ? " on_tags=" + *forward->on_tags : "") +
           (forward->join_locations ? " join" : "");
  return "other";
}

}  // namespace tovix_lsp::testing_support
