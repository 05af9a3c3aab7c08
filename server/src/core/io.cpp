#include "core/io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovix_lsp::io {

std::expected<std::size_t, Error> FdInput::read_some(std::span<char> buf) {
  for (;;) {
    ssize_t n = ::read(fd_, buf.data(), buf.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    return std::unexpected(Error{Error::Kind::Other, std::strerror(errno)});
  }
}

std::expected<void, Error> FdOutput::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(Error{Error::Kind::Other, std::strerror(errno)});
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

EditorOutput::EditorOutput(int fd, std::chrono::milliseconds limit)
    : fd_(fd), ended_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), limit_(limit) {
  struct stat st {};
  if (::fstat(fd_, &st) == 0) {
    if (S_ISREG(st.st_mode)) kind_ = Kind::File;
    if (S_ISFIFO(st.st_mode)) kind_ = Kind::Pipe;
  }
  if (kind_ == Kind::Pipe) {
    const int size = ::fcntl(fd_, F_GETPIPE_SZ);
    if (size > 0) pipe_size_ = static_cast<std::size_t>(size);
  }
}

EditorOutput::~EditorOutput() {
  if (ended_ >= 0) ::close(ended_);
}

void EditorOutput::input_ended() {
  const std::uint64_t one = 1;
  (void)!::write(ended_, &one, sizeof one);
}

std::size_t EditorOutput::room() const {
  // A file never makes a write wait. A pipe said to be writable has room
  // for PIPE_BUF bytes at least, and an empty one for all it holds; so
  // does any other stream for PIPE_BUF, as far as the system says.
  if (kind_ == Kind::File) return SIZE_MAX;
  int unread = 0;
  if (kind_ == Kind::Pipe && pipe_size_ > 0 && ::ioctl(fd_, FIONREAD, &unread) == 0 && unread == 0) return pipe_size_;
  return PIPE_BUF;
}

std::expected<void, Error> EditorOutput::write_all(std::string_view bytes) {
  const auto gone = [] { return std::unexpected(Error{Error::Kind::Other, "the editor does not read its input"}); };
  if (given_up_) return gone();
  auto waiting_since = std::chrono::steady_clock::now();
  while (!bytes.empty()) {
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {ended_, POLLIN, 0}};
    int timeout = -1;
    if (!input_open_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(waiting_since + limit_ - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
    }
    const int ready = ::poll(fds, input_open_ && ended_ >= 0 ? 2 : 1, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(Error{Error::Kind::Other, std::strerror(errno)});
    }
    if (ready == 0) {
      given_up_ = true;
      return gone();
    }
    if (input_open_ && fds[1].revents != 0) {
      // The clock starts now, for this wait too.
      input_open_ = false;
      waiting_since = std::chrono::steady_clock::now();
    }
    if (fds[0].revents == 0) continue;
    const ssize_t n = ::write(fd_, bytes.data(), std::min(bytes.size(), room()));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::unexpected(Error{Error::Kind::Other, std::strerror(errno)});
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    waiting_since = std::chrono::steady_clock::now();
  }
  return {};
}

std::expected<std::size_t, Error> StringInput::read_some(std::span<char> buf) {
  std::size_t n = std::min({buf.size(), data_.size() - pos_, chunk_});
  std::memcpy(buf.data(), data_.data() + pos_, n);
  pos_ += n;
  return n;
}

}  // namespace tovix_lsp::io
