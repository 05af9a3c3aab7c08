#include "workspace/utf8_text.h"

#include <algorithm>

namespace tovix_lsp::utf8_text {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;
constexpr std::string_view REPLACEMENT_UTF8 = "\xEF\xBF\xBD";

}  // namespace

Step decode(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {1, lead, true};

  std::size_t need = 0;
  char32_t value = 0;
  // Bounds for the second byte, which is where overlong forms, surrogates
  // and values above U+10FFFF show.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, REPLACEMENT, false};
  }

  std::size_t len = 1;
  for (std::size_t k = 0; k < need; ++k) {
    const std::size_t i = pos + len;
    if (i >= text.size()) return {len, REPLACEMENT, false};
    const unsigned char b = byte(i);
    const bool fits = k == 0 ? (b >= low && b <= high) : is_continuation(b);
    if (!fits) return {len, REPLACEMENT, false};
    value = (value << 6) | (b & 0x3F);
    ++len;
  }
  return {len, value, true};
}

std::size_t floor_boundary(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  while (offset > 0 && offset < text.size() && is_continuation(text[offset])) --offset;
  return offset;
}

std::size_t ceil_boundary(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  while (offset < text.size() && is_continuation(text[offset])) ++offset;
  return offset;
}

std::size_t next_boundary(std::string_view text, std::size_t pos, std::size_t limit) {
  ++pos;
  while (pos < limit && is_continuation(text[pos])) ++pos;
  return pos;
}

bool is_valid(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Step step = decode(text, pos);
    if (!step.valid) return false;
    pos += step.len;
  }
  return true;
}

std::string to_valid(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Step step = decode(text, pos);
    if (step.valid) {
      out.append(text.substr(pos, step.len));
    } else {
      out.append(REPLACEMENT_UTF8);
    }
    pos += step.len;
  }
  return out;
}

}  // namespace tovix_lsp::utf8_text
