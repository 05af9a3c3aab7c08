#pragma once

// The compiler's entry: a whole .tovix text to plain Luau, line for line,
// with the code generator the caller chooses. The records it reports are in
// compile/records.h.
//
//   auto compiled = compile::compile_recovering(text, backend::vide::Vide{}, config);
//   if (!compiled) ...  // one error that made the output unusable
//   compiled->code, compiled->warnings, compiled->errors
//
// Lexer and markup syntax errors, text-content errors, the and-nil-or check,
// the static-conditional-child lint at level error and a factory that is not
// in scope end the compile with that one error. Unresolved element names and
// attributes the class lacks are collected in `errors`; lint findings at level
// warn in `warnings`. Every offset refers to the whole source.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tovix/backend/backend.h"
#include "tovix/compile/records.h"
#include "tovix/config/config.h"
#include "tovix/lexer.h"
#include "tovix/markup/parser.h"
#include "tovix/markup/walk.h"
#include "tovix/resolve.h"

namespace tovix::compile {

// The result of a compile that produced usable output.
struct Compiled {
  // Line for line with the source: Luau outside markup unchanged, each markup
  // expression replaced by generated code on its source lines, the helpers it
  // needs inserted in front of the first statement without adding a line.
  std::string code;
  std::vector<Warning> warnings;     // in the order found
  std::vector<CompileError> errors;  // resolution errors, by offset (stable)
  // What the compile read on its way, so that a caller pairing the output
  // with the source need not read the source again: the top-level markup
  // with its spans as in the source (the code of holes that held markup is
  // replaced by its compiled form), and every name the file binds.
  std::vector<markup::walk::Markup> markup;
  resolve::NameSet bindings;
};

// What a compile had read of the source when an error stopped it: the
// top-level markup parsed before the first lexer or markup syntax error (all
// of it when the error came later, the code of holes already compiled then
// replaced by its compiled form), and, once it got that far, every name the
// file binds.
struct Partial {
  std::vector<markup::walk::Markup> markup;
  std::optional<resolve::NameSet> bindings;
};

// Compiles a whole .tovix text with `backend` and the project's settings.
[[nodiscard]] std::expected<Compiled, CompileError> compile_recovering(std::string_view source,
                                                                       const backend::Backend& backend,
                                                                       config::Config config);

// The same; on an error `partial` receives what the compile had read (on
// success it is left as it was: `Compiled` holds all of it).
[[nodiscard]] std::expected<Compiled, CompileError> compile_recovering(std::string_view source,
                                                                       const backend::Backend& backend,
                                                                       config::Config config, Partial& partial);

// A (start, end) byte span of one markup expression, end exclusive.
using Span = std::pair<std::size_t, std::size_t>;

// The spans of every markup expression at the top level of `text`, in order;
// or the first lexer or markup syntax error.
[[nodiscard]] std::expected<std::vector<Span>, CompileError> tovix_spans(std::string_view text);

}  // namespace tovix::compile
