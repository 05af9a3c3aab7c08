#include "workspace/line_index.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "workspace/utf8_text.h"

namespace tovix_lsp::line_index {

namespace {

// UTF-16 code units of one decoded character; an ill-formed byte run counts
// as the one U+FFFD that stands for it.
std::uint32_t utf16_units(const utf8_text::Step& step) { return step.code_point > 0xFFFF ? 2 : 1; }

// Steps one character forward; ASCII, the common case, skips the decoder.
utf8_text::Step step_at(std::string_view text, std::size_t pos) {
  const auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) return {1, byte, true};
  return utf8_text::decode(text, pos);
}

}  // namespace

LineIndex::LineIndex(std::string_view text) : len_(text.size()) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  // Lines are rarely shorter than this; reserving a guess avoids most of the
  // regrowth without a second pass.
  starts_.reserve(text.size() / 32 + 1);
  for (const char* p = begin; p != end;) {
    const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (hit == nullptr) break;
    p = static_cast<const char*>(hit) + 1;
    starts_.push_back(static_cast<std::size_t>(p - begin));
  }
}

LineIndex LineIndex::edited(std::size_t start, std::size_t end, std::string_view inserted) const {
  // Entries up to `start` stay; those the removed bytes produced (in
  // (start, end]) go; the inserted text adds its own; the rest shift.
  const auto keep_end = std::upper_bound(starts_.begin(), starts_.end(), start);
  const auto tail = std::upper_bound(keep_end, starts_.end(), end);
  LineIndex out;
  out.len_ = len_ - (end - start) + inserted.size();
  out.starts_.clear();
  out.starts_.reserve(static_cast<std::size_t>(keep_end - starts_.begin()) +
                      static_cast<std::size_t>(starts_.end() - tail) + inserted.size() / 32 + 1);
  out.starts_.insert(out.starts_.end(), starts_.begin(), keep_end);
  for (std::size_t i = 0; i < inserted.size(); ++i) {
    const void* hit = std::memchr(inserted.data() + i, '\n', inserted.size() - i);
    if (hit == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(hit) - inserted.data());
    out.starts_.push_back(start + i + 1);
  }
  for (auto it = tail; it != starts_.end(); ++it) {
    out.starts_.push_back(*it - end + start + inserted.size());
  }
  return out;
}

std::size_t LineIndex::line_of(std::size_t offset) const {
  // starts_[0] is 0, so upper_bound never returns begin().
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::size_t>(it - starts_.begin()) - 1;
}

ByteRange LineIndex::line_range(std::string_view text, std::size_t line) const {
  if (line >= starts_.size()) return {len_, len_};
  const std::size_t start = starts_[line];
  std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] - 1 : len_;
  if (end > start && end <= text.size() && text[end - 1] == '\r') --end;
  return {start, end};
}

std::optional<std::size_t> LineIndex::offset(std::string_view text, std::uint32_t line, std::uint32_t character) const {
  if (line == starts_.size() && character == 0) return len_;
  if (line >= starts_.size()) return std::nullopt;
  const ByteRange range = line_range(text, line);
  const std::size_t end = std::min(range.end, text.size());
  std::size_t pos = range.start;
  std::uint32_t count = 0;
  while (pos < end) {
    if (count >= character) return pos;
    const utf8_text::Step step = step_at(text, pos);
    count += utf16_units(step);
    pos += step.len;
  }
  // An ill-formed run may not reach past the content's end, but stay safe.
  return std::min(pos, end);
}

namespace {

// The UTF-16 units from `pos` (a character boundary, `count` units into its
// line) to `offset` on the same line. Whole characters are walked; one that
// would pass the offset holds it, so the offset floors to where that
// character starts. `mark`, when given, is called at the first boundary
// reached at or past each multiple of `every` bytes from `pos`.
template <typename Mark>
std::uint32_t units_to(std::string_view text, std::size_t pos, std::uint32_t count, std::size_t offset,
                       std::size_t every, Mark mark) {
  auto ahead = [&] { return every > SIZE_MAX - pos ? SIZE_MAX : pos + every; };
  std::size_t next_mark = ahead();
  while (pos < offset) {
    const utf8_text::Step step = step_at(text, pos);
    if (pos + step.len > offset) break;
    count += utf16_units(step);
    pos += step.len;
    if (pos >= next_mark) {
      mark(pos, count);
      next_mark = ahead();
    }
  }
  return count;
}

}  // namespace

Position LineIndex::position(std::string_view text, std::size_t offset) const {
  offset = std::min({offset, len_, text.size()});
  const std::size_t line = line_of(offset);
  const std::uint32_t units = units_to(text, starts_[line], 0, offset, SIZE_MAX, [](std::size_t, std::uint32_t) {});
  return {static_cast<std::uint32_t>(line), units};
}

Position Positions::at(std::size_t offset) {
  offset = std::min({offset, index_.len(), text_.size()});
  const std::size_t line = index_.line_of(offset);
  const std::size_t start = index_.starts()[line];
  if (offset - start <= MARK_EVERY) return index_.position(text_, offset);
  std::vector<Mark>& marks = marks_[line];
  if (marks.empty()) marks.push_back({start, 0});
  const auto after =
      std::upper_bound(marks.begin(), marks.end(), offset, [](std::size_t o, const Mark& m) { return o < m.offset; });
  const Mark from = *std::prev(after);
  std::uint32_t units = 0;
  if (after == marks.end()) {
    // Past the stretch walked so far: walk on, marking the way.
    units = units_to(text_, from.offset, from.units, offset, MARK_EVERY, [&](std::size_t pos, std::uint32_t count) {
      marks.push_back({pos, count});
    });
  } else {
    units = units_to(text_, from.offset, from.units, offset, SIZE_MAX, [](std::size_t, std::uint32_t) {});
  }
  return {static_cast<std::uint32_t>(line), units};
}

}  // namespace tovix_lsp::line_index
