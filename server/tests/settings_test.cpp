#include "core/settings.h"

#include "core/child_session.h"
#include "core/server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <future>
#include <memory>

#include "temp_tree.h"

namespace tovix_lsp::settings {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

TEST(ConfiguredPath, TheTovixSectionDecidesWhenItHasTheMember) {
  struct Case {
    const char* what;
    const char* own;
    const char* luau;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"own path", R"({"luauLsp":{"path":"/a"}})", R"({"server":{"path":"/b"}})", "/a"},
      {"kept as written", R"({"luauLsp":{"path":" /a "}})", "null", " /a "},
      {"blank own path: no path, luau-lsp's not consulted", R"({"luauLsp":{"path":"  "}})",
       R"({"server":{"path":"/b"}})", std::nullopt},
      {"own member not a string", R"({"luauLsp":{"path":3}})", R"({"server":{"path":"/b"}})", std::nullopt},
      {"no own member", R"({"luauLsp":{}})", R"({"server":{"path":"/b"}})", "/b"},
      {"null sections", "null", "null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(configured_path(json::parse(c.own), json::parse(c.luau)), c.expected);
  }
}

TEST(ChildInitializeParams, ChangesOnlyWhatTheChildMustNotSee) {
  const json editor = json::parse(R"({
    "processId": 7,
    "capabilities": {"textDocument": {"diagnostic": {}, "hover": {"x": 1}},
                     "workspace": {"diagnostics": {}, "applyEdit": true},
                     "general": {"positionEncodings": ["utf-8", "utf-16"]}},
    "initializationOptions": {"fflags": {"Old": "1"}, "keep": 1}})");
  EXPECT_EQ(child_session::initialize_params(editor, 42, json{{"New", "true"}}), json::parse(R"({
    "processId": 42,
    "capabilities": {"textDocument": {"hover": {"x": 1}}, "workspace": {"applyEdit": true},
                     "general": {"positionEncodings": ["utf-16"]}},
    "initializationOptions": {"fflags": {"New": "true"}, "keep": 1}})"));

  // No flags leave the options as the editor sent them; params that are not
  // an object count as an empty one.
  EXPECT_EQ(child_session::initialize_params(json::array(), 1, json::object()),
            json::parse(R"({"processId":1,"capabilities":{"general":{"positionEncodings":["utf-16"]}}})"));
  EXPECT_EQ(child_session::initialize_params(json::parse(R"({"initializationOptions":3})"), 1, json{{"F", "1"}}),
            json::parse(R"({"processId":1,"capabilities":{"general":{"positionEncodings":["utf-16"]}},)"
                        R"("initializationOptions":{"fflags":{"F":"1"}}})"));
}

json naming(const fs::path& definitions) {
  return {{"types", {{"definitionFiles", json::array({definitions.string()})}}}};
}

// The named files a load could not read; "(no load ended)" when none ends
// in time.
std::vector<std::string> next_load(events::Events::Receiver& events) {
  auto event = events.receive_for(std::chrono::seconds(90));
  EXPECT_TRUE(event && std::holds_alternative<events::ApiLoaded>(*event));
  if (!event || !std::holds_alternative<events::ApiLoaded>(*event)) return {"(no load ended)"};
  return std::get<events::ApiLoaded>(*event).unreadable;
}

// Loads into a slot, except that a load naming a file "held…" waits until
// the test lets it go (a file on a disk that does not answer), then gives
// that file as unreadable.
class HeldLoads {
 public:
  HeldLoads() : released_(release_.get_future().share()) {}
  ~HeldLoads() { release(); }

  ApiLoader::Install install() {
    return [this, released = released_](const api::Sources& sources) -> std::vector<std::string> {
      for (const std::string& path : sources.named_definitions) {
        if (fs::path(path).filename().string().starts_with("held")) {
          (void)released.wait_for(std::chrono::seconds(60));
          return {path};
        }
      }
      return slot.install(sources);
    };
  }
  void release() {
    if (!released_now_) release_.set_value();
    released_now_ = true;
  }

  api::Slot slot;

 private:
  std::promise<void> release_;
  std::shared_future<void> released_;
  bool released_now_ = false;
};

