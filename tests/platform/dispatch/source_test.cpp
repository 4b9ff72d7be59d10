#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/dispatch.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;

struct Pipe {
  int read = -1, write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  void send(const std::string& text) const { ASSERT_EQ(::write(write, text.data(), text.size()), ssize_t(text.size())); }
};

// Records what a source's handlers saw, from whichever thread they ran on.
struct Recorder {
  std::mutex mutex;
  std::vector<unsigned long> data;
  std::string bytes;
  std::atomic<int> events{0};
  std::atomic<int> cancels{0};
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> offQueue{false};  // a handler ran without its queue as current

  std::vector<unsigned long> snapshot() {
    std::lock_guard lock(mutex);
    return data;
  }
};

dispatch_source_t makeReader(int fd, Recorder& rec, const dispatch_queue_t& queue) {
  auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<std::uintptr_t>(fd), 0, queue);
  std::weak_ptr<DispatchSource> weak = source;
  dispatch_source_set_event_handler(source, [&rec, weak, fd, queue] {
    auto self = weak.lock();
    if (rec.running.fetch_add(1) != 0) rec.overlapped = true;
    if (dispatch_get_current_queue() != queue) rec.offQueue = true;
    unsigned long n = dispatch_source_get_data(self);
    std::string chunk(n, '\0');
    ssize_t got = n ? ::read(fd, chunk.data(), n) : 0;
    {
      std::lock_guard lock(rec.mutex);
      rec.data.push_back(n);
      if (got > 0) rec.bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
    rec.running.fetch_sub(1);
    ++rec.events;
  });
  dispatch_source_set_cancel_handler(source, [&rec] {
    if (rec.running.fetch_add(1) != 0) rec.overlapped = true;
    rec.running.fetch_sub(1);
    ++rec.cancels;
  });
  return source;
}

TEST(DispatchReadSourceTest, ReportsBytesWaitingThenEndOfFileAndCancelsOnce) {
  Pipe pipe;
  ASSERT_GE(pipe.read, 0);
  Recorder rec;
  auto queue = dispatch_queue_create("test.source.read");
  auto source = makeReader(pipe.read, rec, queue);
  EXPECT_EQ(dispatch_source_get_handle(source), static_cast<std::uintptr_t>(pipe.read));

  pipe.send("hello");
  EXPECT_FALSE(qvtest::waitUntil([&] { return rec.events > 0; }, 40ms));  // a new source is suspended
  dispatch_resume(source);
  ASSERT_TRUE(qvtest::waitUntil([&] { return rec.events >= 1; }));
  EXPECT_EQ(rec.snapshot().front(), 5u);

  dispatch_suspend(source);
  pipe.send("0123456789");
  EXPECT_FALSE(qvtest::waitUntil([&] { return rec.events > 1; }, 40ms));
  dispatch_resume(source);
  ASSERT_TRUE(qvtest::waitUntil([&] {
    std::lock_guard lock(rec.mutex);
    return rec.bytes == "hello0123456789";
  }));

  // Bytes arriving while a block holds the queue wait for it: the handler runs
  // after the block, never beside it, whichever thread it is delivered on.
  auto release = dispatch_semaphore_create(0);
  std::atomic<bool> holding{false};
  dispatch_async(queue, [&, release] {
    holding = true;
    dispatch_semaphore_wait(release, DISPATCH_TIME_FOREVER);
    holding = false;
  });
  ASSERT_TRUE(qvtest::waitUntil([&] { return holding.load(); }));
  const int eventsBefore = rec.events;
  pipe.send("!");
  EXPECT_FALSE(qvtest::waitUntil([&] { return rec.events > eventsBefore; }, 40ms));
  dispatch_semaphore_signal(release);
  ASSERT_TRUE(qvtest::waitUntil([&] {
    std::lock_guard lock(rec.mutex);
    return rec.bytes == "hello0123456789!";
  }));

  pipe.closeWrite();
  ASSERT_TRUE(qvtest::waitUntil([&] {
    auto d = rec.snapshot();
    return !d.empty() && d.back() == 0;
  }));
  dispatch_source_cancel(source);
  EXPECT_EQ(dispatch_source_testcancel(source), 1);
  ASSERT_TRUE(qvtest::waitUntil([&] { return rec.cancels == 1; }));
  int eventsAfterCancel = rec.events;
  dispatch_source_cancel(source);
  dispatch_suspend(source);
  dispatch_resume(source);
  EXPECT_FALSE(qvtest::waitUntil([&] { return rec.cancels > 1 || rec.events > eventsAfterCancel; }, 50ms));
  EXPECT_FALSE(rec.overlapped);
  EXPECT_FALSE(rec.offQueue);
}

