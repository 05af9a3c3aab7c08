#include "tovix/unicode.h"

#include <algorithm>
#include <iterator>
#include <utf8proc.h>

namespace tovix::unicode {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Characters with the Lowercase or Uppercase property outside Ll and Lu
// (PropList's Other_Lowercase and Other_Uppercase).
constexpr Range OTHER_LOWERCASE[] = {
    {0x00AA, 0x00AA},   {0x00BA, 0x00BA},   {0x02B0, 0x02B8},   {0x02C0, 0x02C1},   {0x02E0, 0x02E4},
    {0x0345, 0x0345},   {0x037A, 0x037A},   {0x1D2C, 0x1D6A},   {0x1D78, 0x1D78},   {0x1D9B, 0x1DBF},
    {0x2071, 0x2071},   {0x207F, 0x207F},   {0x2090, 0x209C},   {0x2170, 0x217F},   {0x24D0, 0x24E9},
    {0x2C7C, 0x2C7D},   {0xA69C, 0xA69D},   {0xA770, 0xA770},   {0xA7F8, 0xA7F9},   {0xAB5C, 0xAB5F},
    {0x10780, 0x10780}, {0x10783, 0x10785}, {0x10787, 0x107B0}, {0x107B2, 0x107BA}, {0x1E030, 0x1E06D},
};
constexpr Range OTHER_UPPERCASE[] = {
    {0x2160, 0x216F}, {0x24B6, 0x24CF}, {0x1F130, 0x1F149}, {0x1F150, 0x1F169}, {0x1F170, 0x1F189},
};

bool in_ranges(const Range* begin, const Range* end, char32_t c) {
  const Range* it = std::upper_bound(begin, end, c, [](char32_t v, const Range& r) { return v < r.first; });
  return it != begin && c <= (it - 1)->last;
}

void append_bytes(std::string& out, const Char& c, std::string_view text) {
  out.append(text.substr(c.offset, c.length));
}

}  // namespace

Char decode_at(std::string_view text, std::size_t offset) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(offset);
  Char invalid{0xFFFD, offset, 1, false};
  if (b0 < 0x80) return {b0, offset, 1, true};
  std::size_t length;
  char32_t value;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2, value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3, value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4, value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return invalid;
  }
  if (offset + length > text.size()) return invalid;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(offset + i);
    if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return invalid;
    value = (value << 6) | (b & 0x3F);
  }
  return {value, offset, length, true};
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const Char c = decode_at(text, i);
    if (!c.valid) return false;
    i += c.length;
  }
  return true;
}

bool is_lowercase(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z';
  return utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_LL ||
         in_ranges(std::begin(OTHER_LOWERCASE), std::end(OTHER_LOWERCASE), c);
}

bool is_uppercase(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z';
  return utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_LU ||
         in_ranges(std::begin(OTHER_UPPERCASE), std::end(OTHER_UPPERCASE), c);
}

bool is_numeric(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO: return true;
    default: return false;
  }
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void append_lower(std::string& out, const Char& c, std::string_view text) {
  if (!c.valid) return append_bytes(out, c, text);
  if (c.value < 0x80) {
    const char ch = static_cast<char>(c.value);
    out.push_back(ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch);
    return;
  }
  // The one unconditional lower-case mapping longer than a character.
  if (c.value == 0x0130) {
    out.append("i\xCC\x87");
    return;
  }
  append_utf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c.value))));
}

void append_upper(std::string& out, const Char& c, std::string_view text) {
  if (!c.valid) return append_bytes(out, c, text);
  if (c.value < 0x80) {
    const char ch = static_cast<char>(c.value);
    out.push_back(ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch);
    return;
  }
  append_utf8(out, static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(c.value))));
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Char c = decode_at(text, i);
    append_lower(out, c, text);
    i += c.length;
  }
  return out;
}

}  // namespace tovix::unicode
