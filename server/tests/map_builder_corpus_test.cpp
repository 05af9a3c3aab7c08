// The source map over real compiler output: every .tovix file of the
// compiler's corpus and variants of it are compiled, and the map built from
// the two texts must be right wherever it answers and complete where the
// compiler copies text unchanged.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"
#include "tovix/imports.h"
#include "workspace/line_index.h"
#include "workspace/map_builder.h"
#include "workspace/regions.h"
#include "workspace/tree.h"

namespace tovix_lsp::map_builder {
namespace {

namespace ast = tovix::markup::ast;
using line_index::LineIndex;
using sourcemap::Run;
using sourcemap::SourceMap;

std::string read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A piece of hole code [start, end); `after_markup` when nested markup
// ends where it starts.
struct Piece {
  std::size_t start = 0;
  std::size_t end = 0;
  bool after_markup = false;
};
using Spans = std::vector<Piece>;

void collect_holes(std::string_view source, const ast::Node& node, Spans& holes);

// The Luau code of a hole at `open` (its `{`), without the markup nested in
// it; the holes of that markup are collected too.
void collect_hole(std::string_view source, std::size_t open, Spans& holes) {
  const auto range = regions::braced(source, open);
  if (!range) return;
  const std::string_view code = source.substr(range->start, range->end - range->start);
  std::size_t at = 0;
  for (const regions::Region& nested : regions::regions(code)) {
    if (nested.start > at) holes.push_back({range->start + at, range->start + nested.start, at > 0});
    if (auto parsed = tovix::markup::parser::parse_node(source, range->start + nested.start)) {
      collect_holes(source, parsed->node, holes);
    }
    at = nested.end;
  }
  if (at < code.size()) holes.push_back({range->start + at, range->end, at > 0});
}

void collect_children(std::string_view source, const std::vector<ast::Child>& children, Spans& holes) {
  for (const ast::Child& child : children) {
    if (const auto* node = std::get_if<ast::Node>(&child.kind)) collect_holes(source, *node, holes);
    if (const auto* hole = std::get_if<ast::Child::Expression>(&child.kind)) {
      collect_hole(source, hole->start, holes);
    }
  }
}

void collect_holes(std::string_view source, const ast::Node& node, Spans& holes) {
  if (const auto* fragment = std::get_if<ast::Fragment>(&node.kind)) {
    collect_children(source, fragment->children, holes);
    return;
  }
  const auto& element = std::get<ast::Element>(node.kind);
  for (const ast::Attribute& attribute : element.attributes) {
    if (const auto* spread = std::get_if<ast::Attribute::Spread>(&attribute.kind)) {
      collect_hole(source, spread->start, holes);
    } else {
      const auto& named = std::get<ast::Attribute::Named>(attribute.kind);
      if (std::holds_alternative<ast::AttributeValue::Expression>(named.value.kind)) {
        collect_hole(source, named.start, holes);
      }
    }
  }
  collect_children(source, element.children, holes);
}

struct Tally {
  std::size_t outside = 0, outside_mapped = 0;
  std::size_t holes = 0, holes_mapped = 0;
  std::size_t short_unmapped = 0;        // hole bytes after markup, too short to search for
  std::size_t repeated_unmapped = 0;     // hole bytes after markup, not unique
  std::size_t outside_unsearchable = 0;  // between two regions of a line, short or repeated
  std::size_t documents = 0;
  std::size_t elements = 0, elements_called = 0;  // and those recorded with their calls
};

std::size_t mapped_bytes(const SourceMap& map, std::size_t start, std::size_t end) {
  std::size_t n = 0;
  for (std::size_t i = start; i < end; ++i) n += map.to_output(i).has_value();
  return n;
}

// Whether source [from, to) is beyond the walk's searches: shorter than 3
// bytes, or found more than once on its output lines.
bool unsearchable(std::string_view source, std::string_view output, const LineIndex& source_lines,
                  const LineIndex& output_lines, std::size_t from, std::size_t to) {
  if (to - from < 3) return true;
  const std::string_view text = source.substr(from, to - from);
  const std::size_t lo = output_lines.starts()[source_lines.line_of(from)];
  const std::size_t hi = output_lines.line_range(output, source_lines.line_of(to - 1)).end;
  const std::string_view window = output.substr(lo, hi - lo);
  const std::size_t first = window.find(text);
  return first == std::string_view::npos || window.find(text, first + 1) != std::string_view::npos;
}

// What the helpers can add in front of the first statement.
const std::vector<std::size_t> HEADERS = {tovix::imports::MERGE_HELPER.size() + 2,
                                          tovix::imports::READ_HELPER.size() + 2,
                                          tovix::imports::MERGE_HELPER.size() + tovix::imports::READ_HELPER.size() + 4};

// Checks the map of one compiled document and adds its coverage to `tally`.
void check_document(const std::string& name, std::string_view source, const tovix::compile::Compiled& compiled,
                    Tally& tally) {
  SCOPED_TRACE(name);
  const std::string_view output = compiled.code;
  const SourceMap map = build(source, output, {});
  // What the compile read on its way gives the map that reading the source
  // again does.
  const SourceMap shared = build(source, output, {}, compiled.markup, compiled.bindings);
  ASSERT_TRUE(std::ranges::equal(map.runs(), shared.runs()));
  const LineIndex source_lines(source);
  const LineIndex output_lines(output);
  const std::vector<regions::Region> found = regions::regions(source);

  // The output keeps the source's lines, so a right run starts on the same
  // line on both sides; byte identity was checked when it was added. Two
  // exceptions move code up: a hole's code is trimmed, so code that starts
  // on a line below its `{` is written on the line of the `{`; and text
  // content built from several parts is written whole on the line of its
  // first part, each hole behind a read call.
  constexpr std::string_view READ_CALL = "__tovix_read(";
  for (const Run& run : map.runs()) {
    ASSERT_LE(run.source + run.len, source.size());
    ASSERT_LE(run.output + run.len, output.size());
    ASSERT_EQ(source.substr(run.source, run.len), output.substr(run.output, run.len));
    const std::size_t line = source_lines.line_of(run.source);
    const std::size_t out_line = output_lines.line_of(run.output);
    const bool text_part =
        run.output >= READ_CALL.size() && output.substr(run.output - READ_CALL.size(), READ_CALL.size()) == READ_CALL;
    std::size_t before = run.source;
    while (before > 0 && std::string_view(" \t\r\n").find(source[before - 1]) != std::string_view::npos) --before;
    const bool trimmed = before > 0 && source[before - 1] == '{' && out_line == source_lines.line_of(before - 1);
    EXPECT_TRUE(line == out_line || trimmed || (text_part && out_line < line))
        << "run at source " << run.source << ": " << source.substr(run.source, run.len);
  }

  // Outside markup the place is known exactly: before the first region of a
  // line, at the same column (after the helpers on the first statement's
  // line); after the last region of a line, at the same distance from the
  // line's end.
  std::vector<bool> in_markup(source.size(), false);
  // Text between two regions of one line maps at the walk's cursor, or by a
  // search that takes no text shorter than 3 bytes and none that occurs
  // twice on its line.
  std::vector<bool> unsearchable_gap(source.size(), false);
  for (std::size_t r = 0; r + 1 < found.size(); ++r) {
    const std::size_t from = found[r].end, to = found[r + 1].start;
    if (source_lines.line_of(from) == source_lines.line_of(to) &&
        unsearchable(source, output, source_lines, output_lines, from, to)) {
      std::fill(unsearchable_gap.begin() + static_cast<std::ptrdiff_t>(from),
                unsearchable_gap.begin() + static_cast<std::ptrdiff_t>(to), true);
    }
  }
  for (const regions::Region& region : found) {
    std::fill(in_markup.begin() + static_cast<std::ptrdiff_t>(region.start),
              in_markup.begin() + static_cast<std::ptrdiff_t>(region.end), true);
  }
  for (std::size_t line = 0; line < source_lines.line_count(); ++line) {
    const std::size_t from = source_lines.starts()[line];
    const std::size_t to = line + 1 < source_lines.line_count() ? source_lines.starts()[line + 1] : source.size();
    const std::size_t out_from = output_lines.starts()[line];
    const std::size_t out_to = line + 1 < output_lines.line_count() ? output_lines.starts()[line + 1] : output.size();
    const std::size_t first_markup =
        std::find(in_markup.begin() + from, in_markup.begin() + to, true) - in_markup.begin();
    std::size_t last_markup = from;  // just after the last markup byte of the line
    for (std::size_t i = to; i > from; --i) {
      if (in_markup[i - 1]) {
        last_markup = i;
        break;
      }
    }
    for (std::size_t i = from; i < to; ++i) {
      if (in_markup[i]) continue;
      ++tally.outside;
      const auto o = map.to_output(i);
      if (!o) {
        EXPECT_TRUE(unsearchable_gap[i]) << "unmapped source byte " << i;
        tally.outside_unsearchable += unsearchable_gap[i];
        continue;
      }
      ++tally.outside_mapped;
      // Unchanged from the line's start, possibly behind the helpers.
      const std::size_t shift = *o - out_from - (i - from);
      const bool by_start = i < first_markup && (shift == 0 || std::ranges::find(HEADERS, shift) != HEADERS.end());
      // Unchanged up to the line's end.
      const bool by_end = i >= last_markup && out_to - *o == to - i;
      // Between two regions of a line only the line is known (checked above).
      const bool between = i >= first_markup && i < last_markup;
      EXPECT_TRUE(by_start || by_end || between) << "source byte " << i;
    }
  }

  Spans holes;
  for (const regions::Region& region : found) collect_holes(source, region.node, holes);
  // Each piece of hole code maps whole, except a piece that follows nested
  // markup: the walk does not step over the end of the generated call in
  // front of it, so it is found only by a search, which takes no text
  // shorter than 3 bytes and none that occurs twice in its line window.
  for (const Piece& piece : holes) {
    const std::size_t len = piece.end - piece.start;
    tally.holes += len;
    const std::size_t mapped = mapped_bytes(map, piece.start, piece.end);
    tally.holes_mapped += mapped;
    if (mapped == len) continue;
    EXPECT_TRUE(piece.after_markup && unsearchable(source, output, source_lines, output_lines, piece.start, piece.end))
        << "hole piece " << source.substr(piece.start, len);
    (len < 3 ? tally.short_unmapped : tally.repeated_unmapped) += len;
  }
  // Every element recorded is an element of the source under its name, and
  // its own call is the innermost around its "(".
  for (const sourcemap::Element& e : map.elements()) {
    const auto parsed = tovix::markup::parser::parse_node(source, e.source.start);
    ASSERT_TRUE(parsed) << "no markup at " << e.source.start;
    const auto* element = std::get_if<ast::Element>(&parsed->node.kind);
    ASSERT_TRUE(element) << "no element at " << e.source.start;
    EXPECT_EQ(element->end, e.source.end);
    EXPECT_EQ(element->name.as_written(), source.substr(e.name.start, e.name.end - e.name.start));
    EXPECT_EQ(map.element_holding(output, e.open, e.open + 1), &e)
        << "the call of <" << element->name.as_written() << "> at " << e.source.start;
    ++tally.elements_called;
  }
  const std::vector<tree::Tag> tags = tree::tree(source);
  for (const tree::Tag* tag : tree::flatten(tags)) tally.elements += !tag->name.empty();
  ++tally.documents;
}

// Variants that the compiler accepts whenever it accepts the original.
std::vector<std::pair<std::string, std::string>> variants(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  out.emplace_back("", text);
  std::string crlf;
  for (char c : text) {
    if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) crlf += '\r';
    crlf += c;
  }
  out.emplace_back(" (CRLF)", crlf);
  out.emplace_back(" (leading comments)", "--!strict\n-- café\n\n" + text);
  out.emplace_back(" (no final line feed)", text.ends_with('\n') ? text.substr(0, text.size() - 1) : text);
  std::string shifted;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 0 || text[i - 1] == '\n') shifted += "  ";
    shifted += text[i];
  }
  out.emplace_back(" (indented)", shifted);
  return out;
}

