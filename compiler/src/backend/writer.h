#pragma once

// The output buffer of a code generator that keeps generated code on the
// source lines of the markup it comes from. Pieces placed in source order with
// `to` or `break_or_space` begin on the output line whose number is their
// source line, indented like it; everything else is `push`ed, and line feeds
// enter only to catch up with a source line or inside a copied text.

#include <cstddef>
#include <string>
#include <string_view>

#include "tovix/backend/context.h"

namespace tovix::backend::writer {

struct Writer {
  std::string out;
  const context::EmitContext& ctx;
  // The source line on which the end of `out` stands.
  std::size_t line = 0;

  Writer(const context::EmitContext& context, std::size_t start_line) : ctx(context), line(start_line) {}

  // Appends `text`; `line` grows by the line feeds in it.
  void push(std::string_view text);

  // Appends copied Luau code (or comment) like `push`. Code whose last line
  // ends in a line comment gets a line break and the next line's indentation
  // after it, so that nothing written after it is commented out; its source
  // has that line break before the hole closes, so the line stays in step.
  void push_code(std::string_view code);

  // Moves down to the line of `offset`: the missing line feeds, then that
  // line's indentation. True when it moved; an offset on the current line or
  // above leaves `out` unchanged (the writer never moves up).
  bool to(std::size_t offset);

  // `to`, and one blank when that did not move.
  void break_or_space(std::size_t offset);
};

// Whether Luau `code` ends inside a line comment (one that runs to the end of
// the text). Code that does not lex answers no.
[[nodiscard]] bool ends_in_line_comment(std::string_view code);

}  // namespace tovix::backend::writer