TEST(DispatchReadSourceTest, CancelWhileSuspendedRunsAfterResume) {
  Pipe pipe;
  Recorder rec;
  auto source = makeReader(pipe.read, rec, dispatch_queue_create("test.source.suspended"));
  dispatch_resume(source);
  dispatch_suspend(source);
  pipe.send("x");
  dispatch_source_cancel(source);
  EXPECT_FALSE(qvtest::waitUntil([&] { return rec.cancels > 0; }, 50ms));
  dispatch_resume(source);
  EXPECT_TRUE(qvtest::waitUntil([&] { return rec.cancels == 1; }));
  EXPECT_EQ(rec.events, 0);  // a cancelled source delivers no further events

  // A source cancelled before it was ever resumed also waits for its resume.
  Recorder fresh;
  auto unstarted = makeReader(pipe.read, fresh, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT));
  dispatch_source_cancel(unstarted);
  EXPECT_FALSE(qvtest::waitUntil([&] { return fresh.cancels > 0; }, 30ms));
  dispatch_resume(unstarted);
  EXPECT_TRUE(qvtest::waitUntil([&] { return fresh.cancels == 1; }));
}

TEST(DispatchReadSourceTest, CancelDuringEventHandlerRunsAfterIt) {
  Pipe pipe;
  std::atomic<bool> inHandler{false}, releaseHandler{false}, handlerDone{false};
  std::atomic<int> events{0};
  std::atomic<bool> cancelSawHandlerDone{false};
  std::atomic<int> cancels{0};
  // A concurrent target queue: only the source itself keeps its handlers apart.
  auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<std::uintptr_t>(pipe.read), 0,
                                       dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT));
  dispatch_source_set_event_handler(source, [&] {
    ++events;
    inHandler = true;
    qvtest::waitUntil([&] { return releaseHandler.load(); });
    handlerDone = true;
  });
  dispatch_source_set_cancel_handler(source, [&] {
    cancelSawHandlerDone = handlerDone.load();
    ++cancels;
  });
  dispatch_resume(source);
  pipe.send("data");
  ASSERT_TRUE(qvtest::waitUntil([&] { return inHandler.load(); }));
  dispatch_source_cancel(source);
  EXPECT_FALSE(qvtest::waitUntil([&] { return cancels > 0; }, 50ms));
  releaseHandler = true;
  ASSERT_TRUE(qvtest::waitUntil([&] { return cancels == 1; }));
  EXPECT_TRUE(cancelSawHandlerDone);
  EXPECT_EQ(events, 1);
}

TEST(DispatchReadSourceTest, SocketPeerCloseReportsEndOfFile) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  Recorder rec;
  auto source = makeReader(fds[0], rec, dispatch_queue_create("test.source.socket"));
  dispatch_source_set_cancel_handler(source, [&rec, fd = fds[0]] {
    ::close(fd);  // the cancel handler owns the descriptor
    ++rec.cancels;
  });
  dispatch_resume(source);
  ASSERT_EQ(::write(fds[1], "abc", 3), 3);
  ASSERT_TRUE(qvtest::waitUntil([&] { return rec.events >= 1; }));
  ::close(fds[1]);
  ASSERT_TRUE(qvtest::waitUntil([&] {
    auto d = rec.snapshot();
    return !d.empty() && d.back() == 0;
  }));
  EXPECT_EQ(rec.snapshot().front(), 3u);
  dispatch_source_cancel(source);
  EXPECT_TRUE(qvtest::waitUntil([&] { return rec.cancels == 1; }));
}

