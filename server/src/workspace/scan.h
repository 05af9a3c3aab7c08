#pragma once

// What the cursor is in, for completion, hover, rename and closing tags.
// The text is usually half-typed, so this does not use the markup parser
// (which stops at the first error): one forgiving walk over the whole text
// that never fails remembers the context it was in when it passed the
// cursor, with the elements open there. Where a compile has walked the same
// text, the walk may start at a resume point after its markup instead, with
// the same answer.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "tovix/markup/walk.h"
#include "tovix/markup_scan.h"

namespace tovix_lsp::scan {

// One open element.
struct OpenTag {
  std::string name;       // as written (letters, digits, "." and "_"); empty for "<>"
  std::size_t start = 0;  // its `<`

  friend bool operator==(const OpenTag&, const OpenTag&) = default;
};

// Plain Luau code; also the answer when the walk recorded nothing.
struct Luau {
  friend bool operator==(const Luau&, const Luau&) = default;
};

// The inside of a `{…}` hole in markup: Luau code again.
struct Hole {
  std::size_t start = 0;  // just after the `{`
  std::size_t end = 0;    // the matching `}`, or the end of the stretch walked
  friend bool operator==(const Hole&, const Hole&) = default;
};

// A tag name being typed; also where a child may start just after a "<"
// that names nothing yet, whatever follows it on the line ("<" alone,
// "< ", "</>", "<</A>").
struct TagName {
  std::string prefix;     // from the name's start up to the cursor
  std::size_t start = 0;  // the name's first byte
  bool closing = false;   // the name follows "</"
  friend bool operator==(const TagName&, const TagName&) = default;
};

struct AttributeName {
  std::string element;    // as written
  std::string prefix;     // from the attribute's start up to the cursor; empty between attributes
  std::size_t start = 0;  // where the attribute starts, or the cursor when `prefix` is empty
  friend bool operator==(const AttributeName&, const AttributeName&) = default;
};

// Inside a quoted attribute value.
struct AttributeValue {
  std::string element;
  std::string attribute;
  friend bool operator==(const AttributeValue&, const AttributeValue&) = default;
};

// Text between tags.
struct Children {
  std::optional<std::string> parent;  // the innermost open element; none at the top level
  friend bool operator==(const Children&, const Children&) = default;
};

using Context = std::variant<Luau, Hole, TagName, AttributeName, AttributeValue, Children>;

struct Scan {
  std::vector<OpenTag> open;  // outermost first; empty when nothing was recorded
  Context context;
  friend bool operator==(const Scan&, const Scan&) = default;
};

// The Luau code the scanned cursor is in, where luau-lsp answers rather than
// the markup features: the offset that code is read from (0 outside
// markup, just after the `{` of a hole). None in markup.
[[nodiscard]] std::optional<std::size_t> luau_code(const Scan& at);

// A character of an element or attribute name as markup writes it: ASCII
// letters and digits, "." and "_".
[[nodiscard]] constexpr bool is_name_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
}

// The context at byte offset `cursor`, which must be a character boundary of
// `text` (a cursor past the end is never reached and answers `Luau`). Never
// fails: unterminated comments, tags, quotes and holes end at the end of
// their stretch, and after a lexer error the Luau is walked byte by byte.
[[nodiscard]] Scan scan(std::string_view text, std::size_t cursor);

// `scan` at each of `cursors` (in any order, repeats allowed), answered in
// their order by one walk of the text: what a run of analyses needs for
// many diagnostics at once.
[[nodiscard]] std::vector<Scan> scan_all(std::string_view text, std::span<const std::size_t> cursors);

// A place that the walk of `scan` passes through back in Luau at the top
// level, just after a markup expression, and what its markup scanner
// carried past it there. A walk started there answers every cursor after it
// as the walk from the start of the text does: nothing before it is
// recorded for such a cursor, and no element is open.
struct Resume {
  std::size_t offset = 0;  // just after the markup
  tovix::markup_scan::Carried carried;
  friend bool operator==(const Resume&, const Resume&) = default;
};

// Where the walk of `scan` over `text` can be resumed, from the top-level
// markup a compiler walk found in that same text (in order, with what its
// scanner carried past each). The compiler parses markup where this walk
// steps through it forgivingly, so an expression counts only once this
// walk, started at its `<`, ends where the parser ended it with no element
// left open; the first that does not ends the list, since the two walks may
// part there. Ascending; none at the end of the text.
[[nodiscard]] std::vector<Resume> resumes(std::string_view text, std::span<const tovix::markup::walk::Markup> markup);

// `scan`, walked from the last of `resumes` (ascending, from `resumes` of
// this same text) before the cursor instead of from the start: the same
// answer.
[[nodiscard]] Scan scan(std::string_view text, std::size_t cursor, std::span<const Resume> resumes);

// The top-level markup expressions this walk reads in `text` after `from`
// (Luau at the top level there, its markup scanner carrying what `from`
// says), or from the start without one: (start, end) spans, in text order
// and not overlapping. Markup that does not parse is walked on as for a
// cursor, so that none of its text passes for Luau; markup left open runs to
// the end of the text.
[[nodiscard]] std::vector<std::pair<std::size_t, std::size_t>> markup_spans(std::string_view text,
                                                                            const std::optional<Resume>& from);

// `scan_all`, each cursor walked from the last of `resumes` before it.
[[nodiscard]] std::vector<Scan> scan_all(std::string_view text, std::span<const std::size_t> cursors,
                                         std::span<const Resume> resumes);

}  // namespace tovix_lsp::scan
