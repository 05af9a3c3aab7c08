#include "workspace/analysis.h"

#include <algorithm>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/roblox/roblox.h"
#include "tovix/whitespace.h"
#include "workspace/map_builder.h"
#include "workspace/naming.h"
#include "workspace/scan.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::analysis {

namespace {

using json = nlohmann::json;
using line_index::ByteRange;

// A diagnostic's byte span, widened to whole characters.
ByteRange widen(std::string_view text, std::size_t offset, std::size_t length) {
  std::size_t start = utf8_text::floor_boundary(text, offset);
  std::size_t widened = std::max<std::size_t>(length, 1);
  return {start, utf8_text::ceil_boundary(text, widened > text.size() - start ? text.size() : start + widened)};
}

// Whether the span names an element (it starts at the `<`); other spans
// may name an attribute, which takes the cursor context to tell.
bool names_element(std::string_view text, ByteRange span) { return span.end > span.start && text[span.start] == '<'; }

// The element name as written after the `<` at `lt`: the run of name bytes
// and "." from the first non-blank byte. The diagnostic's own span counts
// the name's length from the `<`, so with blanks in between it would end
// inside the name; a fix must replace the whole name and nothing else.
ByteRange written_name(std::string_view text, std::size_t lt) {
  std::size_t start = lt + 1;
  while (start < text.size() && tovix::whitespace::is_ascii_whitespace(static_cast<unsigned char>(text[start])))
    ++start;
  std::size_t end = start;
  while (end < text.size() && scan::is_name_char(static_cast<unsigned char>(text[end]))) ++end;
  return {start, end};
}

std::optional<json> element_suggestion(const document::Document& document, document::Ranges& ranges,
                                       const project::Project& project, ByteRange span) {
  std::string_view text = document.text();
  const ByteRange name = written_name(text, span.start);
  if (name.start == name.end) return std::nullopt;
  auto found = tovix::roblox::closest_class(text.substr(name.start, name.end - name.start));
  if (!found) return std::nullopt;
  return json{{"candidates", json::array({project.vocabulary->element(project.config, *found)})},
              {"kind", "element"},
              {"range", ranges.range_at(name.start, name.end)}};
}

// `scanned` is the cursor context at the span's start.
std::optional<json> member_suggestion(const document::Document& document, document::Ranges& ranges,
                                      const project::Project& project, ByteRange span, const scan::Scan& scanned) {
  auto* attribute = std::get_if<scan::AttributeName>(&scanned.context);
  if (!attribute) return std::nullopt;
  const auto& config = project.config;
  auto class_name = naming::element_class(config, attribute->element);
  if (!class_name) return std::nullopt;
  std::string_view written = std::string_view(document.text()).substr(span.start, span.end - span.start);
  json candidates = json::array();
  for (std::string_view member : tovix::roblox::closest_members(*class_name, written))
    candidates.push_back(project.vocabulary->member(config, *class_name, member));
  if (candidates.empty()) return std::nullopt;
  return json{{"candidates", std::move(candidates)},
              {"kind", "member"},
              {"range", ranges.range_at(span.start, span.end)}};
}

json diagnostic_at(const document::Document& document, document::Ranges& ranges, std::string_view message,
                   ByteRange span, const std::optional<std::string>& help, Severity severity,
                   std::optional<json> data) {
  return protocol::to_json(protocol::Diagnostic{.range = ranges.range(span.start, span.end),
                                                .severity = severity,
                                                .message = std::string(message),
                                                .uri = document.uri(),
                                                .help = help,
                                                .data = std::move(data)});
}

// One compiler report on its way to becoming a diagnostic.
struct Report {
  std::string_view message;
  ByteRange span;
  const std::optional<std::string>* help;
  Severity severity;
};

// The resume points of what was read, worked out on first need: a walk of
// the markup costs less than the scans it saves, and the requests on the
// text take them after.
std::span<const scan::Resume> resumes_of(snapshot::Read& read) {
  if (!read.resumes) read.resumes = scan::resumes(read.text, read.markup);
  return *read.resumes;
}

}  // namespace

