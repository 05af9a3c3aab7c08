#include "features/api.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "temp_tree.h"

namespace tovix_lsp::api {
namespace {

const std::string ROBLOX = TOVIX_ROBLOX_DATA;

Api from(std::string_view definitions, std::string_view docs = "{}") {
  return Api{parse_definitions(definitions), parse_docs(docs)};
}

// "owner: type", or "none".
std::string found(const Api& api, std::string_view klass, std::string_view member) {
  const auto m = api.member(klass, member);
  return m ? m->owner + ": " + m->ty : "none";
}

TEST(ApiDefinitions, MembersUpTheChain) {
  const Api api = from(
      "declare class A\n\tx: number\nend\n"
      "declare class B extends A\n\ty: string\nend\n");
  EXPECT_EQ(found(api, "B", "x"), "A: number");
  EXPECT_EQ(found(api, "B", "y"), "B: string");
  EXPECT_EQ(found(api, "B", "z"), "none");
  EXPECT_EQ(found(api, "C", "x"), "none");
  EXPECT_EQ(found(api, "A", "y"), "none");
}

TEST(ApiDefinitions, LineRules) {
  struct Case {
    const char* text;
    const char* klass;
    const char* member;
    const char* expected;
  } cases[] = {
      // No "end" between: P is stored and Q opened.
      {"declare class P\n\ta: A\ndeclare class Q\n\tb: B\n", "P", "a", "P: A"},
      {"declare class P\n\ta: A\ndeclare class Q\n\tb: B\n", "Q", "b", "Q: B"},
      {"declare class P\n\ta: A\ndeclare class Q\n\tb: B\n", "Q", "a", "none"},
      // Only the last declaration of a class counts.
      {"declare class P\n\ta: A\nend\ndeclare class P\n\tb: B\nend\n", "P", "a", "none"},
      {"declare class P\n\ta: A\nend\ndeclare class P\n\tb: B\nend\n", "P", "b", "P: B"},
      // An indented "end" does not close; "ending" does.
      {"declare class P\n  end\n\ta: A\n", "P", "a", "P: A"},
      {"declare class P\nending\n\ta: A\n", "P", "a", "none"},
      {"declare class P\n\tName: string\n", "P", "Name", "P: string"},
      {"declare class P\n Name : string \n", "P", "Name", "P: string"},
      {"declare class P\n\t[\"Name\"]: string\n", "P", "[\"Name\"]", "none"},
      {"declare class P\n\tfunction Destroy(self): ()\n", "P", "function Destroy(self)", "none"},
      {"declare class P\n\tEmpty:\n", "P", "Empty", "P: "},
      {"declare class P\n\tNoColon\n", "P", "NoColon", "none"},
      {"declare class P\n\tx: A\n\tx: B\n", "P", "x", "P: B"},
      // Member lines outside a class are ignored.
      {"\tx: A\ndeclare class P\nend\n\ty: B\n", "P", "x", "none"},
      {"\tx: A\ndeclare class P\nend\n\ty: B\n", "P", "y", "none"},
      {"declare class P\r\n\tx: A\r\nend\r\n", "P", "x", "P: A"},
      {"declare extern type P extends Q with\n\tx: A\nend\ndeclare class Q\n\ty: B\nend", "P", "y", "Q: B"},
      // Only "extends" names a superclass.
      {"declare class P with Q\nend\ndeclare class Q\n\ty: B\nend", "P", "y", "none"},
      // A line that declares no name leaves the open class open.
      {"declare class P\ndeclare class \n\tx: A\n", "P", "x", "P: A"},
      // A loop of "extends" ends.
      {"declare class P extends Q\nend\ndeclare class Q extends P\nend\n", "P", "x", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(found(from(c.text), c.klass, c.member), c.expected);
  }
}

TEST(ApiMember, EventParameters) {
  struct Case {
    const char* ty;
    std::optional<std::vector<std::string>> expected;
  } cases[] = {
      {"RBXScriptSignal<(Instance, string)>", std::vector<std::string>{"Instance", "string"}},
      {"RBXScriptSignal<Instance>", std::vector<std::string>{"Instance"}},
      {"RBXScriptSignal<()>", std::vector<std::string>{}},
      {"RBXScriptSignal<>", std::vector<std::string>{}},
      {"RBXScriptSignal<(number, (string, number) -> ())>",
       std::vector<std::string>{"number", "(string, number) -> ()"}},
      {"RBXScriptSignal<(a, , b)>", std::vector<std::string>{"a", "b"}},
      {"RBXScriptSignal<({ [string]: any }, Map<K, V>)>", std::vector<std::string>{"{ [string]: any }", "Map<K, V>"}},
      {"RBXScriptSignal", std::nullopt},
      {"string", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ty);
    EXPECT_EQ((Member{"X", c.ty}.event_parameters()), c.expected);
  }
}

TEST(ApiDocs, Entries) {
  const Api api = from("",
                       R"({"@roblox/globaltype/TextLabel.Text": {"documentation": "<b>x</b>", "keys": {"a": [1]},
                            "learn_more_link": "https://l"},
                          "@roblox/globaltype/A.b": {"documentation": "only"},
                          "@roblox/globaltype/A.c": ["d", "l"],
                          "@roblox/globaltype/A.d": {"documentation": "first"},
                          "@roblox/globaltype/A.d": {"documentation": "later"}})");
  ASSERT_EQ(api.docs.size(), 4u);
  const Documentation* text = api.documentation("TextLabel", "Text");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, (Documentation{"<b>x</b>", "https://l"}));
  EXPECT_EQ(*api.documentation("A", "b"), (Documentation{"only", ""}));
  EXPECT_EQ(*api.documentation("A", "c"), (Documentation{"d", "l"}));
  EXPECT_EQ(*api.documentation("A", "d"), (Documentation{"later", ""}));
  EXPECT_EQ(api.documentation("TextLabel", "text"), nullptr);
}

