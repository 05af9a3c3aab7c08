#include "core/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "process_table.h"

namespace tovix_lsp::process {
namespace {

// Starts cat on two pipes, sends it `text`, closes its input and gives back
// what it wrote.
std::string round_trip(const std::string& text) {
  Command command;
  command.program = "/bin/cat";
  command.in = Stream::Pipe;
  command.out = Stream::Pipe;
  auto child = spawn(command);
  EXPECT_TRUE(child) << child.error().message;
  if (!child) return "";
  Fd out = child->take_stdout();
  {
    PipeOutput in(child->take_stdin());
    EXPECT_TRUE(in.write_all(text));
  }
  std::string got;
  char buffer[256];
  for (ssize_t n; (n = ::read(out.get(), buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
  EXPECT_TRUE(child->wait().succeeded());
  const int pid = child->pid();
  child.value() = Child();
  EXPECT_TRUE(testing::gone(pid));
  return got;
}

TEST(Process, PipesCarryBytesBothWays) { EXPECT_EQ(round_trip("hello\n"), "hello\n"); }

// With our own standard input and output closed, new pipes land on
// descriptors 0 and 1; the child's streams must still be wired right.
TEST(Process, PipesWorkWithOurStandardStreamsClosed) {
  int saved_in = ::dup(STDIN_FILENO), saved_out = ::dup(STDOUT_FILENO);
  ::close(STDIN_FILENO);
  ::close(STDOUT_FILENO);
  std::string got = round_trip("both ways\n");
  ::dup2(saved_in, STDIN_FILENO);
  ::dup2(saved_out, STDOUT_FILENO);
  ::close(saved_in);
  ::close(saved_out);
  EXPECT_EQ(got, "both ways\n");
}

TEST(Process, WaitForGivesUpWhileTheChildRuns) {
  Command command;
  command.program = "/bin/sleep";
  command.args = {"60"};
  auto child = spawn(command);
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->wait_for(std::chrono::milliseconds(50)));
  child->kill();
  auto exit = child->wait_for(std::chrono::seconds(10));
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->succeeded());
  // Once reaped, a kill does nothing and the answer stays.
  child->kill();
  EXPECT_EQ(child->wait().status, exit->status);
}

}  // namespace
}  // namespace tovix_lsp::process
