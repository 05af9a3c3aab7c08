// The built tovix-lsp driven over pipes, as an editor drives it.

#include <gtest/gtest.h>

#include "core/cli.h"
#include "lsp_process.h"

namespace tovix_lsp {
namespace {

using json = nlohmann::json;
using testing::LspProcess;
using testing::run_to_end;

const std::string BINARY = TOVIX_LSP_BINARY;
// Written out rather than taken from the program, so a slip in its text shows.
const std::string USAGE =
    "usage: tovix-lsp [--stdio]\n"
    "\n"
    "Speaks the Language Server Protocol on stdin and stdout. It owns .tovix files,\n"
    "answers everything about the markup itself, and forwards Luau questions to a\n"
    "stock luau-lsp with positions translated in both directions.\n"
    "\n"
    "  --version   print this server's version and the compiler it was built against\n"
    "  --help      show this message\n"
    "\n"
    "Settings come from the editor, not from flags: tovix.server.path,\n"
    "tovix.luauLsp.path and tovix.trace.server, plus the luau-lsp.* settings the\n"
    "user already has, which are passed through to the child.";

TEST(CommandLine, Arguments) {
  ASSERT_EQ(USAGE.size(), 557u);
  EXPECT_EQ(cli::USAGE, USAGE);
  const std::string VERSION = "tovix-lsp 0.1.2 (tovix 0.1.3)\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--version"}, 0, VERSION, ""},
      {{"-V"}, 0, VERSION, ""},
      {{"--stdio", "--version"}, 0, VERSION, ""},
      {{"--version", "--bogus"}, 0, VERSION, ""},
      {{"--help"}, 0, USAGE + "\n", ""},
      {{"-h"}, 0, USAGE + "\n", ""},
      {{"--bogus", "--version"}, 2, "", "tovix-lsp: unknown argument --bogus\n\n" + USAGE + "\n"},
      {{"-v"}, 2, "", "tovix-lsp: unknown argument -v\n\n" + USAGE + "\n"},
      {{"--VERSION"}, 2, "", "tovix-lsp: unknown argument --VERSION\n\n" + USAGE + "\n"},
      {{"-version"}, 2, "", "tovix-lsp: unknown argument -version\n\n" + USAGE + "\n"},
      {{"--stdio=1"}, 2, "", "tovix-lsp: unknown argument --stdio=1\n\n" + USAGE + "\n"},
      {{""}, 2, "", "tovix-lsp: unknown argument \n\n" + USAGE + "\n"},
      {{"--stdio", "--stdio"}, 0, "", ""},
      {{}, 0, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    auto ran = run_to_end(BINARY, c.args);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(ran.out, c.out);
    EXPECT_EQ(ran.err, c.err);
  }
}

TEST(Spine, AnswersAndEndsWithTheInput) {
  LspProcess lsp(BINARY, {"--stdio"});
  lsp.send(json::array({1, 2}));       // not a message: dropped
  lsp.send(json{{"jsonrpc", "2.0"}});  // neither id nor method: dropped
  lsp.send(json{{"jsonrpc", "2.0"}, {"id", 9}, {"method", "workspace/symbol"}, {"params", json::object()}});
  auto answer = lsp.receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->dump(),
            R"({"error":{"code":-32601,"message":"workspace/symbol is not supported"},"id":9,"jsonrpc":"2.0"})");
  lsp.close_stdin();
  EXPECT_EQ(lsp.drain_stdout(), "");
  EXPECT_EQ(lsp.wait(), 0);
}

TEST(Spine, AnEditorThatStopsReadingDoesNotKillTheServer) {
  LspProcess lsp(BINARY, {});
  lsp.close_stdout();
  lsp.send(json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "nope"}});  // its answer has nowhere to go
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(), 0);
}

TEST(Spine, ExitStatusFollowsShutdown) {
  {
    LspProcess lsp(BINARY, {});
    lsp.send(json{{"jsonrpc", "2.0"}, {"method", "exit"}});
    EXPECT_EQ(lsp.wait(), 1);
    EXPECT_EQ(lsp.drain_stdout(), "");
  }
  {
    LspProcess lsp(BINARY, {});
    lsp.send(json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "shutdown"}});
    auto answer = lsp.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->dump(), R"({"id":1,"jsonrpc":"2.0","result":null})");
    lsp.send(json{{"jsonrpc", "2.0"}, {"method", "exit"}});
    EXPECT_EQ(lsp.wait(), 0);
    EXPECT_EQ(lsp.drain_stdout(), "");
  }
}

TEST(Spine, TraceEchoesMessagesToTheEditor) {
  LspProcess lsp(BINARY, {});
  lsp.send(json{{"jsonrpc", "2.0"}, {"method", "$/setTrace"}, {"params", {{"value", "verbose"}}}});
  lsp.send(json{{"jsonrpc", "2.0"}, {"id", 2}, {"method", "nope"}});
  ASSERT_TRUE(lsp.receive());
  lsp.close_stdin();
  EXPECT_EQ(lsp.wait(), 0);
  EXPECT_EQ(lsp.stderr_text(),
            "-> {\"error\":{\"code\":-32601,\"message\":\"nope is not supported\"},\"id\":2,\"jsonrpc\":\"2.0\"}\n");
}

}  // namespace
}  // namespace tovix_lsp
