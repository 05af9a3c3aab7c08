#include "workspace/protocol.h"

#include <gtest/gtest.h>

namespace tovix_lsp::protocol {
namespace {

using nlohmann::json;

// A line or character is a JSON integer from 0 to 2^32 - 1; anything else
// makes the position unreadable, so a request about it answers null and an
// edit at it is refused. Nothing is wrapped onto another place.
TEST(Protocol, PositionsReadOnlyInRange) {
  struct Case {
    const char* what;
    json line, character;
    std::optional<Position> expected;
  } cases[] = {
      {"plain", 3, 7, Position{3, 7}},
      {"the largest", 4294967295ull, 4294967295ull, Position{4294967295u, 4294967295u}},
      {"line 2^32", 4294967296ull, 0, std::nullopt},
      {"character 2^32 + 1", 0, 4294967297ull, std::nullopt},
      {"2^64 - 1", 0, UINT64_MAX, std::nullopt},
      {"negative", -1, 0, std::nullopt},
      {"fraction", 0, 0.5, std::nullopt},
      {"a number as text", "1", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const json position = {{"line", c.line}, {"character", c.character}};
    EXPECT_EQ(read_position(position), c.expected);
    const auto params = read_text_document_position({{"textDocument", {{"uri", "file:///a"}}}, {"position", position}});
    EXPECT_EQ(params.has_value(), c.expected.has_value());
  }
}

}  // namespace
}  // namespace tovix_lsp::protocol
