#include "tovix/config/raw.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>
#include <fmt/format.h>

// toml++ 3.3.0 states some expectations of its parser as assertions that
// malformed input breaks (a table header "[@]" reaches its key parser with
// '@'); its own error handling copes with such input, but under NDEBUG the
// assertions become optimiser assumptions where the compiler offers them.
// They are switched off altogether.
#pragma push_macro("NDEBUG")
#undef NDEBUG
#define TOML_ASSERT(expr) static_cast<void>(0)
#include <toml++/toml.h>
#pragma pop_macro("NDEBUG")

#include "tovix/unicode.h"

namespace tovix::config::raw {
namespace {

// A table's entries in document order; toml++ iterates tables sorted by key.
std::vector<std::pair<const toml::key*, const toml::node*>> in_document_order(const toml::table& table) {
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  entries.reserve(table.size());
  for (auto&& [key, node] : table) entries.emplace_back(&key, &node);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const toml::source_position& pa = a.first->source().begin;
    const toml::source_position& pb = b.first->source().begin;
    return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
  });
  return entries;
}

bool is_bare_key(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

// A text quoted with its quotes, backslashes and control characters escaped,
// so that messages stay on one line.
std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += fmt::format("\\u{{{:x}}}", byte);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string key_path(std::string_view parent, std::string_view key) {
  std::string part = is_bare_key(key) ? std::string(key) : quoted(key);
  return parent.empty() ? part : fmt::format("{}.{}", parent, part);
}

std::string streamed(const toml::node& node) {
  std::ostringstream out;
  node.visit([&](const auto& value) { out << value; });
  return out.str();
}

// What a value is, in the words of the type errors.
std::string describe(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string: return "string " + quoted(node.as_string()->get());
    case toml::node_type::integer: return fmt::format("integer `{}`", node.as_integer()->get());
    case toml::node_type::floating_point: {
      const double value = node.as_floating_point()->get();
      std::string text = fmt::format("{}", value);
      if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
      return fmt::format("floating point `{}`", text);
    }
    case toml::node_type::boolean: return fmt::format("boolean `{}`", node.as_boolean()->get());
    case toml::node_type::date: return fmt::format("date `{}`", streamed(node));
    case toml::node_type::time: return fmt::format("time `{}`", streamed(node));
    case toml::node_type::date_time: return fmt::format("datetime `{}`", streamed(node));
    case toml::node_type::array: return "sequence";
    case toml::node_type::table: return "map";
    case toml::node_type::none: break;
  }
  return "nothing";
}

RawError invalid_type(const toml::node& node, std::string_view expected, std::string_view path) {
  return {fmt::format("invalid type: {}, expected {} for key `{}`", describe(node), expected, path)};
}

RawError unknown_field(std::string_view key, std::initializer_list<std::string_view> fields, std::string_view parent) {
  std::string expected;
  if (fields.size() == 1) {
    expected = fmt::format("`{}`", *fields.begin());
  } else if (fields.size() == 2) {
    expected = fmt::format("`{}` or `{}`", *fields.begin(), *(fields.begin() + 1));
  } else {
    expected = "one of ";
    bool first = true;
    for (std::string_view field : fields) {
      expected += fmt::format("{}`{}`", first ? "" : ", ", field);
      first = false;
    }
  }
  std::string message = fmt::format("unknown field `{}`, expected {}", key, expected);
  if (!parent.empty()) message += fmt::format(" for key `{}`", parent);
  return {std::move(message)};
}

std::expected<std::string, RawError> text(const toml::node& node, std::string_view path) {
  if (const auto* value = node.as_string()) return value->get();
  return std::unexpected(invalid_type(node, "a string", path));
}

std::expected<bool, RawError> boolean(const toml::node& node, std::string_view path) {
  if (const auto* value = node.as_boolean()) return value->get();
  return std::unexpected(invalid_type(node, "a boolean", path));
}

std::expected<std::vector<std::string>, RawError> text_list(const toml::node& node, std::string_view path) {
  const toml::array* array = node.as_array();
  if (array == nullptr) return std::unexpected(invalid_type(node, "a sequence", path));
  std::vector<std::string> items;
  items.reserve(array->size());
  for (const toml::node& item : *array) {
    auto value = text(item, path);
    if (!value) return std::unexpected(std::move(value.error()));
    items.push_back(std::move(*value));
  }
  return items;
}

std::expected<Entries<std::string>, RawError> text_map(const toml::node& node, std::string_view path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "a map", path));
  Entries<std::string> entries;
  entries.reserve(table->size());
  for (auto [key, value] : in_document_order(*table)) {
    auto item = text(*value, key_path(path, key->str()));
    if (!item) return std::unexpected(std::move(item.error()));
    entries.emplace_back(std::string(key->str()), std::move(*item));
  }
  return entries;
}

