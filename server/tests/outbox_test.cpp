// The child's writer: frames reach the pipe in order, a waiting full-text
// change gives way to a newer one unless something about its document waits
// behind it, and a reader that stops, or a queue that grows past its bound,
// stops the writer and says so, while closing never waits on the reader.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/channel.h"
#include "core/outbox.h"

namespace tovix_lsp::outbox {
namespace {

using namespace std::chrono_literals;

struct Pipe {
  Pipe() {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    read_end = process::Fd(ends[0]);
    write_end = process::Fd(ends[1]);
  }
  // Everything written so far (the writer must be idle or closed).
  std::string drain() {
    std::string out;
    ::fcntl(read_end.get(), F_SETFL, O_NONBLOCK);
    char buf[65536];
    for (ssize_t n; (n = ::read(read_end.get(), buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    return out;
  }
  process::Fd read_end;
  process::Fd write_end;
};

struct Stops {
  std::atomic<int> stalled{0}, overflowed{0}, failed{0};
  std::function<void(Stop)> callback() {
    return [this](Stop why) { (why == Stop::Stalled ? stalled : why == Stop::Overflowed ? overflowed : failed)++; };
  }
};

// Whether `done` comes to hold within a limit no loaded machine reaches.
bool eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A writer on a pipe of its own, and what it said when it stopped.
struct Writer {
  explicit Writer(std::chrono::milliseconds stall, Watch watch = {}) {
    watch.stall = stall;
    auto started = Outbox::start(std::move(pipe.write_end), stops.callback(), std::move(watch));
    EXPECT_TRUE(started);
    if (started) box = std::move(*started);
  }
  Pipe pipe;
  Stops stops;
  std::unique_ptr<Outbox> box;
};

// The reader is held back while frames are queued: the first frame fills
// the pipe, so everything after it waits in the queue.
TEST(Outbox, AWaitingChangeGivesWayToANewerOneOfItsDocument) {
  const std::string fill(1 << 20, 'f');  // more than a pipe holds
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Tag>> frames;
    std::string written;  // after `fill`
  } cases[] = {
      {"changes of one document", {{"1", {"a", true}}, {"2", {"a", true}}, {"3", {"a", true}}}, "3"},
      {"changes of two documents", {{"a1", {"a", true}}, {"b1", {"b", true}}, {"a2", {"a", true}}}, "b1a2"},
      {"a request behind a change keeps it",
       {{"c1", {"a", true}}, {"request", {"a", false}}, {"c2", {"a", true}}},
       "c1requestc2"},
      {"an open is never replaced", {{"open", {"a", false}}, {"c1", {"a", true}}, {"c2", {"a", true}}}, "openc2"},
      {"frames without a document stay", {{"x", {}}, {"y", {}}}, "xy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w(10s);
    ASSERT_TRUE(w.box);
    ASSERT_TRUE(w.box->push(fill));
    for (const auto& [frame, tag] : c.frames) ASSERT_TRUE(w.box->push(frame, tag));
    std::string written;
    while (written.size() < fill.size() + c.written.size()) {
      written += w.pipe.drain();
      std::this_thread::sleep_for(1ms);
    }
    w.box->close();
    written += w.pipe.drain();
    EXPECT_EQ(written.substr(fill.size()), c.written);
    EXPECT_EQ(w.stops.stalled + w.stops.overflowed + w.stops.failed, 0);
  }
}

// With the pipe full, and with room left in it: either way what was written
// waits unread, and requests in there would never be answered.
TEST(Outbox, AReaderThatStopsStopsTheWriter) {
  for (const std::size_t size : {std::size_t{1} << 20, std::size_t{100}}) {
    SCOPED_TRACE(size);
    Writer w(100ms);
    ASSERT_TRUE(w.box);
    ASSERT_TRUE(w.box->push(std::string(size, 'x')));
    EXPECT_TRUE(eventually([&] { return w.stops.stalled > 0; }));
    EXPECT_EQ(w.stops.stalled, 1);
    EXPECT_FALSE(w.box->push("more"));
  }
}

// A child that does not read while its own output waits for us, or while
// it works, is not stopped for it (a busy one up to the longer limit); once
// neither holds, the clock runs again.
TEST(Outbox, AChildWaitingOnUsOrWorkingIsNotStopped) {
  struct Case {
    const char* name;
    bool held, busy;
    std::chrono::milliseconds busy_stall;
  } cases[] = {
      {"its output waits for us", true, false, 60s},
      {"it works", false, true, 60s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> held{c.held}, busy{c.busy};
    Watch watch;
    watch.held = [&] { return held.load(); };
    watch.busy = [&] { return busy.load(); };
    watch.busy_stall = c.busy_stall;
    Writer w(100ms, std::move(watch));
    ASSERT_TRUE(w.box);
    ASSERT_TRUE(w.box->push(std::string(100, 'x')));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(w.stops.stalled, 0);
    held = false;
    busy = false;
    EXPECT_TRUE(eventually([&] { return w.stops.stalled > 0; }));
    EXPECT_EQ(w.stops.stalled, 1);
  }
  // Working for longer than the busy limit is stopped all the same: a type
  // check can spin for ever.
  Watch spinning;
  spinning.busy = [] { return true; };
  spinning.busy_stall = 300ms;
  Writer w(100ms, std::move(spinning));
  ASSERT_TRUE(w.box);
  ASSERT_TRUE(w.box->push(std::string(100, 'x')));
  EXPECT_TRUE(eventually([&] { return w.stops.stalled > 0; }));
  EXPECT_EQ(w.stops.stalled, 1);
}

// After a quiet spell longer than the limit, a frame that fills the pipe
// gives the child the whole limit to start reading it. The limit is long
// enough that a reader on a loaded machine reads well within it.
TEST(Outbox, AQuietSpellDoesNotCountAgainstTheNextWrite) {
  Writer w(1s);
  ASSERT_TRUE(w.box);
  ASSERT_TRUE(w.box->push("first"));
  ASSERT_TRUE(eventually([&] { return !w.pipe.drain().empty(); }));
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(w.box->push(std::string(2 << 20, 'x')));
  std::this_thread::sleep_for(50ms);
  std::size_t read = 0;
  EXPECT_TRUE(eventually([&] {
    read += w.pipe.drain().size();
    return read >= (2u << 20) || w.stops.stalled > 0;
  }));
  EXPECT_EQ(read, 2u << 20);
  EXPECT_EQ(w.stops.stalled, 0);
}

// A reader that reads, however slowly, is not stopped: for three times the
// limit it reads a little every tenth of it, never the whole frame.
TEST(Outbox, ASlowReaderIsNotStopped) {
  Writer w(1s);
  ASSERT_TRUE(w.box);
  ASSERT_TRUE(w.box->push(std::string(1 << 20, 'x')));
  std::size_t read = 0;
  char buf[16384];
  while (read < (1u << 20)) {
    std::this_thread::sleep_for(100ms);
    const ssize_t n = ::read(w.pipe.read_end.get(), buf, sizeof buf);
    ASSERT_GT(n, 0);
    read += static_cast<std::size_t>(n);
    if (read >= 30 * sizeof buf) break;
  }
  EXPECT_EQ(w.stops.stalled, 0);
}

// Said once: the writer, left waiting on a pipe the reader never empties,
// does not go on to say it stalled as well.
TEST(Outbox, AQueuePastItsBoundStopsTheWriterOnce) {
  // The clock waits while the queue fills, however slowly that goes.
  std::atomic<bool> filling{true};
  Watch watch;
  watch.held = [&] { return filling.load(); };
  Writer w(100ms, std::move(watch));
  ASSERT_TRUE(w.box);
  const std::string chunk(1 << 20, 'x');
  bool refused = false;
  for (std::size_t sent = 0; sent <= MAX_QUEUED + 2 * chunk.size() && !refused; sent += chunk.size())
    refused = !w.box->push(chunk);
  EXPECT_TRUE(refused);
  EXPECT_EQ(w.stops.overflowed, 1);
  filling = false;
  std::this_thread::sleep_for(1s);  // ten stall limits
  EXPECT_EQ(w.stops.stalled + w.stops.failed, 0);
  EXPECT_FALSE(w.box->push("more"));
}

TEST(Outbox, AClosedInputIsAFailureNeverASignal) {
  Writer w(10s);
  ASSERT_TRUE(w.box);
  w.pipe.read_end.reset();
  ASSERT_TRUE(w.box->push("frame"));
  EXPECT_TRUE(eventually([&] { return w.stops.failed > 0; }));
  EXPECT_EQ(w.stops.failed, 1);
}

// Waiting on the reader would take the stall limit, far past the limit here.
TEST(Outbox, ClosingNeverWaitsOnTheReaderAndSaysNothing) {
  Writer w(60s);
  ASSERT_TRUE(w.box);
  ASSERT_TRUE(w.box->push(std::string(4 << 20, 'x')));
  std::this_thread::sleep_for(50ms);  // the writer now waits on a full pipe
  const auto started = std::chrono::steady_clock::now();
  w.box->close();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_FALSE(w.box->push("more"));
  EXPECT_EQ(w.stops.stalled + w.stops.overflowed + w.stops.failed, 0);
}

}  // namespace
}  // namespace tovix_lsp::outbox

namespace tovix_lsp::channel {
namespace {

using namespace std::chrono_literals;

TEST(Channel, BoundedSendsWaitForRoomAndKeyedOnesReplaceTheirNamesake) {
  auto [sender, receiver] = Channel<std::string>::make(10);
  EXPECT_TRUE(sender.send_bounded("a1", 4, "a"));
  EXPECT_TRUE(sender.send_bounded("b", 4));
  EXPECT_TRUE(sender.send_bounded("a2", 4, "a"));  // replaces a1, so it fits
  EXPECT_TRUE(sender.send("editor"));              // never bounded
  std::atomic<bool> sent{false};
  std::thread late([&] {
    sender.send_bounded("c", 4);
    sent = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(sent);  // 8 waiting and 4 more would pass 10
  EXPECT_EQ(receiver.receive(), "b");
  late.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(receiver.receive(), "a2");
  EXPECT_EQ(receiver.receive(), "editor");
  EXPECT_EQ(receiver.receive(), "c");
  // A value larger than the bound passes alone.
  EXPECT_TRUE(sender.send_bounded("huge", 100));
  EXPECT_EQ(receiver.receive(), "huge");
}

// The editor's messages are sent ahead: a child's backlog, however full,
// never holds them, and what each peer sent keeps its own order.
TEST(Channel, ValuesSentAheadAreReceivedBeforeEverythingWaiting) {
  auto [sender, receiver] = Channel<std::string>::make(8);
  EXPECT_TRUE(sender.send_bounded("child 1", 4));
  EXPECT_TRUE(sender.send("child exited"));
  EXPECT_TRUE(sender.send_ahead("editor 1"));
  EXPECT_TRUE(sender.send_bounded("child 2", 4));  // the bound is reached
  EXPECT_TRUE(sender.send_ahead("editor 2"));      // and this does not wait
  auto is = [](const char* wanted) { return [wanted](const std::string& value) { return value == wanted; }; };
  // What is looked at without waiting is the next to be received.
  EXPECT_EQ(receiver.receive_if(is("child 1")), std::nullopt);
  EXPECT_EQ(receiver.receive_if(is("editor 1")), "editor 1");
  EXPECT_EQ(receiver.receive(), "editor 2");
  EXPECT_EQ(receiver.receive_if(is("child 1")), "child 1");
  EXPECT_EQ(receiver.receive(), "child exited");
  EXPECT_TRUE(sender.send_ahead("editor 3"));
  EXPECT_EQ(receiver.receive_for(0ms), "editor 3");
  EXPECT_EQ(receiver.receive(), "child 2");
  EXPECT_EQ(receiver.receive_for(0ms), std::nullopt);
}

TEST(Channel, ABoundedSenderIsReleasedWhenTheReceiverGoes) {
  auto pair = Channel<int>::make(1);
  auto sender = pair.first;
  std::optional<Channel<int>::Receiver> receiver(std::move(pair.second));
  EXPECT_TRUE(sender.send_bounded(1, 1));
  std::atomic<int> result{-1};
  std::thread blocked([&] { result = sender.send_bounded(2, 1) ? 1 : 0; });
  std::this_thread::sleep_for(50ms);
  receiver.reset();
  blocked.join();
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace tovix_lsp::channel
