#include "workspace/scan.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>

#include "tovix/lexer.h"
#include "tovix/markup/walk.h"
#include "tovix/markup_scan.h"
#include "tovix/whitespace.h"
#include "workspace/utf8_text.h"

namespace tovix_lsp::scan {
namespace {

using tovix::lexer::Lexer;
using tovix::lexer::Token;
using tovix::lexer::TokenKind;
using tovix::markup_scan::Scanner;

// Holes nested deeper than this are still delimited and recorded, but their
// inside is not walked: each level is one frame of recursion, and no text
// the compiler accepts nests markup this deeply.
constexpr std::size_t MAX_HOLE_DEPTH = 256;

// How often the search for a hole's end reads on past nested markup that
// does not parse (half-typed) before it takes the hole as unclosed.
constexpr std::size_t MAX_MARKUP_RETRIES = 4;

bool is_ascii_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The `}` that closes the `{` at `open`, in `text` (already cut where the
// stretch ends). The hole's inside is walked as the compiler walks Luau, so
// text in nested markup (an apostrophe, a backtick, "--") never reads as a
// Luau string or comment. Markup that does not parse yet is read on as Luau
// from the byte after its `<`, a few times at most: each failed parse may
// have read to the end of the text. None when the brace is not closed, the
// Luau inside does not lex, or too much markup in it does not parse.
std::optional<std::size_t> hole_end(std::string_view text, std::size_t open) {
  // Most holes hold no markup: there the brace scan reads what the walk
  // would read, and it gives up wherever the two could differ.
  {
    Lexer plain(text);
    plain.pos = open + 1;
    const auto scanned = plain.scan_balanced_braces_unless_markup(open);
    if (scanned && *scanned) return plain.pos - 1;
  }
  std::size_t depth = 1;
  std::size_t base = open + 1;  // where the current walk began
  for (std::size_t walks = 0; walks <= MAX_MARKUP_RETRIES; ++walks) {
    tovix::markup::walk::Walker walker(text.substr(base));
    std::size_t walked = 0;  // end of the last event, relative to `base`
    bool restarted = false;
    while (auto event = walker.next()) {
      if (!*event) {
        if (std::holds_alternative<tovix::lexer::LexError>(event->error())) return std::nullopt;
        // The markup that failed starts right after the last event.
        base += walked + 1;
        restarted = true;
        break;
      }
      if (const auto* markup = std::get_if<tovix::markup::walk::Markup>(&**event)) {
        walked = markup->end;
        continue;
      }
      const auto& token = std::get<Token>(**event);
      walked = token.end;
      if (token.kind != TokenKind::Symbol || token.end != token.start + 1) continue;
      const char c = text[base + token.start];
      if (c == '{') {
        ++depth;
      } else if (c == '}' && --depth == 0) {
        return base + token.start;
      }
    }
    if (!restarted) return std::nullopt;
  }
  return std::nullopt;
}

// What the walk found for one cursor.
struct Slot {
  std::size_t cursor = 0;
  std::vector<OpenTag> recorded_open;
  std::optional<Context> recorded;
  std::size_t records = 0;  // how many records were made
  // The number of the `Hole` record of the hole whose inside is being walked
  // (none: 0). Until something inside records, that record only says "in
  // Luau code", so the fill-in contexts of markup inside the hole replace it.
  std::size_t enclosing_hole = 0;
};

// One walk that answers for any number of cursors: every record is made for
// the cursors inside the range it covers, so each cursor ends with what a
// walk for it alone would have recorded.
struct State {
  std::string_view text;
  std::vector<Slot> slots;  // by cursor, ascending and distinct
  std::vector<OpenTag> open;
  std::size_t hole_depth = 0;
  // Where the top-level markup expressions lie, when asked for: the walk
  // then goes to the end of the text.
  std::vector<std::pair<std::size_t, std::size_t>>* spans = nullptr;

  // The slots whose cursor lies in [lo, hi].
  std::span<Slot> within(std::size_t lo, std::size_t hi) {
    if (lo > hi) return {};
    auto first =
        std::lower_bound(slots.begin(), slots.end(), lo, [](const Slot& s, std::size_t c) { return s.cursor < c; });
    auto last = first;
    while (last != slots.end() && last->cursor <= hi) ++last;
    return {first, last};
  }

  // The last cursor; the walk records nothing for a construct starting after it.
  std::size_t last_cursor() const {
    if (spans != nullptr) return SIZE_MAX;
    return slots.empty() ? 0 : slots.back().cursor;
  }

  void record(Slot& slot, Context context) {
    slot.recorded = std::move(context);
    slot.recorded_open = open;
    ++slot.records;
  }

  // A context that applies only where no better one was recorded.
  void record_if_none(Slot& slot, Context context) {
    if (!slot.recorded || (slot.enclosing_hole != 0 && slot.records == slot.enclosing_hole)) {
      record(slot, std::move(context));
    }
  }

  // `make(cursor)` recorded for every cursor in [lo, hi].
  template <typename Make>
  void record_in(std::size_t lo, std::size_t hi, Make make) {
    for (Slot& slot : within(lo, hi)) record(slot, make(slot.cursor));
  }
  template <typename Make>
  void record_if_none_in(std::size_t lo, std::size_t hi, Make make) {
    for (Slot& slot : within(lo, hi)) record_if_none(slot, make(slot.cursor));
  }

  Children children() const {
    if (open.empty()) return Children{std::nullopt};
    return Children{open.back().name};
  }

  std::string slice(std::size_t from, std::size_t to) const { return std::string(text.substr(from, to - from)); }

  // Luau code from `from` up to `to`; markup the scanner finds is walked by
  // `markup`. After a lexer error, any "<" that may start a tag does. This
  // is not the compiler's `Walker`: that one parses markup and stops at the
  // first error, and half-typed markup must be walked on.
  void luau(std::size_t from, std::size_t to) { luau(from, to, Scanner(text.substr(0, to))); }

  // The same with the markup scanner in a given state (`scanner.source` is
  // the text cut at `to`).
  void luau(std::size_t from, std::size_t to, Scanner scanner) {
    const std::string_view stretch = text.substr(0, to);
    Lexer lexer(stretch);
    lexer.pos = from;
    while (auto next = lexer.next_token()) {
      if (!*next) {
        bytes(std::max(from, next->error().offset), to);
        return;
      }
      const Token token = **next;
      if (hole_depth == 0 && token.start > last_cursor()) return;
      if (scanner.feed(token, lexer)) scanner.resume(lexer, expression(token.start, to));
    }
  }

  // The byte-by-byte walk of Luau that no longer lexes.
  void bytes(std::size_t from, std::size_t to) {
    std::size_t i = from;
    while (i < to) {
      if (hole_depth == 0 && i > last_cursor()) return;
      if (text[i] == '<' && i + 1 < text.size()) {
        const auto c = static_cast<unsigned char>(text[i + 1]);
        if (is_ascii_letter(c) || c == '_' || c == '/' || c == '>') {
          i = expression(i, to);
          continue;
        }
      }
      ++i;
    }
  }

  // The hole whose `{` is at `o`; returns the offset after it.
  std::size_t hole(std::size_t o, std::size_t to) {
    auto close = hole_end(text.substr(0, to), o);
    // Where nested markup cannot be walked, the plain brace match still
    // finds a closing brace that a few half-typed tags hide from the walk.
    if (!close) {
      if (auto plain = tovix::lexer::find_matching_brace(text.substr(0, to), o)) close = *plain;
    }
    const std::size_t e = close ? *close : to;
    const std::span<Slot> inside = within(o + 1, e);
    std::vector<std::size_t> outer_holes;
    outer_holes.reserve(inside.size());
    for (Slot& slot : inside) {
      outer_holes.push_back(slot.enclosing_hole);
      record(slot, Hole{o + 1, e});
      slot.enclosing_hole = slot.records;
    }
    // Markup starts at a `<`; Luau alone records nothing.
    const bool may_hold_markup = text.substr(o + 1, e - std::min(e, o + 1)).find('<') != std::string_view::npos;
    if (may_hold_markup && hole_depth < MAX_HOLE_DEPTH) {
      ++hole_depth;
      luau(o + 1, e);
      --hole_depth;
    }
    for (std::size_t i = 0; i < inside.size(); ++i) inside[i].enclosing_hole = outer_holes[i];
    return std::min(e + 1, to);
  }

  // After the element or fragment is finished at `e`: whether the walk of
  // this markup expression goes on (elements opened inside it are still
  // open).
  bool goes_on(std::size_t depth) const { return open.size() > depth; }

  // A markup expression the Luau walk came to at `from`, kept in `spans`
  // when it is one at the top level.
  std::size_t expression(std::size_t from, std::size_t to) {
    const std::size_t end = markup(from, to);
    if (spans != nullptr && hole_depth == 0) spans->emplace_back(from, end);
    return end;
  }

  // One markup expression from `from`; returns the offset where it ended.
  std::size_t markup(std::size_t from, std::size_t to) {
    const std::size_t depth = open.size();
    std::size_t p = from;
    // Just after a "<" that named nothing: a cursor there is where a child's
    // name is being typed, whatever the rest of the line holds.
    std::optional<std::size_t> lone_lt_end;
    while (p < to) {
      record_if_none_in(p, p, [&](std::size_t) { return children(); });
      const std::string_view rest = text.substr(p, to - p);
      std::size_t e = 0;

      if (rest.starts_with("<!--")) {
        // The search starts at the "<", so "<!-->" is a whole comment.
        const std::size_t close = rest.find("-->");
        e = close == std::string_view::npos ? to : p + close + 3;
      } else if (rest.starts_with("</")) {
        std::size_t j = p + 2;
        while (j < to && is_name_char(static_cast<unsigned char>(text[j]))) ++j;
        // A "<" typed before "/>" or before a closing tag starts a child as
        // much as one typed at the end of a line.
        record_in(p + 1, p + 1, [&](std::size_t) { return TagName{"", p + 1, false}; });
        record_in(p + 2, j, [&](std::size_t c) { return TagName{slice(p + 2, c), p + 2, true}; });
        // Names are not compared: any closing tag closes the innermost.
        if (!open.empty()) open.pop_back();
        const std::size_t gt = text.substr(j, to - j).find('>');
        e = gt == std::string_view::npos ? to : j + gt + 1;
        if (!goes_on(depth)) return e;
      } else if (rest[0] == '<') {
        std::size_t j = p + 1;
        while (j < to && is_name_char(static_cast<unsigned char>(text[j]))) ++j;
        record_in(p + 1, j, [&](std::size_t c) { return TagName{slice(p + 1, c), p + 1, false}; });
        if (j == p + 1) {
          if (j < to && text[j] == '>') {
            open.push_back(OpenTag{"", p});
            e = j + 1;
          } else {
            e = p + 1;  // a lone "<"
            lone_lt_end = e;
          }
          if (!goes_on(depth)) return e;
        } else {
          const auto tag = tag_inside(p, j, to);
          e = tag.end;
          if (!tag.opened && !goes_on(depth)) return e;
        }
      } else if (rest[0] == '{') {
        e = hole(p, to);
      } else {
        const std::size_t stop = rest.find_first_of("<{");
        const std::size_t r = stop == std::string_view::npos ? to : p + stop;
        record_in(lone_lt_end == p ? p + 1 : p, r, [&](std::size_t) { return children(); });
        e = std::max(p + 1, r);
      }
      p = e;
    }
    record_if_none_in(p, to, [&](std::size_t) { return children(); });
    return to;
  }

  struct TagEnd {
    std::size_t end;
    bool opened;  // ">" pushed the element: its children follow
  };

  // The inside of an opening tag whose name runs from `p` + 1 to `j`.
  TagEnd tag_inside(std::size_t p, std::size_t j, std::size_t to) {
    const std::string name = slice(p + 1, j);
    std::size_t w = j;
    while (true) {
      if (w >= to) {
        record_if_none_in(j + 1, to, [&](std::size_t) { return AttributeName{name, "", to}; });
        return {to, false};
      }
      const auto c = static_cast<unsigned char>(text[w]);
      if (c == '/' && w + 1 < to && text[w + 1] == '>') return {w + 2, false};
      if (c == '>') {
        open.push_back(OpenTag{name, p});
        return {w + 1, true};
      }
      if (tovix::whitespace::is_ascii_whitespace(c)) {
        ++w;
        record_in(w, w, [&](std::size_t c) { return AttributeName{name, "", c}; });
      } else if (c == '{') {
        w = hole(w, to);
      } else if (is_ascii_letter(c) || c == '_') {
        w = attribute(name, w, to);
      } else {
        w = utf8_text::next_boundary(text, w, to);
      }
    }
  }

  // An attribute whose name starts at `w`; returns where the tag walk goes on.
  std::size_t attribute(const std::string& element, std::size_t w, std::size_t to) {
    std::size_t a = w;
    while (a < to && is_name_char(static_cast<unsigned char>(text[a]))) ++a;
    record_in(w, a, [&](std::size_t c) { return AttributeName{element, slice(w, std::min(a, c)), w}; });
    std::size_t s = a;
    while (s < to && text[s] == ' ') ++s;
    if (s >= to || text[s] != '=') return a;  // no value: the spaces are walked as whitespace
    std::size_t v = s + 1;
    while (v < to && text[v] == ' ') ++v;
    if (v >= to) return to;
    const char first = text[v];
    if (first == '"' || first == '\'') {
      std::size_t k = v + 1;
      while (k < to && text[k] != first && text[k] != '\n') {
        k = text[k] == '\\' && k + 1 < to ? utf8_text::next_boundary(text, k + 1, to) : k + 1;
      }
      const std::size_t stop = std::min(k, to);
      record_in(v + 1, stop, [&](std::size_t) { return AttributeValue{element, slice(w, a)}; });
      return std::min(stop + 1, to);
    }
    if (first == '{') return hole(v, to);
    return v;
  }
};

// The walks for `cursors` (ascending and distinct), each group of them
// from the last resume before its cursors (from the start without one);
// answers in the cursors' order.
std::vector<Scan> walk(std::string_view text, std::span<const std::size_t> cursors, std::span<const Resume> resumes) {
  std::vector<Scan> out;
  out.reserve(cursors.size());
  std::size_t i = 0;
  while (i < cursors.size()) {
    // The first resume that a cursor here cannot start from, and the last
    // before it that it can.
    const auto next = std::ranges::lower_bound(resumes, cursors[i], {}, &Resume::offset);
    const Resume* from = next == resumes.begin() ? nullptr : &*std::prev(next);
    std::size_t j = i;
    while (j < cursors.size() && (next == resumes.end() || cursors[j] <= next->offset)) ++j;

    State state{text, {}, {}, 0};
    state.slots.resize(j - i);
    for (std::size_t k = i; k < j; ++k) state.slots[k - i].cursor = cursors[k];
    if (from == nullptr) {
      state.luau(0, text.size());
    } else {
      state.luau(from->offset, text.size(), Scanner(text, from->carried));
    }
    for (Slot& slot : state.slots) {
      out.push_back(slot.recorded ? Scan{std::move(slot.recorded_open), std::move(*slot.recorded)} : Scan{{}, Luau{}});
    }
    i = j;
  }
  return out;
}

}  // namespace

std::vector<Scan> scan_all(std::string_view text, std::span<const std::size_t> cursors,
                           std::span<const Resume> resumes) {
  std::vector<std::size_t> sorted(cursors.begin(), cursors.end());
  std::ranges::sort(sorted);
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  const std::vector<Scan> found = walk(text, sorted, resumes);
  std::vector<Scan> out;
  out.reserve(cursors.size());
  for (std::size_t cursor : cursors) out.push_back(found[std::ranges::lower_bound(sorted, cursor) - sorted.begin()]);
  return out;
}

std::vector<Scan> scan_all(std::string_view text, std::span<const std::size_t> cursors) {
  return scan_all(text, cursors, {});
}

Scan scan(std::string_view text, std::size_t cursor, std::span<const Resume> resumes) {
  return std::move(walk(text, std::span<const std::size_t>(&cursor, 1), resumes).front());
}

Scan scan(std::string_view text, std::size_t cursor) { return scan(text, cursor, {}); }

std::optional<std::size_t> luau_code(const Scan& at) {
  if (std::holds_alternative<Luau>(at.context)) return 0;
  if (const auto* hole = std::get_if<Hole>(&at.context)) return hole->start;
  return std::nullopt;
}

std::vector<std::pair<std::size_t, std::size_t>> markup_spans(std::string_view text,
                                                              const std::optional<Resume>& from) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  State state{text, {}, {}, 0};
  state.spans = &out;
  if (!from) {
    state.luau(0, text.size());
  } else if (from->offset <= text.size()) {
    state.luau(from->offset, text.size(), Scanner(text, from->carried));
  }
  return out;
}

std::vector<Resume> resumes(std::string_view text, std::span<const tovix::markup::walk::Markup> markup) {
  // By induction: while every expression so far ended where the parser
  // ended it, the scanner of this walk has been fed what the compiler's
  // was fed, so it reports the next expression where the compiler's did and
  // carries past it what that one carried.
  std::vector<Resume> out;
  out.reserve(markup.size());
  State state{text, {}, {}, 0};
  std::size_t walked = 0;  // where the last expression ended
  for (const tovix::markup::walk::Markup& m : markup) {
    if (m.start < walked || m.start >= m.end || m.end >= text.size()) break;
    walked = m.end;
    if (state.markup(m.start, text.size()) != m.end || !state.open.empty()) break;
    out.push_back(Resume{m.end, m.carried});
  }
  return out;
}

}  // namespace tovix_lsp::scan
