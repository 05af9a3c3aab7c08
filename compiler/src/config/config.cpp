#include "tovix/config/config.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <fmt/format.h>

#include "tovix/config/raw.h"
#include "tovix/config/suggest.h"
#include "tovix/files.h"
#include "tovix/lexer.h"
#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"
#include "tovix/roblox/generated.h"
#include "tovix/roblox/roblox.h"
#include "tovix/unicode.h"
#include "tovix/whitespace.h"

namespace tovix::config {
namespace {

constexpr std::string_view PREFIX = "tovix.toml: ";

ConfigError problem(std::string_view message) { return ConfigError{fmt::format("{}{}", PREFIX, message)}; }

std::optional<ConfigError> lint_levels(const raw::RawLints& lints, Config& config) {
  if (!lints.static_conditional_child) return std::nullopt;
  const std::string& level = *lints.static_conditional_child;
  if (level == "off") {
    config.static_conditional_child = LintLevel::Off;
  } else if (level == "warn") {
    config.static_conditional_child = LintLevel::Warn;
  } else if (level == "error") {
    config.static_conditional_child = LintLevel::Error;
  } else {
    return problem(fmt::format("[lints] static_conditional_child = \"{}\" is not one of off, warn, error", level));
  }
  return std::nullopt;
}

void build_settings(raw::RawBuild&& build, Config& config) {
  config.build.in_dir = std::move(build.in);
  config.build.out_dir = std::move(build.out);
  if (build.include) config.build.include = std::move(*build.include);
  if (build.exclude) config.build.exclude = std::move(*build.exclude);
  config.build.clean = build.clean.value_or(false);
}

// Whether `text` holds nothing but whitespace and comments.
bool only_trivia(std::string_view text) {
  const auto tokens = lexer::tokenize(text);
  return tokens && std::ranges::none_of(*tokens, [](const lexer::Token& t) { return lexer::is_significant(t.kind); });
}

// Whether generated code can call the factory: the call that the code
// generator emits must parse as Luau without any error, and as exactly that
// call, the factory's own text being its callee (comments around it aside).
// A clean parse alone would let "f)(g" through, which balances its brackets
// against the probe's and generates code that does not parse.
bool callable(std::string_view create) {
  constexpr std::string_view BEFORE = "local _ = (";
  std::string probe(BEFORE);
  probe += create;
  probe += "(\"Frame\")({}))";
  const luau::parser::ParseResult parsed = luau::parser::parse(probe);
  if (!parsed.errors.empty() || parsed.root == nullptr || parsed.root->body.size != 1) return false;
  const auto* local = parsed.root->body[0]->as<luau::ast::StatLocal>();
  if (local == nullptr || local->values.size != 1) return false;
  const auto* group = local->values[0]->as<luau::ast::ExprGroup>();
  const auto* props_call = group != nullptr ? group->expr->as<luau::ast::ExprCall>() : nullptr;
  const auto* class_call = props_call != nullptr ? props_call->func->as<luau::ast::ExprCall>() : nullptr;
  if (class_call == nullptr) return false;
  const luau::ast::Span callee = class_call->func->span;
  const std::size_t end = BEFORE.size() + create.size();
  if (callee.start < BEFORE.size() || callee.end > end || callee.start > callee.end) return false;
  const std::string_view text = probe;
  return only_trivia(text.substr(BEFORE.size(), callee.start - BEFORE.size())) &&
         only_trivia(text.substr(callee.end, end - callee.end));
}

std::optional<ConfigError> factory(const raw::RawFactory& factory, Config& config) {
  if (!factory.create) return std::nullopt;
  const std::string_view create = whitespace::trim(*factory.create);
  if (create.empty()) return problem("[factory] create cannot be empty");
  std::string_view reason;
  if (create.find("..") != std::string_view::npos) {
    // Checked before the probe: as Luau, `a..b` parses as a concatenation.
    reason = "has a `.` with no name beside it";
  } else if (!callable(create)) {
    reason = "is not something tovix can call";
  }
  if (!reason.empty()) {
    return problem(
        fmt::format("[factory] create = \"{}\" {}; it has to name a function, as create, "
                    "vide.create, or scope:New",
                    create, reason));
  }
  config.create = std::string(create);
  return std::nullopt;
}

std::optional<ConfigError> casing(std::string_view table, std::string_view value, Casing& casing) {
  if (auto parsed = Casing::parse(value)) {
    casing = *parsed;
    return std::nullopt;
  }
  return problem(
      fmt::format("[{}] all = \"{}\" is not one of PascalCase, camelCase, snake_case, flatcase", table, value));
}

std::optional<ConfigError> elements(const raw::Entries<std::string>& entries, Config& config) {
  for (const auto& [key, value] : entries) {
    if (key == "all") {
      if (auto error = casing("elements", value, config.element_casing)) return error;
    }
  }
  for (const auto& [class_name, alias] : entries) {
    if (class_name == "all") continue;
    if (!roblox::is_class(class_name)) {
      return problem(
          fmt::format("[elements] {} is not a creatable Roblox class{}", class_name, suggest_class(class_name)));
    }
    if (auto it = config.element_aliases.find(alias); it != config.element_aliases.end()) {
      return problem(fmt::format("[elements] {} and {} both claim the alias \"{}\"", it->second, class_name, alias));
    }
    config.element_aliases.emplace(alias, class_name);
    config.element_renames.emplace(class_name, alias);
  }
  return std::nullopt;
}

// Any record counts, creatable or not.
bool is_member_of_any_class(std::string_view member) {
  return std::any_of(roblox::generated::CLASSES.begin(), roblox::generated::CLASSES.end(),
                     [&](const roblox::generated::ClassInfo& record) {
                       return std::find(record.properties.begin(), record.properties.end(), member) !=
                                  record.properties.end() ||
                              std::find(record.events.begin(), record.events.end(), member) != record.events.end();
                     });
}

// "; did you mean A?" or "; did you mean A, B or C?"; empty without suggestions.
std::string member_hint(const std::vector<std::string_view>& suggestions) {
  if (suggestions.empty()) return {};
  if (suggestions.size() == 1) return fmt::format("; did you mean {}?", suggestions.front());
  std::string head;
  for (std::size_t i = 0; i + 1 < suggestions.size(); ++i) {
    if (i > 0) head += ", ";
    head += suggestions[i];
  }
  return fmt::format("; did you mean {} or {}?", head, suggestions.back());
}

std::optional<ConfigError> properties(const raw::Entries<raw::PropertyEntry>& entries, Config& config) {
  const auto is_all = [](const auto& entry) { return entry.first == "all"; };
  if (auto all = std::find_if(entries.begin(), entries.end(), is_all); all != entries.end()) {
    // A table under `all` is no casing and is ignored altogether.
    if (const auto* value = std::get_if<std::string>(&all->second)) {
      if (auto error = casing("properties", *value, config.property_casing)) return error;
    }
  }
  for (const auto& [key, entry] : entries) {
    if (key == "all") continue;
    if (const auto* alias = std::get_if<std::string>(&entry)) {
      if (!is_member_of_any_class(key)) {
        return problem(fmt::format("[properties] {} is not a property or event of any Roblox class{}", key,
                                   suggest_member_anywhere(key)));
      }
      config.property_renames.emplace(key, *alias);
      continue;
    }
    const auto& members = std::get<raw::Entries<std::string>>(entry);
    if (!roblox::is_class(key))
      return problem(fmt::format("[properties.{}] is not a creatable Roblox class{}", key, suggest_class(key)));
    for (const auto& [member, alias] : members) {
      if (!roblox::has_property(key, member) && !roblox::is_event(key, member)) {
        return problem(fmt::format("[properties.{}] {} has no property or event named {}{}", key, key, member,
                                   member_hint(roblox::closest_members(key, member))));
      }
    }
    config.class_property_renames.emplace(key, NameMap(members.begin(), members.end()));
  }
  return std::nullopt;
}

// A character of a name with the classes that decide word starts.
struct NameChar {
  unicode::Char c;
  bool lower = false;
  bool upper = false;
  bool numeric = false;
};

NameChar classify(const unicode::Char& c) {
  if (!c.valid) return {c};
  return {c, unicode::is_lowercase(c.value), unicode::is_uppercase(c.value), unicode::is_numeric(c.value)};
}

}  // namespace

std::optional<Casing> Casing::parse(std::string_view text) {
  if (text == "PascalCase") return Casing::PascalCase;
  if (text == "camelCase") return Casing::CamelCase;
  if (text == "snake_case") return Casing::SnakeCase;
  if (text == "flatcase") return Casing::FlatCase;
  return std::nullopt;
}

std::string Casing::apply(std::string_view name) const {
  switch (value_) {
    case PascalCase: return std::string(name);
    case FlatCase: return unicode::to_lower(name);
    case CamelCase:
    case SnakeCase: break;
  }
  std::string out;
  out.reserve(name.size() + name.size() / 2);
  if (name.empty()) return out;
  // Roblox names are ASCII: the same rule on bytes, without decoding.
  if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < name.size(); ++i) {
      const char c = name[i];
      const bool word_start = i > 0 && (((lower(name[i - 1]) || digit(name[i - 1])) && upper(c)) ||
                                        (upper(name[i - 1]) && upper(c) && i + 1 < name.size() && lower(name[i + 1])));
      if (word_start && value_ == SnakeCase) out.push_back('_');
      out.push_back(word_start && value_ == CamelCase ? c : upper(c) ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
  }
  // One pass with one character of lookahead: a word starts at a capital
  // after a lower-case letter or digit, or at the last capital of a run when
  // a lower-case letter follows.
  NameChar prev;
  NameChar cur = classify(unicode::decode_at(name, 0));
  for (bool first = true;; first = false) {
    const std::size_t after = cur.c.offset + cur.c.length;
    const bool has_next = after < name.size();
    const NameChar next = has_next ? classify(unicode::decode_at(name, after)) : NameChar{};
    const bool word_start =
        !first && (((prev.lower || prev.numeric) && cur.upper) || (prev.upper && cur.upper && has_next && next.lower));
    if (word_start && value_ == SnakeCase) out.push_back('_');
    if (word_start && value_ == CamelCase)
      unicode::append_upper(out, cur.c, name);
    else
      unicode::append_lower(out, cur.c, name);
    if (!has_next) break;
    prev = cur;
    cur = next;
  }
  return out;
}

std::expected<Config, ConfigError> Config::load(const std::filesystem::path& directory) {
  return load_reporting(directory / "tovix.toml");
}

std::expected<Config, ConfigError> Config::load_reporting(const std::filesystem::path& path) {
  const auto read_error = [&](int error) {
    return std::unexpected(ConfigError{fmt::format("{}: {}", path.string(), std::system_category().message(error))});
  };
  auto read = files::read(path, {.max_bytes = MAX_FILE_SIZE});
  if (!read) {
    const files::ReadError& error = read.error();
    if (error.kind == files::ReadError::Kind::TooLarge)
      return std::unexpected(
          problem(fmt::format("the file is larger than {} MiB ({} bytes)", MAX_FILE_SIZE >> 20, MAX_FILE_SIZE)));
    if (error.kind == files::ReadError::Kind::System && error.code == ENOENT) return Config{};
    return read_error(error.code);
  }
  const std::string& text = *read;
  if (!unicode::is_valid_utf8(text))
    return std::unexpected(ConfigError{fmt::format("{}: stream did not contain valid UTF-8", path.string())});
  return parse_reporting(text);
}

std::expected<Config, ConfigError> Config::parse_reporting(std::string_view text) {
  auto parsed = raw::parse(text);
  if (!parsed) return std::unexpected(problem(parsed.error().message));
  raw::RawConfig& raw = *parsed;
  Config config;
  if (auto error = lint_levels(raw.lints, config)) return std::unexpected(std::move(*error));
  build_settings(std::move(raw.build), config);
  if (auto error = factory(raw.factory, config)) return std::unexpected(std::move(*error));
  if (auto error = elements(raw.elements, config)) return std::unexpected(std::move(*error));
  if (auto error = properties(raw.properties, config)) return std::unexpected(std::move(*error));
  return config;
}

std::string_view Config::element_name(std::string_view class_name) const {
  auto it = element_renames.find(class_name);
  return it != element_renames.end() ? std::string_view(it->second) : class_name;
}

std::string_view Config::property_name(std::string_view class_name, std::string_view member) const {
  if (auto cls = class_property_renames.find(class_name); cls != class_property_renames.end()) {
    if (auto it = cls->second.find(member); it != cls->second.end()) return it->second;
  }
  auto it = property_renames.find(member);
  return it != property_renames.end() ? std::string_view(it->second) : member;
}

std::expected<std::optional<std::string>, RenamedError> Config::resolve_element(std::string_view name) const {
  if (auto it = element_aliases.find(name); it != element_aliases.end()) return it->second;
  if (auto it = element_renames.find(name); it != element_renames.end() && it->second != name)
    return std::unexpected(RenamedError{fmt::format("<{}> was renamed by tovix.toml; use <{}>", name, it->second)});
  if (element_casing == Casing::PascalCase) return std::nullopt;
  std::vector<std::string_view> candidates;
  for (std::string_view class_name : roblox::creatable_classes()) {
    if (!element_renames.contains(class_name) && element_casing.apply(class_name) == name)
      candidates.push_back(class_name);
  }
  if (auto chosen = preferred(candidates)) return std::string(*chosen);
  if (roblox::is_class(name)) {
    return std::unexpected(
        RenamedError{fmt::format("<{}> was renamed by [elements] all; use <{}>", name, element_casing.apply(name))});
  }
  return std::nullopt;
}

std::expected<std::string, RenamedError> Config::resolve_property(std::string_view class_name,
                                                                  std::string_view attribute) const {
  // The renames that apply to this class, its own table overriding the global one.
  std::map<std::string_view, std::string_view> renames;
  for (const auto& [member, alias] : property_renames) renames[member] = alias;
  if (auto cls = class_property_renames.find(class_name); cls != class_property_renames.end()) {
    for (const auto& [member, alias] : cls->second) renames[member] = alias;
  }
  for (const auto& [member, alias] : renames) {
    if (alias == attribute) return std::string(member);
  }
  if (auto it = renames.find(attribute); it != renames.end() && it->second != attribute)
    return std::unexpected(RenamedError{fmt::format("{} was renamed by tovix.toml; use {}", attribute, it->second)});
  if (property_casing != Casing::PascalCase) {
    std::vector<std::string_view> candidates;
    const auto collect = [&](roblox::Members members) {
      for (std::string_view member : members) {
        if (!renames.contains(member) && property_casing.apply(member) == attribute) candidates.push_back(member);
      }
    };
    collect(roblox::properties(class_name));
    collect(roblox::events(class_name));
    if (auto chosen = preferred(candidates)) return std::string(*chosen);
    if (roblox::has_property(class_name, attribute) || roblox::is_event(class_name, attribute)) {
      return std::unexpected(RenamedError{
          fmt::format("{} was renamed by [properties] all; use {}", attribute, property_casing.apply(attribute))});
    }
  }
  return std::string(attribute);
}

std::optional<std::string_view> preferred(std::vector<std::string_view>& candidates) {
  if (candidates.size() >= 2 &&
      !std::all_of(candidates.begin(), candidates.end(), [](std::string_view c) { return roblox::is_deprecated(c); })) {
    std::erase_if(candidates, [](std::string_view c) { return roblox::is_deprecated(c); });
  }
  if (candidates.size() >= 2) std::sort(candidates.begin(), candidates.end());
  if (candidates.empty()) return std::nullopt;
  return candidates.front();
}

}  // namespace tovix::config
