#include "analysis.h"

#include <algorithm>

#include "backend/vide.h"
#include "compile.h"
#include "map_builder.h"
#include "roblox/roblox.h"
#include "scan.h"
#include "whitespace.h"

namespace tovix_lsp::analysis {

namespace {

using json = nlohmann::json;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t floor_boundary(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  while (offset > 0 && offset < text.size() && is_continuation(text[offset])) --offset;
  return offset;
}

std::size_t ceil_boundary(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  while (offset < text.size() && is_continuation(text[offset])) ++offset;
  return offset;
}

// The Roblox class an element name as written stands for, if any.
std::optional<std::string> class_of(const tovix::config::Config& config, std::string_view element) {
  auto resolved = config.resolve_element(element);
  if (!resolved) return std::nullopt;
  if (*resolved) return **resolved;
  if (tovix::roblox::is_class(element)) return std::string(element);
  return std::nullopt;
}

}  // namespace

std::optional<json> suggestion(const document::Document& document, const project::Project& project,
                               std::size_t start, std::size_t end) {
  std::string_view text = document.text();
  std::string_view span = text.substr(start, end - start);
  const auto& config = project.config;
  if (!span.empty() && span.front() == '<') {
    auto name = tovix::whitespace::trim(span.substr(1));
    auto found = tovix::roblox::closest_class(name);
    if (!found) return std::nullopt;
    return json{{"candidates", json::array({project.vocabulary->element(config, *found)})},
                {"kind", "element"},
                {"range", document.range_at(start + 1, end)}};
  }
  auto scanned = scan::scan(text, start);
  auto* attribute = std::get_if<scan::AttributeName>(&scanned.context);
  if (!attribute) return std::nullopt;
  auto class_name = class_of(config, attribute->element);
  if (!class_name) return std::nullopt;
  json candidates = json::array();
  for (std::string_view member : tovix::roblox::closest_members(*class_name, span))
    candidates.push_back(project.vocabulary->member(config, *class_name, member));
  if (candidates.empty()) return std::nullopt;
  return json{{"candidates", std::move(candidates)}, {"kind", "member"}, {"range", document.range_at(start, end)}};
}

json diagnostic(const document::Document& document, const project::Project& project, std::string_view message,
                std::size_t offset, std::size_t length, const std::optional<std::string>& help,
                Severity severity) {
  std::string_view text = document.text();
  std::size_t start = floor_boundary(text, offset);
  std::size_t widened = std::max<std::size_t>(length, 1);
  std::size_t end = ceil_boundary(text, widened > text.size() - start ? text.size() : start + widened);
  json range = document.range_at(start, end);
  json out = {{"message", message}, {"range", range}, {"severity", static_cast<int>(severity)}, {"source", "tovix"}};
  if (help)
    out["relatedInformation"] =
        json::array({{{"location", {{"range", range}, {"uri", document.uri()}}}, {"message", *help}}});
  if (auto data = suggestion(document, project, start, end)) out["data"] = std::move(*data);
  return out;
}

Analysis Analysis::run(const document::Document& document, const project::Project& project,
                       std::optional<Compiled> previous) {
  Analysis out;
  if (project.config_error)
    out.diagnostics.push_back({{"message", *project.config_error},
                               {"range", document.range_at(0, 0)},
                               {"severity", static_cast<int>(Severity::Error)},
                               {"source", "tovix"}});
  const std::string& text = document.text();
  std::size_t lines = document.index().line_count();
  auto compiled = tovix::compile::compile_recovering(text, tovix::backend::vide::Vide{}, project.config);
  if (!compiled) {
    const auto& e = compiled.error();
    out.diagnostics.push_back(diagnostic(document, project, e.message, e.offset, e.len, e.help, Severity::Error));
    if (previous && previous->lines == lines) {
      out.compiled = std::move(previous);
      out.stale = true;
    }
    return out;
  }
  for (const auto& e : compiled->errors)
    out.diagnostics.push_back(diagnostic(document, project, e.message, e.offset, e.len, e.help, Severity::Error));
  for (const auto& w : compiled->warnings)
    out.diagnostics.push_back(diagnostic(document, project, w.message, w.offset, w.len, w.help, Severity::Warning));
  Compiled result;
  result.map = map_builder::build(text, compiled->code, project.config);
  result.code = std::move(compiled->code);
  result.version = document.version();
  result.lines = lines;
  out.compiled = std::move(result);
  return out;
}

}  // namespace tovix_lsp::analysis
