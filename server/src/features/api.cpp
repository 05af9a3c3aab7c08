#include "features/api.h"

#include <cstdint>
#include <iterator>
#include <utility>

#include <nlohmann/json.hpp>

#include "tovix/files.h"
#include "tovix/whitespace.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::api {

namespace {

using tovix::whitespace::leading_whitespace_length;
using tovix::whitespace::trim;
using tovix::whitespace::trim_start;

bool is_identifier(std::string_view s) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (s.empty() || !letter(s[0])) return false;
  for (const char c : s.substr(1)) {
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

// The first `count` words of `text`, split at runs of Unicode whitespace.
std::vector<std::string_view> words(std::string_view text, std::size_t count) {
  std::vector<std::string_view> out;
  text = trim_start(text);
  while (!text.empty() && out.size() < count) {
    std::size_t end = 0;
    while (end < text.size() && leading_whitespace_length(text.substr(end)) == 0) {
      end = utf8_text::next_boundary(text, end, text.size());
    }
    out.push_back(text.substr(0, end));
    text = trim_start(text.substr(end));
  }
  return out;
}

// The class a declaration line opens, when it is one.
std::optional<std::pair<std::string, Class>> declaration(std::string_view line) {
  std::string_view rest;
  if (line.starts_with("declare extern type ")) {
    rest = line.substr(20);
  } else if (line.starts_with("declare class ")) {
    rest = line.substr(14);
  } else {
    return std::nullopt;
  }
  const std::vector<std::string_view> w = words(rest, 3);
  if (w.empty()) return std::nullopt;
  Class opened;
  if (w.size() == 3 && w[1] == "extends") opened.superclass = std::string(w[2]);
  return std::pair{std::string(w[0]), std::move(opened)};
}

std::optional<std::string> read_file(const std::string& path) {
  auto text = tovix::files::read(path, {.max_bytes = MAX_FILE_SIZE, .regular_only = true});
  if (!text || !utf8_text::is_valid(*text)) return std::nullopt;
  return std::move(*text);
}

// Builds the documentation map straight from the parser's events, so that
// the 4 MB file never becomes a JSON tree, and so that a text member given
// twice in one entry is seen (a tree keeps only one of them).
class DocsReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  detail::ByName<Documentation> docs;

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t) override { return scalar(); }
  bool number_unsigned(number_unsigned_t) override { return scalar(); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool binary(binary_t&) override { return scalar(); }

  bool string(string_t& value) override {
    if (skipping_ > 0) return true;
    if (where_ == Where::EntryObject && field_) {
      *field_ = std::move(value);
      field_ = nullptr;
      return true;
    }
    if (where_ == Where::EntryArray) {
      if (++array_items_ > 2) return false;
      (array_items_ == 1 ? entry_.documentation : entry_.learn_more_link) = std::move(value);
      return true;
    }
    return scalar();
  }

  bool start_object(std::size_t) override { return open(Where::EntryObject); }
  bool start_array(std::size_t) override { return open(Where::EntryArray); }

  bool key(string_t& key) override {
    if (skipping_ > 0) return true;
    if (where_ == Where::Top) {
      entry_key_ = std::move(key);
      return true;
    }
    // In an entry object: the two text members are kept, any other is
    // skipped whole.
    if (key == "documentation" || key == "learn_more_link") {
      const bool is_doc = key == "documentation";
      bool& seen = is_doc ? seen_documentation_ : seen_link_;
      if (seen) return false;
      seen = true;
      field_ = is_doc ? &entry_.documentation : &entry_.learn_more_link;
    } else {
      field_ = nullptr;
      skip_next_ = true;
    }
    return true;
  }

  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  enum class Where { Outside, Top, EntryObject, EntryArray };

  // A value that is not a container: fine when skipped, an error anywhere
  // it would have to be a text or an entry.
  bool scalar() {
    if (skipping_ > 0) return true;
    if (skip_next_) {
      skip_next_ = false;
      return true;
    }
    return false;
  }

  bool open(Where as) {
    if (skipping_ > 0 || skip_next_) {
      skip_next_ = false;
      ++skipping_;
      return true;
    }
    if (where_ == Where::Outside) {
      // The file itself must be an object.
      if (as != Where::EntryObject) return false;
      where_ = Where::Top;
      return true;
    }
    if (where_ != Where::Top) return false;  // a text member holding a container
    where_ = as;
    entry_ = {};
    seen_documentation_ = seen_link_ = false;
    array_items_ = 0;
    field_ = nullptr;
    return true;
  }

  bool close() {
    if (skipping_ > 0) {
      --skipping_;
      return true;
    }
    if (where_ == Where::EntryObject || where_ == Where::EntryArray) {
      // An entry given as an array holds exactly the two texts.
      if (where_ == Where::EntryArray && array_items_ != 2) return false;
      docs.insert_or_assign(std::move(entry_key_), std::move(entry_));
      where_ = Where::Top;
      return true;
    }
    where_ = Where::Outside;
    return true;
  }

  Where where_ = Where::Outside;
  std::string entry_key_;
  Documentation entry_;
  std::string* field_ = nullptr;  // the text member whose value comes next
  bool seen_documentation_ = false;
  bool seen_link_ = false;
  bool skip_next_ = false;    // the next value belongs to a member not read
  std::size_t skipping_ = 0;  // containers open inside such a value
  std::size_t array_items_ = 0;
};

}  // namespace

