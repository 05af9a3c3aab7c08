#include "workspace/remap.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

#include "workspace/line_index.h"
#include "workspace/member_key.h"
#include "workspace/project.h"
#include "workspace/protocol.h"

namespace tovix_lsp::remap {

namespace {

using json = nlohmann::json;
using line_index::ByteRange;
using line_index::LineIndex;

// Legitimate payloads nest a few dozen levels; a deeper one is not walked,
// so no payload can exhaust the stack.
constexpr std::size_t MAX_DEPTH = 256;

// Texts are compared a block at a time, then byte by byte in the block that
// differs.
constexpr std::size_t BLOCK = 64;

// Bytes that `a` and `b` share at their start.
std::size_t common_prefix(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i + BLOCK <= n && std::memcmp(a.data() + i, b.data() + i, BLOCK) == 0) i += BLOCK;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Bytes that `a` and `b` share at their end, at most `limit`.
std::size_t common_suffix(std::string_view a, std::string_view b, std::size_t limit) {
  std::size_t i = 0;
  while (i + BLOCK <= limit &&
         std::memcmp(a.data() + a.size() - i - BLOCK, b.data() + b.size() - i - BLOCK, BLOCK) == 0)
    i += BLOCK;
  while (i < limit && a[a.size() - 1 - i] == b[b.size() - 1 - i]) ++i;
  return i;
}

// Whether a line of `text` ends at `pos`: its break (LF, or CR LF) or the
// end of the text follows.
bool line_ends_at(std::string_view text, std::size_t pos) {
  return pos == text.size() || text[pos] == '\n' ||
         (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n');
}

// Where the text a compile read and the document's current text hold the
// same lines: those before the first difference and those after the last.
// Between the two nothing counts as the same, not even a line that happens
// to read alike, as it may be another line moved there.
class Alignment {
 public:
  Alignment(std::string_view compiled, const LineIndex& compiled_index, std::string_view current,
            const LineIndex& current_index)
      : compiled_(compiled),
        current_(current),
        compiled_index_(compiled_index),
        current_index_(current_index),
        identical_(compiled == current) {
    if (identical_) return;
    prefix_ = common_prefix(compiled, current);
    // The shared end may reach back into the line of the first difference
    // (never before it): a line typed above another that starts alike
    // ("local probe" above "local function") leaves that line after the
    // last difference.
    const std::size_t line_start = compiled_index.starts()[compiled_index.line_of(prefix_)];
    suffix_ = common_suffix(compiled, current, std::min(compiled.size(), current.size()) - line_start);
  }

  [[nodiscard]] std::optional<std::size_t> to_current(std::size_t offset) const {
    return across(offset, compiled_index_, compiled_, current_);
  }
  [[nodiscard]] std::optional<std::size_t> to_compiled(std::size_t offset) const {
    return across(offset, current_index_, current_, compiled_);
  }

  // For a range of whole lines: the line of the other text where `line`
  // is, when both hold it unchanged. A line in between widens the range to
  // the whole changed stretch: to its first line for a range's first line
  // (`opening`), past its last for the line after a range. A line past the
  // end is the other text's line count.
  [[nodiscard]] std::size_t line_to_current(std::size_t line, bool opening) const {
    return line_across(line, opening, compiled_index_, compiled_, current_index_, current_);
  }
  [[nodiscard]] std::size_t line_to_compiled(std::size_t line, bool opening) const {
    return line_across(line, opening, current_index_, current_, compiled_index_, compiled_);
  }

 private:
  [[nodiscard]] std::size_t line_across(std::size_t line, bool opening, const LineIndex& index, std::string_view text,
                                        const LineIndex& other_index, std::string_view other) const {
    if (identical_) return line;
    if (line >= index.line_count()) return other_index.line_count();
    if (const auto moved = across(index.starts()[line], index, text, other)) return other_index.line_of(*moved);
    if (opening) return other_index.line_of(prefix_);
    return std::min(other_index.line_of(other.size() - suffix_) + 1, other_index.line_count());
  }

  // An offset of `text` (indexed by `index`) in `other`; nothing unless its
  // line is the same line in both.
  [[nodiscard]] std::optional<std::size_t> across(std::size_t offset, const LineIndex& index, std::string_view text,
                                                  std::string_view other) const {
    if (identical_) return offset;
    const auto& starts = index.starts();
    const std::size_t line = index.line_of(offset);
    const std::size_t start = starts[line];
    const bool last = line + 1 == starts.size();
    // The whole line, its break included, lies before the first difference
    // (a last line without a break: and the other's line ends there too).
    const std::size_t end = last ? text.size() : starts[line + 1];
    if (end <= prefix_ && (!last || line_ends_at(other, end))) return offset;
    // The line starts after the last difference, at a line start in both.
    if (start >= text.size() - suffix_) {
      const std::size_t moved = other.size() - (text.size() - start);
      if (moved == 0 ? start == 0 : other[moved - 1] == '\n') return moved + (offset - start);
    }
    return std::nullopt;
  }

  std::string_view compiled_;
  std::string_view current_;
  const LineIndex& compiled_index_;
  const LineIndex& current_index_;
  bool identical_;
  std::size_t prefix_ = 0;
  std::size_t suffix_ = 0;
};

using member_key::Key;
using member_key::key_of;

bool required(Key key) {
  return key == Key::Range || key == Key::Position || key == Key::TargetRange || key == Key::SelectionRange ||
         key == Key::TargetSelectionRange || key == Key::OriginSelectionRange || key == Key::Insert ||
         key == Key::Replace || key == Key::Location;
}

// Whether a member its object means nothing without has the form it must
// have: a position, a location (an object: its own members are judged in
// turn) or else a range. Whether it lies in its document's text is for the
// walk to tell, where it knows the document.
bool of_its_form(Key key, const json& value) {
  switch (key) {
    case Key::Position: return protocol::read_position(value).has_value();
    case Key::Location: return value.is_object();
    default: return protocol::read_range(value).has_value();
  }
}

bool own_edits(Key key) { return key == Key::Edit || key == Key::TextEdit || key == Key::AdditionalTextEdits; }

// The members of an object that decide how it moves, found in one pass.
struct Members {
  json* uri = nullptr;
  json* text_document = nullptr;
  json* target_uri = nullptr;
  json* start = nullptr;
  json* end = nullptr;
  json* start_line = nullptr;
  json* end_line = nullptr;
  bool line = false;
  bool character = false;

  explicit Members(json::object_t& object) {
    for (auto& [key, value] : object) {
      switch (key_of(key)) {
        case Key::Uri: uri = &value; break;
        case Key::TextDocument: text_document = &value; break;
        case Key::TargetUri: target_uri = &value; break;
        case Key::Start: start = &value; break;
        case Key::End: end = &value; break;
        case Key::StartLine: start_line = &value; break;
        case Key::EndLine: end_line = &value; break;
        case Key::Line: line = true; break;
        case Key::Character: character = true; break;
        default: break;
      }
    }
  }
};

// Whether a value has the members of a position, whatever their values.
bool positioned(const json& value) {
  return protocol::member(value, "line") != nullptr && protocol::member(value, "character") != nullptr;
}

const std::string* string_member(const json& object, std::string_view key) {
  const json* found = protocol::member(object, key);
  return found != nullptr && found->is_string() ? &found->get_ref<const std::string&>() : nullptr;
}

// Writes a position into `slot`, reusing its members when it already is a
// bare position, so moving one allocates nothing.
void put(json& slot, const protocol::Position& p) {
  if (slot.is_object() && slot.size() == 2) {
    auto& object = slot.get_ref<json::object_t&>();
    const auto line = object.find("line");
    const auto character = object.find("character");
    if (line != object.end() && character != object.end()) {
      line->second = p.line;
      character->second = p.character;
      return;
    }
  }
  slot = protocol::to_json(p);
}

}  // namespace

bool names(const Pair& pair, std::string_view uri) {
  return project::same_file(uri, pair.document->uri()) ||
         (!pair.generated_uri.empty() && project::same_file(uri, pair.generated_uri));
}

std::optional<std::size_t> to_output(const Pair& pair, std::size_t offset) {
  if (!pair.compiled) return std::nullopt;
  const analysis::Compiled& c = *pair.compiled;
  const auto source =
      Alignment(c.source, c.source_index, pair.document->text(), pair.document->index()).to_compiled(offset);
  return source ? c.map.to_output(*source) : std::nullopt;
}

// One document's side of the walk: reading positions in the incoming text,
// moving offsets, writing positions in the target text.
struct Remap::Scope {
  Pair pair;
  std::optional<Alignment> alignment;  // built for the first position moved

