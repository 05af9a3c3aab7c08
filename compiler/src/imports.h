#pragma once

// The runtime helpers that generated code may call, and their injection at
// the front of a compiled file. The helper texts are part of the generated
// code's format (the source map measures them), so they never change.

#include <expected>
#include <string>
#include <string_view>

#include "tovix/backend/backend.h"
#include "tovix/config/config.h"
#include "tovix/resolve.h"

namespace tovix::imports {

// Which helpers and whether the factory the generated code uses; raised while
// generating, never lowered.
struct HelperUse {
  bool uses_factory = false;
  bool needs_read = false;
  bool needs_merge = false;

  friend bool operator==(const HelperUse&, const HelperUse&) = default;
};

// Each is one line: inserting it adds no line break.
inline constexpr std::string_view MERGE_HELPER =
    "local function __tovix_merge(...): any local m, n = {}, 0 for i = 1, select(\"#\", ...) do "
    "local g = select(i, ...) if g ~= nil then for k, v in g do if type(k) == \"number\" then "
    "n += 1 m[n] = v else m[k] = v end end end end return m end";
inline constexpr std::string_view READ_HELPER =
    "local function __tovix_read(v) return if type(v) == \"function\" then (v :: () -> any)() else v end";

// The final code: `code` with the helpers it needs and does not define itself
// in front of its first significant token, on that token's line. Fails only
// when the factory is used and the root of the configured factory is bound
// nowhere in the file; the error points at offset 0 with length 0. Code with
// no significant token, or that does not lex up to one, comes back unchanged.
[[nodiscard]] std::expected<std::string, backend::EmitError> inject(std::string_view code, HelperUse use,
                                                                    const resolve::NameSet& bindings,
                                                                    const config::Config& config);

}  // namespace tovix::imports
