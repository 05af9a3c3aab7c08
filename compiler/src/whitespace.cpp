#include "tovix/whitespace.h"

#include <array>

namespace tovix::whitespace {

namespace {

// Every White_Space character outside ASCII, UTF-8 encoded.
constexpr std::array<std::string_view, 19> WIDE = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

// U+0009..U+000D (vertical tab included) and space.
constexpr bool is_ascii_white_space(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == ' '; }

}  // namespace

std::size_t leading_whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  auto first = static_cast<unsigned char>(text.front());
  if (first < 0x80) return is_ascii_white_space(first) ? 1 : 0;
  if (first != 0xC2 && first != 0xE1 && first != 0xE2 && first != 0xE3) return 0;
  for (std::string_view wide : WIDE) {
    if (text.starts_with(wide)) return wide.size();
  }
  return 0;
}

std::size_t trailing_whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  auto last = static_cast<unsigned char>(text.back());
  if (last < 0x80) return is_ascii_white_space(last) ? 1 : 0;
  for (std::string_view wide : WIDE) {
    if (text.ends_with(wide)) return wide.size();
  }
  return 0;
}

std::string_view trim_start(std::string_view text) {
  while (std::size_t n = leading_whitespace_length(text)) text.remove_prefix(n);
  return text;
}

std::string_view trim_end(std::string_view text) {
  while (std::size_t n = trailing_whitespace_length(text)) text.remove_suffix(n);
  return text;
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

}  // namespace tovix::whitespace
