#include "core/io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

std::expected<std::size_t, Error> StringInput::read_some(std::span<char> buf) {
  std::size_t n = std::min({buf.size(), data_.size() - pos_, chunk_});
  std::memcpy(buf.data(), data_.data() + pos_, n);
  pos_ += n;
  return n;
}

}  // namespace tovix_lsp::io
