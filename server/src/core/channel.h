#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tovix_lsp::channel {

// A multi-producer, single-consumer queue. Senders are cheap to copy; `send`
// fails once the receiver is gone, and `receive` blocks until a value arrives
// (it gives nothing only when every sender is gone).
//
// `send` never waits. `send_bounded` is for a peer that may write faster
// than the receiver keeps up: it waits while the costs of the bounded values
// already waiting would pass the channel's bound, and a value sent with a key
// replaces one with the same key still waiting (only the newest counts).
// `send_ahead` is for the one peer whose values must never wait behind that
// backlog: they are received before every value sent otherwise, in the order
// they were sent among themselves.
template <typename T>
class Channel {
  struct Slot {
    T value;
    std::size_t cost = 0;
    std::string key;  // empty: never replaced
  };
  struct State {
    std::mutex mutex;
    std::condition_variable ready;
    std::condition_variable room;
    std::deque<Slot> ahead;  // from send_ahead, taken first
    std::deque<Slot> queue;
    std::size_t senders = 0;
    std::size_t bounded = 0;  // costs of the bounded values waiting
    std::size_t limit = SIZE_MAX;
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
    bool send(T value) const { return push(&State::queue, std::move(value)); }

    // The same, for a value received before anything `send` or
    // `send_bounded` left waiting.
    bool send_ahead(T value) const { return push(&State::ahead, std::move(value)); }

    // The same for a value that costs `cost` (at least 1) against the bound:
    // first a waiting value with the same non-empty `key` is dropped, then
    // the sender waits until there is room (a value alone always has room).
    bool send_bounded(T value, std::size_t cost, std::string key = {}) const {
      cost = std::max<std::size_t>(cost, 1);
      {
        std::unique_lock lock(state_->mutex);
        if (!state_->receiver_alive) return false;
        if (!key.empty()) {
          auto& q = state_->queue;
          for (auto it = q.begin(); it != q.end(); ++it) {
            if (it->key != key) continue;
            state_->bounded -= it->cost;
            q.erase(it);
            break;
          }
        }
        state_->room.wait(lock, [&] {
          return !state_->receiver_alive || state_->bounded == 0 || state_->bounded + cost <= state_->limit;
        });
        if (!state_->receiver_alive) return false;
        state_->bounded += cost;
        state_->queue.push_back(Slot{std::move(value), cost, std::move(key)});
      }
      state_->ready.notify_one();
      return true;
    }

   private:
    bool push(std::deque<Slot> State::*lane, T value) const {
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->receiver_alive) return false;
        ((*state_).*lane).push_back(Slot{std::move(value), 0, {}});
      }
      // Woken after the lock is let go, the receiver does not block on it
      // at once: one switch less on every message.
      state_->ready.notify_one();
      return true;
    }

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
      {
        std::lock_guard lock(state_->mutex);
        state_->receiver_alive = false;
        state_->ahead.clear();
        state_->queue.clear();
        state_->bounded = 0;
      }
      state_->room.notify_all();
    }

    std::optional<T> receive() {
      std::optional<T> value;
      {
        std::unique_lock lock(state_->mutex);
        state_->ready.wait(lock, [&] { return ready(); });
        value = pop();
      }
      state_->room.notify_all();
      return value;
    }

    // The same, giving up after `limit` (nothing then).
    std::optional<T> receive_for(std::chrono::milliseconds limit) {
      std::optional<T> value;
      {
        std::unique_lock lock(state_->mutex);
        state_->ready.wait_for(lock, limit, [&] { return ready(); });
        value = pop();
      }
      state_->room.notify_all();
      return value;
    }

    // Takes the value at the front without waiting, and only when `accept`
    // (called with the lock held, so it must be quick) says yes; nothing
    // otherwise. Lets the receiver see what is already waiting.
    template <typename Accept>
    std::optional<T> receive_if(Accept&& accept) {
      std::optional<T> value;
      {
        std::lock_guard lock(state_->mutex);
        const Slot* front = this->front();
        if (front == nullptr || !accept(std::as_const(front->value))) return std::nullopt;
        value = pop();
      }
      state_->room.notify_all();
      return value;
    }

   private:
    // All under the lock.
    bool ready() const { return front() != nullptr || state_->senders == 0; }
    const Slot* front() const {
      if (!state_->ahead.empty()) return &state_->ahead.front();
      if (!state_->queue.empty()) return &state_->queue.front();
      return nullptr;
    }
    std::optional<T> pop() {
      std::deque<Slot>& from = state_->ahead.empty() ? state_->queue : state_->ahead;
      if (from.empty()) return std::nullopt;
      Slot& front = from.front();
      T value = std::move(front.value);
      state_->bounded -= front.cost;
      from.pop_front();
      return value;
    }

    std::shared_ptr<State> state_;
  };

  // A connected pair of ends; `limit` bounds the costs of `send_bounded`.
  static std::pair<Sender, Receiver> make(std::size_t limit = SIZE_MAX) {
    auto state = std::make_shared<State>();
    state->limit = limit;
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace tovix_lsp::channel
