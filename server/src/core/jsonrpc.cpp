#include "core/jsonrpc.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "tovix/whitespace.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::jsonrpc {

namespace {

using json = nlohmann::json;

constexpr std::size_t MAX_HEADER_LINE = 64 * 1024;

io::Error invalid(std::string message) { return io::Error{io::Error::Kind::InvalidData, std::move(message)}; }

// The value of the escape \uXXXX at `i`, if one is there.
std::optional<unsigned> utf16_escape_at(std::string_view text, std::size_t i) {
  if (i + 6 > text.size() || text[i] != '\\' || text[i + 1] != 'u') return std::nullopt;
  unsigned value = 0;
  for (char c : text.substr(i + 2, 4)) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

// Rewrites each unpaired surrogate escape as \ufffd, the same six bytes. A
// backslash starts an escape inside a string and is an error outside one,
// so escapes are found without tracking strings: walking from one escape
// to the next is exactly how the parser reads them.
void mend_lone_surrogates(std::string& body) {
  for (std::size_t i = body.find('\\'); i != std::string::npos; i = body.find('\\', i)) {
    const auto unit = utf16_escape_at(body, i);
    if (!unit) {
      i += 2;
      continue;
    }
    const bool high = *unit >= 0xD800 && *unit <= 0xDBFF;
    const bool low = *unit >= 0xDC00 && *unit <= 0xDFFF;
    if (high) {
      const auto next = utf16_escape_at(body, i + 6);
      if (next && *next >= 0xDC00 && *next <= 0xDFFF) {
        i += 12;
        continue;
      }
    }
    if (high || low) body.replace(i + 2, 4, "fffd");
    i += 6;
  }
}

// A library message made fit for an answer: valid UTF-8, and short (it can
// quote a long stretch of the body).
std::string one_line(std::string_view text) {
  constexpr std::size_t MAX = 300;
  std::string out = utf8_text::to_valid(text);
  if (out.size() > MAX) {
    out.resize(utf8_text::floor_boundary(out, MAX));
    out += "…";
  }
  return out;
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
      // A header line longer than any real header is a framing error, not a
      // reason to buffer without bound.
      if (line.size() > MAX_HEADER_LINE) return std::unexpected(invalid("message header line is too long"));
      if (lf) return true;
    }
    auto more = fill();
    if (!more) return std::unexpected(more.error());
    if (!*more) return !line.empty();
  }
}

std::expected<void, io::Error> Reader::pass(std::size_t n, const std::function<void(std::string_view)>& take) {
  while (n > 0) {
    if (begin_ == end_) {
      auto more = fill();
      if (!more) return std::unexpected(more.error());
      if (!*more)
        return std::unexpected(io::Error{io::Error::Kind::UnexpectedEof, "the input ended inside a message body"});
    }
    const std::size_t chunk = std::min(n, end_ - begin_);
    take(std::string_view(buf_.data() + begin_, chunk));
    begin_ += chunk;
    n -= chunk;
  }
  return {};
}

std::expected<void, io::Error> Reader::read_exact(std::string& out, std::size_t n) {
  out.clear();
  // Grow with the bytes that actually arrive, so that a large announced
  // length costs nothing until its bytes are there.
  out.reserve(std::min<std::size_t>(n, std::size_t{1} << 20));
  return pass(n, [&](std::string_view bytes) { out.append(bytes); });
}

namespace {

// The members of a body too long to take that its answer depends on, read
// as its bytes go past: whether it is an object with a string "method" and
// an "id", and the id's text. Nothing but those two values is kept.
class Skim {
 public:
  void feed(std::string_view bytes) {
    for (const char c : bytes) step(c);
  }

  // What the body is owed: a request gets -32600 with its id (null when the
  // id was not a plain value); anything else nothing. A response is told
  // with its id.
  Refused refused(std::size_t length, std::size_t limit) const {
    Refused out{"message of " + std::to_string(length) + " bytes is more than the " + std::to_string(limit) +
                    " this server takes",
                false, 0, nullptr};
    out.length = length;
    if (!id_) return out;
    out.id = json::parse(*id_, nullptr, false);
    if (out.id.is_discarded()) out.id = nullptr;
    const bool request = method_ && method_->front() == '"';
    if (!request) {
      out.response = true;
      return out;
    }
    out.owed_answer = true;
    out.code = INVALID_REQUEST;
    return out;
  }