// One bad entry empties the whole map.
TEST(ApiDocs, AnyFaultGivesNone) {
  for (const char* text : {
           R"({"a": {"documentation": "x"}, "b": {"learn_more_link": null}})",
           R"({"a": {"documentation": "x", "documentation": "y"}})",
           R"({"a": {"documentation": 1}})",
           R"({"a": {"documentation": ["x"]}})",
           R"({"a": "x"})",
           R"({"a": ["x", "y", "z"]})",
           R"({"a": ["x"]})",
           R"({"a": []})",
           R"({"a": [1]})",
           R"(["x"])",
           R"({"a": {"documentation": "x"})",
           "not json",
           "",
       }) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(parse_docs(text).empty());
  }
}

class TempFile {
 public:
  explicit TempFile(std::string_view content) {
    path_ = std::filesystem::temp_directory_path() /
            ("tovix_api_" + std::to_string(counter_++) + "_" + std::to_string(::getpid()));
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::filesystem::remove(path_); }
  [[nodiscard]] std::string path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

TEST(ApiSlot, InstalledOnceByTheFirstCallWithDefinitions) {
  const TempFile defs("declare class A\n\tx: number\nend\n");
  const TempFile other("declare class B\n\ty: number\nend\n");
  const TempFile docs(R"({"@roblox/globaltype/A.x": {"documentation": "d"}})");
  Slot slot;
  slot.install(std::nullopt, docs.path());
  EXPECT_EQ(slot.installed(), nullptr);
  slot.install(defs.path(), docs.path());
  ASSERT_NE(slot.present(), nullptr);
  EXPECT_EQ(found(*slot.present(), "A", "x"), "A: number");
  EXPECT_NE(slot.present()->documentation("A", "x"), nullptr);
  slot.install(other.path(), std::nullopt);
  EXPECT_EQ(found(*slot.present(), "B", "y"), "none");
}

TEST(ApiSlot, AnUnreadableFileFixesFactsWithoutClasses) {
  const TempFile docs(R"({"k": {}})");
  const TempFile defs("declare class A\nend\n");
  const TempFile invalid("declare class A\n\tx: \xff\nend\n");
  Slot slot;
  slot.install("/nonexistent/globalTypes.None.d.luau", docs.path());
  ASSERT_NE(slot.installed(), nullptr);
  EXPECT_EQ(slot.present(), nullptr);
  EXPECT_EQ(slot.installed()->docs.size(), 1u);
  slot.install(defs.path(), std::nullopt);
  EXPECT_EQ(slot.present(), nullptr);

  Slot other;
  other.install(invalid.path(), "/nonexistent/api-docs.json");
  ASSERT_NE(other.installed(), nullptr);
  EXPECT_TRUE(other.installed()->classes.empty());
  EXPECT_TRUE(other.installed()->docs.empty());
}

TEST(ApiSources, NamedFilesFirstThenTheStorage) {
  const testing::TempTree tree;
  for (const std::string name : {"Named", "Stored", "Other"}) {
    std::string file = name == "Other" ? "other.d.lua" : (name == "Named" ? "named.d.luau" : "stored.d.luau");
    tree.file(file, "declare class " + name + "\n\tx: number\nend\n");
  }
  tree.file("named.json", R"({"k": ["named", ""]})");
  tree.file("stored.json", R"({"k": ["stored", ""]})");
  tree.file("bad.d.luau", "declare class Bad\n\tx: \xff\nend\n");
  auto at = [&](const std::string& name) { return (tree.root() / name).string(); };
  auto all_at = [&](const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& name : names) paths.push_back(at(name));
    return paths;
  };

