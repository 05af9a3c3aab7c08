#pragma once

// Reading whole files. Every descriptor is opened close-on-exec: a child
// that another thread starts meanwhile must not hold one (a file kept open,
// or a pipe's read end that keeps its writer from seeing the end). The one
// place that opens files for reading, for the compiler and the server.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <utility>

namespace tovix::files {

// A descriptor opened for reading, closed when dropped.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Opens `path` to read, close-on-exec. With `nonblocking`, opening a pipe
// that nobody writes (or a device that would wait) does not wait either.
// The error is the errno.
[[nodiscard]] std::expected<File, int> open(const std::filesystem::path& path, bool nonblocking = false);

struct ReadOptions {
  // Larger files are refused: a regular file by its size, unread; any other
  // when it gives one byte more.
  std::size_t max_bytes = 0;
  // Refuse, unread, anything but a regular file (a pipe, a device, a
  // directory), and never wait to open it.
  bool regular_only = false;
};

struct ReadError {
  enum class Kind { System, NotRegular, TooLarge };
  Kind kind = Kind::System;
  int code = 0;  // the errno of a System error
};

// The whole content of `path`, as bytes.
[[nodiscard]] std::expected<std::string, ReadError> read(const std::filesystem::path& path, const ReadOptions& options);

}  // namespace tovix::files
