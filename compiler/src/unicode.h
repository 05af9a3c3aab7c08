#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode character classes and case mappings over UTF-8 text.
//
// Every function accepts arbitrary bytes: a byte that does not start a valid
// UTF-8 sequence counts as one character of its own that belongs to no class
// and maps to itself, so invalid input is carried through unchanged.
namespace tovix::unicode {

// One character of a text: its scalar value (U+FFFD for an invalid byte) and
// the bytes it occupies.
struct Char {
  char32_t value = 0;
  std::size_t offset = 0;
  std::size_t length = 0;
  bool valid = true;
};

// The character starting at `offset`; `offset` must be below `text.size()`.
[[nodiscard]] Char decode_at(std::string_view text, std::size_t offset);

// True when the whole text is well-formed UTF-8 (no surrogates, no overlong
// forms, nothing above U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// The derived properties Lowercase and Uppercase (Ll/Lu plus the Other_*
// characters), and the number categories Nd, Nl and No.
[[nodiscard]] bool is_lowercase(char32_t c);
[[nodiscard]] bool is_uppercase(char32_t c);
[[nodiscard]] bool is_numeric(char32_t c);

// Appends the full (context-free) lower-case mapping of one character, which
// may be several characters long.
void append_lower(std::string& out, const Char& c, std::string_view text);
// Appends the simple upper-case mapping of one character. (The multi-character
// upper-case mappings all start from lower-case letters.)
void append_upper(std::string& out, const Char& c, std::string_view text);

// The whole text with the full lower-case mapping applied.
[[nodiscard]] std::string to_lower(std::string_view text);

// Appends the UTF-8 encoding of a scalar value.
void append_utf8(std::string& out, char32_t c);

}  // namespace tovix::unicode