  struct Case {
    const char* what;
    std::vector<std::string> named_definitions;
    std::vector<std::string> named_documentation;
    std::optional<std::string> stored_definitions;
    std::optional<std::string> stored_documentation;
    // "classes|documentation of k", "none" for no facts.
    const char* expected;
    std::vector<std::string> unreadable;
  };
  const Case cases[] = {
      {"named files come first", {"named.d.luau"}, {"named.json"}, "stored.d.luau", "stored.json", "Named|named", {}},
      {"the storage when nothing is named", {}, {}, "stored.d.luau", "stored.json", "Stored|stored", {}},
      {"a named file that cannot be read is skipped for the next",
       {"missing.d.luau", "bad.d.luau", "named.d.luau"},
       {"missing.json", "named.json"},
       "stored.d.luau",
       "stored.json",
       "Named|named",
       {"missing.d.luau", "bad.d.luau", "missing.json"}},
      {"then for the storage",
       {"missing.d.luau"},
       {"missing.json"},
       "stored.d.luau",
       "stored.json",
       "Stored|stored",
       {"missing.d.luau", "missing.json"}},
      {"each kind falls back on its own", {"named.d.luau"}, {}, "stored.d.luau", "stored.json", "Named|stored", {}},
      {"only a .d.luau file gives the types", {"other.d.lua"}, {}, "stored.d.luau", std::nullopt, "Stored|", {}},
      {"no definitions to read: no facts, and the documentation is not read",
       {"missing.d.luau", "other.d.lua"},
       {"missing.json"},
       std::nullopt,
       "stored.json",
       "none",
       {"missing.d.luau"}},
      {"a stored file that cannot be read still gives facts, without classes",
       {},
       {},
       "missing.d.luau",
       "stored.json",
       "|stored",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sources sources;
    sources.named_definitions = all_at(c.named_definitions);
    sources.named_documentation = all_at(c.named_documentation);
    if (c.stored_definitions) sources.stored_definitions = at(*c.stored_definitions);
    if (c.stored_documentation) sources.stored_documentation = at(*c.stored_documentation);
    std::vector<std::string> unreadable;
    const std::optional<Api> facts = load(sources, unreadable);
    std::string seen = "none";
    if (facts) {
      seen.clear();
      for (const auto& [name, klass] : facts->classes) seen += name;
      const auto k = facts->docs.find("k");
      seen += "|" + (k == facts->docs.end() ? "" : k->second.documentation);
    }
    EXPECT_EQ(seen, c.expected);
    EXPECT_EQ(unreadable, all_at(c.unreadable));
  }
}

// Only regular files up to the cap are read: a pipe nobody writes, an
// endless device, a directory or a larger file is refused unread, at once,
// and the next named file is read instead.
TEST(ApiSources, OnlyRegularFilesUpToTheCapAreRead) {
  const testing::TempTree tree;
  const std::string good = tree.file("good.d.luau", "declare class Good\n\tx: number\nend\n").string();
  const std::string good_docs = tree.file("good.json", R"({"k": ["good", ""]})").string();
  const std::string pipe = (tree.root() / "pipe.d.luau").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string folder = tree.dir("folder.d.luau").string();
  const std::string big = tree.file("big.d.luau").string();
  std::filesystem::resize_file(big, MAX_FILE_SIZE + 1);  // sparse: nothing is written

  struct Case {
    const char* what;
    std::vector<std::string> definitions;
    std::vector<std::string> documentation;
    const char* expected;  // "classes|documentation of k"
    std::vector<std::string> unreadable;
  };
  const Case cases[] = {
      {"a pipe", {pipe, good}, {good_docs}, "Good|good", {pipe}},
      {"an endless device", {good}, {"/dev/zero", good_docs}, "Good|good", {"/dev/zero"}},
      {"a directory", {folder, good}, {}, "Good|", {folder}},
      {"past the cap", {big, good}, {}, "Good|", {big}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sources sources;
    sources.named_definitions = c.definitions;
    sources.named_documentation = c.documentation;
    // A read that waits (or never ends) fails here rather than holding
    // the test; it is left to the end of the process.
    auto done = std::make_shared<std::promise<std::pair<std::string, std::vector<std::string>>>>();
    auto result = done->get_future();
    std::thread([sources, done] {
      std::vector<std::string> unreadable;
      const std::optional<Api> facts = load(sources, unreadable);
      std::string seen = "none";
      if (facts) {
        seen.clear();
        for (const auto& [name, klass] : facts->classes) seen += name;
        const auto k = facts->docs.find("k");
        seen += "|" + (k == facts->docs.end() ? "" : k->second.documentation);
      }
      done->set_value({seen, unreadable});
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the load never ended";
    const auto [seen, unreadable] = result.get();
    EXPECT_EQ(seen, c.expected);
    EXPECT_EQ(unreadable, c.unreadable);
  }
}

// Named files that cannot be read fix nothing: a later install whose file
// can be read still takes effect, and after it nothing is read or reported.
TEST(ApiSlot, NamedFilesThatCannotBeReadLeaveItEmpty) {
  const testing::TempTree tree;
  const std::string later = (tree.root() / "later.d.luau").string();
  Sources sources;
  sources.named_definitions = {later};
  Slot slot;
  EXPECT_EQ(slot.install(sources), std::vector<std::string>{later});
  EXPECT_EQ(slot.installed(), nullptr);
  tree.file("later.d.luau", "declare class Later\n\tx: number\nend\n");
  EXPECT_TRUE(slot.install(sources).empty());
  ASSERT_NE(slot.present(), nullptr);
  EXPECT_EQ(found(*slot.present(), "Later", "x"), "Later: number");
  sources.named_definitions = {(tree.root() / "missing.d.luau").string()};
  EXPECT_TRUE(slot.install(sources).empty());
  EXPECT_EQ(found(*slot.present(), "Later", "x"), "Later: number");
}

TEST(ApiRealFiles, TypesAndDocumentation) {
  const std::string defs = ROBLOX + "/globalTypes.None.d.luau";
  if (!std::filesystem::exists(defs)) GTEST_SKIP() << "no Roblox type files at " << ROBLOX;
  const Api api = load(defs, ROBLOX + "/api-docs.json");
  EXPECT_EQ(found(api, "TextLabel", "Text"), "TextLabel: string");
  EXPECT_EQ(found(api, "TextLabel", "Size"), "GuiObject: UDim2");
  EXPECT_EQ(found(api, "TextButton", "Activated"), "GuiButton: RBXScriptSignal<(InputObject, number)>");
  EXPECT_EQ(found(api, "Frame", "Nonsense"), "none");
  EXPECT_GT(api.docs.size(), 10000u);
  const Documentation* size = api.documentation("GuiObject", "Size");
  ASSERT_NE(size, nullptr);
  EXPECT_FALSE(size->documentation.empty());
  EXPECT_EQ(size->learn_more_link, "https://create.roblox.com/docs/reference/engine/classes/GuiObject#Size");

  const Api plugin = load(ROBLOX + "/globalTypes.PluginSecurity.d.luau", std::nullopt);
  EXPECT_GE(plugin.classes.size(), api.classes.size());
  EXPECT_TRUE(plugin.docs.empty());
}

}  // namespace
}  // namespace tovix_lsp::api
