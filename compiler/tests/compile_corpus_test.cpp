// Every .tovix file of the corpus compiles to Luau with the source's line
// count and no markup left (and, where the project's Luau parser is built in,
// Luau that parses without an error); the golden files pin whole outputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tovix/backend/vide.h"
#include "tovix/compile/compile.h"
#include "tovix/config/config.h"

#if __has_include("luau/parser.h")
#include "tovix/luau/parser.h"
#define TOVIX_HAVE_LUAU_PARSER 1
#endif

namespace {

namespace fs = std::filesystem;
using namespace tovix;

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<fs::path> files(const fs::path& dir, std::string_view extension) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == extension) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string with_crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::size_t lines(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

int failures() { return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count(); }

void check_real_luau(std::string_view source, const std::string& name) {
  SCOPED_TRACE(name);
  int before = failures();
  auto compiled = compile::compile_recovering(source, backend::vide::Vide{}, config::Config{});
  ASSERT_TRUE(compiled) << compiled.error().message << " at " << compiled.error().offset;
  for (const auto& error : compiled->errors) ADD_FAILURE() << error.message << " at " << error.offset;
  for (const auto& warning : compiled->warnings) ADD_FAILURE() << warning.message << " at " << warning.offset;
  EXPECT_EQ(lines(compiled->code), lines(source));

  auto left = compile::tovix_spans(compiled->code);
  ASSERT_TRUE(left) << left.error().message;
  EXPECT_TRUE(left->empty()) << "markup left at " << left->front().first;

#ifdef TOVIX_HAVE_LUAU_PARSER
  auto parsed = luau::parser::parse(compiled->code);
  for (const auto& error : parsed.errors) ADD_FAILURE() << "Luau: " << error.message << " at " << error.offset;
#endif
  if (failures() != before) ADD_FAILURE() << "output:\n" << compiled->code;
}

TEST(CompileCorpus, EveryFileCompilesToLineForLineLuau) {
  auto corpus = files(fs::path(TOVIX_TEST_DATA) / "tovix", ".tovix");
  ASSERT_GE(corpus.size(), 10u);
  for (const fs::path& path : corpus) {
    std::string source = read(path);
    check_real_luau(source, path.filename().string());
    if (source.find('\r') == std::string::npos)
      check_real_luau(with_crlf(source), path.filename().string() + " (CRLF)");
  }
}

// Set TOVIX_UPDATE_GOLDEN to rewrite the expected outputs (then review them).
TEST(CompileCorpus, GoldenOutputs) {
  auto sources = files(fs::path(TOVIX_TEST_DATA) / "golden", ".tovix");
  ASSERT_FALSE(sources.empty());
  for (const fs::path& path : sources) {
    SCOPED_TRACE(path.filename().string());
    auto compiled = compile::compile_recovering(read(path), backend::vide::Vide{}, config::Config{});
    ASSERT_TRUE(compiled) << compiled.error().message;
    fs::path expected = fs::path(path).replace_extension(".lua");
    if (std::getenv("TOVIX_UPDATE_GOLDEN") != nullptr) {
      std::ofstream(expected, std::ios::binary) << compiled->code;
      continue;
    }
    EXPECT_EQ(compiled->code, read(expected));
  }
}

}  // namespace
