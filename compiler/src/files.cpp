#include "tovix/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovix::files {

namespace {

// Bytes asked of each read: a few reads for a large file, little waste for
// a small one.
constexpr std::size_t CHUNK = std::size_t{1} << 18;

}  // namespace

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

std::expected<File, int> open(const std::filesystem::path& path, bool nonblocking) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (nonblocking ? O_NONBLOCK : 0));
    if (fd >= 0) return File(fd);
    if (errno != EINTR) return std::unexpected(errno);
  }
}

std::expected<std::string, ReadError> read(const std::filesystem::path& path, const ReadOptions& options) {
  auto file = open(path, options.regular_only);
  if (!file) return std::unexpected(ReadError{ReadError::Kind::System, file.error()});
  struct stat st {};
  if (::fstat(file->get(), &st) != 0) return std::unexpected(ReadError{ReadError::Kind::System, errno});
  const bool regular = S_ISREG(st.st_mode);
  if (options.regular_only && !regular) return std::unexpected(ReadError{ReadError::Kind::NotRegular});
  if (regular && static_cast<std::uintmax_t>(st.st_size) > options.max_bytes)
    return std::unexpected(ReadError{ReadError::Kind::TooLarge});

  std::string text;
  if (regular) text.reserve(static_cast<std::size_t>(st.st_size) + 1);
  // No further than one byte past the limit: a file that grew, or one that
  // never ends, is refused without being held in memory.
  for (;;) {
    const std::size_t had = text.size();
    const std::size_t want = std::min(CHUNK, options.max_bytes + 1 - had);
    text.resize(had + want);
    const ssize_t got = ::read(file->get(), text.data() + had, want);
    if (got < 0) {
      text.resize(had);
      if (errno == EINTR) continue;
      return std::unexpected(ReadError{ReadError::Kind::System, errno});
    }
    text.resize(had + static_cast<std::size_t>(got));
    if (got == 0) return text;
    if (text.size() > options.max_bytes) return std::unexpected(ReadError{ReadError::Kind::TooLarge});
  }
}

}  // namespace tovix::files
