#include "workspace/project.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace tovix_lsp::project {
namespace {

namespace fs = std::filesystem;

// A fresh directory tree under the system's temporary directory, removed
// afterwards.
class TempTree : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("tovix-project-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path dir(const fs::path& relative) const {
    fs::create_directories(root_ / relative);
    return root_ / relative;
  }
  fs::path write(const fs::path& relative, const std::string& text) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Moves the file's modification time so a change shows even within the
  // file system's time granularity.
  static void touch_later(const fs::path& path) {
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(5));
  }

  fs::path root_;
};

using Discovery = TempTree;

TEST_F(Discovery, NearestAncestorWithSettingsFile) {
  write("tovix.toml", "[build]\nout = \"out\"\n");
  write("pkg/tovix.toml", "");
  dir("src/ui");
  {
    SCOPED_TRACE("file two levels below the root");
    const Project p = Project::discover(root_ / "src/ui/a.tovix");
    EXPECT_EQ(p.root, root_);
    EXPECT_EQ(p.config_path, root_ / "tovix.toml");
    EXPECT_TRUE(p.config_mtime.has_value());
    EXPECT_EQ(p.config_error, std::nullopt);
    EXPECT_EQ(p.build_out, root_ / "out");
    EXPECT_EQ(p.build_in, std::nullopt);
    EXPECT_NE(p.vocabulary, nullptr);
  }
  {
    SCOPED_TRACE("a nearer settings file wins");
    const Project p = Project::discover(root_ / "pkg/deep/b.tovix");
    EXPECT_EQ(p.root, root_ / "pkg");
    EXPECT_EQ(p.build_out, std::nullopt);
  }
  {
    SCOPED_TRACE("a directory is its own start");
    EXPECT_EQ(Project::discover(root_ / "pkg").root, root_ / "pkg");
  }
}

TEST_F(Discovery, WithoutSettingsFileTheProjectIsBare) {
  dir("a/b");
  dir("a/tovix.toml");  // a directory does not count
  const Project p = Project::discover(root_ / "a/b/x.tovix");
  EXPECT_EQ(p.root, root_ / "a/b");
  EXPECT_EQ(p.config_path, std::nullopt);
  EXPECT_EQ(p.config_mtime, std::nullopt);
  EXPECT_EQ(p.config_error, std::nullopt);
  EXPECT_EQ(p.config, tovix::config::Config{});
  EXPECT_FALSE(p.is_stale());
}

TEST_F(Discovery, BrokenFileKeepsItsMessageAndTheDefaults) {
  write("tovix.toml", "[build]\nout = \"out\"\n[lints]\nstatic_conditional_child = \"Error\"\n");
  const Project p = Project::discover(root_ / "a.tovix");
  EXPECT_EQ(p.root, root_);
  EXPECT_EQ(p.config_path, root_ / "tovix.toml");
  EXPECT_EQ(p.config_error, "tovix.toml: [lints] static_conditional_child = \"Error\" is not one of off, warn, error");
  EXPECT_EQ(p.config, tovix::config::Config{});
  EXPECT_EQ(p.build_out, std::nullopt);
}

TEST_F(Discovery, SyntaxErrorsCarryThePrefix) {
  write("tovix.toml", "[nonsense]\nx = 1\n");
  const Project p = Project::discover(root_ / "a.tovix");
  ASSERT_TRUE(p.config_error.has_value());
  EXPECT_TRUE(p.config_error->starts_with("tovix.toml: ")) << *p.config_error;
}

TEST_F(Discovery, AnOversizedSettingsFileIsOneMessage) {
  const fs::path settings = write("tovix.toml", "[build]\nout = \"out\"\n");
  fs::resize_file(settings, std::uintmax_t{1} << 30);  // sparse
  const Project p = Project::discover(root_ / "a.tovix");
  EXPECT_EQ(p.config_path, settings);
  EXPECT_EQ(p.config_error, "tovix.toml: the file is larger than 1 MiB (1048576 bytes)");
  EXPECT_EQ(p.build_out, std::nullopt);
}

