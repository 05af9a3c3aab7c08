#include "core/settings.h"

#include "core/child_session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A named definitions file that is a pipe: a load reading it waits until
// the test writes it.
class Pipe {
 public:
  explicit Pipe(const testing::TempTree& tree) : path_(tree.root() / "pipe.d.luau") {
    EXPECT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  }
  ~Pipe() { finish(""); }
  [[nodiscard]] const fs::path& path() const { return path_; }

  // Waits until a load has opened it to read.
  void await_reader() {
    if (fd_ < 0) fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_GE(fd_, 0);
  }
  // Writes `text` and closes: the load reads to its end.
  void finish(std::string_view text) {
    if (fd_ < 0) return;
    EXPECT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd_);
    fd_ = -1;
  }

 private:
  fs::path path_;
  int fd_ = -1;
};

json naming(const fs::path& definitions) {
  return {{"types", {{"definitionFiles", json::array({definitions.string()})}}}};
}

std::vector<std::string> next_load(events::Events::Receiver& events) {
  auto event = events.receive_for(std::chrono::seconds(90));
  EXPECT_TRUE(event && std::holds_alternative<events::ApiLoaded>(*event));
  if (!event || !std::holds_alternative<events::ApiLoaded>(*event)) return {"(no load ended)"};
  return std::get<events::ApiLoaded>(*event).unreadable;
}

// A load asked while one runs waits for it, and still has its chance when
// that one keeps nothing.
TEST(ApiLoader, LoadsOneAtATimeInTheOrderAsked) {
  testing::TempTree tree;
  Pipe pipe(tree);
  const fs::path readable = tree.file("a.d.luau", "declare class A\n\tx: number\nend\n");
  api::Slot slot;
  auto [sender, receiver] = events::Events::make();
  ApiLoader loader(slot, sender);
  loader.load(naming(pipe.path()), locate::Environment{});
  loader.load(naming(readable), locate::Environment{});
  pipe.await_reader();
  pipe.finish("\xff");  // not UTF-8: cannot be read
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{pipe.path().string()});
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{});
  ASSERT_NE(slot.present(), nullptr);
  EXPECT_EQ(slot.present()->member("A", "x")->ty, "number");
}

// Dropping the loader does not wait for a load under way, which ends on its
// own, into the slot.
TEST(ApiLoader, ALoadUnderWayIsNotWaitedFor) {
  testing::TempTree tree;
  Pipe pipe(tree);
  api::Slot slot;
  auto [sender, receiver] = events::Events::make();
  auto loader = std::make_unique<ApiLoader>(slot, sender);
  loader->load(naming(pipe.path()), locate::Environment{});
  pipe.await_reader();
  loader.reset();
  pipe.finish("declare class B\nend\n");
  EXPECT_EQ(next_load(receiver), std::vector<std::string>{});
  ASSERT_NE(slot.present(), nullptr);
  EXPECT_TRUE(slot.present()->classes.contains("B"));
}

}  // namespace
}  // namespace tovix_lsp::settings