TEST(DispatchReadSourceTest, NewSourceOnReusedDescriptorFires) {
  // A source whose descriptor is closed without cancelling it first must not keep
  // a new source on the same descriptor number from being watched.
  Recorder stale;
  auto first = std::make_unique<Pipe>();
  int number = first->read;
  auto old = makeReader(first->read, stale, dispatch_queue_create("test.source.stale"));
  dispatch_resume(old);
  first.reset();

  Pipe second;
  ASSERT_EQ(second.read, number);  // the lowest free descriptor is reused
  Recorder rec;
  auto fresh = makeReader(second.read, rec, dispatch_queue_create("test.source.fresh"));
  dispatch_resume(fresh);
  second.send("reuse");
  EXPECT_TRUE(qvtest::waitUntil([&] { return rec.events >= 1; }));
  dispatch_source_cancel(fresh);
  dispatch_source_cancel(old);
  EXPECT_TRUE(qvtest::waitUntil([&] { return rec.cancels == 1 && stale.cancels == 1; }));
}

TEST(DispatchReadSourceTest, ManySourcesCreatedAndDroppedWhileBusy) {
  // Sources released from their handlers' queues while the descriptor thread still
  // looks at them: nothing may deadlock or be lost.
  constexpr int kRounds = 100;
  std::atomic<int> cancelled{0};
  std::atomic<int> delivered{0};
  auto queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
  for (int i = 0; i < kRounds; ++i) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<std::uintptr_t>(fds[0]), 0, queue);
    std::weak_ptr<DispatchSource> weak = source;
    dispatch_source_set_event_handler(source, [weak, fd = fds[0], &delivered] {
      char buf[16];
      while (::read(fd, buf, sizeof buf) > 0) {
      }
      ++delivered;
      if (auto self = weak.lock()) dispatch_source_cancel(self);
    });
    auto keep = std::make_shared<dispatch_source_t>(source);
    dispatch_source_set_cancel_handler(source, [fds, keep, &cancelled] {
      ::close(fds[0]);
      ::close(fds[1]);
      ++cancelled;
      keep->reset();  // the last reference goes while the library may still look at it
    });
    dispatch_resume(source);
    ASSERT_EQ(::write(fds[1], "z", 1), 1);
    source.reset();
  }
  ASSERT_TRUE(qvtest::waitUntil([&] { return cancelled == kRounds; }, std::chrono::seconds(30)));
  EXPECT_EQ(delivered, kRounds);
}

TEST(DispatchWriteSourceTest, FiresWhileWritable) {
  Pipe pipe;
  std::atomic<int> events{0};
  std::atomic<unsigned long> lastData{0};
  auto source = dispatch_source_create(DISPATCH_SOURCE_TYPE_WRITE, static_cast<std::uintptr_t>(pipe.write), 0,
                                       dispatch_queue_create("test.source.write"));
  std::weak_ptr<DispatchSource> weak = source;
  dispatch_source_set_event_handler(source, [&, weak] {
    lastData = dispatch_source_get_data(weak.lock());
    if (++events == 3) dispatch_source_cancel(weak.lock());
  });
  std::atomic<bool> cancelled{false};
  dispatch_source_set_cancel_handler(source, [&] { cancelled = true; });
  dispatch_resume(source);
  EXPECT_TRUE(qvtest::waitUntil([&] { return cancelled.load(); }));
  EXPECT_EQ(events, 3);
  EXPECT_EQ(lastData, 1u);
}

