#include "workspace/published.h"

#include <charconv>

#include "workspace/member_key.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::published {

namespace {

using json = nlohmann::json;

// Deeper values are read as values (diagnostics nest a few levels).
constexpr std::size_t MAX_DEPTH = 32;
// Integers of more digits may not be written back as they came.
constexpr std::size_t MAX_DIGITS = 18;

// Reads JSON text that writing its value again would give unchanged,
// failing at the first byte that it would not.
class Canonical {
 public:
  explicit Canonical(std::string_view text) : text_(text) {}

  [[nodiscard]] std::size_t at() const { return pos_; }
  [[nodiscard]] bool done() const { return pos_ == text_.size(); }
  [[nodiscard]] bool at_object() const { return pos_ < text_.size() && text_[pos_] == '{'; }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // A string; its content (escapes and all) in `content`.
  bool string(std::string_view* content = nullptr) {
    if (!literal("\"")) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size()) {
      const auto byte = static_cast<unsigned char>(text_[pos_]);
      if (byte == '"') {
        if (content) *content = text_.substr(start, pos_ - start);
        ++pos_;
        return true;
      }
      if (byte < 0x20) return false;
      if (byte == '\\') {
        if (!escape()) return false;
      } else if (byte >= 0x80) {
        const utf8_text::Step step = utf8_text::decode(text_, pos_);
        if (!step.valid) return false;
        pos_ += step.len;
      } else {
        ++pos_;
      }
    }
    return false;
  }

  // A non-negative or negative integer as the writer writes it; its value
  // when it is one of a position (below 2^32).
  bool integer(std::optional<std::uint32_t>* position = nullptr) {
    const bool negative = pos_ < text_.size() && text_[pos_] == '-';
    if (negative) ++pos_;
    const std::size_t digits = pos_;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
    const std::size_t count = pos_ - digits;
    if (count == 0 || count > MAX_DIGITS || (text_[digits] == '0' && (count > 1 || negative))) return false;
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) return false;
    if (position) {
      std::uint64_t n = 0;
      std::from_chars(text_.data() + digits, text_.data() + pos_, n);
      *position =
          !negative && n <= 0xFFFFFFFFull ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(n)) : std::nullopt;
    }
    return true;
  }

  // Any value; `moving` is set when a member name that moves appears in it.
  bool value(std::size_t depth, bool& moving) {
    if (depth > MAX_DEPTH || pos_ >= text_.size()) return false;
    switch (text_[pos_]) {
      case '{': return object(depth, moving, nullptr);
      case '[': return array(depth, moving);
      case '"': return string();
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return integer();
    }
  }

  // An object; for a diagnostic (`item` given), where its range is.
  bool object(std::size_t depth, bool& moving, Item* item) {
    if (!literal("{")) return false;
    if (literal("}")) return true;
    std::string_view previous;
    for (bool first = true;; first = false) {
      std::string_view key;
      if (!string(&key) || key.find('\\') != std::string_view::npos) return false;
      if (!first && !(previous < key)) return false;
      previous = key;
      if (!literal(":")) return false;
      const std::size_t value_at = pos_;
      if (item && key == "range") {
        item->range_offset = value_at;
        if (!range(depth + 1, *item)) {
          pos_ = value_at;
          moving = true;
          if (!value(depth + 1, moving)) return false;
        }
        item->range_length = pos_ - value_at;
      } else {
        moving = moving || member_key::moves(member_key::key_of(key));
        if (!value(depth + 1, moving)) return false;
      }
      if (literal("}")) return true;
      if (!literal(",")) return false;
    }
  }

 private:
  bool escape() {
    // The writer escapes only these, and other control bytes as \u00xx.
    if (pos_ + 1 >= text_.size()) return false;
    const char next = text_[pos_ + 1];
    if (next == '"' || next == '\\' || next == 'b' || next == 'f' || next == 'n' || next == 'r' || next == 't') {
      pos_ += 2;
      return true;
    }
    if (next != 'u' || text_.substr(pos_ + 2, 2) != "00" || pos_ + 6 > text_.size()) return false;
    const auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    const int high = hex(text_[pos_ + 4]);
    const int low = hex(text_[pos_ + 5]);
    if (high < 0 || low < 0) return false;
    const int byte = high * 16 + low;
    if (byte >= 0x20 || byte == '\b' || byte == '\f' || byte == '\n' || byte == '\r' || byte == '\t') return false;
    pos_ += 6;
    return true;
  }

  bool array(std::size_t depth, bool& moving) {
    if (!literal("[")) return false;
    if (literal("]")) return true;
    for (;;) {
      if (!value(depth + 1, moving)) return false;
      if (literal("]")) return true;
      if (!literal(",")) return false;
    }
  }

  bool position(protocol::Position& p) {
    std::optional<std::uint32_t> character, line;
    if (!literal("{\"character\":") || !integer(&character) || !literal(",\"line\":") || !integer(&line) ||
        !literal("}") || !character || !line)
      return false;
    p = {*line, *character};
    return true;
  }

  // A range of exactly the form a position moves in.
  bool range(std::size_t depth, Item& item) {
    if (depth > MAX_DEPTH) return false;
    return literal("{\"end\":") && position(item.range.end) && literal(",\"start\":") && position(item.range.start) &&
           literal("}");
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// The diagnostic at the reader's place, added to `items` with its offset
// from `base`.
bool item(Canonical& reader, std::vector<Item>& items, std::size_t base) {
  Item item;
  const std::size_t start = reader.at();
  bool moving = false;
  // Anything but an object is no diagnostic, and is moved as a value.
  const bool read = reader.at_object() ? reader.object(1, moving, &item) : (moving = true, reader.value(1, moving));
  if (!read) return false;
  item.plain = !moving && item.range_length > 0;
  if (item.range_length > 0) item.range_offset -= start;
  item.offset = start - base;
  item.length = reader.at() - start;
  items.push_back(item);
  return true;
}

}  // namespace

