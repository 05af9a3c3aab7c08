#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace tovix_lsp::io {

// What went wrong on a stream. `InvalidData` is a framing problem in
// otherwise readable bytes; `UnexpectedEof` is a stream that ended
// mid-message. `InvalidJson` is a well-framed body that cannot be taken (not
// one JSON text, or nested too deep): the stream is still in step, and the
// reader may read on.
struct Error {
  enum class Kind { Other, InvalidData, UnexpectedEof, InvalidJson };
  Kind kind = Kind::Other;
  std::string message;
};

// A source of bytes. `read_some` returns how many bytes it put into `buf`,
// 0 only at end of input.
class Input {
 public:
  virtual ~Input() = default;
  [[nodiscard]] virtual std::expected<std::size_t, Error> read_some(std::span<char> buf) = 0;
};

// A sink of bytes: all of `bytes` or an error.
class Output {
 public:
  virtual ~Output() = default;
  [[nodiscard]] virtual std::expected<void, Error> write_all(std::string_view bytes) = 0;
};

// A file descriptor, not owned. Reads and writes interrupted by a signal are
// retried.
class FdInput final : public Input {
 public:
  explicit FdInput(int fd) : fd_(fd) {}
  std::expected<std::size_t, Error> read_some(std::span<char> buf) override;

 private:
  int fd_;
};

class FdOutput final : public Output {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  std::expected<void, Error> write_all(std::string_view bytes) override;

 private:
  int fd_;
};

// Our standard output, to the editor. While the editor's input is open a
// write waits for room as long as it takes, so a slow editor gets every
// byte. Once `input_ended` is called (from any thread), a write that finds
// no room for `limit` gives the output up: it fails, and so does every
// later one at once, so that an editor that closed its side and reads
// nothing more cannot keep us from ending. Writes never block beyond what a
// wait for room allows.
class EditorOutput final : public Output {
 public:
  EditorOutput(int fd, std::chrono::milliseconds limit);
  ~EditorOutput() override;
  EditorOutput(const EditorOutput&) = delete;
  EditorOutput& operator=(const EditorOutput&) = delete;

  std::expected<void, Error> write_all(std::string_view bytes) override;
  void input_ended();

 private:
  // How many bytes a write may be given once there is room, without
  // waiting for more.
  [[nodiscard]] std::size_t room() const;

  enum class Kind { File, Pipe, Other };
  int fd_;
  int ended_;  // an eventfd, readable once the input has ended
  std::chrono::milliseconds limit_;
  Kind kind_ = Kind::Other;
  std::size_t pipe_size_ = 0;
  // The writing thread's own.
  bool input_open_ = true;
  bool given_up_ = false;
};

// In-memory streams for tests and tools. `StringInput` hands out at most
// `chunk` bytes per read so that buffering edges get exercised.
class StringInput final : public Input {
 public:
  explicit StringInput(std::string data, std::size_t chunk = SIZE_MAX) : data_(std::move(data)), chunk_(chunk) {}
  std::expected<std::size_t, Error> read_some(std::span<char> buf) override;

 private:
  std::string data_;
  std::size_t pos_ = 0;
  std::size_t chunk_;
};

class StringOutput final : public Output {
 public:
  std::expected<void, Error> write_all(std::string_view bytes) override {
    data.append(bytes);
    return {};
  }
  std::string data;
};

}  // namespace tovix_lsp::io