TEST(DispatchTimerSourceTest, RepeatsSuspendsResumesAndStopsOnCancel) {
  std::atomic<int> fires{0};  // timer expirations, as reported by the data
  std::atomic<int> runs{0};   // handler runs
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  auto timer = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0,
                                      dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH));
  std::weak_ptr<DispatchSource> weak = timer;
  dispatch_source_set_event_handler(timer, [&, weak] {
    if (running.fetch_add(1) != 0) overlapped = true;
    unsigned long d = dispatch_source_get_data(weak.lock());
    if (d == 0) overlapped = true;  // a fire always reports at least one expiration
    fires += static_cast<int>(d);
    ++runs;
    // Busy for longer than the interval, so that fires pile up meanwhile.
    auto until = std::chrono::steady_clock::now() + 3ms;
    while (std::chrono::steady_clock::now() < until) {
    }
    running.fetch_sub(1);
  });
  std::atomic<int> cancels{0};
  dispatch_source_set_cancel_handler(timer, [&] { ++cancels; });
  dispatch_source_set_timer(timer, dispatch_time(DISPATCH_TIME_NOW, 2 * NSEC_PER_MSEC), 1 * NSEC_PER_MSEC, 0);
  dispatch_resume(timer);
  ASSERT_TRUE(qvtest::waitUntil([&] { return fires >= 10; }));
  EXPECT_FALSE(overlapped);

  dispatch_suspend(timer);
  ASSERT_TRUE(qvtest::waitUntil([&] { return running == 0; }));
  int runsAtSuspend = runs;
  EXPECT_FALSE(qvtest::waitUntil([&] { return runs > runsAtSuspend + 1; }, 40ms));  // at most one in flight
  int firesAtResume = fires;
  dispatch_resume(timer);
  ASSERT_TRUE(qvtest::waitUntil([&] { return runs > runsAtSuspend + 3; }));
  // The expirations of the suspended ~40 ms are reported together after the resume.
  EXPECT_GE(fires - firesAtResume, 10);

  dispatch_source_cancel(timer);
  ASSERT_TRUE(qvtest::waitUntil([&] { return cancels == 1; }));
  int atCancel = fires;
  EXPECT_FALSE(qvtest::waitUntil([&] { return fires != atCancel; }, 40ms));
  EXPECT_FALSE(overlapped);
}

TEST(DispatchTimerSourceTest, OneShotAndReArmedTimers) {
  std::atomic<int> fires{0};
  auto timer = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_queue_create("test.timer.once"));
  auto start = std::chrono::steady_clock::now();
  std::atomic<std::int64_t> firstAfterNs{-1};
  dispatch_source_set_event_handler(timer, [&] {
    if (fires++ == 0) {
      firstAfterNs = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    }
  });
  dispatch_source_set_timer(timer, dispatch_time(DISPATCH_TIME_NOW, 20 * NSEC_PER_MSEC), DISPATCH_TIME_FOREVER, 0);
  dispatch_resume(timer);
  ASSERT_TRUE(qvtest::waitUntil([&] { return fires == 1; }));
  EXPECT_GE(firstAfterNs, 20 * NSEC_PER_MSEC);
  EXPECT_FALSE(qvtest::waitUntil([&] { return fires > 1; }, 50ms));

  // Re-arming replaces the schedule; a far start means no fire.
  dispatch_source_set_timer(timer, DISPATCH_TIME_NOW, 2 * NSEC_PER_MSEC, 0);
  ASSERT_TRUE(qvtest::waitUntil([&] { return fires >= 4; }));
  dispatch_source_set_timer(timer, DISPATCH_TIME_FOREVER, 0, 0);
  ASSERT_TRUE(qvtest::waitUntil([&] {
    int seen = fires;
    return !qvtest::waitUntil([&] { return fires != seen; }, 20ms);
  }));
  dispatch_source_cancel(timer);
}

}  // namespace