// A text is tried first, then a table of texts; anything else fits neither.
std::expected<PropertyEntry, RawError> property_entry(const toml::node& node, std::string_view path) {
  if (const auto* value = node.as_string()) return PropertyEntry(value->get());
  if (node.is_table()) {
    if (auto members = text_map(node, path)) return PropertyEntry(std::move(*members));
  }
  return std::unexpected(
      RawError{fmt::format("data did not match any variant of untagged enum PropertyEntry for key `{}`", path)});
}

std::expected<Entries<PropertyEntry>, RawError> property_map(const toml::node& node, std::string_view path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "a map", path));
  Entries<PropertyEntry> entries;
  entries.reserve(table->size());
  for (auto [key, value] : in_document_order(*table)) {
    auto item = property_entry(*value, key_path(path, key->str()));
    if (!item) return std::unexpected(std::move(item.error()));
    entries.emplace_back(std::string(key->str()), std::move(*item));
  }
  return entries;
}

// Stores a checked value into its field, or passes the error on.
template <typename Field, typename T>
std::optional<RawError> assign(Field& field, std::expected<T, RawError> value) {
  if (!value) return std::move(value.error());
  field = std::move(*value);
  return std::nullopt;
}

std::expected<RawLints, RawError> lints(const toml::node& node, std::string_view path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "struct RawLints", path));
  RawLints raw;
  for (auto [key, value] : in_document_order(*table)) {
    const std::string_view name = key->str();
    const std::string child = key_path(path, name);
    std::optional<RawError> error;
    if (name == "static_conditional_child")
      error = assign(raw.static_conditional_child, text(*value, child));
    else
      error = unknown_field(name, {"static_conditional_child"}, path);
    if (error) return std::unexpected(std::move(*error));
  }
  return raw;
}

std::expected<RawFactory, RawError> factory(const toml::node& node, std::string_view path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "struct RawFactory", path));
  RawFactory raw;
  for (auto [key, value] : in_document_order(*table)) {
    const std::string_view name = key->str();
    std::optional<RawError> error;
    if (name == "create")
      error = assign(raw.create, text(*value, key_path(path, name)));
    else
      error = unknown_field(name, {"create"}, path);
    if (error) return std::unexpected(std::move(*error));
  }
  return raw;
}

std::expected<RawBuild, RawError> build(const toml::node& node, std::string_view path) {
  const toml::table* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "struct RawBuild", path));
  RawBuild raw;
  for (auto [key, value] : in_document_order(*table)) {
    const std::string_view name = key->str();
    const std::string child = key_path(path, name);
    std::optional<RawError> error;
    if (name == "in")
      error = assign(raw.in, text(*value, child));
    else if (name == "out")
      error = assign(raw.out, text(*value, child));
    else if (name == "include")
      error = assign(raw.include, text_list(*value, child));
    else if (name == "exclude")
      error = assign(raw.exclude, text_list(*value, child));
    else if (name == "clean")
      error = assign(raw.clean, boolean(*value, child));
    else
      error = unknown_field(name, {"in", "out", "include", "exclude", "clean"}, path);
    if (error) return std::unexpected(std::move(*error));
  }
  return raw;
}

// toml++ 3.3.0 asks whether a character is white space wherever a token may
// end or begin (and after a line-ending backslash), and for these blocks its
// generated table runs into an "unreachable" branch: undefined behaviour.
// Before toml++ sees the text, each such character is replaced by a
// private-use stand-in that it classifies safely and that behaves the same in
// strings and comments; stand-ins are turned back into the originals in every
// text taken from the tree and in messages. (Outside strings such a character
// is a syntax error either way, or part of a Unicode bare key, which the
// stand-in is not.)
struct Range {
  char32_t first;
  char32_t last;
};
constexpr Range UNCLASSIFIABLE[] = {{0x00A1, 0x0499}, {0x2C5E, 0x2FFF}, {0x3001, 0x3057}, {0xFB26, 0xFEFE}};
constexpr char32_t STAND_IN_FIRST = 0xE000;
constexpr char32_t STAND_IN_COUNT = [] {
  char32_t count = 0;
  for (const Range& r : UNCLASSIFIABLE) count += r.last - r.first + 1;
  return count;
}();
static_assert(STAND_IN_FIRST + STAND_IN_COUNT - 1 <= 0xF8FF, "stand-ins stay in the private use area");

std::optional<char32_t> stand_in(char32_t c) {
  char32_t index = 0;
  for (const Range& r : UNCLASSIFIABLE) {
    if (c >= r.first && c <= r.last) return STAND_IN_FIRST + index + (c - r.first);
    index += r.last - r.first + 1;
  }
  return std::nullopt;
}

