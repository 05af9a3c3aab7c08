#include "tovix/imports.h"

#include <optional>
#include <vector>

#include <fmt/format.h>

#include "tovix/lexer.h"
#include "tovix/whitespace.h"

namespace tovix::imports {

namespace {

// "create" → "create", "vide.create" → "vide", "scope:New" → "scope".
std::string_view factory_root(std::string_view create) {
  std::size_t cut = create.find_first_of(":.");
  return whitespace::trim(create.substr(0, cut));
}

// Where the header goes: the first token that is neither comment nor
// whitespace. None at the end of the code or at a lexer error before it.
std::optional<std::size_t> first_significant(std::string_view code) {
  lexer::Lexer lexer(code);
  while (auto next = lexer.next_token()) {
    if (!*next) return std::nullopt;
    if (lexer::is_significant((*next)->kind)) return (*next)->start;
  }
  return std::nullopt;
}

}  // namespace

std::expected<std::string, backend::EmitError> inject(std::string_view code, HelperUse use,
                                                      const resolve::NameSet& bindings, const config::Config& config) {
  if (use.uses_factory) {
    std::string_view root = factory_root(config.create);
    if (!bindings.contains(root)) {
      return std::unexpected(backend::EmitError{
          fmt::format("`{}` is not in scope", root),
          fmt::format("import it, or point [factory] create at something else (currently `{}`)", config.create),
          0,
          0,
      });
    }
  }

  // A file that binds a helper's name keeps its own definition.
  std::vector<std::string_view> helpers;
  if (use.needs_merge && !bindings.contains(std::string_view("__tovix_merge"))) helpers.push_back(MERGE_HELPER);
  if (use.needs_read && !bindings.contains(std::string_view("__tovix_read"))) helpers.push_back(READ_HELPER);
  if (helpers.empty()) return std::string(code);

  std::optional<std::size_t> at = first_significant(code);
  if (!at) return std::string(code);

  std::string out;
  std::size_t header = 0;
  for (std::string_view helper : helpers) header += helper.size() + 2;
  out.reserve(code.size() + header);
  out.append(code.substr(0, *at));
  for (std::string_view helper : helpers) {
    out.append(helper);
    out.append("; ");
  }
  out.append(code.substr(*at));
  return out;
}

}  // namespace tovix::imports
