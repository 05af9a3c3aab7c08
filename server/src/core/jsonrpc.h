#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/io.h"

namespace tovix_lsp::jsonrpc {

// Framed messages: a header of lines, an empty line, then a body of exactly
// Content-Length bytes holding one JSON text.

// A body larger than this is refused as invalid data rather than allocated:
// no editor sends a single message of this size, and a corrupt or hostile
// header must not make the server try to allocate gigabytes.
inline constexpr std::size_t MAX_CONTENT_LENGTH = std::size_t{256} << 20;

class Reader {
 public:
  explicit Reader(io::Input& input) : input_(input), buf_(BUFFER_SIZE) {}

  // One message: its JSON value, nothing when the input ended before a
  // header was complete, or the error that ended the stream. After an error
  // the stream is not usable: callers stop reading.
  [[nodiscard]] std::expected<std::optional<nlohmann::json>, io::Error> read();

 private:
  static constexpr std::size_t BUFFER_SIZE = 8192;

  // Reads one line up to and including LF into `line`; false at end of input
  // with nothing read.
  [[nodiscard]] std::expected<bool, io::Error> read_line(std::string& line);
  [[nodiscard]] std::expected<void, io::Error> read_exact(std::string& out, std::size_t n);
  [[nodiscard]] std::expected<bool, io::Error> fill();

  io::Input& input_;
  std::vector<char> buf_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Reads one Content-Length value: at most one leading "+", then ASCII digits,
// nothing else, no overflow. Exposed for tests.
[[nodiscard]] std::optional<std::uint64_t> parse_length(std::string_view value);

class Writer {
 public:
  explicit Writer(io::Output& output) : output_(output) {}

  // Serialises `value` compactly (object keys in ascending byte order) and
  // writes header and body. Nothing on success.
  [[nodiscard]] std::optional<io::Error> write(const nlohmann::json& value);

  // Writes header and `body`, one JSON text already serialised.
  [[nodiscard]] std::optional<io::Error> write_text(std::string_view body);

 private:
  io::Output& output_;
};

// Compact JSON text of `value`, or an error for text that is not valid UTF-8.
[[nodiscard]] std::expected<std::string, io::Error> serialize(const nlohmann::json& value);

struct Request {
  nlohmann::json id;
  std::string method;
  nlohmann::json params;
};

struct Response {
  nlohmann::json id;
  nlohmann::json message;  // the whole object, "result" or "error" inside
};

struct Notification {
  std::string method;
  nlohmann::json params;
};

using Message = std::variant<Request, Response, Notification>;

// Classifies a parsed value; nothing for a value that is none of the three
// kinds (not an object, empty, or with neither "id" nor a string "method").
[[nodiscard]] std::optional<Message> from_value(nlohmann::json value);

namespace build {
[[nodiscard]] nlohmann::json request(nlohmann::json id, std::string_view method, nlohmann::json params);
[[nodiscard]] nlohmann::json notification(std::string_view method, nlohmann::json params);
[[nodiscard]] nlohmann::json result(nlohmann::json id, nlohmann::json result);
// The text of `result(id, r)` for a result `r` already serialised as
// compact JSON text, spliced in as it is.
[[nodiscard]] std::expected<std::string, io::Error> result_text(const nlohmann::json& id, std::string_view result);
[[nodiscard]] nlohmann::json error(nlohmann::json id, std::int64_t code, std::string_view message);
}  // namespace build

}  // namespace tovix_lsp::jsonrpc
