#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace tovix_lsp::channel {

// An unbounded multi-producer, single-consumer queue. Senders are cheap to
// copy; `send` fails once the receiver is gone, and `receive` blocks until a
// value arrives (it gives nothing only when every sender is gone).
template <typename T>
class Channel {
  struct State {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> queue;
    std::size_t senders = 0;
    bool receiver_alive = true;
  };

 public:
  class Sender {
   public:
    explicit Sender(std::shared_ptr<State> state) : state_(std::move(state)) { add(1); }
    Sender(const Sender& other) : state_(other.state_) { add(1); }
    Sender& operator=(const Sender&) = delete;
    ~Sender() {
      if (!state_) return;
      std::lock_guard lock(state_->mutex);
      if (--state_->senders == 0) state_->ready.notify_all();
    }

    // False when the receiving end has been dropped; the value is lost.
    bool send(T value) const {
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->receiver_alive) return false;
        state_->queue.push_back(std::move(value));
      }
      // Woken after the lock is let go, the receiver does not block on it
      // at once: one switch less on every message.
      state_->ready.notify_one();
      return true;
    }

   private:
    void add(std::size_t n) {
      std::lock_guard lock(state_->mutex);
      state_->senders += n;
    }
    std::shared_ptr<State> state_;
  };

  class Receiver {
   public:
    explicit Receiver(std::shared_ptr<State> state) : state_(std::move(state)) {}
    Receiver(Receiver&&) = default;
    ~Receiver() {
      if (!state_) return;
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      state_->queue.clear();
    }

    std::optional<T> receive() {
      std::unique_lock lock(state_->mutex);
      state_->ready.wait(lock, [&] { return ready(); });
      return pop();
    }

    // The same, giving up after `limit` (nothing then).
    std::optional<T> receive_for(std::chrono::milliseconds limit) {
      std::unique_lock lock(state_->mutex);
      state_->ready.wait_for(lock, limit, [&] { return ready(); });
      return pop();
    }

    // Takes the value at the front without waiting, and only when `accept`
    // (called with the lock held, so it must be quick) says yes; nothing
    // otherwise. Lets the receiver see what is already waiting.
    template <typename Accept>
    std::optional<T> receive_if(Accept&& accept) {
      std::lock_guard lock(state_->mutex);
      if (state_->queue.empty() || !accept(std::as_const(state_->queue.front()))) return std::nullopt;
      return pop();
    }

   private:
    // Both under the lock.
    bool ready() const { return !state_->queue.empty() || state_->senders == 0; }
    std::optional<T> pop() {
      if (state_->queue.empty()) return std::nullopt;
      T value = std::move(state_->queue.front());
      state_->queue.pop_front();
      return value;
    }

    std::shared_ptr<State> state_;
  };

  // A connected pair of ends.
  static std::pair<Sender, Receiver> make() {
    auto state = std::make_shared<State>();
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace tovix_lsp::channel