std::optional<std::vector<std::string>> Member::event_parameters() const {
  constexpr std::string_view prefix = "RBXScriptSignal<";
  const std::string_view t = ty;
  if (!t.starts_with(prefix) || t.size() <= prefix.size() || !t.ends_with('>')) return std::nullopt;
  std::string_view inner = trim(t.substr(prefix.size(), t.size() - prefix.size() - 1));
  if (inner.size() > 1 && inner.front() == '(' && inner.back() == ')') inner = inner.substr(1, inner.size() - 2);

  std::vector<std::string> pieces;
  std::string piece;
  std::int64_t depth = 0;
  char before = ' ';
  for (const char c : inner) {
    if (c == ',' && depth == 0) {
      pieces.emplace_back(trim(piece));
      piece.clear();
      before = ',';
      continue;
    }
    if (c == '(' || c == '[' || c == '{' || c == '<') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}' || (c == '>' && before != '-')) {
      --depth;
    }
    piece += c;
    before = c;
  }
  if (const std::string_view last = trim(piece); !last.empty()) pieces.emplace_back(last);
  std::erase_if(pieces, [](const std::string& p) { return p.empty(); });
  return pieces;
}

std::optional<Member> Api::member(std::string_view class_name, std::string_view member_name) const {
  // A loop of "extends" would walk for ever; a chain longer than the number
  // of classes must have met one of them twice.
  std::string_view current = class_name;
  for (std::size_t steps = 0; steps <= classes.size(); ++steps) {
    const auto found = classes.find(current);
    if (found == classes.end()) return std::nullopt;
    if (const auto m = found->second.members.find(member_name); m != found->second.members.end()) {
      return Member{found->first, m->second};
    }
    if (!found->second.superclass) return std::nullopt;
    current = *found->second.superclass;
  }
  return std::nullopt;
}

const Documentation* Api::documentation(std::string_view class_name, std::string_view member_name) const {
  std::string key = "@roblox/globaltype/";
  key += class_name;
  key += '.';
  key += member_name;
  const auto found = docs.find(key);
  return found == docs.end() ? nullptr : &found->second;
}

detail::ByName<Class> parse_definitions(std::string_view text) {
  detail::ByName<Class> classes;
  std::optional<std::pair<std::string, Class>> open;
  auto store = [&] {
    if (open) classes.insert_or_assign(std::move(open->first), std::move(open->second));
    open.reset();
  };
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t lf = text.find('\n', at);
    std::string_view line = text.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at);
    at = lf == std::string_view::npos ? text.size() : lf + 1;
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);

    if (line.starts_with("end")) {
      store();
    } else if (auto declared = declaration(line)) {
      store();
      open = std::move(declared);
    } else if (open && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      const std::string_view body = trim(line.substr(1));
      const std::size_t colon = body.find(':');
      if (colon == std::string_view::npos) continue;
      const std::string_view name = trim(body.substr(0, colon));
      if (!is_identifier(name)) continue;
      open->second.members.insert_or_assign(std::string(name), std::string(trim(body.substr(colon + 1))));
    }
  }
  store();
  return classes;
}

detail::ByName<Documentation> parse_docs(std::string_view text) {
  DocsReader reader;
  if (!nlohmann::json::sax_parse(text, &reader)) return {};
  return std::move(reader.docs);
}

Api load(const std::string& definitions_path, const std::optional<std::string>& docs_path) {
  Sources sources;
  sources.stored_definitions = definitions_path;
  sources.stored_documentation = docs_path;
  std::vector<std::string> none;
  return *load(sources, none);
}

std::optional<Api> load(const Sources& sources, std::vector<std::string>& unreadable) {
  // The text of the first named file that can be read.
  auto first_readable = [&](const std::vector<std::string>& paths, bool definitions) -> std::optional<std::string> {
    for (const std::string& path : paths) {
      if (definitions && !path.ends_with(".d.luau")) continue;
      if (auto text = read_file(path)) return text;
      unreadable.push_back(path);
    }
    return std::nullopt;
  };
  std::optional<std::string> definitions = first_readable(sources.named_definitions, true);
  if (!definitions && !sources.stored_definitions) return std::nullopt;
  if (!definitions) definitions = read_file(*sources.stored_definitions);
  std::optional<std::string> docs = first_readable(sources.named_documentation, false);
  if (!docs && sources.stored_documentation) docs = read_file(*sources.stored_documentation);

  Api api;
  if (definitions) api.classes = parse_definitions(*definitions);
  if (docs) api.docs = parse_docs(*docs);
  return api;
}

std::vector<std::string> Slot::install(const Sources& sources) {
  std::vector<std::string> unreadable;
  if (installed()) return unreadable;
  std::optional<Api> facts = load(sources, unreadable);
  if (!facts) return unreadable;
  std::call_once(once_, [&] {
    value_ = std::make_unique<const Api>(std::move(*facts));
    published_.store(value_.get(), std::memory_order_release);
  });
  return unreadable;
}

void Slot::install(std::optional<std::string> definitions_path, std::optional<std::string> docs_path) {
  Sources sources;
  sources.stored_definitions = std::move(definitions_path);
  sources.stored_documentation = std::move(docs_path);
  (void)install(sources);
}

const Api* Slot::present() const {
  const Api* api = installed();
  return api && !api->classes.empty() ? api : nullptr;
}

namespace {
union Immortal {
  Slot slot;
  constexpr Immortal() : slot() {}
  ~Immortal() {}
};
constinit Immortal immortal;
}  // namespace

Slot& API = immortal.slot;

std::vector<std::string> install(const Sources& sources) { return API.install(sources); }

void install(std::optional<std::string> definitions_path, std::optional<std::string> docs_path) {
  API.install(std::move(definitions_path), std::move(docs_path));
}

const Api* present() { return API.present(); }

}  // namespace tovix_lsp::api
