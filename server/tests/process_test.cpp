// A started child holds its three standard streams and no other descriptor
// of ours, whichever way it is started: not a type file being read on
// another thread meanwhile, not one some library opened without
// close-on-exec.

#include "core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_tree.h"
#include "tovix/files.h"

namespace tovix_lsp::process {
namespace {

namespace fs = std::filesystem;

// The descriptors process `pid` holds, in order.
std::vector<int> descriptors(int pid) {
  std::vector<int> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    out.push_back(std::stoi(entry.path().filename().string()));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Spawn, TheChildHoldsOnlyItsStandardStreams) {
  // What this test process was given without close-on-exec is not ours to
  // judge: only what is opened here counts.
  for (const int fd : descriptors(::getpid()))
    if (fd > 2) (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  const testing::TempTree tree;
  const fs::path types = tree.file("globalTypes.None.d.luau", "declare class A\n\tx: number\nend\n");
  // A type file as the loader holds it while it reads, and one opened the
  // way a library might.
  auto reading = tovix::files::open(types);
  ASSERT_TRUE(reading);
  const int careless = ::open(types.c_str(), O_RDONLY);
  ASSERT_GE(careless, 0);

  struct Case {
    const char* what;
    bool ends_with_us;
  };
  for (const Case& c : {Case{"luau-lsp", false}, Case{"a probe", true}}) {
    SCOPED_TRACE(c.what);
    Command command{.program = TOVIX_STAND_IN_BINARY,
                    .args = {"lsp", "--stdio"},
                    .in = Stream::Pipe,
                    .out = Stream::Pipe,
                    .own_group = true,
                    .ends_with_us = c.ends_with_us};
    auto child = spawn(command);
    ASSERT_TRUE(child) << child.error().message;
    // Once it answers, it has started (the loader's own descriptors are
    // closed): what it holds now is what it was given.
    const Fd in = child->take_stdin();
    const Fd out = child->take_stdout();
    const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})";
    const std::string frame = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ASSERT_EQ(::write(in.get(), frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    pollfd answered{out.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&answered, 1, 30000), 1) << "no answer to initialize";
    EXPECT_EQ(descriptors(child->pid()), (std::vector<int>{0, 1, 2}));
  }
  ::close(careless);
}

TEST(Spawn, AProgramThatCannotRunIsAnError) {
  const testing::TempTree tree;
  const fs::path plain = tree.file("plain", "#!/bin/sh\nexit 0\n", 0644);
  for (const bool ends_with_us : {false, true}) {
    SCOPED_TRACE(ends_with_us);
    for (const fs::path& program : {tree.root() / "missing", plain}) {
      Command command;
      command.program = program;
      command.ends_with_us = ends_with_us;
      EXPECT_FALSE(spawn(command)) << program;
    }
  }
}

}  // namespace
}  // namespace tovix_lsp::process
