#include "tovix/compile/compile.h"

#include <algorithm>

#include <fmt/format.h>

#include "tovix/backend/context.h"
#include "tovix/imports.h"
#include "tovix/lint.h"
#include "tovix/markup/walk.h"
#include "tovix/resolve.h"
#include "tovix/whitespace.h"

namespace tovix::compile {

namespace {

namespace ast = markup::ast;
using Step = std::expected<void, CompileError>;

// What every nested compile of one file shares.
struct Session {
  const backend::Backend& backend;
  const resolve::Resolver& resolver;
  config::LintLevel lint = config::LintLevel::Warn;
  std::vector<Warning>& warnings;
  std::vector<CompileError>& errors;
  imports::HelperUse& helpers;
  // Markup levels currently open, counted across holes: nested compiles
  // recurse, so their depth is bounded like the parser's.
  std::size_t depth = 0;
};

CompileError shifted(CompileError error, std::size_t base) {
  error.offset += base;
  return error;
}

CompileError from_failure(const markup::walk::Failure& failure) {
  return std::visit([](const auto& error) { return CompileError::from(error); }, failure);
}

// Where a hole's trimmed code begins in `text`: the tree keeps only the
// hole's end (just after its `}`), and the code runs up to the whitespace
// before that brace.
std::size_t code_start(std::string_view text, std::size_t hole_end, std::string_view code) {
  if (hole_end == 0 || hole_end > text.size()) return 0;
  std::size_t code_end = whitespace::trim_end(text.substr(0, hole_end - 1)).size();
  return code_end >= code.size() ? code_end - code.size() : 0;
}

// The markup expressions of a text, one at a time: from a walk over it, or
// from the list a walk made before (the whole file is walked once only).
class Markups {
 public:
  // `depth`: the markup levels open around `text` (the code of a hole), so
  // that the parser's nesting bound counts them.
  Markups(std::string_view text, std::size_t depth) : walker_(std::in_place, text, 0, depth) {}
  explicit Markups(std::vector<markup::walk::Markup>& parsed) : parsed_(&parsed) {}

  // The next markup expression; none at the end.
  std::optional<std::expected<markup::walk::Markup*, markup::walk::Failure>> next() {
    if (parsed_ != nullptr) {
      if (index_ == parsed_->size()) return std::nullopt;
      return &(*parsed_)[index_++];
    }
    while (auto event = walker_->next()) {
      if (!*event) return std::unexpected(std::move(event->error()));
      if (auto* markup = std::get_if<markup::walk::Markup>(&**event)) {
        current_ = std::move(*markup);
        return &current_;
      }
    }
    return std::nullopt;
  }

