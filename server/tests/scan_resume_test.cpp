// The cursor scan walked from a resume point found from the compiler's walk
// must answer exactly as the walk from the start of the text, at every
// character boundary: of the compiler's corpus and every prefix of it (the
// half-typed states an editor passes through), of random texts, and of the
// texts where the scan and the parser part ways.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "corpus_texts.h"
#include "workspace/regions.h"
#include "workspace/scan.h"

namespace tovix_lsp::scan {
namespace {

using testing_support::boundaries;

// Checks every boundary of `text`; returns how many resume points it had.
std::size_t expect_same_answers(std::string_view text) {
  const std::vector<Resume> found = resumes(text, regions::regions(text));
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_LT(found[i].offset, text.size());
    if (i > 0) {
      EXPECT_LT(found[i - 1].offset, found[i].offset);
    }
  }
  const std::vector<std::size_t> cursors = boundaries(text);
  const std::vector<Scan> slow = scan_all(text, cursors);
  const std::vector<Scan> fast = scan_all(text, cursors, found);
  for (std::size_t i = 0; i < cursors.size(); ++i) {
    if (fast[i] != slow[i]) {
      ADD_FAILURE() << "cursor " << cursors[i] << " of:\n" << text;
      return found.size();
    }
  }
  // A lone cursor is walked from its own resume point.
  for (std::size_t cursor : {std::size_t{0}, text.size() / 2, text.size()}) {
    EXPECT_EQ(scan(text, cursor, found), scan(text, cursor)) << "cursor " << cursor << " of:\n" << text;
  }
  return found.size();
}

TEST(ScanResume, CorpusAndEveryPrefixOfIt) {
  std::size_t resumed = 0;
  for (const auto& [name, text] : testing_support::corpus_files()) {
    SCOPED_TRACE(name);
    for (std::size_t cut : boundaries(text)) resumed += expect_same_answers(std::string_view(text).substr(0, cut));
    if (HasFailure()) return;
  }
  EXPECT_GT(resumed, 1000u);  // the fast path was taken, not only the slow one
}

TEST(ScanResume, RandomTexts) {
  std::size_t resumed = 0;
  for (const std::string& text : testing_support::random_texts(20000, 24, 7)) {
    resumed += expect_same_answers(text);
    if (HasFailure()) return;
  }
  EXPECT_GT(resumed, 2000u);
}

// Where the scan steps through markup otherwise than the parser reads it,
// the resume points stop before that expression; the answers stay the same.
TEST(ScanResume, StopWhereTheScanPartsFromTheParser) {
  struct Case {
    const char* text;
    std::size_t resumes;
  };
  const Case cases[] = {
      {"local a = <A/>\nlocal b = <B/>\nlocal c = 1\n", 2},
      // The parser takes blanks after `<` and around `=`, escapes in text and
      // "<!-->" as the start of a longer comment; the scan does not.
      {"local a = <A/>\nlocal b = < B/>\nlocal c = <C/>\nlocal d = 1\n", 1},
      {"local a = <A/>\nlocal b = <B Text=\n'x>y'/>\nlocal c = <C/>\nlocal d = 1\n", 1},
      {"local a = <A/>\nlocal b = <B Text\t='x>y'/>\nlocal c = <C/>\nlocal d = 1\n", 1},
      {"local a = <A/>\nlocal b = <B>a \\<b> c</B>\nlocal c = <C/>\nlocal d = 1\n", 1},
      {"local a = <A/>\nlocal b = <B><!--> <C> --></B>\nlocal c = <C/>\nlocal d = 1\n", 1},
      // Markup that ends the text leaves nothing to resume after.
      {"local a = <A/>", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(expect_same_answers(c.text), c.resumes);
  }
}

}  // namespace
}  // namespace tovix_lsp::scan
