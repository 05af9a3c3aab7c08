#include "core/locate.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "process_table.h"
#include "temp_tree.h"

namespace tovix_lsp::locate {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::TempTree;
using testing::gone;
using testing::running;

constexpr const char* GOOD = "exit 0";
constexpr const char* FAILING = "exit 1";

// The pid a script wrote to `file`, once it is there.
int read_pid(const fs::path& file) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(file);
    int pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// A home under the tree, and PATH made of tree folders.
Environment environment(const TempTree& tree, const std::vector<std::string>& path_dirs) {
  Environment env;
  env.home = tree.root() / "home";
  std::string path;
  for (const std::string& dir : path_dirs) path += (path.empty() ? "" : ":") + (tree.root() / dir).string();
  env.path = path;
  return env;
}

struct LocateCase {
  const char* name;
  std::function<void(const TempTree&)> setup;
  std::vector<std::string> path_dirs;
  // "$" stands for the tree's root.
  std::optional<std::string> configured;
  std::optional<std::string> expected;  // relative to the root
  std::string program = "luau-lsp";
};

const std::string EXT = "home/.vscode/extensions/";

TEST(Locate, SearchCases) {
  const LocateCase cases[] = {
      {"a blank configured path is not configured: the search runs",
       [](const TempTree& t) { t.script("bin/luau-lsp", GOOD); },
       {"bin"},
       " \t\xc2\xa0",
       "bin/luau-lsp"},
      {"a configured folder gives none, even with luau-lsp on PATH",
       [](const TempTree& t) { t.script("bin/luau-lsp", GOOD); },
       {"bin"},
       "$/bin",
       std::nullopt},
      {"a configured file that does not exist gives none",
       [](const TempTree& t) { t.script("bin/luau-lsp", GOOD); },
       {"bin"},
       "$/missing",
       std::nullopt},
      {"a configured path is taken with its leading blank",
       [](const TempTree& t) { t.script("tool", GOOD); },
       {},
       " $/tool",
       std::nullopt},
      {"a configured file is neither tested for execute permission nor probed",
       [](const TempTree& t) { t.file("tool", "not a program", 0644); },
       {},
       "$/tool",
       "tool"},
      {"a configured program that would fail its probe is taken",
       [](const TempTree& t) { t.script("tool", FAILING); },
       {},
       "$/tool",
       "tool"},
      {"PATH: a folder named luau-lsp is passed over",
       [](const TempTree& t) {
         t.dir("bin1/luau-lsp");
         t.script("bin2/luau-lsp", GOOD);
       },
       {"bin1", "bin2"},
       std::nullopt,
       "bin2/luau-lsp"},
      {"PATH: a file without execute permission is passed over",
       [](const TempTree& t) {
         t.file("bin1/luau-lsp", "#!/bin/sh\nexit 0\n", 0644);
         t.script("bin2/luau-lsp", GOOD);
       },
       {"bin1", "bin2"},
       std::nullopt,
       "bin2/luau-lsp"},
      {"a PATH candidate failing its probe falls to Rokit",
       [](const TempTree& t) {
         t.script("bin/luau-lsp", FAILING);
         t.script("home/.rokit/tool-storage/a/luau-lsp/1.0.0/luau-lsp", GOOD);
       },
       {"bin"},
       std::nullopt,
       "home/.rokit/tool-storage/a/luau-lsp/1.0.0/luau-lsp"},
      {"Rokit versions compare as numbers: 1.10.0 is newer than 1.9.0",
       [](const TempTree& t) {
         t.script("home/.rokit/tool-storage/a/luau-lsp/1.9.0/luau-lsp", GOOD);
         t.script("home/.rokit/tool-storage/b/luau-lsp/1.10.0/luau-lsp", GOOD);
       },
       {},
       std::nullopt,
       "home/.rokit/tool-storage/b/luau-lsp/1.10.0/luau-lsp"},
      {"a failing Rokit candidate falls to the editor extension",
       [](const TempTree& t) {
         t.script("home/.rokit/tool-storage/a/luau-lsp/1.0.0/luau-lsp", FAILING);
         t.script(EXT + "zentravolmira.luau-lsp-1.30.0/bin/server", GOOD);
       },
       {},
       std::nullopt,
       EXT + "zentravolmira.luau-lsp-1.30.0/bin/server"},
      {"extension versions are compared across the editors' folders",
       [](const TempTree& t) {
         t.script(EXT + "zentravolmira.luau-lsp-1.30.0/bin/server", GOOD);
         t.script("home/.cursor/extensions/zentravolmira.luau-lsp-1.31.0/bin/server", GOOD);
       },
       {},
       std::nullopt,
       "home/.cursor/extensions/zentravolmira.luau-lsp-1.31.0/bin/server"},
      {"extension versions compare as numbers",
       [](const TempTree& t) {
         t.script(EXT + "zentravolmira.luau-lsp-1.9.0/bin/server", GOOD);
         t.script(EXT + "zentravolmira.luau-lsp-1.10.0/bin/server", GOOD);
       },
       {},
       std::nullopt,
       EXT + "zentravolmira.luau-lsp-1.10.0/bin/server"},
      {"the editors' own name of the extension is searched too",
       [](const TempTree& t) {
         t.script(EXT + "zentravolmira.luau-lsp-1.31.0/bin/server", GOOD);
         t.script("home/.windsurf/extensions/johnnymorganz.luau-lsp-1.32.0/bin/server", GOOD);
       },
       {},
       std::nullopt,
       "home/.windsurf/extensions/johnnymorganz.luau-lsp-1.32.0/bin/server"},
      {"an extension folder without the dash is ignored",
       [](const TempTree& t) { t.script(EXT + "zentravolmira.luau-lsp/bin/server", GOOD); },
       {},
       std::nullopt,
       std::nullopt},
      {"another program never looks into extension folders",
       [](const TempTree& t) { t.script(EXT + "zentravolmira.luau-lsp-1.30.0/bin/server", GOOD); },
       {},
       std::nullopt,
       std::nullopt,
       "stylua"},
      {"every candidate failing gives none",
       [](const TempTree& t) {
         t.script("bin/luau-lsp", FAILING);
         t.script("home/.rokit/tool-storage/a/luau-lsp/1.0.0/luau-lsp", FAILING);
         t.script(EXT + "zentravolmira.luau-lsp-1.30.0/bin/server", FAILING);
       },
       {"bin"},
       std::nullopt,
       std::nullopt},
      {"nothing anywhere gives none", [](const TempTree&) {}, {"bin"}, std::nullopt, std::nullopt},
  };
  for (const LocateCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    c.setup(tree);
    std::optional<std::string> configured = c.configured;
    if (configured) {
      if (auto at = configured->find('$'); at != std::string::npos) configured->replace(at, 1, tree.root().string());
    }
    auto found = locate(c.program, configured, environment(tree, c.path_dirs));
    std::optional<fs::path> expected;
    if (c.expected) expected = tree.root() / *c.expected;
    EXPECT_EQ(found, expected);
  }
}

TEST(Locate, NoPathAndNoHomeFindNothing) { EXPECT_EQ(locate("luau-lsp", std::nullopt, Environment{}), std::nullopt); }

// A candidate whose --version never ends is given up on: the next one is
// taken, and the hung one is killed and reaped.
TEST(Locate, HungCandidateIsKilledAndTheNextTaken) {
  TempTree tree;
  fs::path pid_file = tree.root() / "pid";
  tree.script("bin/luau-lsp", "echo $$ > '" + pid_file.string() + "'\nexec sleep 60");
  fs::path rokit = tree.script("home/.rokit/tool-storage/a/luau-lsp/1.0.0/luau-lsp", GOOD);
  auto start = std::chrono::steady_clock::now();
  auto found = locate("luau-lsp", std::nullopt, environment(tree, {"bin"}));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(found, rokit);
  // Well short of the minute the hung one would take.
  EXPECT_LT(took, PROBE_LIMIT + std::chrono::seconds(20));
  int pid = read_pid(pid_file);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(gone(pid)) << "the hung probe " << pid << " is still in the process table";
}

TEST(LocateOn, Probe) {
  TempTree tree;
  struct Case {
    const char* name;
    std::string body;
    bool passes;
  };
  const Case cases[] = {
      {"exit status 0 passes", GOOD, true},
      {"exit status 1 fails", FAILING, false},
      {"an end by a signal fails", "kill -9 $$", false},
      // The probe's only argument is --version, and it sees the null device
      // on all three streams.
      {"one argument, null streams",
       "[ $# -eq 1 ] && [ \"$1\" = --version ] && [ \"$(readlink /proc/$$/fd/0)\" = /dev/null ] && "
       "[ \"$(readlink /proc/$$/fd/1)\" = /dev/null ] && [ \"$(readlink /proc/$$/fd/2)\" = /dev/null ]",
       true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(locate_on(tree.script("probe" + std::to_string(n++), c.body)), c.passes);
  }
  EXPECT_FALSE(locate_on(tree.root() / "missing"));
  EXPECT_FALSE(locate_on(tree.file("not-executable", "#!/bin/sh\nexit 0\n", 0644)));
}

// Past its limit the probe is killed with whatever it started.
TEST(LocateOn, TimeLimitKillsTheProbeAndWhatItStarted) {
  TempTree tree;
  fs::path pids = tree.root() / "pids";
  fs::path probe = tree.script(
      "probe", "sleep 60 &\necho $! > '" + pids.string() + ".child'\necho $$ > '" + pids.string() + "'\nwait");
  // Long enough for the script to have written both ids on a loaded machine.
  EXPECT_FALSE(locate_on(probe, std::chrono::seconds(1)));
  int pid = read_pid(pids);
  int started = read_pid(pids.string() + ".child");
  ASSERT_GT(pid, 0);
  ASSERT_GT(started, 0);
  EXPECT_TRUE(gone(pid));
  // Not ours to reap: it is enough that it no longer runs.
  for (int i = 0; i < 3000 && running(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(running(started));
}

TEST(Locate, CompareVersions) {
  struct Case {
    const char* a;
    const char* b;
    std::strong_ordering expected;
  };
  const Case cases[] = {
      {"1.9.0", "1.10.0", std::strong_ordering::less},
      {"1.10.0", "1.9.0", std::strong_ordering::greater},
      {"1.10.0", "1.10.0", std::strong_ordering::equal},
      {"1.10", "1.10.0", std::strong_ordering::less},
      {"2", "10", std::strong_ordering::less},
      {"01.2", "1.2", std::strong_ordering::equal},
      {"99999999999999999999999.0", "100000000000000000000000.0", std::strong_ordering::less},
      // A segment that is not a number compares byte by byte.
      {"1.0-beta", "1.0-alpha", std::strong_ordering::greater},
      {"1.10-x", "1.9-x", std::strong_ordering::less},
      {"a", "b", std::strong_ordering::less},
      {"", "1", std::strong_ordering::less},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(compare_versions(c.a, c.b), c.expected);
  }
}

TEST(Listing, UnreadableEntriesAreSkipped) {
  // "!" is an entry that cannot be read.
  auto unreadable = [](std::size_t n) { return std::vector<std::string>(n, "!"); };
  auto then = [](std::vector<std::string> reads, const std::string& last) {
    reads.push_back(last);
    return reads;
  };
  struct Case {
    const char* what;
    std::vector<std::string> reads;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"every entry readable", {"a", "b"}, {"a", "b"}},
      {"one between two", {"a", "!", "b"}, {"a", "b"}},
      {"first and last", {"!", "a", "!"}, {"a"}},
      {"none readable", {"!", "!"}, {}},
      {"an empty listing", {}, {}},
      {"one short of the limit in a row", then(unreadable(MAX_UNREADABLE_IN_A_ROW - 1), "a"), {"a"}},
      {"the limit in a row ends the listing", then(unreadable(MAX_UNREADABLE_IN_A_ROW), "a"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t at = 0;
    const auto listed = entries([&]() -> std::optional<Listed> {
      if (at == c.reads.size()) return std::nullopt;
      const std::string& read = c.reads[at++];
      if (read == "!") return std::unexpected(std::make_error_code(std::errc::io_error));
      return fs::path(read);
    });
    EXPECT_EQ(listed, std::vector<fs::path>(c.expected.begin(), c.expected.end()));
  }
}

TEST(Locate, Filenames) { EXPECT_EQ(filenames("luau-lsp"), std::vector<std::string>{"luau-lsp"}); }

// The storage folder, relative to the tree, with APPDATA at "appdata".
std::optional<std::string> storage_in(const TempTree& tree, bool with_appdata) {
  Environment env;
  env.home = tree.root() / "home";
  if (with_appdata) env.appdata = (tree.root() / "appdata").string();
  auto found = luau_lsp_storage(env);
  if (!found) return std::nullopt;
  return found->lexically_relative(tree.root()).string();
}

const std::string STORAGE = "User/globalStorage/zentravolmira.luau-lsp";

TEST(Storage, FirstExistingFolderWins) {
  struct Case {
    const char* name;
    std::vector<std::string> folders;
    bool with_appdata;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"APPDATA comes first",
       {"home/.config/Code/" + STORAGE, "appdata/Code/" + STORAGE},
       true,
       "appdata/Code/" + STORAGE},
      {"APPDATA unset",
       {"home/.config/Code/" + STORAGE, "appdata/Code/" + STORAGE},
       false,
       "home/.config/Code/" + STORAGE},
      {"Application Support before .config",
       {"home/.config/Code/" + STORAGE, "home/Library/Application Support/Code/" + STORAGE},
       false,
       "home/Library/Application Support/Code/" + STORAGE},
      {"editors in table order",
       {"home/.config/Cursor/" + STORAGE, "home/.config/VSCodium/" + STORAGE},
       false,
       "home/.config/VSCodium/" + STORAGE},
      {"the editors' own storage name",
       {"home/.config/Code - Insiders/User/globalStorage/johnnymorganz.luau-lsp"},
       false,
       "home/.config/Code - Insiders/User/globalStorage/johnnymorganz.luau-lsp"},
      {"none", {"home/.config/Code/User/globalStorage/someone.else"}, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    for (const std::string& folder : c.folders) tree.dir(folder);
    EXPECT_EQ(storage_in(tree, c.with_appdata), c.expected);
  }
  TempTree tree;
  tree.file("home/.config/Code/" + STORAGE);  // a file, not a folder
  EXPECT_EQ(storage_in(tree, false), std::nullopt);
}

TEST(RobloxTypes, SettingsAndFiles) {
  struct Case {
    const char* name;
    const char* settings;
    std::vector<std::string> files;  // in the Code storage folder
    std::vector<std::string> definitions;
    std::vector<std::string> documentation;
  };
  const std::vector<std::string> ALL = {"globalTypes.None.d.luau", "globalTypes.PluginSecurity.d.luau",
                                        "api-docs.json"};
  const Case cases[] = {
      {"defaults: PluginSecurity and the documentation",
       "{}",
       ALL,
       {"globalTypes.PluginSecurity.d.luau"},
       {"api-docs.json"}},
      {"settings that are not an object read as empty",
       "[1]",
       ALL,
       {"globalTypes.PluginSecurity.d.luau"},
       {"api-docs.json"}},
      {"another platform has none", R"({"platform":{"type":"standard"}})", ALL, {}, {}},
      {"a number as platform counts as Roblox",
       R"({"platform":{"type":5}})",
       ALL,
       {"globalTypes.PluginSecurity.d.luau"},
       {"api-docs.json"}},
      {"types switched off", R"({"types":{"roblox":false}})", ALL, {}, {}},
      {"a string does not switch them off",
       R"({"types":{"roblox":"false"}})",
       ALL,
       {"globalTypes.PluginSecurity.d.luau"},
       {"api-docs.json"}},
      {"the configured level first",
       R"({"types":{"robloxSecurityLevel":"None"}})",
       ALL,
       {"globalTypes.None.d.luau"},
       {"api-docs.json"}},
      {"a missing level falls back in table order",
       R"({"types":{"robloxSecurityLevel":"RobloxScriptSecurity"}})",
       {"globalTypes.None.d.luau"},
       {"globalTypes.None.d.luau"},
       {}},
      {"a level that is not a string reads as PluginSecurity",
       R"({"types":{"robloxSecurityLevel":3}})",
       ALL,
       {"globalTypes.PluginSecurity.d.luau"},
       {"api-docs.json"}},
      {"no files", "{}", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    fs::path folder = tree.dir("home/.config/Code/" + STORAGE);
    for (const std::string& file : c.files) tree.file(folder / file);
    Environment env;
    env.home = tree.root() / "home";
    TypeFiles files = roblox_types(json::parse(c.settings), env);
    std::vector<std::string> definitions, documentation;
    for (const std::string& f : c.definitions) definitions.push_back((folder / f).string());
    for (const std::string& f : c.documentation) documentation.push_back((folder / f).string());
    EXPECT_EQ(files.definitions, definitions);
    EXPECT_EQ(files.documentation, documentation);
    TypeFilePair pair = roblox_type_files(json::parse(c.settings), env);
    EXPECT_EQ(pair.definitions, definitions.empty() ? std::nullopt : std::optional(definitions[0]));
    EXPECT_EQ(pair.documentation, documentation.empty() ? std::nullopt : std::optional(documentation[0]));
  }
}

// The first storage folder is used even when a later one holds the files.
TEST(RobloxTypes, FirstFolderOnly) {
  TempTree tree;
  tree.dir("home/.config/Code/" + STORAGE);
  tree.file("home/.config/Cursor/" + STORAGE + "/globalTypes.PluginSecurity.d.luau");
  Environment env;
  env.home = tree.root() / "home";
  TypeFiles files = roblox_types(json::object(), env);
  EXPECT_TRUE(files.definitions.empty());
}

// Paths become text with ill-formed bytes replaced.
TEST(RobloxTypes, PathTextIsValidUtf8) {
  TempTree tree;
  fs::path appdata = tree.dir("bad\xff");
  tree.file(appdata / "Code" / STORAGE / "api-docs.json");
  Environment env;
  env.appdata = appdata.string();
  TypeFiles files = roblox_types(json::object(), env);
  ASSERT_EQ(files.documentation.size(), 1u);
  EXPECT_EQ(files.documentation[0], (tree.root() / ("bad\xef\xbf\xbd/Code/" + STORAGE + "/api-docs.json")).string());
}

TEST(NamedTypeFiles, BothFormsOfTheSettings) {
  struct Case {
    const char* name;
    const char* settings;
    std::vector<NamedDefinition> definitions;
    std::vector<std::string> documentation;
  };
  const Case cases[] = {
      {"lists, strings kept as written, others skipped",
       R"({"types":{"definitionFiles":["a.d.luau",3," b c ",""],"documentationFiles":["d.json",null,"e.json"]}})",
       {{"", "a.d.luau"}, {"", " b c "}, {"", ""}},
       {"d.json", "e.json"}},
      {"luau-lsp's object of package names, in key order",
       R"({"types":{"definitionFiles":{"roblox":"r.d.luau","@pkg":"p.d.luau","bad":1}}})",
       {{"@pkg", "p.d.luau"}, {"roblox", "r.d.luau"}},
       {}},
      {"documentation files in an object are not read", R"({"types":{"documentationFiles":{"a":"d.json"}}})", {}, {}},
      {"a single string is neither form", R"({"types":{"definitionFiles":"a.d.luau"}})", {}, {}},
      {"nothing named", R"({"types":{}})", {}, {}},
      {"settings that are not an object", "null", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NamedTypeFiles named = named_type_files(json::parse(c.settings));
    EXPECT_EQ(named.definitions, c.definitions);
    EXPECT_EQ(named.documentation, c.documentation);
  }
}

}  // namespace
}  // namespace tovix_lsp::locate
