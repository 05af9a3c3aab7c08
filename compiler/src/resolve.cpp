#include "tovix/resolve.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "tovix/luau/ast.h"
#include "tovix/luau/parser.h"
#include "tovix/luau/visitor.h"
#include "tovix/roblox/roblox.h"

namespace tovix::resolve {

namespace {

// Walks the whole tree and adds every name a construct binds; there is no
// scoping, so nested blocks and function bodies feed the same set.
class Bindings final : public luau::visitor::Visitor {
 public:
  explicit Bindings(NameSet& names) : names_(names) {}

  bool visit_stat_local(const luau::ast::StatLocal& node) override {
    add_all(node.vars);
    return true;
  }
  bool visit_stat_const(const luau::ast::StatConst& node) override {
    add_all(node.vars);
    return true;
  }
  bool visit_stat_local_function(const luau::ast::StatLocalFunction& node) override {
    add(node.name);
    return true;
  }
  bool visit_stat_const_function(const luau::ast::StatConstFunction& node) override {
    add(node.name);
    return true;
  }
  // `function a.b:c()` binds only `a`.
  bool visit_stat_function(const luau::ast::StatFunction& node) override {
    const luau::ast::Expr* target = node.name;
    while (target != nullptr) {
      if (const auto* index = target->as<luau::ast::ExprIndexName>()) {
        target = index->object;
      } else {
        if (const auto* name = target->as<luau::ast::ExprName>()) add(name->name);
        break;
      }
    }
    return true;
  }
  // Every function body, type functions included; `...` is not a name.
  bool visit_expr_function(const luau::ast::ExprFunction& node) override {
    add_all(node.params);
    return true;
  }
  bool visit_stat_for(const luau::ast::StatFor& node) override {
    add(node.var.name);
    return true;
  }
  bool visit_stat_for_in(const luau::ast::StatForIn& node) override {
    add_all(node.vars);
    return true;
  }
  // Only plain names: `t.x = 1` does not bind `t`.
  bool visit_stat_assign(const luau::ast::StatAssign& node) override {
    for (const luau::ast::Expr* target : node.vars) {
      if (target == nullptr) continue;
      if (const auto* name = target->as<luau::ast::ExprName>()) add(name->name);
    }
    return true;
  }

 private:
  void add(const luau::ast::Name& name) {
    // Most names repeat; looking up first saves building a string for them.
    if (!name.text.empty() && !names_.contains(name.text)) names_.emplace(name.text);
  }
  void add_all(const luau::ast::Array<luau::ast::Binding>& bindings) {
    for (const luau::ast::Binding& binding : bindings) add(binding.name);
  }

  NameSet& names_;
};

void blank_region(std::string& out, std::string_view region) {
  static constexpr std::string_view NIL = "nil";
  std::size_t base = out.size();
  out.append(region.size(), ' ');
  char* blanked = out.data() + base;
  for (std::size_t k = 0; k < NIL.size() && k < region.size(); ++k) blanked[k] = NIL[k];
  // Line feeds stay where they stand, even in place of a letter.
  for (std::size_t k = region.find('\n'); k != std::string_view::npos; k = region.find('\n', k + 1)) {
    blanked[k] = '\n';
  }
}

std::string joined(std::span<const std::string_view> names, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += separator;
    text += names[i];
  }
  return text;
}

}  // namespace

std::string blank_tovix_regions(std::string_view source, std::span<const Region> regions) {
  std::string out;
  out.reserve(source.size());
  std::size_t cursor = 0;
  for (auto [start, end] : regions) {
    // Out-of-order, overlapping and reversed regions are skipped; nothing
    // may change the length of the text.
    if (start < cursor || start > source.size()) continue;
    end = std::min(end, source.size());
    if (end < start) continue;
    out.append(source.substr(cursor, start - cursor));
    blank_region(out, source.substr(start, end - start));
    cursor = end;
  }
  out.append(source.substr(cursor));
  return out;
}

Resolver::Resolver(std::string_view blanked, config::Config config) : config(std::move(config)) {
  luau::parser::ParseResult parsed = luau::parser::parse(blanked);
  if (parsed.root == nullptr) return;
  Bindings visitor(bindings);
  luau::visitor::walk(*parsed.root, visitor);
}

std::expected<Resolution, backend::EmitError> Resolver::resolve(const markup::ast::ElementName& name,
                                                                std::size_t start) const {
  const auto* simple = std::get_if<markup::ast::ElementName::Simple>(&name.kind);
  if (simple == nullptr) return Resolution{Resolution::Component{}};
  const std::string& text = simple->text;
  auto error = [&](std::string message, std::optional<std::string> help) {
    return std::unexpected(backend::EmitError{std::move(message), std::move(help), start, text.size() + 1});
  };

  auto configured = config.resolve_element(text);
  if (!configured) return error(std::move(configured.error().message), std::nullopt);
  if (configured->has_value()) return Resolution{Resolution::Class{std::move(**configured)}};

  if (roblox::is_class(text)) return Resolution{Resolution::Class{text}};
  if (bindings.contains(text)) return Resolution{Resolution::Component{}};

  std::optional<std::string_view> nearest = roblox::closest_class(text);
  return error(fmt::format("<{}> is not a Roblox class and is not defined", text),
               nearest ? fmt::format("did you mean <{}>?", *nearest)
                       : std::string("if it is a component, it has to be in scope"));
}

std::expected<std::string, backend::EmitError> Resolver::resolve_attribute(std::string_view class_name,
                                                                           std::string_view attribute,
                                                                           std::size_t start) const {
  auto error = [&](std::string message, std::optional<std::string> help) {
    return std::unexpected(backend::EmitError{std::move(message), std::move(help), start, attribute.size()});
  };

  auto member = config.resolve_property(class_name, attribute);
  if (!member) return error(std::move(member.error().message), std::nullopt);

  // All properties along the ancestry come before any event; either way the
  // member keeps its name, so a search of each sorted list is enough.
  if (roblox::has_property(class_name, *member) || roblox::is_event(class_name, *member)) {
    return std::move(*member);
  }

  std::vector<std::string_view> near = roblox::closest_members(class_name, *member);
  std::optional<std::string> help;
  if (near.size() == 1) {
    help = fmt::format("did you mean {}?", near.front());
  } else if (near.size() > 1) {
    // "did you mean Size, Position or Parent?"
    std::span<const std::string_view> all(near);
    help = fmt::format("did you mean {} or {}?", joined(all.first(all.size() - 1), ", "), all.back());
  }
  return error(fmt::format("{} has no property or event named {}", class_name, attribute), std::move(help));
}

}  // namespace tovix::resolve