TEST(BuildPath, GeneratedFilePaths) {
  Project p = Project::bare("/r");
  struct Case {
    const char* what;
    std::optional<fs::path> in, out;
    fs::path file, expected;
  };
  const Case cases[] = {
      {"no build settings", {}, {}, "/r/src/a.tovix", "/r/src/a.luau"},
      {"in and out", "/r/src", "/r/out", "/r/src/a/b.tovix", "/r/out/a/b.luau"},
      {"in and out, file outside in", "/r/src", "/r/out", "/r/other/c.tovix", "/r/other/c.luau"},
      {"only out", {}, "/r/out", "/r/src/a.tovix", "/r/out/src/a.luau"},
      {"only out, file outside the root", {}, "/r/out", "/elsewhere/a.tovix", "/elsewhere/a.luau"},
      {"only in changes nothing", "/r/src", {}, "/r/src/a.tovix", "/r/src/a.luau"},
      {"spelling of the base does not matter", "/r//src/", "/r/out", "/r/src/./a.tovix", "/r/out/a.luau"},
      {"a prefix of a name is not a parent", "/r/src", "/r/out", "/r/srcx/a.tovix", "/r/srcx/a.luau"},
      {"no extension", {}, {}, "/r/x", "/r/x.luau"},
      {"two dots", {}, {}, "/r/a.b.tovix", "/r/a.b.luau"},
      {"leading dot is not an extension", {}, {}, "/r/.hidden", "/r/.hidden.luau"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    p.build_in = c.in;
    p.build_out = c.out;
    EXPECT_EQ(p.build_path(c.file), c.expected);
  }
}

TEST_F(Discovery, BuildSettingsJoinTheRoot) {
  write("tovix.toml", "[build]\nin = \"src\"\nout = \"/abs/out\"\n");
  const Project p = Project::discover(root_ / "src/a/b.tovix");
  EXPECT_EQ(p.build_in, root_ / "src");
  EXPECT_EQ(p.build_out, fs::path("/abs/out"));
  EXPECT_EQ(p.build_path(root_ / "src/a/b.tovix"), fs::path("/abs/out/a/b.luau"));
}

using Cache = TempTree;

TEST_F(Cache, ReusedUntilTheSettingsFileChanges) {
  const fs::path settings = write("tovix.toml", "[build]\nout = \"one\"\n");
  dir("src");
  Projects projects;
  const Project first = projects.for_file(root_ / "src/a.tovix");
  const Project again = projects.for_file(root_ / "src/b.tovix");
  EXPECT_EQ(first.build_out, root_ / "one");
  EXPECT_EQ(again.vocabulary, first.vocabulary);  // the same cache entry

  write("tovix.toml", "[build]\nout = \"two\"\n");
  touch_later(settings);
  const Project reloaded = projects.for_file(root_ / "src/a.tovix");
  EXPECT_EQ(reloaded.build_out, root_ / "two");
  EXPECT_NE(reloaded.vocabulary, first.vocabulary);
  EXPECT_EQ(projects.size(), 1u);

  write("tovix.toml", "[lints]\nstatic_conditional_child = \"loud\"\n");
  touch_later(settings);
  const Project broken = projects.for_file(root_ / "src/a.tovix");
  EXPECT_EQ(broken.config_error,
            "tovix.toml: [lints] static_conditional_child = \"loud\" is not one of off, warn, error");
  EXPECT_EQ(broken.build_out, std::nullopt);

  fs::remove(settings);
  const Project gone = projects.for_file(root_ / "src/a.tovix");
  EXPECT_EQ(gone.root, root_ / "src");  // rediscovered under its new root
  EXPECT_EQ(gone.config_path, std::nullopt);
  EXPECT_EQ(projects.size(), 2u);  // the stale entry stays
}

TEST_F(Cache, BareProjectGoesStaleWhenASettingsFileAppears) {
  dir("src");
  Projects projects;
  const Project bare = projects.for_file(root_ / "src/a.tovix");
  EXPECT_EQ(bare.root, root_ / "src");
  write("tovix.toml", "");  // above the cached root: not seen yet
  EXPECT_EQ(projects.for_file(root_ / "src/a.tovix").vocabulary, bare.vocabulary);

  write("src/tovix.toml", "[build]\nout = \"o\"\n");
  const Project found = projects.for_file(root_ / "src/a.tovix");
  EXPECT_EQ(found.config_path, root_ / "src/tovix.toml");
  EXPECT_EQ(found.build_out, root_ / "src/o");

  projects.clear();
  fs::remove(root_ / "src/tovix.toml");
  EXPECT_EQ(projects.for_file(root_ / "src/a.tovix").root, root_);
}

// A path of many components, far longer than the platform takes, still
// finds the settings file above it, and every spelling and depth below a
// cached root reuses it.
TEST_F(Cache, LongAndOddlySpelledPathsFindTheirRoot) {
  write("tovix.toml", "[build]\nout = \"out\"\n");
  dir("src");
  std::string deep = root_.native();
  for (int i = 0; i < 16000; ++i) deep += "/a";
  Projects projects;
  const Project first = projects.for_file(deep + "/x.tovix");
  EXPECT_EQ(first.root, root_);
  EXPECT_EQ(first.build_out, root_ / "out");
  EXPECT_EQ(first.build_path(deep + "/x.tovix").native().size(), deep.size() + std::string("/out/x.luau").size());
  for (const std::string& path : {deep + "//y.tovix", root_.native() + "//src/./a.tovix", root_.native() + "/src/",
                                  root_.native() + "/", root_.native() + "/a/../b.tovix"}) {
    SCOPED_TRACE(path.substr(0, 80));
    const Project again = projects.for_file(path);
    EXPECT_EQ(again.vocabulary, first.vocabulary);
    EXPECT_TRUE(same_path(again.root, root_));
  }
  EXPECT_EQ(projects.size(), 1u);
  EXPECT_EQ(Project::discover(deep).root, root_);
}

}  // namespace
}  // namespace tovix_lsp::project