void report(const char* what, const Tally& tally, std::size_t rejected) {
  std::printf(
      "map coverage, %s, %zu documents (%zu not compiled): outside markup %zu/%zu bytes "
      "(%zu unmapped between regions: short or repeated), hole code %zu/%zu bytes (unmapped after nested markup: %zu "
      "in short pieces, %zu in repeated ones), calls of %zu/%zu elements\n",
      what, tally.documents, rejected, tally.outside_mapped, tally.outside, tally.outside_unsearchable,
      tally.holes_mapped, tally.holes, tally.short_unmapped, tally.repeated_unmapped, tally.elements_called,
      tally.elements);
}

TEST(MapBuilderCorpus, RightWhereverItAnswersAndCompleteOutsideMarkup) {
  // The compiler's test data, beside the server's.
  const std::filesystem::path data =
      (std::filesystem::path(TOVIX_LSP_TEST_DATA) / ".." / ".." / ".." / "compiler" / "tests" / "data")
          .lexically_normal();
  std::vector<std::filesystem::path> files;
  for (const char* dir : {"tovix", "golden"}) {
    if (!std::filesystem::is_directory(data / dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(data / dir)) {
      if (entry.path().extension() == ".tovix") files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) GTEST_SKIP() << "no .tovix corpus under " << data;

  Tally tally;
  std::size_t rejected = 0;
  for (const auto& path : files) {
    for (const auto& [label, text] : variants(read(path))) {
      auto compiled = tovix::compile::compile_recovering(text, tovix::backend::vide::Vide{}, {});
      if (!compiled) {
        ++rejected;
        continue;
      }
      check_document(path.filename().string() + label, text, *compiled, tally);
    }
  }
  EXPECT_GT(tally.documents, files.size());
  report("corpus", tally, rejected);
}

// Random documents from statement shapes that exercise clusters, short
// separators, text content and nested markup.
TEST(MapBuilderCorpus, GeneratedDocuments) {
  static constexpr std::string_view SHAPES[] = {
      "local a{0} = <Frame Size={{UDim2.new(1, 0, 0, {0})}} {{base}}/>",
      "local b{0} = <TextLabel Text=\"hi {0}\" TextSize={{{0}}}/>",
      "local c{0} = <TextLabel>Count: {{count}} of {0}</TextLabel>",
      "local d{0}, e{0} = <Frame/>, <TextLabel>x</TextLabel>",
      "local f{0} = <ui.Button Primary Label=\"go\" onClick={{function() print({0}) end}}/>",
      "local g{0} = <>{{items}}{{name}}</>",
      "local h{0} = {{ <Frame/>, <Frame Name=\"x\"/> }}",
      "print(<TextLabel>{{name}}</TextLabel>,<Frame/>)",
      "local i{0} = <Frame\n\tName=\"i{0}\"\n\t{{base}}\n>\n\t<TextLabel Text={{name}}/>\n\t{{items}}\n</Frame>",
      "local j{0} = <TextButton Text={{name}} Activated={{function()\n\tcount += {0}\nend}}/>",
      "local k{0} = <Frame>{{if count > {0} then <Frame/> else nil}}</Frame>",
      "-- a comment {0} with <Frame/> in it",
      "local l{0} = <TextLabel>{{name}} and {{count}} é</TextLabel> -- é {0}",
      "local n{0}, o{0} = <TextLabel>x</TextLabel>, <Frame/>",
      "local m{0} = <Frame>\n\t<!-- note {0} -->\n\t<UICorner CornerRadius={{UDim.new(0, {0})}}/>\n</Frame>",
  };
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&](std::size_t below) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::size_t>(state % below);
  };
  Tally tally;
  std::size_t rejected = 0;
  for (int doc = 0; doc < 300; ++doc) {
    std::string text = next(2) ? "--!strict\n" : "";
    text += "local create = require(script.create)\nlocal base, items, name, count = {}, {}, \"n\", 0\n";
    const std::size_t statements = 5 + next(20);
    for (std::size_t s = 0; s < statements; ++s) {
      text += fmt::format(fmt::runtime(SHAPES[next(std::size(SHAPES))]), s);
      text += next(4) == 0 ? "; " : "\n";
    }
    if (next(3) == 0) text += "return nil\n";
    auto compiled = tovix::compile::compile_recovering(text, tovix::backend::vide::Vide{}, {});
    if (!compiled) {
      ++rejected;
      continue;
    }
    check_document(fmt::format("generated {}", doc), text, *compiled, tally);
  }
  EXPECT_GT(tally.documents, 250u);
  report("generated", tally, rejected);
}

}  // namespace
}  // namespace tovix_lsp::map_builder
