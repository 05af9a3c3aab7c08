#pragma once

// The child's input, written by a thread of its own: the main thread queues
// frames and never waits on a child that is busy, stopped or hung. A full-text
// change still waiting is replaced by a newer one of the same document, so a
// burst of edits to a child that reads slowly costs one text, not one a
// keystroke.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/io.h"
#include "core/process.h"

namespace tovix_lsp::outbox {

// How long the child may leave output waiting without reading any of it
// before it counts as stopped, and how often the writer looks meanwhile.
inline constexpr std::chrono::milliseconds STALL_LIMIT = std::chrono::seconds(5);
inline constexpr std::chrono::milliseconds CHECK_EVERY{250};
// A child that uses processor time meanwhile is working (loading its type
// files, checking a large file), not stopped: it is given this long.
inline constexpr std::chrono::milliseconds BUSY_STALL_LIMIT = std::chrono::seconds(60);
// How many bytes may wait for the child. A child that lets more pile up is
// not keeping up and is let go; every open document's text fits many times.
inline constexpr std::size_t MAX_QUEUED = std::size_t{64} << 20;

// Why the writer stopped before it was closed.
enum class Stop {
  Stalled,     // output waited the stall limit with nothing read
  Overflowed,  // more than MAX_QUEUED bytes would have waited
  Failed,      // a write failed (the child closed its input, most likely)
};

// What a frame is about, for replacing a waiting change by a newer one.
struct Tag {
  // The document (generated URI) the frame speaks of; empty for none.
  std::string document;
  // A full-text change of that document: a newer one replaces it while it
  // waits, unless something else about the document waits behind it.
  bool replaceable = false;
};

// How the writer tells a child that stopped reading from one that cannot
// read now.
struct Watch {
  std::chrono::milliseconds stall = STALL_LIMIT;
  std::chrono::milliseconds busy_stall = BUSY_STALL_LIMIT;
  // Whether the child's own output is waiting for us: a child blocked
  // writing to a server that is slow to read cannot read either, and has not
  // stopped; the clock does not run meanwhile.
  std::function<bool()> held;
  // Whether the child used processor time since the last call.
  std::function<bool()> busy;
};

class Outbox {
 public:
  // Takes the write end of the child's input and starts the writer. `stopped`
  // is called once, from the writer thread, when it stops on its own; it must
  // not block. An error when the thread cannot be started.
  static std::expected<std::unique_ptr<Outbox>, io::Error> start(process::Fd fd, std::function<void(Stop)> stopped,
                                                                 Watch watch = {});
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Queues one frame. False when it cannot be taken: the writer has stopped,
  // or what waits would pass MAX_QUEUED (then the writer stops, dropping
  // what waits, and `stopped` is called from here).
  [[nodiscard]] bool push(std::string frame, Tag tag = {});

  // Waits up to `limit` for everything queued to be written.
  void drain(std::chrono::milliseconds limit);

  // Stops the writer at once, dropping what waits, and joins it.
  void close();

  // Bytes waiting, the frame being written included (for tests).
  [[nodiscard]] std::size_t queued() const;

 private:
  Outbox(process::Fd fd, process::Fd wake, std::function<void(Stop)> stopped, Watch watch);
  void run();
  // Writes one frame; false when the writer must stop (closed, stalled or
  // failed, `stopped` already called for the last two).
  bool write(std::string_view frame);
  // Bytes written and not yet read by the child.
  [[nodiscard]] std::size_t unread() const;
  // Whether the child has read some of what waits for it in the last
  // stall limit (true when nothing waits).
  [[nodiscard]] bool reader_keeps_up();
  // Stops the writer for good and says why (unless it is being closed or
  // has stopped already); always false.
  bool stop(Stop why);

  struct Entry {
    std::string frame;
    Tag tag;
  };

  process::Fd fd_;
  process::Fd wake_;  // an eventfd: readable once the writer must stop (closed or overflowed)
  std::function<void(Stop)> stopped_;
  Watch watch_;

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable idle_;
  std::deque<Entry> queue_;
  std::size_t queued_bytes_ = 0;  // queue_ plus the frame being written
  bool closing_ = false;
  bool dead_ = false;  // the writer stopped on its own
  std::thread thread_;

  // The writer thread's own: bytes written in all, how many of them the
  // child had read when last looked at, and when that last grew.
  std::size_t written_ = 0;
  std::size_t consumed_ = 0;
  std::chrono::steady_clock::time_point last_read_{};
  // When the child last read, or was last seen using processor time.
  std::chrono::steady_clock::time_point last_busy_{};
};

}  // namespace tovix_lsp::outbox
