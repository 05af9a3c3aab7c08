#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
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

// The largest body taken from the editor. A larger one (up to
// `MAX_CONTENT_LENGTH`) is read past without being kept or parsed, and a
// request among them is answered with an error: parsing and handling it
// would hold the main thread for seconds, and a document's text is far
// smaller (16 MiB is some 400,000 lines).
inline constexpr std::size_t MAX_EDITOR_BODY = std::size_t{16} << 20;

// Arrays and objects nested deeper than this are refused while a body is
// parsed, so that nothing later copies, compares, prints or destroys a value
// recursively past it. No protocol message comes close.
inline constexpr int MAX_JSON_DEPTH = 512;

// JSON-RPC's codes for a message that cannot be taken.
inline constexpr std::int64_t PARSE_ERROR = -32700;
inline constexpr std::int64_t INVALID_REQUEST = -32600;

// A well-framed body that cannot be taken, and the error answer its sender
// is owed: -32700 with a null id for a body that is not one JSON text;
// -32600 with the request's id (null when the id is what is too deep) for a
// request nested too deep. Anything else nested too deep is owed nothing.
// A body refused for its length also says whether it was a response, and
// under which id, so that what waited for it can be answered otherwise.
struct Refused {
  std::string message;  // one line, valid UTF-8
  bool owed_answer = false;
  std::int64_t code = 0;
  nlohmann::json id;
  bool response = false;
  std::size_t length = 0;  // of a body refused for its length
};

// Parses one body as JSON. An unpaired surrogate escape ("\ud800", which
// JavaScript writes for a lone surrogate) reads as U+FFFD, one UTF-16 unit
// like the original, so positions stay in step; `body` is mended in place.
[[nodiscard]] std::expected<nlohmann::json, Refused> parse_body(std::string& body);

class Reader {
 public:
  // Bodies longer than `max_body` are refused in step, unparsed.
  explicit Reader(io::Input& input, std::size_t max_body = MAX_CONTENT_LENGTH)
      : input_(input), buf_(BUFFER_SIZE), max_body_(max_body) {}

  // One message: its JSON value, nothing when the input ended before a
  // header was complete, or an error. After an `InvalidJson` error the
  // stream is still in step (`refused` says what the body was owed) and
  // reading may go on; after any other error the stream is not usable.
  [[nodiscard]] std::expected<std::optional<nlohmann::json>, io::Error> read();
  // `read` without the parse: the body as it came. A body refused for its
  // length is an `InvalidJson` error, as from `read`.
  [[nodiscard]] std::expected<std::optional<std::string>, io::Error> read_body();

  // The last body refused with `InvalidJson`.
  [[nodiscard]] const Refused& refused() const { return refused_; }
  // The size in bytes of the last body read.
  [[nodiscard]] std::size_t last_length() const { return last_length_; }

 private:
  static constexpr std::size_t BUFFER_SIZE = 8192;

  // Reads one line up to and including LF into `line`; false at end of input
  // with nothing read.
  [[nodiscard]] std::expected<bool, io::Error> read_line(std::string& line);
  // Hands the next `n` bytes of the input to `take`, as they arrive, in
  // pieces; an error when the input fails or ends before them.
  [[nodiscard]] std::expected<void, io::Error> pass(std::size_t n, const std::function<void(std::string_view)>& take);
  [[nodiscard]] std::expected<void, io::Error> read_exact(std::string& out, std::size_t n);
  // Reads past a body of `n` bytes too long to take; what it is owed.
  [[nodiscard]] std::expected<Refused, io::Error> refuse(std::size_t n);
  [[nodiscard]] std::expected<bool, io::Error> fill();

  io::Input& input_;
  std::vector<char> buf_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t max_body_;
  std::size_t last_length_ = 0;
  Refused refused_;
};

// Reads one Content-Length value: at most one leading "+", then ASCII digits,
// nothing else, no overflow. Exposed for tests.
[[nodiscard]] std::optional<std::uint64_t> parse_length(std::string_view value);

class Writer {
 public:
  explicit Writer(io::Output& output) : output_(output) {}

  // Serialises `value` compactly (object keys in ascending byte order) and
  // writes header and body. Nothing on success. The frame is built in a
  // buffer kept between writes: a whole document's text goes out on every
  // keystroke, and a fresh allocation of its size each time costs more than
  // the copy.
  [[nodiscard]] std::optional<io::Error> write(const nlohmann::json& value);

  // Writes header and `body`, one JSON text already serialised.
  [[nodiscard]] std::optional<io::Error> write_text(std::string_view body);

 private:
  io::Output& output_;
  std::string frame_;
};

// Compact JSON text of `value`, byte for byte the library's own `dump()`, or
// an error for a string that is not valid UTF-8. Nesting of any depth is
// written without recursion.
[[nodiscard]] std::expected<std::string, io::Error> serialize(const nlohmann::json& value);
// Appends what `serialize` gives to `out`; false (with `out` half written)
// for a string that is not valid UTF-8.
[[nodiscard]] bool append(std::string& out, const nlohmann::json& value);

// The whole frame of `value` (header and compact body) as one text, or an
// error for a string that is not valid UTF-8.
[[nodiscard]] std::expected<std::string, io::Error> frame(const nlohmann::json& value);

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

// A request that cannot be taken: an "id" with a "method" that is no
// string, and neither "result" nor "error". Owed `INVALID_REQUEST` under its
// id, as a response it is not.
struct Invalid {
  nlohmann::json id;
};

using Message = std::variant<Request, Response, Notification, Invalid>;

// The error text of an `Invalid` answer, and of any other request refused
// for its form.
inline constexpr std::string_view INVALID_REQUEST_MESSAGE = "invalid request";

// Classifies a parsed value; nothing for a value that is none of the four
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
