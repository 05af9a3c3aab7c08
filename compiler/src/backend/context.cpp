#include "tovix/backend/context.h"

#include <algorithm>
#include <cstring>

#include "tovix/config/config.h"
#include "tovix/whitespace.h"

namespace tovix::backend::context {

namespace {

std::vector<std::size_t> line_starts_of(std::string_view text) {
  std::vector<std::size_t> starts{0};
  const char* begin = text.data();
  const char* end = begin + text.size();
  for (const char* at = begin; at < end;) {
    const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    if (found == nullptr) break;
    at = static_cast<const char*>(found) + 1;
    starts.push_back(static_cast<std::size_t>(at - begin));
  }
  return starts;
}

}  // namespace

EmitContext::EmitContext(std::string_view text, const resolve::Resolver& file_resolver)
    : line_starts(line_starts_of(text)), source(text), resolver(file_resolver) {}

resolve::Resolution EmitContext::resolve(const markup::ast::ElementName& name, std::size_t start) {
  auto resolved = resolver.resolve(name, start);
  if (resolved) return std::move(*resolved);
  errors.push_back(std::move(resolved.error()));
  return resolve::Resolution{resolve::Resolution::Unresolved{name.as_written()}};
}

std::string EmitContext::resolve_attribute(std::string_view class_name, std::string_view attribute, std::size_t start) {
  auto resolved = resolver.resolve_attribute(class_name, attribute, start);
  if (resolved) return std::move(*resolved);
  errors.push_back(std::move(resolved.error()));
  return std::string(attribute);
}

std::size_t EmitContext::line_of(std::size_t offset) const {
  auto after = std::upper_bound(line_starts.begin(), line_starts.end(), offset);
  return static_cast<std::size_t>(after - line_starts.begin()) - 1;
}

std::string_view EmitContext::indent_of(std::size_t line) const {
  if (line >= line_starts.size()) return {};
  std::size_t start = std::min(line_starts[line], source.size());
  std::size_t end = line + 1 < line_starts.size() ? line_starts[line + 1] : source.size();
  std::string_view rest = source.substr(start, end - start);
  if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
  // The CR of a CRLF break is not indentation: copied after a line comment,
  // it would be a lone CR, which editors read as a line break of its own.
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  return rest.substr(0, rest.size() - whitespace::trim_start(rest).size());
}

std::string_view EmitContext::factory() const { return resolver.config.create; }

}  // namespace tovix::backend::context
