#pragma once

// Child processes on POSIX: starting one with its standard streams wired to
// pipes, the null device or our own, killing it and waiting for it. The one
// place that calls posix_spawn, fork, kill and waitpid.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/io.h"

namespace tovix_lsp::process {

// An owned file descriptor, closed when dropped.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] explicit operator bool() const { return fd_ >= 0; }
  // Closes the descriptor held (if any) and takes `fd`.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Where one standard stream of a child goes.
enum class Stream {
  Inherit,  // the same as ours
  Null,     // the null device
  Pipe,     // a new pipe whose other end the `Child` keeps
};

// What to start. The child sees `program` as its argv[0], then `args`.
struct Command {
  std::filesystem::path program;
  std::vector<std::string> args;
  Stream in = Stream::Inherit;
  Stream out = Stream::Inherit;
  Stream err = Stream::Inherit;
  // Its own process group, so that a kill also reaches what it started.
  bool own_group = false;
  // Killed when this process ends, however it ends (a SIGKILL included):
  // for a child that may never end by itself. Tied to the thread that
  // starts it, whose end also ends the child.
  bool ends_with_us = false;
};

// How a child ended, as waitpid reports it.
struct Exit {
  int status = 0;
  // Ended normally with exit status 0.
  [[nodiscard]] bool succeeded() const;
};

// A started child. Dropping it kills it and waits for it, unless it has been
// reaped already: no path leaves a zombie, and a reaped pid (which the
// system may give to another process) is never signalled.
class Child {
 public:
  Child() = default;
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  // The process id; -1 for a moved-from child.
  [[nodiscard]] int pid() const { return pid_; }

  // SIGKILL (to the group when it has its own). No effect once reaped.
  void kill();
  // Blocks until the child has ended. Later calls give the same answer.
  Exit wait();
  // Waits at most `limit`; nothing when it is still running then.
  [[nodiscard]] std::optional<Exit> wait_for(std::chrono::milliseconds limit);
  // Whether it has ended (within `limit`), without reaping it: until `wait`,
  // a kill still reaches the group it led.
  [[nodiscard]] bool ended(std::chrono::milliseconds limit = std::chrono::milliseconds(0)) const;

  // A descriptor that becomes readable when the child ends (a pidfd); empty
  // once reaped, or where the system has none.
  [[nodiscard]] Fd watch() const;

  // Our ends of the pipes asked for (each can be taken once; empty
  // otherwise). Output pipes are read, the input pipe written.
  [[nodiscard]] Fd take_stdin() { return std::move(stdin_); }
  [[nodiscard]] Fd take_stdout() { return std::move(stdout_); }
  [[nodiscard]] Fd take_stderr() { return std::move(stderr_); }

 private:
  friend std::expected<Child, io::Error> spawn(const Command& command);
  void release();

  int pid_ = -1;
  bool own_group_ = false;
  std::optional<Exit> exit_;
  Fd stdin_;
  Fd stdout_;
  Fd stderr_;
};

// Starts `command`. The child holds its three standard streams and no other
// descriptor of ours (every one we open is close-on-exec, and any other is
// closed in the child), and starts with the default SIGPIPE and no blocked
// signals whatever this process set for itself. A failure to start (missing
// file, not executable) is an error.
[[nodiscard]] std::expected<Child, io::Error> spawn(const Command& command);

// The processor time process `pid` has used so far (user and system, all
// its threads), in clock ticks; none when it cannot be read (gone, or no
// /proc).
[[nodiscard]] std::optional<std::uint64_t> cpu_ticks(int pid);

// The read end of a pipe from a child, read until the pipe ends or the
// process behind `watch` (see `Child::watch`) ends, whichever comes first:
// what a child that has ended left in the pipe, or what something it started
// still writes there, is not its to say.
class PipeInput final : public io::Input {
 public:
  PipeInput(Fd fd, Fd watch) : fd_(std::move(fd)), watch_(std::move(watch)) {}
  std::expected<std::size_t, io::Error> read_some(std::span<char> buf) override;

 private:
  Fd fd_;
  Fd watch_;
};

// The write end of a pipe to a child. Unbuffered, so each write is flushed;
// a reader that has gone away is an error, never a SIGPIPE that would end
// this process.
class PipeOutput final : public io::Output {
 public:
  PipeOutput() = default;
  explicit PipeOutput(Fd fd) : fd_(std::move(fd)) {}
  std::expected<void, io::Error> write_all(std::string_view bytes) override;

 private:
  Fd fd_;
};

}  // namespace tovix_lsp::process