 private:
  // A value longer than this is not an id anyone sends.
  static constexpr std::size_t MAX_VALUE = 1024;
  enum class Member { Other, Id, Method };

  void step(char c) {
    if (reading_) {
      if (!in_string_ && depth_ == 1 && (c == ',' || c == '}')) {
        finish_value();
      } else if (value_.size() < MAX_VALUE) {
        value_ += c;
      } else {
        plain_ = false;
      }
    }
    if (in_string_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        in_string_ = false;
        if (naming_) {
          naming_ = false;
          member_ = key_ == "id" ? Member::Id : key_ == "method" ? Member::Method : Member::Other;
        }
        return;
      }
      if (naming_ && key_.size() < 8) key_ += c;
      return;
    }
    switch (c) {
      case '"':
        in_string_ = true;
        if (depth_ == 1 && object_ && want_key_) {
          naming_ = true;
          want_key_ = false;
          key_.clear();
        }
        break;
      case '{':
      case '[':
        if (depth_ == 0 && c == '{' && !seen_) object_ = want_key_ = true;
        seen_ = true;
        if (reading_) plain_ = false;
        ++depth_;
        break;
      case '}':
      case ']':
        if (depth_ > 0) --depth_;
        break;
      case ',':
        if (depth_ == 1 && object_) want_key_ = true;
        break;
      case ':':
        if (depth_ == 1 && object_ && member_ != Member::Other) {
          reading_ = true;
          plain_ = true;
          value_.clear();
        }
        break;
      default: break;
    }
  }

  void finish_value() {
    reading_ = false;
    std::optional<std::string> text;
    if (plain_) text = std::string(tovix::whitespace::trim(value_));
    if (text && text->empty()) text.reset();
    if (member_ == Member::Id) id_ = text.value_or("null");
    if (member_ == Member::Method) method_ = text.value_or("null");
    member_ = Member::Other;
  }

  std::size_t depth_ = 0;
  bool seen_ = false;  // a container has started
  bool in_string_ = false;
  bool escaped_ = false;
  bool object_ = false;    // the body is an object
  bool want_key_ = false;  // at its top level, the next string names a member
  bool naming_ = false;    // that string is being read
  std::string key_;
  Member member_ = Member::Other;  // whose value comes or is being read
  bool reading_ = false;
  bool plain_ = true;  // the value is short and holds no container
  std::string value_;
  std::optional<std::string> id_;
  std::optional<std::string> method_;
};

}  // namespace

std::expected<Refused, io::Error> Reader::refuse(std::size_t n) {
  Skim skim;
  if (auto ok = pass(n, [&](std::string_view bytes) { skim.feed(bytes); }); !ok) return std::unexpected(ok.error());
  return skim.refused(n, max_body_);
}

std::expected<std::optional<json>, io::Error> Reader::read() {
  auto body = read_body();
  if (!body) return std::unexpected(body.error());
  if (!*body) return std::optional<json>{};
  auto value = parse_body(**body);
  if (!value) {
    refused_ = std::move(value.error());
    return std::unexpected(io::Error{io::Error::Kind::InvalidJson, refused_.message});
  }
  return std::optional<json>(std::move(*value));
}