bool is_stand_in(char32_t c) { return c >= STAND_IN_FIRST && c < STAND_IN_FIRST + STAND_IN_COUNT; }

char32_t original(char32_t stand_in) {
  char32_t index = stand_in - STAND_IN_FIRST;
  for (const Range& r : UNCLASSIFIABLE) {
    if (index <= r.last - r.first) return r.first + index;
    index -= r.last - r.first + 1;
  }
  return stand_in;
}

// Characters of the stand-in range written as \uXXXX or \UXXXXXXXX would be
// indistinguishable from stand-ins after parsing. Looks at every backslash,
// strings or not, so it finds at least every such escape.
std::optional<char32_t> escaped_stand_in(std::string_view text) {
  for (std::size_t i = text.find('\\'); i != std::string_view::npos; i = text.find('\\', i + 1)) {
    if (i + 1 >= text.size() || (text[i + 1] != 'u' && text[i + 1] != 'U')) continue;
    const std::size_t digits = text[i + 1] == 'u' ? 4 : 8;
    if (i + 2 + digits > text.size()) continue;
    std::uint32_t value = 0;
    bool hex = true;
    for (char c : text.substr(i + 2, digits)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) {
        hex = false;
        break;
      }
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    if (hex && is_stand_in(value)) return value;
  }
  return std::nullopt;
}

// The text with stand-ins, or none when it needs none. A text that already
// holds characters of the stand-in range could not be turned back, and is
// refused when it needs stand-ins.
std::expected<std::optional<std::string>, RawError> with_stand_ins(std::string_view text) {
  std::string out;
  bool replaced = false;
  std::optional<char32_t> written;  // a stand-in-range character in the text itself
  std::optional<char32_t> first;    // the first character that needs a stand-in
  for (std::size_t i = 0; i < text.size();) {
    const unicode::Char c = unicode::decode_at(text, i);
    i += c.length;
    const std::optional<char32_t> replacement = c.valid ? stand_in(c.value) : std::nullopt;
    if (c.valid && is_stand_in(c.value) && !written) written = c.value;
    if (replacement) {
      if (!first) first = c.value;
      unicode::append_utf8(out, *replacement);
      replaced = true;
    } else {
      out.append(text.substr(c.offset, c.length));
    }
  }
  if (!replaced) return std::nullopt;
  if (!written) written = escaped_stand_in(text);
  if (written) {
    return std::unexpected(RawError{
        fmt::format("Error while parsing: the private-use character U+{:04X} cannot be used together with U+{:04X}",
                    static_cast<std::uint32_t>(*written), static_cast<std::uint32_t>(*first))});
  }
  return out;
}

// Turns stand-ins back into the characters they replaced.
void restore(std::string& text) {
  std::string out;
  bool changed = false;
  for (std::size_t i = 0; i < text.size();) {
    const unicode::Char c = unicode::decode_at(text, i);
    i += c.length;
    if (c.valid && is_stand_in(c.value)) {
      unicode::append_utf8(out, original(c.value));
      changed = true;
    } else {
      out.append(std::string_view(text).substr(c.offset, c.length));
    }
  }
  if (changed) text = std::move(out);
}

template <typename V>
void restore(Entries<V>& entries);

void restore(PropertyEntry& entry) {
  std::visit([](auto& value) { restore(value); }, entry);
}

template <typename V>
void restore(Entries<V>& entries) {
  for (auto& [key, value] : entries) {
    restore(key);
    restore(value);
  }
}

void restore(std::optional<std::string>& text) {
  if (text) restore(*text);
}

void restore(std::optional<std::vector<std::string>>& list) {
  if (list)
    for (std::string& item : *list) restore(item);
}

void restore(RawConfig& raw) {
  restore(raw.elements);
  restore(raw.properties);
  restore(raw.lints.static_conditional_child);
  restore(raw.factory.create);
  restore(raw.build.in);
  restore(raw.build.out);
  restore(raw.build.include);
  restore(raw.build.exclude);
}

// toml++ recurses once per level of nesting while it parses, walks and
// destroys a document, and does not bound nesting made by dotted keys
// (a header "[a.a.a…]" of 200,000 parts). A settings file needs three
// levels; anything past this is refused before toml++ sees it.
constexpr std::size_t MAX_DEPTH = 128;

