// Files are opened close-on-exec, so that a child another thread starts
// meanwhile holds none of them.

#include "tovix/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace tovix::files {
namespace {

TEST(Files, EveryDescriptorIsCloseOnExec) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / ("tovix-files-" + std::to_string(::getpid()));
  std::ofstream(file) << "text";
  for (const bool nonblocking : {false, true}) {
    SCOPED_TRACE(nonblocking);
    auto opened = open(file, nonblocking);
    ASSERT_TRUE(opened);
    EXPECT_NE(::fcntl(opened->get(), F_GETFD) & FD_CLOEXEC, 0);
  }
  EXPECT_EQ(read(file, {.max_bytes = 4}), "text");
  fs::remove(file);
}

}  // namespace
}  // namespace tovix::files
