#include "core/jsonrpc.h"

#include <algorithm>
#include <cstring>

#include "whitespace.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::jsonrpc {

namespace {

using json = nlohmann::json;

io::Error invalid(std::string message) {
  return io::Error{io::Error::Kind::InvalidData, std::move(message)};
}

bool iequals_ascii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::optional<std::uint64_t> parse_length(std::string_view value) {
  if (!value.empty() && value.front() == '+') value.remove_prefix(1);
  if (value.empty()) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return std::nullopt;
    n = n * 10 + d;
  }
  return n;
}

std::expected<bool, io::Error> Reader::fill() {
  if (begin_ == end_) begin_ = end_ = 0;
  if (end_ == buf_.size()) {
    // Keep unread bytes and make room behind them.
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  auto n = input_.read_some(std::span<char>(buf_.data() + end_, buf_.size() - end_));
  if (!n) return std::unexpected(n.error());
  end_ += *n;
  return *n > 0;
}

std::expected<bool, io::Error> Reader::read_line(std::string& line) {
  line.clear();
  for (;;) {
    if (begin_ < end_) {
      const char* start = buf_.data() + begin_;
      const char* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
      std::size_t take = lf ? static_cast<std::size_t>(lf - start) + 1 : end_ - begin_;
      line.append(start, take);
      begin_ += take;
      if (lf) return true;
      // A header line longer than any real header is a framing error, not a
      // reason to buffer without bound.
      if (line.size() > 64 * 1024) return std::unexpected(invalid("message header line is too long"));
    }
    auto more = fill();
    if (!more) return std::unexpected(more.error());
    if (!*more) return !line.empty();
  }
}

std::expected<void, io::Error> Reader::read_exact(std::string& out, std::size_t n) {
  out.clear();
  // Grow with the bytes that actually arrive, so that a large announced
  // length costs nothing until its bytes are there.
  out.reserve(std::min<std::size_t>(n, std::size_t{1} << 20));
  while (out.size() < n) {
    if (begin_ == end_) {
      auto more = fill();
      if (!more) return std::unexpected(more.error());
      if (!*more)
        return std::unexpected(io::Error{io::Error::Kind::UnexpectedEof, "failed to fill whole buffer"});
    }
    std::size_t take = std::min(n - out.size(), end_ - begin_);
    out.append(buf_.data() + begin_, take);
    begin_ += take;
  }
  return {};
}

std::expected<std::optional<json>, io::Error> Reader::read() {
  std::optional<std::uint64_t> length;
  std::string line;
  for (;;) {
    auto got = read_line(line);
    if (!got) return std::unexpected(got.error());
    if (!*got) return std::optional<json>{};
    if (!utf8_text::is_valid(line)) return std::unexpected(invalid("stream did not contain valid UTF-8"));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) break;
    auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string_view view(line);
    if (!iequals_ascii(tovix::whitespace::trim(view.substr(0, colon)), "Content-Length")) continue;
    length = parse_length(tovix::whitespace::trim(view.substr(colon + 1)));
  }
  if (!length) return std::unexpected(invalid("message header carried no Content-Length"));
  if (*length > MAX_CONTENT_LENGTH)
    return std::unexpected(invalid("message header announced " + std::to_string(*length) +
                                   " bytes, more than this server accepts"));
  std::string body;
  if (auto ok = read_exact(body, static_cast<std::size_t>(*length)); !ok) return std::unexpected(ok.error());
  json value = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    // Parse again with exceptions only to get the library's own message.
    try {
      json again = json::parse(body);
      (void)again;
    } catch (const json::exception& e) {
      return std::unexpected(invalid(e.what()));
    }
    return std::unexpected(invalid("body is not JSON"));
  }
  return std::optional<json>(std::move(value));
}

std::expected<std::string, io::Error> serialize(const json& value) {
  try {
    std::string out;
    out.reserve(128);
    out = value.dump();
    return out;
  } catch (const json::exception& e) {
    return std::unexpected(io::Error{io::Error::Kind::InvalidData, e.what()});
  }
}

std::optional<io::Error> Writer::write(const json& value) {
  auto body = serialize(value);
  if (!body) return body.error();
  return write_text(*body);
}

std::optional<io::Error> Writer::write_text(std::string_view body) {
  std::string frame = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  frame += body;
  if (auto ok = output_.write_all(frame); !ok) return ok.error();
  return std::nullopt;
}

std::optional<Message> from_value(json value) {
  if (!value.is_object() || value.empty()) return std::nullopt;
  auto method = value.find("method");
  bool has_method = method != value.end() && method->is_string();
  bool has_id = value.contains("id");
  auto params = [&] {
    auto p = value.find("params");
    return p == value.end() ? json(nullptr) : std::move(*p);
  };
  if (has_method && has_id) {
    std::string name = method->get<std::string>();
    json id = value["id"];
    return Request{std::move(id), std::move(name), params()};
  }
  if (has_id) {
    json id = value["id"];
    return Response{std::move(id), std::move(value)};
  }
  if (has_method) {
    std::string name = method->get<std::string>();
    return Notification{std::move(name), params()};
  }
  return std::nullopt;
}

namespace build {

json request(json id, std::string_view method, json params) {
  return json{{"id", std::move(id)}, {"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

json notification(std::string_view method, json params) {
  return json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

json result(json id, json result) {
  return json{{"id", std::move(id)}, {"jsonrpc", "2.0"}, {"result", std::move(result)}};
}

std::expected<std::string, io::Error> result_text(const json& id, std::string_view result) {
  auto id_text = serialize(id);
  if (!id_text) return id_text;
  std::string out;
  out.reserve(result.size() + id_text->size() + 40);
  // Keys in ascending order, as every other message is written.
  ((((out += "{\"id\":") += *id_text) += ",\"jsonrpc\":\"2.0\",\"result\":") += result) += '}';
  return out;
}

json error(json id, std::int64_t code, std::string_view message) {
  return json{{"error", {{"code", code}, {"message", message}}}, {"id", std::move(id)}, {"jsonrpc", "2.0"}};
}

}  // namespace build

}  // namespace tovix_lsp::jsonrpc
