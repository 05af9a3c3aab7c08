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
#include <unistd.h>

namespace tovix_lsp::outbox {

std::expected<std::unique_ptr<Outbox>, io::Error> Outbox::start(process::Fd fd, std::function<void(Stop)> stopped,
                                                                std::chrono::milliseconds stall) {
  // Writes never block: a child that stops reading is seen by the clock,
  // and close() is never kept waiting by a write.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0)
    return std::unexpected(io::Error{io::Error::Kind::Other, std::strerror(errno)});
  process::Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) return std::unexpected(io::Error{io::Error::Kind::Other, std::strerror(errno)});
  std::unique_ptr<Outbox> box(new Outbox(std::move(fd), std::move(wake), std::move(stopped), stall));
  try {
    box->thread_ = std::thread([raw = box.get()] { raw->run(); });
  } catch (const std::system_error&) {
    return std::unexpected(io::Error{io::Error::Kind::Other, "failed to spawn thread"});
  }
  return box;
}

Outbox::Outbox(process::Fd fd, process::Fd wake, std::function<void(Stop)> stopped, std::chrono::milliseconds stall)
    : fd_(std::move(fd)), wake_(std::move(wake)), stopped_(std::move(stopped)), stall_(stall) {}

Outbox::~Outbox() { close(); }

bool Outbox::push(std::string frame, Tag tag) {
  {
    std::lock_guard lock(mutex_);
    if (closing_ || dead_) return false;
    if (tag.replaceable && !tag.document.empty()) {
      // Only the last frame about the document may be replaced: one behind
      // it (a request) was asked of the text that change carries.
      auto last = std::find_if(queue_.rbegin(), queue_.rend(),
                               [&](const Entry& e) { return e.tag.document == tag.document; });
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

void Outbox::run() {
  // A child gone away is EPIPE here, never a SIGPIPE that would end us: the
  // signal stays blocked (and pending, harmlessly) until the thread ends.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  for (;;) {
    std::string frame;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (closing_) return;
      frame = std::move(queue_.front().frame);
      queue_.pop_front();
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
  using clock = std::chrono::steady_clock;
  auto last_progress = clock::now();
  // Stopped before it is said, so that whoever hears it finds the writer
  // refusing.
  auto stop = [&](Stop why) {
    {
      std::lock_guard lock(mutex_);
      if (closing_) return false;
      dead_ = true;
      queue_.clear();
    }
    stopped_(why);
    return false;
  };
  while (!frame.empty()) {
    const ssize_t n = ::write(fd_.get(), frame.data(), frame.size());
    if (n > 0) {
      frame.remove_prefix(static_cast<std::size_t>(n));
      last_progress = clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return stop(Stop::Failed);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(stall_ - (clock::now() - last_progress));
    if (left.count() <= 0) return stop(Stop::Stalled);
    pollfd fds[2] = {{fd_.get(), POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno != EINTR) return stop(Stop::Failed);
    if (fds[1].revents != 0) return false;  // closed
  }
  return true;
}

}  // namespace tovix_lsp::outbox
