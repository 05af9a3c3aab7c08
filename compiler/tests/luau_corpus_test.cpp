// Real Luau parses without a single error: the project's own files covering
// every construct, and the Vide library's sources when they were downloaded
// (`.ci/run` fetches them into corpus/vide with npm).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tovix/luau/parser.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> luau_files(const fs::path& root) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == ".luau") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Parses each file and reports every error with its line.
void expect_clean(const std::vector<fs::path>& files) {
  for (const fs::path& path : files) {
    std::string text = read(path);
    auto result = tovix::luau::parser::parse(text);
    for (const auto& error : result.errors) {
      auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(error.offset), '\n');
      ADD_FAILURE() << path.string() << ":" << line << ": " << error.message;
    }
  }
}

TEST(LuauCorpus, OwnFilesParseWithoutErrors) {
  auto files = luau_files(fs::path(TOVIX_TEST_DATA) / "luau");
  ASSERT_GE(files.size(), 6u);
  expect_clean(files);
}

TEST(LuauCorpus, VideSourcesParseWithoutErrors) {
  fs::path root = fs::path(TOVIX_CORPUS_DIR) / "vide";
  auto files = luau_files(root);
  if (files.empty()) {
    GTEST_SKIP() << "no Vide sources in " << root.string() << " (.ci/run fetches them with `npm pack @rbxts/vide`)";
  }
  EXPECT_GE(files.size(), 29u);
  expect_clean(files);
}

}  // namespace