// The index after the string that starts at `i` (a quote), or where the
// string stops being one: a line break ends a single-line string, the text's
// end any string. Basic and literal strings, single-line or in triple quotes
// (which may end in up to two more quotes of content).
std::size_t skip_string(std::string_view text, std::size_t i) {
  const char quote = text[i];
  const bool escapes = quote == '"';
  const bool triple = text.substr(i, 3) == std::string(3, quote);
  for (i += triple ? 3 : 1; i < text.size(); ++i) {
    const char c = text[i];
    if (escapes && c == '\\') {
      ++i;
    } else if (c == quote) {
      if (!triple) return i + 1;
      if (text.substr(i, 3) == std::string(3, quote)) {
        i += 3;
        for (int extra = 0; extra < 2 && i < text.size() && text[i] == quote; ++extra) ++i;
        return i;
      }
    } else if (c == '\n' && !triple) {
      return i;
    }
  }
  return text.size();
}

// Whether the document nests tables and arrays more than MAX_DEPTH deep,
// judged by reading it as TOML is read, without building anything: a
// value's depth is the parts of its table header, then the parts of each
// key on the way to it, then one level per array around it. Up to the first
// place that is not TOML this agrees with toml++; what toml++ never builds
// may count deeper than it would nest. Linear, and its stack stays within
// MAX_DEPTH.
bool nested_too_deep(std::string_view text) {
  struct Open {
    char kind;          // '[' an array, '{' an inline table
    std::size_t depth;  // the container's own depth
  };
  std::vector<Open> open;
  std::size_t table = 0;        // depth of the table that top-level keys go into
  bool in_key = true;           // a statement's start, or after '{' or ',' in an inline table
  std::size_t key_parts = 1;    // parts of that key so far
  std::size_t value_depth = 0;  // depth of the next value
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      i = skip_string(text, i);
      continue;
    }
    if (c == '#') {
      i = std::min(text.find('\n', i), text.size());
      continue;
    }
    ++i;
    if (c == '\n' && open.empty()) {
      in_key = true;
      key_parts = 1;
    } else if (c == '.' && in_key) {
      ++key_parts;
    } else if (c == '=' && in_key) {
      in_key = false;
      value_depth = (open.empty() ? table : open.back().depth) + key_parts;
      if (value_depth > MAX_DEPTH) return true;
    } else if (c == '[' && open.empty() && in_key) {
      // A table header, "[a.b]" or "[[a.b]]" (whose table is one level
      // further down, inside the array).
      const bool array = i < text.size() && text[i] == '[';
      if (array) ++i;
      std::size_t parts = 1;
      while (i < text.size() && text[i] != ']' && text[i] != '\n') {
        if (text[i] == '"' || text[i] == '\'') {
          i = skip_string(text, i);
          continue;
        }
        if (text[i] == '.') ++parts;
        ++i;
      }
      table = parts + (array ? 1 : 0);
      if (table > MAX_DEPTH) return true;
    } else if (c == '[' || c == '{') {
      if (value_depth > MAX_DEPTH) return true;
      open.push_back({c, value_depth});
      in_key = c == '{';
      key_parts = 1;
      ++value_depth;  // an array's first element
    } else if ((c == ']' || c == '}') && !open.empty()) {
      open.pop_back();
      in_key = false;
    } else if (c == ',' && !open.empty()) {
      in_key = open.back().kind == '{';
      key_parts = 1;
      value_depth = open.back().depth + 1;
    }
  }
  return false;
}

// The records of a parsed document.
std::expected<RawConfig, RawError> records(const toml::table& root) {
  RawConfig raw;
  for (auto [key, value] : in_document_order(root)) {
    const std::string_view name = key->str();
    const std::string path = key_path("", name);
    std::optional<RawError> error;
    if (name == "elements")
      error = assign(raw.elements, text_map(*value, path));
    else if (name == "properties")
      error = assign(raw.properties, property_map(*value, path));
    else if (name == "lints")
      error = assign(raw.lints, lints(*value, path));
    else if (name == "factory")
      error = assign(raw.factory, factory(*value, path));
    else if (name == "build")
      error = assign(raw.build, build(*value, path));
    else
      error = unknown_field(name, {"elements", "properties", "lints", "factory", "build"}, "");
    if (error) return std::unexpected(std::move(*error));
  }
  return raw;
}

}  // namespace

std::expected<RawConfig, RawError> parse(std::string_view text) {
  if (nested_too_deep(text))
    return std::unexpected(RawError{fmt::format("tables and arrays are nested more than {} levels deep", MAX_DEPTH)});
  auto substituted = with_stand_ins(text);
  if (!substituted) return std::unexpected(std::move(substituted.error()));
  const bool stand_ins = substituted->has_value();
  toml::parse_result parsed = toml::parse(stand_ins ? std::string_view(**substituted) : text);
  std::expected<RawConfig, RawError> raw =
      parsed ? records(parsed.table()) : std::unexpected(RawError{std::string(parsed.error().description())});
  if (stand_ins) {
    if (raw)
      restore(*raw);
    else
      restore(raw.error().message);
  }
  return raw;
}

}  // namespace tovix::config::raw
