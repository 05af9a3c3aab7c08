#pragma once

// The two notions of whitespace the compiler uses: the five ASCII bytes of
// tokens and tags, and Unicode whitespace (the White_Space property) for
// trimming holes, text children, comment bodies and settings values.

#include <string_view>

namespace tovix::whitespace {

// Tab, line feed, form feed, carriage return, space (not vertical tab).
[[nodiscard]] constexpr bool is_ascii_whitespace(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

// The byte length of the Unicode whitespace character that `text` starts
// with, or 0. Matches whole UTF-8 sequences only, so invalid input is never
// split.
[[nodiscard]] std::size_t leading_whitespace_length(std::string_view text);

// The same for the character that `text` ends with.
[[nodiscard]] std::size_t trailing_whitespace_length(std::string_view text);

// `text` without its leading / trailing / surrounding Unicode whitespace.
[[nodiscard]] std::string_view trim_start(std::string_view text);
[[nodiscard]] std::string_view trim_end(std::string_view text);
[[nodiscard]] std::string_view trim(std::string_view text);

}  // namespace tovix::whitespace
