#include "tovix/luau/parser.h"

#include <cstdint>
#include <limits>

#include "tovix/luau/cursor.h"
#include "tovix/luau/statements.h"

namespace tovix::luau::parser {

ParseResult parse(std::string_view source) {
  ParseResult result;
  if (source.size() >= std::numeric_limits<std::uint32_t>::max()) {
    result.root = result.arena.make<ast::StatBlock>();
    result.errors.push_back({"File is too large to parse (4 GiB or more)", 0});
    return result;
  }
  cursor::Cursor c(source, result.arena, result.errors);
  result.root = statements::parse_chunk(c);
  return result;
}

}  // namespace tovix::luau::parser
