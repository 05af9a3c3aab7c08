#pragma once

// Texts to hold a fast path against the slow one it stands in for: the
// compiler's .tovix corpus and golden sources, and texts strung together at
// random (fixed seed) from pieces of markup and Luau, so that markup that
// parses, markup that does not, and the forms where the forgiving cursor
// scan and the parser part ways all turn up.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tovix_lsp::testing_support {

// Every .tovix file under the compiler's test data (or its folder `under`),
// each with its name.
struct CorpusText {
  std::string name;
  std::string text;
};

inline std::vector<CorpusText> corpus_files(std::string_view under = "") {
  namespace fs = std::filesystem;
  std::vector<CorpusText> texts;
  const fs::path dir =
      fs::path(TOVIX_LSP_TEST_DATA).parent_path().parent_path().parent_path() / "compiler" / "tests" / "data" / under;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(dir, error)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".tovix") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    texts.push_back({entry.path().filename().string(), text.str()});
  }
  return texts;
}

// `count` texts of up to `pieces` pieces each.
inline std::vector<std::string> random_texts(std::size_t count, std::size_t pieces, std::uint64_t seed) {
  static constexpr std::string_view PIECES[] = {
      "local a = ",
      "return ",
      "f(",
      ")",
      ", ",
      "\n",
      " ",
      "\t",
      "x < y",
      "a.b",
      "local Card = 1\n",
      "<Frame",
      "<TextLabel",
      "<Card",
      "<ui.Row",
      "<",
      "< ",
      "<>",
      "</>",
      "</Frame>",
      "</TextLabel>",
      "</",
      ">",
      "/>",
      " Text=",
      " Size =",
      "=\n",
      "=\t",
      " Visible",
      "'x>y'",
      "\"a\"",
      "'it''",
      "{",
      "}",
      "{x}",
      "{<A/>}",
      "{function() return <B>t</B> end}",
      "{-- c\n}",
      "text ",
      "it's",
      "\\<",
      "\\{",
      "<!--",
      "<!-->",
      "-->",
      "--[[",
      "]]",
      "-- c\n",
      "`s {v}`",
      "[[s]]",
      "\"open",
      "type T<U> = U\n",
      ":: T",
      "é",
      "🎉",
  };
  std::uint64_t state = seed;
  auto next = [&state] {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    std::string text;
    const std::size_t n = 1 + next() % pieces;
    for (std::size_t k = 0; k < n; ++k) text += PIECES[next() % std::size(PIECES)];
    texts.push_back(std::move(text));
  }
  return texts;
}

// The offsets of `text` that are character boundaries, its end included.
inline std::vector<std::size_t> boundaries(std::string_view text) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) out.push_back(i);
  }
  return out;
}

}  // namespace tovix_lsp::testing_support