// A load never waits for an older one that has not finished: the newer
// one ends and keeps its facts while the older is still held. A pipe that
// nobody writes holds none: its load ends at once, refusing it.
TEST(ApiLoader, ANewerLoadNeverWaitsForAnOlderOne) {
  testing::TempTree tree;
  const fs::path readable = tree.file("a.d.luau", "declare class A\n\tx: number\nend\n");
  {
    HeldLoads loads;
    auto [sender, receiver] = events::Events::make();
    ApiLoader loader(loads.install(), sender);
    loader.load(naming(tree.root() / "held.d.luau"), locate::Environment{});
    loader.load(naming(readable), locate::Environment{});
    EXPECT_EQ(next_load(receiver), std::vector<std::string>{});
    ASSERT_NE(loads.slot.present(), nullptr);
    EXPECT_EQ(loads.slot.present()->member("A", "x")->ty, "number");
    loads.release();
    EXPECT_EQ(next_load(receiver), std::vector<std::string>{(tree.root() / "held.d.luau").string()});
  }
  const fs::path pipe = tree.root() / "pipe.d.luau";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  api::Slot slot;
  auto [sender, receiver] = events::Events::make();
  ApiLoader loader(slot, sender);
  loader.load(naming(pipe), locate::Environment{});
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{pipe.string()});
  loader.load(naming(readable), locate::Environment{});
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{});
  ASSERT_NE(slot.present(), nullptr);
  EXPECT_EQ(slot.present()->member("A", "x")->ty, "number");
}

// Past the loads that may run at once, the newest waits for one to end,
// and is not lost.
TEST(ApiLoader, PastItsLimitTheNewestLoadWaitsForOneToEnd) {
  testing::TempTree tree;
  const fs::path readable = tree.file("a.d.luau", "declare class A\n\tx: number\nend\n");
  HeldLoads loads;
  auto [sender, receiver] = events::Events::make();
  ApiLoader loader(loads.install(), sender);
  for (std::size_t i = 0; i < ApiLoader::MAX_LOADS; ++i)
    loader.load(naming(tree.root() / ("held" + std::to_string(i) + ".d.luau")), locate::Environment{});
  loader.load(naming(readable), locate::Environment{});
  EXPECT_EQ(loads.slot.installed(), nullptr);
  loads.release();
  std::size_t held = 0;
  for (std::size_t i = 0; i <= ApiLoader::MAX_LOADS; ++i) held += next_load(receiver).size();
  EXPECT_EQ(held, ApiLoader::MAX_LOADS);
  ASSERT_NE(loads.slot.present(), nullptr);
  EXPECT_EQ(loads.slot.present()->member("A", "x")->ty, "number");
}

// Dropping the loader does not wait for a load under way, which ends on its
// own.
TEST(ApiLoader, ALoadUnderWayIsNotWaitedFor) {
  testing::TempTree tree;
  HeldLoads loads;
  auto [sender, receiver] = events::Events::make();
  auto loader = std::make_unique<ApiLoader>(loads.install(), sender);
  loader->load(naming(tree.root() / "held.d.luau"), locate::Environment{});
  loader.reset();
  loads.release();
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{(tree.root() / "held.d.luau").string()});
}

// Named type files that cannot be read are said in one line however many
// there are, each path only once.
TEST(ApiLoaded, UnreadableFilesAreSaidInOneLineWithTheirCount) {
  io::StringOutput out;
  auto channel = events::Events::make();
  server::Server server(out, channel.first, server::Handlers::standard());
  const auto logged = [&] {
    std::vector<std::string> lines;
    for (std::string_view wire = out.data; !wire.empty();) {
      const std::size_t body = wire.find("\r\n\r\n") + 4;
      const std::size_t length = std::stoul(std::string(wire.substr(16, body - 20)));
      const json message = json::parse(wire.substr(body, length));
      lines.push_back(message.at("params").at("message"));
      wire.remove_prefix(body + length);
    }
    out.data.clear();
    return lines;
  };
  const std::string tail = ", named in the luau-lsp type settings — markup hovers and completion go without ";
  std::vector<std::string> many;
  for (int i = 0; i < 20000; ++i) many.push_back("/types/" + std::to_string(i) + ".d.luau");
  struct Case {
    const char* what;
    std::vector<std::string> unreadable;
    std::vector<std::string> lines;
  } cases[] = {
      {"one", {"/a.d.luau"}, {"tovix: could not read /a.d.luau" + tail + "it"}},
      {"the same again", {"/a.d.luau"}, {}},
      {"two new beside it",
       {"/a.d.luau", "/b.d.luau", "/c.d.luau"},
       {"tovix: could not read /b.d.luau and 1 more file" + tail + "them"}},
      {"twenty thousand", many, {"tovix: could not read /types/0.d.luau and 19999 more files" + tail + "them"}},
      {"none", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    api_loaded(server, c.unreadable);
    EXPECT_EQ(logged(), c.lines);
  }
}

}  // namespace
}  // namespace tovix_lsp::settings
