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

// Whether `byte` continues a multi-byte sequence rather than starting a
// character.
[[nodiscard]] constexpr bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
[[nodiscard]] constexpr bool is_continuation(char byte) { return is_continuation(static_cast<unsigned char>(byte)); }

// Whether `offset` lies between two characters of `text`: 0, the end, or a
// byte that starts a character. False past the end.
[[nodiscard]] constexpr bool is_boundary(std::string_view text, std::size_t offset) {
  return offset == text.size() || (offset < text.size() && !is_continuation(text[offset]));
}

// Whether [start, start + len) lies in `text` with both ends on boundaries.
[[nodiscard]] constexpr bool is_whole(std::string_view text, std::size_t start, std::size_t len) {
  return start <= text.size() && len <= text.size() - start && is_boundary(text, start) &&
         is_boundary(text, start + len);
}

// `offset` clamped to the text and moved back to the start of the character
// it falls in.
[[nodiscard]] std::size_t floor_boundary(std::string_view text, std::size_t offset);

// `offset` clamped to the text and moved forward to the end of the character
// it falls in.
[[nodiscard]] std::size_t ceil_boundary(std::string_view text, std::size_t offset);

// The boundary after the character that starts at `pos`, at most `limit`.
[[nodiscard]] std::size_t next_boundary(std::string_view text, std::size_t pos, std::size_t limit);

// Whether the whole text is well-formed UTF-8.
[[nodiscard]] bool is_valid(std::string_view text);

// A copy of the text with each ill-formed subpart replaced by U+FFFD.
[[nodiscard]] std::string to_valid(std::string_view text);

}  // namespace tovix_lsp::utf8_text
