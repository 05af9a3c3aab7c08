#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

// Conversion between byte offsets into UTF-8 text and protocol positions
// (zero-based line, column in UTF-16 code units). This is the only place
// where UTF-16 is counted.
namespace tovix_lsp::line_index {

struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

// A half-open byte range [start, end).
struct ByteRange {
  std::size_t start = 0;
  std::size_t end = 0;
  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// Line starts of one text. Only LF starts a line; a CR before the LF (or a
// CR that ends the text) belongs to the break. The index does not keep the
// text: operations that look at characters take it again, and it must be
// the text the index was built from.
class LineIndex {
 public:
  // The index of the empty text: one empty line.
  LineIndex() = default;
  explicit LineIndex(std::string_view text);

  // The index of the text that replacing the bytes [start, end) of the
  // indexed text by `inserted` gives; equal to building it afresh, but only
  // the inserted text is scanned. Requires start <= end <= len().
  [[nodiscard]] LineIndex edited(std::size_t start, std::size_t end, std::string_view inserted) const;

  friend bool operator==(const LineIndex&, const LineIndex&) = default;

  // Ascending; the first entry is 0, then one entry after every LF.
  [[nodiscard]] const std::vector<std::size_t>& starts() const { return starts_; }
  // Byte length of the indexed text.
  [[nodiscard]] std::size_t len() const { return len_; }
  // Number of LF bytes plus one.
  [[nodiscard]] std::size_t line_count() const { return starts_.size(); }

  // The line holding the offset; offsets past the text give the last line.
  [[nodiscard]] std::size_t line_of(std::size_t offset) const;

  // Byte range of the line's content, without its LF and one CR before it.
  // A line at or past the line count gives (len, len).
  [[nodiscard]] ByteRange line_range(std::string_view text, std::size_t line) const;

  // Byte offset of a position, always a character boundary. A column past
  // the line's end is clamped to the end of its content, and a column
  // between the two halves of a surrogate pair gives the offset after that
  // character. Line = line count with column 0, the start of the line after
  // the last (where an edit running through the last line's end ends), is
  // the end of the text. Absent for any other line at or past the count.
  [[nodiscard]] std::optional<std::size_t> offset(std::string_view text, std::uint32_t line,
                                                  std::uint32_t character) const;

  // Position of an offset. The offset is clamped to the text and moved back
  // to the start of the character it falls in; a CR before an LF counts as
  // one column.
  [[nodiscard]] Position position(std::string_view text, std::size_t offset) const;

 private:
  std::vector<std::size_t> starts_{0};
  std::size_t len_ = 0;
};

// The positions of many offsets of one text, in any order, for about one
// walk of each line they fall in: a long line keeps a mark every
// `MARK_EVERY` bytes of the stretch walked so far, and an offset is walked
// to from the mark before it. Answers equal `LineIndex::position`. Borrows
// the index and the text, which must stay unchanged while it is used.
class Positions {
 public:
  Positions(const LineIndex& index, std::string_view text) : index_(index), text_(text) {}

  [[nodiscard]] Position at(std::size_t offset);

 private:
  static constexpr std::size_t MARK_EVERY = 256;
  struct Mark {
    std::size_t offset;
    std::uint32_t units;  // UTF-16 units from the line's start
  };

  const LineIndex& index_;
  std::string_view text_;
  // By line, ascending; the last mark is as far as that line was walked.
  std::unordered_map<std::size_t, std::vector<Mark>> marks_;
};

}  // namespace tovix_lsp::line_index