std::optional<Notification> scan_notification(std::string& body) {
  static constexpr std::string_view HEAD =
      R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"diagnostics":[)";
  if (!std::string_view(body).starts_with(HEAD)) return std::nullopt;
  Canonical reader(body);
  (void)reader.literal(HEAD);
  Notification out;
  const std::size_t list_start = reader.at();
  if (!reader.literal("]")) {
    for (;;) {
      if (!item(reader, out.diagnostics.items, list_start)) return std::nullopt;
      if (reader.literal("]")) break;
      if (!reader.literal(",")) return std::nullopt;
    }
  }
  const std::size_t list_end = reader.at() - 1;
  std::string_view uri;
  if (!reader.literal(",\"uri\":") || !reader.string(&uri) || uri.find('\\') != std::string_view::npos)
    return std::nullopt;
  out.uri = uri;
  if (reader.literal(",\"version\":")) {
    const std::size_t start = reader.at();
    if (!reader.integer()) return std::nullopt;
    std::int64_t v = 0;
    std::from_chars(body.data() + start, body.data() + reader.at(), v);
    out.version = v;
  }
  if (!reader.literal("}}") || !reader.done()) return std::nullopt;
  // Only the list is kept: the items' offsets are of it.
  out.diagnostics.text = std::move(body);
  out.diagnostics.text.erase(list_end);
  out.diagnostics.text.erase(0, list_start);
  return out;
}

json value_of(const Notification& notification) {
  json params = {{"diagnostics", json::parse("[" + notification.diagnostics.text + "]", nullptr, false)},
                 {"uri", notification.uri}};
  if (notification.version) params["version"] = *notification.version;
  return {{"jsonrpc", "2.0"}, {"method", "textDocument/publishDiagnostics"}, {"params", std::move(params)}};
}

Publication of_values(const json& list) {
  Publication out;
  if (!list.is_array()) return out;
  for (const json& each : list) {
    if (!out.text.empty()) out.text.push_back(',');
    const std::size_t start = out.text.size();
    out.text += each.dump(-1, ' ', false, json::error_handler_t::replace);
    Canonical reader(std::string_view(out.text).substr(start));
    std::vector<Item> one;
    if (item(reader, one, 0) && reader.done()) {
      one.front().offset = start;
      out.items.push_back(one.front());
    } else {
      // Written in a form that is not read here (a float): moved as a value.
      Item whole;
      whole.offset = start;
      whole.length = out.text.size() - start;
      out.items.push_back(whole);
    }
  }
  return out;
}

}  // namespace tovix_lsp::published