  [[nodiscard]] const Alignment& aligned() {
    if (!alignment) {
      const auto& c = *pair.compiled;
      alignment.emplace(c.source, c.source_index, pair.document->text(), pair.document->index());
    }
    return *alignment;
  }

  // The offset of a position value in the incoming text. Nothing for a value
  // that is not a valid position there. Without a compile nothing maps, so
  // any position that reads will do.
  [[nodiscard]] std::optional<std::size_t> incoming(const json& value, Direction direction) const {
    const auto p = protocol::read_position(value);
    if (!p) return std::nullopt;
    return incoming(*p, direction);
  }
  [[nodiscard]] std::optional<std::size_t> incoming(const protocol::Position& p, Direction direction) const {
    if (direction == Direction::ToOutput)
      return pair.document->index().offset(pair.document->text(), p.line, p.character);
    if (!pair.compiled) return 0;
    return pair.compiled->code_index.offset(pair.compiled->code, p.line, p.character);
  }

  [[nodiscard]] protocol::Position emit(std::size_t offset, Direction direction) const {
    if (direction == Direction::ToOutput) return pair.compiled->code_index.position(pair.compiled->code, offset);
    return pair.document->index().position(pair.document->text(), offset);
  }

  // Moves a point to where `slot` is written; false when it has no
  // counterpart.
  [[nodiscard]] bool move_point(std::size_t offset, Direction direction, json& slot) {
    if (!pair.compiled) return false;
    const auto& map = pair.compiled->map;
    std::optional<std::size_t> moved;
    if (direction == Direction::ToOutput) {
      const auto source = aligned().to_compiled(offset);
      if (!source) return false;
      moved = map.to_output(*source);
      if (!moved) moved = map.to_output_end(*source);
    } else {
      auto source = map.to_source(offset);
      if (!source) source = map.to_source_end(offset);
      if (source) moved = aligned().to_current(*source);
    }
    if (!moved) return false;
    put(slot, emit(*moved, direction));
    return true;
  }

