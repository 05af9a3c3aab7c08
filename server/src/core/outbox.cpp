#include "core/outbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tovix_lsp::outbox {

std::expected<std::unique_ptr<Outbox>, io::Error> Outbox::start(process::Fd fd, std::function<void(Stop)> stopped,
                                                                Watch watch) {
  // Writes never block: a child that stops reading is seen by the clock,
  // and close() is never kept waiting by a write.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0)
    return std::unexpected(io::Error{io::Error::Kind::Other, std::strerror(errno)});
  process::Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) return std::unexpected(io::Error{io::Error::Kind::Other, std::strerror(errno)});
  std::unique_ptr<Outbox> box(new Outbox(std::move(fd), std::move(wake), std::move(stopped), std::move(watch)));
  try {
    box->thread_ = std::thread([raw = box.get()] { raw->run(); });
  } catch (const std::system_error&) {
    return std::unexpected(io::Error{io::Error::Kind::Other, "failed to spawn thread"});
  }
  return box;
}

Outbox::Outbox(process::Fd fd, process::Fd wake, std::function<void(Stop)> stopped, Watch watch)
    : fd_(std::move(fd)), wake_(std::move(wake)), stopped_(std::move(stopped)), watch_(std::move(watch)) {}

Outbox::~Outbox() { close(); }

bool Outbox::push(std::string frame, Tag tag) {
  {
    std::lock_guard lock(mutex_);
    if (closing_ || dead_) return false;
    if (tag.replaceable && !tag.document.empty()) {
      // Only the last frame about the document may be replaced: one behind
      // it (a request) was asked of the text that change carries.
      auto last =
          std::find_if(queue_.rbegin(), queue_.rend(), [&](const Entry& e) { return e.tag.document == tag.document; });
      if (last != queue_.rend() && last->tag.replaceable) {
        queued_bytes_ -= last->frame.size();
        queue_.erase(std::next(last).base());
      }
    }
    if (queued_bytes_ + frame.size() <= MAX_QUEUED) {
      queued_bytes_ += frame.size();
      queue_.push_back(Entry{std::move(frame), std::move(tag)});
      ready_.notify_one();
      return true;
    }
    dead_ = true;
    queue_.clear();
  }
  // The writer stops too, quietly: it has been said.
  ready_.notify_one();
  const std::uint64_t one = 1;
  (void)!::write(wake_.get(), &one, sizeof one);
  stopped_(Stop::Overflowed);
  return false;
}

void Outbox::close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    queue_.clear();
  }
  ready_.notify_one();
  const std::uint64_t one = 1;
  (void)!::write(wake_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void Outbox::drain(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  idle_.wait_for(lock, limit, [&] { return queued_bytes_ == 0 || dead_ || closing_; });
}

std::size_t Outbox::queued() const {
  std::lock_guard lock(mutex_);
  return queued_bytes_;
}

std::size_t Outbox::unread() const {
  int n = 0;
  if (::ioctl(fd_.get(), FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::size_t>(n);
}

bool Outbox::reader_keeps_up() {
  const auto now = std::chrono::steady_clock::now();
  const std::size_t waiting = unread();
  const std::size_t consumed = written_ - std::min(written_, waiting);
  if (waiting == 0 || consumed != consumed_ || (watch_.held && watch_.held())) {
    consumed_ = consumed;
    last_read_ = now;
    last_busy_ = now;
    return true;
  }
  // Asked at every look, so that it answers for the time since the last:
  // a child stopped after working is stopped from then on.
  if (watch_.busy && watch_.busy()) last_busy_ = now;
  return now - last_busy_ < watch_.stall && now - last_read_ < watch_.busy_stall;
}

bool Outbox::stop(Stop why) {
  // Stopped before it is said, so that whoever hears it finds the writer
  // refusing.
  {
    std::lock_guard lock(mutex_);
    // Closed, or stopped already (an overflow, on the pushing thread): said
    // once at most.
    if (closing_ || dead_) return false;
    dead_ = true;
    queue_.clear();
  }
  stopped_(why);
  return false;
}

void Outbox::run() {
  // A child gone away is EPIPE here, never a SIGPIPE that would end us: the
  // signal stays blocked (and pending, harmlessly) until the thread ends.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  last_read_ = std::chrono::steady_clock::now();
  last_busy_ = last_read_;
  for (;;) {
    std::string frame;
    {
      std::unique_lock lock(mutex_);
      // What was written and is still unread is watched too: a child that
      // stops reading with room left in the pipe has stopped all the same
      // (and the requests in there are never answered).
      const auto woken = [&] { return closing_ || dead_ || !queue_.empty(); };
      while (!woken()) {
        if (unread() == 0) {
          ready_.wait(lock, woken);
          break;
        }
        ready_.wait_for(lock, CHECK_EVERY, woken);
        if (!woken() && !reader_keeps_up()) {
          lock.unlock();
          stop(Stop::Stalled);
          return;
        }
      }
      if (closing_ || dead_) return;
      frame = std::move(queue_.front().frame);
      queue_.pop_front();
    }
    // The clock runs only while something waits: after a quiet spell it
    // starts now, not at the child's last read long ago.
    if (!reader_keeps_up()) {
      stop(Stop::Stalled);
      return;
    }
    const bool go_on = write(frame);
    {
      std::lock_guard lock(mutex_);
      queued_bytes_ -= std::min(queued_bytes_, frame.size());
      if (!go_on) {
        dead_ = true;
        queue_.clear();
        queued_bytes_ = 0;
      }
    }
    idle_.notify_all();
    if (!go_on) return;
  }
}

bool Outbox::write(std::string_view frame) {
  while (!frame.empty()) {
    const ssize_t n = ::write(fd_.get(), frame.data(), frame.size());
    if (n > 0) {
      frame.remove_prefix(static_cast<std::size_t>(n));
      written_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return stop(Stop::Failed);
    if (!reader_keeps_up()) return stop(Stop::Stalled);
    pollfd fds[2] = {{fd_.get(), POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(CHECK_EVERY.count()));
    if (ready < 0 && errno != EINTR) return stop(Stop::Failed);
    if (fds[1].revents != 0) return false;  // closed, or overflowed
  }
  return true;
}

}  // namespace tovix_lsp::outbox