std::expected<std::optional<std::string>, io::Error> Reader::read_body() {
  std::optional<std::uint64_t> length;
  std::string line;
  for (;;) {
    auto got = read_line(line);
    if (!got) return std::unexpected(got.error());
    if (!*got) return std::optional<std::string>{};
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
    return std::unexpected(
        invalid("message header announced " + std::to_string(*length) + " bytes, more than this server accepts"));
  if (*length > max_body_) {
    auto refused = refuse(static_cast<std::size_t>(*length));
    if (!refused) return std::unexpected(refused.error());
    refused_ = std::move(*refused);
    return std::unexpected(io::Error{io::Error::Kind::InvalidJson, refused_.message});
  }
  std::string body;
  if (auto ok = read_exact(body, static_cast<std::size_t>(*length)); !ok) return std::unexpected(ok.error());
  last_length_ = body.size();
  return std::optional<std::string>(std::move(body));
}

namespace {

// Builds the value of one body from the parser's events, with every array
// or object at `MAX_JSON_DEPTH` containers deep read but left out (null in
// its place), so that a cut value is told apart from bad syntax and a
// request's members after the cut are still seen. Each event costs the same
// however large the containers around it are (the library's own filtering
// parser rescans a container's members each time one of them ends).
class Builder {
 public:
  explicit Builder(json& root) : root_(root) {}

  bool too_deep() const { return too_deep_; }
  // Whether what was cut lay inside the top-level member "id".
  bool id_cut() const { return id_cut_; }

  bool null() { return place(nullptr); }
  bool boolean(bool v) { return place(v); }
  bool number_integer(json::number_integer_t v) { return place(v); }
  bool number_unsigned(json::number_unsigned_t v) { return place(v); }
  bool number_float(json::number_float_t v, const std::string&) { return place(v); }
  bool string(std::string& v) { return place(std::move(v)); }
  bool binary(json::binary_t& v) { return place(json::binary(std::move(v))); }

  bool start_object(std::size_t) { return open(json::value_t::object); }
  bool start_array(std::size_t) { return open(json::value_t::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(std::string& k) {
    if (skipping_ > 0) return true;
    if (open_.size() == 1) {
      in_id_ = k == "id";
      if (in_id_) id_cut_ = false;
    }
    key_ = std::move(k);
    return true;
  }

  template <typename Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& e) {
    throw e;
  }

 private:
  // The value goes where the container being built takes its next one.
  json* put(json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    json& container = *open_.back();
    if (container.is_array()) {
      container.get_ref<json::array_t&>().push_back(std::move(value));
      return &container.get_ref<json::array_t&>().back();
    }
    json& member = container.get_ref<json::object_t&>()[std::move(key_)];
    member = std::move(value);
    return &member;
  }

  bool place(json value) {
    if (skipping_ == 0) put(std::move(value));
    return true;
  }

  bool open(json::value_t type) {
    if (skipping_ > 0) {
      ++skipping_;
    } else if (open_.size() >= static_cast<std::size_t>(MAX_JSON_DEPTH)) {
      too_deep_ = true;
      id_cut_ = id_cut_ || in_id_;
      put(nullptr);
      skipping_ = 1;
    } else {
      open_.push_back(put(json(type)));
    }
    return true;
  }

  bool close() {
    if (skipping_ > 0)
      --skipping_;
    else
      open_.pop_back();
    return true;
  }

  json& root_;
  std::vector<json*> open_;   // the containers being built, outermost first
  std::string key_;           // the member name whose value comes next
  std::size_t skipping_ = 0;  // containers open inside the one being cut
  bool too_deep_ = false;
  bool in_id_ = false;
  bool id_cut_ = false;
};

}  // namespace

std::expected<json, Refused> parse_body(std::string& body) {
  mend_lone_surrogates(body);
  json value;
  Builder builder(value);
  try {
    json::sax_parse(body.begin(), body.end(), &builder);
  } catch (const json::exception& e) {
    return std::unexpected(Refused{"message is not JSON: " + one_line(e.what()), true, PARSE_ERROR, nullptr});
  }
  if (!builder.too_deep()) return value;
  Refused refused{"message is nested more than " + std::to_string(MAX_JSON_DEPTH) + " levels deep", false, 0, nullptr};
  const auto method = value.is_object() ? value.find("method") : value.end();
  if (method != value.end() && method->is_string() && value.contains("id")) {
    refused.owed_answer = true;
    refused.code = INVALID_REQUEST;
    if (!builder.id_cut()) refused.id = value["id"];
  }
  return std::unexpected(std::move(refused));
}

namespace {

// A frame buffer grown past this by one huge message is let go afterwards.
constexpr std::size_t MAX_KEPT = std::size_t{16} << 20;

constexpr std::uint64_t ONES = 0x0101010101010101ull;
constexpr std::uint64_t HIGHS = 0x8080808080808080ull;

// Whether none of the eight bytes of `word` needs a second look: a control
// byte, a quote, a backslash, or a byte of a multi-byte character. (A byte
// that needs none may be flagged too; the byte-wise path then decides.)
bool plain(std::uint64_t word) {
  const std::uint64_t quote = word ^ (ONES * '"');
  const std::uint64_t backslash = word ^ (ONES * '\\');
  const std::uint64_t flagged =
      ((word - ONES * 0x20) & ~word) | ((quote - ONES) & ~quote) | ((backslash - ONES) & ~backslash) | word;
  return (flagged & HIGHS) == 0;
}

// Appends `text` as a JSON string with the library's escapes; false when it
// is not valid UTF-8. Eight bytes at a time where nothing needs escaping,
// which is nearly all of a document's text.
bool append_string(std::string& out, std::string_view text) {
  static constexpr char HEX[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t copied = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (plain(word)) {
        i += 8;
        continue;
      }
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      const utf8_text::Step step = utf8_text::decode(text, i);
      if (!step.valid) return false;
      i += step.len;
      continue;
    }
    if (byte >= 0x20 && byte != '"' && byte != '\\') {
      ++i;
      continue;
    }
    out.append(text.data() + copied, i - copied);
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out.push_back(HEX[byte >> 4]);
        out.push_back(HEX[byte & 0xF]);
    }
    copied = ++i;
  }
  out.append(text.data() + copied, text.size() - copied);
  out.push_back('"');
  return true;
}

template <typename Number>
void append_number(std::string& out, Number n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, end);
}

