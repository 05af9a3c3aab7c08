#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Decoding of UTF-8 byte strings for the workspace: text from the editor and
// from the file system may be anything, so every walk over characters goes
// through one strict decoder and agrees on where characters start.
namespace tovix_lsp::utf8_text {

// One step of decoding: `len` bytes starting at the position. `valid` is false
// for a byte that begins no well-formed sequence; `len` then covers the
// maximal ill-formed subpart (at least one byte), which counts as one
// character wherever characters are counted.
struct Step {
  std::size_t len;
  char32_t code_point;  // U+FFFD when not valid
  bool valid;
};

// Decodes the character at `pos`; `pos` must be below `text.size()`.
// Rejects overlong forms, surrogates and values above U+10FFFF.
[[nodiscard]] Step decode(std::string_view text, std::size_t pos);

// Whether the whole text is well-formed UTF-8.
[[nodiscard]] bool is_valid(std::string_view text);

// A copy of the text with each ill-formed subpart replaced by U+FFFD.
[[nodiscard]] std::string to_valid(std::string_view text);

}  // namespace tovix_lsp::utf8_text