 private:
  std::optional<markup::walk::Walker> walker_;
  std::vector<markup::walk::Markup>* parsed_ = nullptr;
  std::size_t index_ = 0;
  markup::walk::Markup current_;
};

// Every markup expression at the top level of `text`, parsed; `depth`: the
// markup levels open around it (the code of a hole).
std::expected<std::vector<markup::walk::Markup>, CompileError> parse_all(std::string_view text, std::size_t depth = 0) {
  std::vector<markup::walk::Markup> found;
  markup::walk::Walker walker(text, 0, depth);
  while (auto event = walker.next()) {
    if (!*event) return std::unexpected(from_failure(event->error()));
    if (auto* markup = std::get_if<markup::walk::Markup>(&**event)) found.push_back(std::move(*markup));
  }
  return found;
}

// Markup always begins with a `<` byte.
bool may_hold_markup(std::string_view text) { return text.find('<') != std::string_view::npos; }

std::expected<std::string, CompileError> compile_with(Session& session, std::string_view text, std::size_t base);
std::expected<std::string, CompileError> splice(Session& session, std::string_view text, std::size_t base,
                                                Markups markups);
Step compile_node(Session& session, ast::Node& node, std::string_view text, std::size_t base);

// Each expression child's code is compiled in place; before that the
// static-conditional-child lint looks at the code as written, after it the
// and-nil-or check at the compiled Luau.
Step compile_children(Session& session, std::vector<ast::Child>& children, std::string_view text, std::size_t base) {
  for (ast::Child& child : children) {
    if (auto* node = std::get_if<ast::Node>(&child.kind)) {
      if (auto compiled = compile_node(session, *node, text, base); !compiled) return compiled;
      continue;
    }
    auto* expression = std::get_if<ast::Child::Expression>(&child.kind);
    if (expression == nullptr) continue;

    std::size_t start = base + expression->start;
    std::size_t len = expression->code.size();
    // One walk of the code serves the lint and the compile. Where it fails,
    // the compile walks again, so that its error is the one it meets first
    // (an earlier markup's own error comes before a later one's syntax).
    const bool has_markup = may_hold_markup(expression->code);
    std::optional<std::expected<std::vector<markup::walk::Markup>, CompileError>> parsed;
    if (has_markup) parsed = parse_all(expression->code, session.depth);
    if (session.lint != config::LintLevel::Off && has_markup) {
      std::vector<Span> sites;
      if (*parsed) {
        for (const auto& markup : **parsed) sites.emplace_back(markup.start, markup.end);
      }
      if (lint::has_unwrapped_tovix(expression->code, sites)) {
        Warning warning = lint::static_conditional_child(start, len);
        if (session.lint == config::LintLevel::Error) return std::unexpected(CompileError::from(warning));
        session.warnings.push_back(std::move(warning));
      }
    }
    if (has_markup) {
      std::size_t code_base = base + code_start(text, expression->end, expression->code);
      auto compiled = *parsed ? splice(session, expression->code, code_base, Markups(**parsed))
                              : compile_with(session, expression->code, code_base);
      if (!compiled) return std::unexpected(std::move(compiled.error()));
      expression->code = std::move(*compiled);
    }
    // Only an expression holding both words can hold "x and nil"; the
    // check parses the expression, so the rest are not handed to it.
    const std::string& compiled = expression->code;
    bool may_have_and_nil = compiled.find("and") != std::string::npos && compiled.find("nil") != std::string::npos;
    if (auto error = may_have_and_nil ? lint::check_conditional_child(compiled, start, len) : std::nullopt) {
      return std::unexpected(CompileError::from(*error));
    }
  }
  return {};
}

Step compile_fragment(Session& session, std::vector<ast::Child>& children, std::string_view text, std::size_t base) {
  for (const ast::Child& child : children) {
    if (const auto* text_child = std::get_if<ast::Child::Text>(&child.kind)) {
      return std::unexpected(
          CompileError{"a fragment cannot hold text",
                       fmt::format("a fragment is a plain table, so there is no element for the text to belong to; "
                                   "wrap it in one, as <TextLabel>{}</TextLabel>",
                                   text_child->text),
                       base + text_child->start, text_child->end - text_child->start});
    }
  }
  return compile_children(session, children, text, base);
}

Step compile_element(Session& session, ast::Element& element, std::string_view text, std::size_t base) {
  for (ast::Attribute& attribute : element.attributes) {
    std::string* code = nullptr;
    std::size_t end = 0;
    if (auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
      code = &spread->code;
      end = spread->end;
    } else {
      auto& named = std::get<ast::Attribute::Named>(attribute.kind);
      if (auto* value = std::get_if<ast::AttributeValue::Expression>(&named.value.kind)) {
        code = &value->code;
        end = named.end;
      }
    }
    if (code == nullptr || !may_hold_markup(*code)) continue;
    auto compiled = compile_with(session, *code, base + code_start(text, end, *code));
    if (!compiled) return std::unexpected(std::move(compiled.error()));
    *code = std::move(*compiled);
  }
  return compile_children(session, element.children, text, base);
}

Step compile_node(Session& session, ast::Node& node, std::string_view text, std::size_t base) {
  if (session.depth >= markup::parser::MAX_DEPTH) {
    return std::unexpected(CompileError{"markup is nested too deeply", std::nullopt, base + node.start(), 0});
  }
  ++session.depth;
  Step compiled = std::holds_alternative<ast::Element>(node.kind)
                      ? compile_element(session, std::get<ast::Element>(node.kind), text, base)
                      : compile_fragment(session, std::get<ast::Fragment>(node.kind).children, text, base);
  --session.depth;
  return compiled;
}

// Compiles `text`, which begins at offset `base` of the file: the whole file,
// or the code of a hole. Whatever it reports points into the file.
std::expected<std::string, CompileError> splice(Session& session, std::string_view text, std::size_t base,
                                                Markups markups) {
  backend::context::EmitContext context(text, session.resolver);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  std::size_t copied = 0;

  while (auto next = markups.next()) {
    if (!*next) return std::unexpected(shifted(from_failure(next->error()), base));
    markup::walk::Markup* markup = **next;

    if (auto nested = compile_node(session, markup->node, text, base); !nested) {
      return std::unexpected(std::move(nested.error()));
    }
    out.append(text, copied, markup->start - copied);
    auto generated = session.backend.emit(markup->node, context);
    for (const backend::EmitError& error : context.errors) {
      session.errors.push_back(shifted(CompileError::from(error), base));
    }
    context.errors.clear();
    if (!generated) return std::unexpected(shifted(CompileError::from(generated.error()), base));
    out += *generated;
    session.helpers.uses_factory |= context.uses_factory;
    session.helpers.needs_read |= context.needs_read;
    session.helpers.needs_merge |= context.needs_merge;
    copied = markup->end;
  }
  out.append(text, copied);
  return out;
}

std::expected<std::string, CompileError> compile_with(Session& session, std::string_view text, std::size_t base) {
  // A hole's code lexes cleanly (the hole was delimited by lexing it), so
  // without a `<` there is nothing to find in it.
  if (!may_hold_markup(text)) return std::string(text);
  return splice(session, text, base, Markups(text, session.depth));
}

// `partial`, when given, receives what was read if an error stops the
// compile.
std::expected<Compiled, CompileError> compile_inner(std::string_view source, const backend::Backend& backend,
                                                    config::Config config, Partial* partial) {
  // The walk of the whole text, kept up to a failure for `partial`.
  std::vector<markup::walk::Markup> parsed;
  {
    markup::walk::Walker walker(source);
    while (auto event = walker.next()) {
      if (!*event) {
        if (partial != nullptr) partial->markup = std::move(parsed);
        return std::unexpected(from_failure(event->error()));
      }
      if (auto* markup = std::get_if<markup::walk::Markup>(&**event)) parsed.push_back(std::move(*markup));
    }
  }
  std::vector<Span> spans;
  spans.reserve(parsed.size());
  for (const auto& markup : parsed) spans.emplace_back(markup.start, markup.end);
  std::string blanked = resolve::blank_tovix_regions(source, spans);

  config::Config settings = config;
  config::LintLevel lint = config.static_conditional_child;
  resolve::Resolver resolver(blanked, std::move(config));

  auto stopped = [&](CompileError error) -> std::expected<Compiled, CompileError> {
    if (partial != nullptr) {
      partial->markup = std::move(parsed);
      partial->bindings = std::move(resolver.bindings);
    }
    return std::unexpected(std::move(error));
  };

  Compiled result;
  imports::HelperUse helpers;
  Session session{backend, resolver, lint, result.warnings, result.errors, helpers};
  auto code = splice(session, source, 0, Markups(parsed));
  if (!code) return stopped(std::move(code.error()));

  auto injected = imports::inject(*code, helpers, resolver.bindings, settings);
  if (!injected) return stopped(CompileError::from(injected.error()));
  result.code = std::move(*injected);
  result.markup = std::move(parsed);
  result.bindings = std::move(resolver.bindings);
  std::stable_sort(result.errors.begin(), result.errors.end(),
                   [](const CompileError& a, const CompileError& b) { return a.offset < b.offset; });
  return result;
}

}  // namespace

std::expected<Compiled, CompileError> compile_recovering(std::string_view source, const backend::Backend& backend,
                                                         config::Config config) {
  return compile_inner(source, backend, std::move(config), nullptr);
}

std::expected<Compiled, CompileError> compile_recovering(std::string_view source, const backend::Backend& backend,
                                                         config::Config config, Partial& partial) {
  return compile_inner(source, backend, std::move(config), &partial);
}

std::expected<std::vector<Span>, CompileError> tovix_spans(std::string_view text) {
  auto parsed = parse_all(text);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  std::vector<Span> spans;
  spans.reserve(parsed->size());
  for (const auto& markup : *parsed) spans.emplace_back(markup.start, markup.end);
  return spans;
}

}  // namespace tovix::compile