// Appends the compact text of `root`; false for a string that is not valid
// UTF-8. An explicit stack of the containers being written, so no payload
// nests deep enough to exhaust the thread's stack.
bool append_value(std::string& out, const json& root) {
  struct Open {
    const json* container;
    json::const_iterator next;
  };
  std::vector<Open> open;
  const json* value = &root;
  for (;;) {
    switch (value->type()) {
      case json::value_t::object:
      case json::value_t::array:
        if (value->empty()) {
          out += value->is_object() ? "{}" : "[]";
        } else {
          out.push_back(value->is_object() ? '{' : '[');
          open.push_back({value, value->cbegin()});
        }
        break;
      case json::value_t::string:
        if (!append_string(out, value->get_ref<const std::string&>())) return false;
        break;
      case json::value_t::boolean: out += value->get<bool>() ? "true" : "false"; break;
      case json::value_t::number_integer: append_number(out, value->get<std::int64_t>()); break;
      case json::value_t::number_unsigned: append_number(out, value->get<std::uint64_t>()); break;
      case json::value_t::null: out += "null"; break;
      default: out += value->dump(); break;  // floats, and what LSP never carries
    }
    // The next value to write, closing the containers that are done.
    for (;;) {
      if (open.empty()) return true;
      Open& top = open.back();
      if (top.next == top.container->cend()) {
        out.push_back(top.container->is_object() ? '}' : ']');
        open.pop_back();
        continue;
      }
      if (top.next != top.container->cbegin()) out.push_back(',');
      if (top.container->is_object()) {
        if (!append_string(out, top.next.key())) return false;
        out.push_back(':');
      }
      value = &*top.next;
      ++top.next;
      break;
    }
  }
}

io::Error not_utf8() { return invalid("a string to be written is not valid UTF-8"); }

}  // namespace

std::expected<std::string, io::Error> serialize(const json& value) {
  std::string out;
  if (!append_value(out, value)) return std::unexpected(not_utf8());
  return out;
}

bool append(std::string& out, const json& value) { return append_value(out, value); }

namespace {

// Serialises `value` as a whole frame into `out` and gives where the frame
// starts: the body is written after room for the longest header, and the
// header then just before it, so that the frame is one buffer.
std::optional<std::size_t> frame_into(std::string& out, const json& value) {
  static constexpr std::string_view NAME = "Content-Length: ";
  static constexpr std::size_t ROOM = NAME.size() + 20 + 4;
  out.assign(ROOM, ' ');
  if (!append_value(out, value)) return std::nullopt;
  const std::string header = std::string(NAME) + std::to_string(out.size() - ROOM) + "\r\n\r\n";
  const std::size_t start = ROOM - header.size();
  out.replace(start, header.size(), header);
  return start;
}

}  // namespace

std::expected<std::string, io::Error> frame(const json& value) {
  std::string out;
  const auto start = frame_into(out, value);
  if (!start) return std::unexpected(not_utf8());
  out.erase(0, *start);
  return out;
}

std::optional<io::Error> Writer::write(const json& value) {
  const auto start = frame_into(frame_, value);
  if (!start) return not_utf8();
  auto ok = output_.write_all(std::string_view(frame_).substr(*start));
  // One huge message should not keep its memory for the rest of the run.
  if (frame_.capacity() > MAX_KEPT) std::string().swap(frame_);
  if (!ok) return ok.error();
  return std::nullopt;
}

std::optional<io::Error> Writer::write_text(std::string_view body) {
  frame_ = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  frame_ += body;
  auto ok = output_.write_all(frame_);
  if (frame_.capacity() > MAX_KEPT) std::string().swap(frame_);
  if (!ok) return ok.error();
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
    if (method != value.end() && !value.contains("result") && !value.contains("error")) return Invalid{std::move(id)};
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