std::optional<json> suggestion(const document::Document& document, const project::Project& project, std::size_t start,
                               std::size_t end) {
  const ByteRange span{start, end};
  document::Ranges ranges(document);
  if (names_element(document.text(), span)) return element_suggestion(document, ranges, project, span);
  return member_suggestion(document, ranges, project, span, scan::scan(document.text(), start));
}

json diagnostic(const document::Document& document, const project::Project& project, std::string_view message,
                std::size_t offset, std::size_t length, const std::optional<std::string>& help, Severity severity) {
  const ByteRange span = widen(document.text(), offset, length);
  document::Ranges ranges(document);
  return diagnostic_at(document, ranges, message, span, help, severity,
                       suggestion(document, project, span.start, span.end));
}

Analysis Analysis::run(const document::Document& document, const project::Project& project,
                       std::shared_ptr<const Compiled> previous) {
  Analysis out;
  // Every range of this run, however many fall on one long line.
  document::Ranges ranges(document);
  if (project.config_error)
    out.diagnostics.push_back(protocol::to_json(protocol::Diagnostic{.range = document.range(0, 0),
                                                                     .severity = Severity::Error,
                                                                     .message = *project.config_error,
                                                                     .uri = document.uri(),
                                                                     .help = std::nullopt,
                                                                     .data = std::nullopt}));
  const std::string& text = document.text();
  std::size_t lines = document.index().line_count();
  tovix::compile::Partial partial;
  auto compiled = tovix::compile::compile_recovering(text, tovix::backend::vide::Vide{}, project.config, partial);
  out.read.text = text;
  if (!compiled) {
    out.read.markup = std::move(partial.markup);
    out.read.bindings = std::move(partial.bindings);
    const auto& e = compiled.error();
    const ByteRange span = widen(text, e.offset, e.len);
    std::optional<json> data =
        names_element(text, span)
            ? element_suggestion(document, ranges, project, span)
            : member_suggestion(document, ranges, project, span, scan::scan(text, span.start, resumes_of(out.read)));
    out.diagnostics.push_back(
        diagnostic_at(document, ranges, e.message, span, e.help, Severity::Error, std::move(data)));
    // Kept whatever the line count: positions move through it only on the
    // lines before the first and after the last difference from the text it
    // was compiled from, so unfinished markup typed on a new line leaves the
    // Luau answers of the rest of the file in place.
    if (previous) {
      out.compiled = std::move(previous);
      out.stale = true;
    }
    return out;
  }

  std::vector<Report> reports;
  reports.reserve(compiled->errors.size() + compiled->warnings.size());
  for (const auto& e : compiled->errors)
    reports.push_back({e.message, widen(text, e.offset, e.len), &e.help, Severity::Error});
  for (const auto& w : compiled->warnings)
    reports.push_back({w.message, widen(text, w.offset, w.len), &w.help, Severity::Warning});
  // The contexts of every span that may name an attribute, each walked from
  // the last resume point before it.
  std::vector<std::size_t> cursors;
  for (const Report& r : reports)
    if (!names_element(text, r.span)) cursors.push_back(r.span.start);
  out.read.markup = std::move(compiled->markup);
  const std::vector<scan::Scan> contexts =
      cursors.empty() ? std::vector<scan::Scan>{} : scan::scan_all(text, cursors, resumes_of(out.read));
  std::size_t next_context = 0;
  for (const Report& r : reports) {
    std::optional<json> data = names_element(text, r.span)
                                   ? element_suggestion(document, ranges, project, r.span)
                                   : member_suggestion(document, ranges, project, r.span, contexts[next_context++]);
    out.diagnostics.push_back(diagnostic_at(document, ranges, r.message, r.span, *r.help, r.severity, std::move(data)));
  }

  auto result = std::make_shared<Compiled>();
  result->source = text;
  result->source_index = document.index();
  // The resolver borrows the names for the map and gives them back.
  tovix::resolve::Resolver resolver(std::move(compiled->bindings), project.config);
  result->map = map_builder::build(text, compiled->code, resolver, out.read.markup);
  out.read.bindings = std::move(resolver.bindings);
  result->code = std::move(compiled->code);
  result->code_index = line_index::LineIndex(result->code);
  result->version = document.version();
  result->lines = lines;
  out.compiled = std::move(result);
  return out;
}

}  // namespace tovix_lsp::analysis