  // A whole line moved, for a folding range: nothing for one that is no
  // line of the incoming text or was changed since the compile.
  [[nodiscard]] std::optional<std::size_t> move_line(std::uint32_t line, Direction direction) {
    if (!pair.compiled) return std::nullopt;
    const auto& c = *pair.compiled;
    const LineIndex& current = pair.document->index();
    // The generated code keeps each line of the text it was compiled from.
    if (direction == Direction::ToSource) {
      if (line >= c.code_index.line_count() || line >= c.source_index.line_count()) return std::nullopt;
      const auto moved = aligned().to_current(c.source_index.starts()[line]);
      if (!moved) return std::nullopt;
      return current.line_of(*moved);
    }
    if (line >= current.line_count()) return std::nullopt;
    const auto moved = aligned().to_compiled(current.starts()[line]);
    if (!moved) return std::nullopt;
    const std::size_t out = c.source_index.line_of(*moved);
    if (out >= c.code_index.line_count()) return std::nullopt;
    return out;
  }

  // `narrow`: a range towards the source that does not map whole is shown
  // where it can be: on the mapped pieces it holds, else on the opening
  // name of the element whose generated code holds it.
  [[nodiscard]] std::optional<ByteRange> move_range(std::size_t start, std::size_t end, Direction direction,
                                                    bool narrow) {
    if (!pair.compiled) return std::nullopt;
    const auto& map = pair.compiled->map;
    if (direction == Direction::ToOutput) {
      const auto s = aligned().to_compiled(start);
      const auto e = aligned().to_compiled(end);
      if (!s || !e) return std::nullopt;
      return map.to_output_range(*s, *e);
    }
    auto source = map.to_source_range(start, end);
    if (!source && narrow) source = map.to_source_within(start, end);
    if (!source && narrow) {
      if (const sourcemap::Element* element = map.element_holding(pair.compiled->code, start, end))
        source = element->name;
    }
    if (!source) return std::nullopt;
    const auto s = aligned().to_current(source->start);
    const auto e = aligned().to_current(source->end);
    if (!s || !e) return std::nullopt;
    return ByteRange{*s, *e};
  }
};

// A URI met in the payload: the scope it names (null for a file that is no
// open document's) and what it becomes on the other side, if it changes.
struct Remap::Named {
  std::string uri;
  Scope* scope = nullptr;
  std::optional<std::string_view> rewritten;
};

Remap::Remap(Pair home, Direction direction, Lookup others)
    : direction_(direction), others_(std::move(others)), home_(std::make_unique<Scope>(Scope{std::move(home), {}})) {}

Remap::~Remap() = default;

const Remap::Named& Remap::resolve(std::string_view uri) {
  if (const auto known = named_.find(uri); known != named_.end()) return *known->second;
  auto named = std::make_unique<Named>();
  named->uri = uri;
  if (names(home_->pair, uri)) {
    named->scope = home_.get();
  } else if (const auto found = others_ ? others_(uri) : std::nullopt) {
    auto& scope = scopes_[{found->document, found->compiled.get()}];
    if (!scope) scope = std::make_unique<Scope>(Scope{*found, {}});
    named->scope = scope.get();
  }
  if (named->scope != nullptr) {
    const Pair& pair = named->scope->pair;
    if (!pair.generated_uri.empty()) {
      if (direction_ == Direction::ToSource && project::same_file(uri, pair.generated_uri))
        named->rewritten = pair.document->uri();
      else if (direction_ == Direction::ToOutput && project::same_file(uri, pair.document->uri()))
        named->rewritten = pair.generated_uri;
    }
  }
  const Named& out = *named;
  named_.emplace(out.uri, std::move(named));
  return out;
}

std::optional<json> Remap::value(json v, bool in_scope) {
  if (!walk(v, in_scope ? home_.get() : nullptr, 0)) return std::nullopt;
  return v;
}

std::optional<json> Remap::diagnostics(json list) {
  // A diagnostic without a range cannot be shown anywhere: it goes as one
  // whose range has no counterpart does (the walk judges the range itself).
  if (list.is_array()) {
    std::erase_if(list.get_ref<json::array_t&>(), [&](const json& diagnostic) {
      if (protocol::member(diagnostic, "range") != nullptr) return false;
      ++drops_;
      return true;
    });
  }
  narrow_ = direction_ == Direction::ToSource;
  auto moved = value(std::move(list));
  narrow_ = false;
  return moved;
}

namespace {

void append_position(std::string& out, const protocol::Position& p) {
  char digits[16];
  out += "{\"character\":";
  out.append(digits, std::to_chars(digits, digits + sizeof digits, p.character).ptr);
  out += ",\"line\":";
  out.append(digits, std::to_chars(digits, digits + sizeof digits, p.line).ptr);
  out += '}';
}

}  // namespace

std::size_t Remap::diagnostics_text(const published::Publication& list, std::string& out) {
  std::size_t kept = 0;
  const auto separate = [&] {
    if (kept++ > 0) out.push_back(',');
  };
  Scope& home = *home_;
  // Offsets of one text are asked in no order; one walk of each line serves
  // every diagnostic on it.
  std::optional<line_index::Positions> positions;
  for (const published::Item& item : list.items) {
    const std::string_view text = list.item_text(item);
    if (!item.plain || direction_ != Direction::ToSource) {
      json one = json::parse(text, nullptr, false);
      if (one.is_discarded()) {
        ++drops_;
        continue;
      }
      const auto moved = diagnostics(json::array({std::move(one)}));
      if (!moved || moved->empty()) continue;
      separate();
      out += moved->front().dump(-1, ' ', false, json::error_handler_t::replace);
      continue;
    }
    const auto s = home.incoming(item.range.start, direction_);
    const auto e = home.incoming(item.range.end, direction_);
    const auto moved = s && e ? home.move_range(*s, *e, direction_, true) : std::nullopt;
    if (!moved) {
      ++drops_;
      continue;
    }
    if (!positions) positions.emplace(home.pair.document->index(), home.pair.document->text());
    separate();
    out.append(text.substr(0, item.range_offset));
    out += "{\"end\":";
    append_position(out, positions->at(moved->end));
    out += ",\"start\":";
    append_position(out, positions->at(moved->start));
    out += '}';
    out.append(text.substr(item.range_offset + item.range_length));
  }
  return kept;
}

std::optional<json> Remap::answer(json result) {
  whole_items_ = true;
  auto moved = value(std::move(result));
  whole_items_ = false;
  return moved;
}

bool Remap::walk(json& v, Scope* scope, std::size_t depth) {
  if (depth > MAX_DEPTH) return false;
  if (v.is_object()) return object(v, scope, depth);
  if (!v.is_array()) return true;
  auto& elements = v.get_ref<json::array_t&>();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (!walk(elements[i], scope, depth + 1)) {
      ++drops_;
      continue;
    }
    if (kept != i) elements[kept] = std::move(elements[i]);
    ++kept;
  }
  elements.erase(elements.begin() + static_cast<std::ptrdiff_t>(kept), elements.end());
  return true;
}

bool Remap::object(json& v, Scope* scope, std::size_t depth) {
  auto& fields = v.get_ref<json::object_t&>();
  const Members members(fields);
  // An object naming a URI, itself or through its text document (a text
  // document edit, request params), takes the scope of that URI.
  if (members.uri != nullptr) {
    if (members.uri->is_string()) scope = resolve(members.uri->get_ref<const std::string&>()).scope;
  } else if (members.text_document != nullptr) {
    if (const std::string* uri = string_member(*members.text_document, "uri")) scope = resolve(*uri).scope;
  }

  // In a document's scope a position must be one of its text: a line past
  // the end, or a number that is no line at all, has no counterpart rather
  // than passing on as it came (a range of it would name text that is not
  // there, such as an edit over the whole source).
  if (scope != nullptr) {
    if (members.start != nullptr && members.end != nullptr && positioned(*members.start) && positioned(*members.end)) {
      const auto s = scope->incoming(*members.start, direction_);
      const auto e = scope->incoming(*members.end, direction_);
      if (!s || !e) return false;
      const auto moved = scope->move_range(*s, *e, direction_, narrow_);
      if (!moved) return false;
      put(*members.start, scope->emit(moved->start, direction_));
      put(*members.end, scope->emit(moved->end, direction_));
      if (fields.size() > 2) {
        std::erase_if(fields, [](const auto& field) {
          const Key key = key_of(field.first);
          return key != Key::Start && key != Key::End;
        });
      }
      return true;
    }
    if (fields.size() == 2 && members.line && members.character) {
      const auto o = scope->incoming(v, direction_);
      return o && scope->move_point(*o, direction_, v);
    }
  }

  // A folding range's lines are lines of its document's text, like a
  // position's.
  for (json* line : {members.start_line, members.end_line}) {
    if (line == nullptr) continue;
    const auto read = protocol::read_u32(*line);
    if (!read) return false;
    if (scope == nullptr) continue;
    const auto moved = scope->move_line(*read, direction_);
    if (!moved) return false;
    *line = *moved;
  }

  // A location link's target ranges belong to the file it links to.
  Scope* target = scope;
  if (members.target_uri != nullptr && members.target_uri->is_string())
    target = resolve(members.target_uri->get_ref<const std::string&>()).scope;

  for (auto it = fields.begin(); it != fields.end();) {
    const Key key = key_of(it->first);
    json& field = it->second;
    if (key == Key::Uri || key == Key::TargetUri) {
      if (!field.is_string()) return false;
      const Named& named = resolve(field.get_ref<const std::string&>());
      if (named.rewritten) field = *named.rewritten;
      ++it;
      continue;
    }
    if (required(key) && !of_its_form(key, field)) {
      ++drops_;
      return false;
    }
    const std::size_t drops_before = drops_;
    bool moved = true;
    if (key == Key::Changes && field.is_object()) {
      moved = changes(field, depth + 1);
    } else {
      Scope* member_scope = key == Key::TargetRange || key == Key::TargetSelectionRange ? target : scope;
      // What a diagnostic carries for its fixes may hold edits, which are
      // never narrowed.
      const bool narrow = narrow_;
      if (key == Key::Data) narrow_ = false;
      moved = walk(field, member_scope, depth + 1);
      narrow_ = narrow;
    }
    if (!moved) {
      ++drops_;
      if (required(key)) return false;
    }
    if (whole_items_ && own_edits(key) && drops_ > drops_before) return false;
    it = moved ? std::next(it) : fields.erase(it);
  }
  return true;
}

bool Remap::changes(json& v, std::size_t depth) {
  if (depth > MAX_DEPTH) return false;
  auto& edits = v.get_ref<json::object_t&>();
  json::object_t out;
  // Nodes move from one map to the other, so renaming a member copies nothing.
  while (!edits.empty()) {
    auto node = edits.extract(edits.begin());
    const Named& named = resolve(node.key());
    if (!walk(node.mapped(), named.scope, depth + 1)) {
      ++drops_;
      continue;
    }
    if (named.rewritten) node.key() = *named.rewritten;
    auto inserted = out.insert(std::move(node));
    if (inserted.inserted) continue;
    json& existing = inserted.position->second;
    json& more = inserted.node.mapped();
    if (existing.is_array() && more.is_array()) {
      // Both names of one file: keep every edit under the one name.
      for (auto& edit : more) existing.push_back(std::move(edit));
    } else {
      ++drops_;
    }
  }
  edits = std::move(out);
  return true;
}

std::optional<json> Remap::whole_lines(const json& range) {
  const auto r = protocol::read_range(range);
  const auto& compiled = home_->pair.compiled;
  if (!r || !compiled || r->end.line < r->start.line) return std::nullopt;
  const bool to_output = direction_ == Direction::ToOutput;
  const LineIndex& index = to_output ? compiled->code_index : home_->pair.document->index();
  // The generated code has the lines of the text it was compiled from, which
  // may be an older text with lines added or removed since.
  const Alignment& aligned = home_->aligned();
  const auto across = [&](std::size_t line, bool opening) {
    return to_output ? aligned.line_to_compiled(line, opening) : aligned.line_to_current(line, opening);
  };
  const auto line_start = [&](std::size_t line) {
    return line < index.line_count() ? index.starts()[line] : index.len();
  };
  const std::size_t start = line_start(across(r->start.line, true));
  const std::size_t end = line_start(across(static_cast<std::size_t>(r->end.line) + 1, false));
  return protocol::to_json(protocol::Range{home_->emit(start, direction_), home_->emit(end, direction_)});
}

std::optional<json> Remap::inlay_hint_params(json params) {
  const json* range = protocol::member(params, "range");
  if (range == nullptr) return value(std::move(params));
  auto lines = whole_lines(*range);
  if (!lines) return std::nullopt;
  params.erase("range");
  auto moved = value(std::move(params));
  if (!moved) return std::nullopt;
  (*moved)["range"] = std::move(*lines);
  return moved;
}

}  // namespace tovix_lsp::remap
