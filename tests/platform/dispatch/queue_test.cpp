#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/dispatch.h"
#include "wait.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr dispatch_time_t kDeadline = 10 * NSEC_PER_SEC;

bool waitSemaphore(const dispatch_semaphore_t& s) {
  return dispatch_semaphore_wait(s, dispatch_time(DISPATCH_TIME_NOW, kDeadline)) == 0;
}

// Waits until everything submitted to `queue` before this call has run.
bool flush(const dispatch_queue_t& queue) {
  auto done = dispatch_semaphore_create(0);
  dispatch_async(queue, [done] { dispatch_semaphore_signal(done); });
  return waitSemaphore(done);
}

double threadCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double processCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(DispatchSerialQueueTest, KeepsOrderOfManySubmittersWithoutOverlapOrLoss) {
  auto queue = dispatch_queue_create("test.serial.order");
  constexpr int kSubmitters = 4;
  constexpr int kPerSubmitter = 2500;
  std::vector<std::vector<int>> seen(kSubmitters);  // touched only by blocks of `queue`
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};

  std::vector<std::thread> submitters;
  for (int s = 0; s < kSubmitters; ++s) {
    submitters.emplace_back([&, s] {
      for (int i = 0; i < kPerSubmitter; ++i) {
        dispatch_async(queue, [&, s, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          seen[s].push_back(i);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& t : submitters) t.join();
  ASSERT_TRUE(flush(queue));

  EXPECT_FALSE(overlapped);
  for (int s = 0; s < kSubmitters; ++s) {
    ASSERT_EQ(seen[s].size(), static_cast<std::size_t>(kPerSubmitter)) << "submitter " << s;
    for (int i = 0; i < kPerSubmitter; ++i) ASSERT_EQ(seen[s][i], i) << "submitter " << s;
  }
}

TEST(DispatchSerialQueueTest, SyncRunsInlineOnItsOwnQueue) {
  auto queue = dispatch_queue_create("test.serial.sync");
  static const char kKey = 0;
  int marker = 7;
  dispatch_queue_set_specific(queue, &kKey, &marker);
  EXPECT_EQ(dispatch_queue_get_specific(queue, &kKey), &marker);
  EXPECT_EQ(dispatch_get_specific(&kKey), nullptr);  // the test thread is on no queue

  // Nested sync from outside: the inner call finds itself on the queue.
  int depth = 0;
  void* seenSpecific = nullptr;
  dispatch_sync(queue, [&] {
    EXPECT_EQ(dispatch_get_current_queue(), queue);
    dispatch_sync(queue, [&] {
      depth = 2;
      seenSpecific = dispatch_get_specific(&kKey);
    });
  });
  EXPECT_EQ(depth, 2);
  EXPECT_EQ(seenSpecific, &marker);

  // Sync from inside an asynchronous block of the same queue, on the same thread.
  auto done = dispatch_semaphore_create(0);
  std::atomic<bool> sameThread{false};
  dispatch_async(queue, [&, done] {
    auto outer = std::this_thread::get_id();
    dispatch_sync(queue, [&] { sameThread = std::this_thread::get_id() == outer; });
    dispatch_semaphore_signal(done);
  });
  ASSERT_TRUE(waitSemaphore(done));
  EXPECT_TRUE(sameThread);

  // Another queue does not see this queue's key.
  auto other = dispatch_queue_create("test.serial.other");
  void* otherSpecific = &marker;
  dispatch_sync(other, [&] { otherSpecific = dispatch_get_specific(&kKey); });
  EXPECT_EQ(otherSpecific, nullptr);
  EXPECT_STREQ(dispatch_queue_get_label(queue), "test.serial.sync");
  EXPECT_STREQ(dispatch_queue_get_label(nullptr), "");
}

TEST(DispatchSerialQueueTest, RunIfIdleRunsOnTheCallerOnlyWhileNothingElseHoldsTheQueue) {
  auto queue = dispatch_queue_create("run-if-idle", DISPATCH_QUEUE_SERIAL);
  std::mutex m;
  std::vector<int> order;
  auto record = [&](int n) {
    std::lock_guard lock(m);
    order.push_back(n);
  };
  const auto caller = std::this_thread::get_id();

  // Idle: at once, here, with the queue as current; a block submitted meanwhile
  // waits for it and runs after it.
  std::thread::id ranOn;
  bool sawQueue = false;
  dispatch_async_or_run_if_idle(queue, [&] {
    ranOn = std::this_thread::get_id();
    sawQueue = dispatch_get_current_queue() == queue;
    dispatch_async(queue, [&] { record(2); });
    record(1);
  });
  EXPECT_EQ(ranOn, caller);
  EXPECT_TRUE(sawQueue);
  ASSERT_TRUE(flush(queue));

  // Busy: queued behind what holds the queue, never beside it.
  auto release = dispatch_semaphore_create(0);
  dispatch_async(queue, [&, release] {
    waitSemaphore(release);
    record(3);
  });
  dispatch_async_or_run_if_idle(queue, [&] { record(4); });
  // Suspended: held like any other block.
  dispatch_semaphore_signal(release);
  ASSERT_TRUE(flush(queue));
  dispatch_suspend(queue);
  dispatch_async_or_run_if_idle(queue, [&] { record(5); });
  {
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  }
  dispatch_resume(queue);
  ASSERT_TRUE(flush(queue));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    order.clear();
  }

  // Short blocks handed to the queue the same way while this thread holds it (also
  // from inside another queue's run) follow here, in order, before the call returns;
  // once a plain block waits in the queue, later ones queue behind it.
  // (A fresh queue: the last flush's drain may still hold the other one a moment.)
  auto held = dispatch_queue_create("run-if-idle.held", DISPATCH_QUEUE_SERIAL);
  auto inner = dispatch_queue_create("run-if-idle.inner", DISPATCH_QUEUE_SERIAL);
  std::atomic<int> elsewhere{0};
  auto here = [&](int n) {
    if (std::this_thread::get_id() != caller) ++elsewhere;
    record(n);
  };
  dispatch_async_or_run_if_idle(held, [&] {
    dispatch_async_or_run_if_idle(inner, [&] {
      dispatch_async_or_run_if_idle(held, [&] {
        here(11);
        dispatch_async_or_run_if_idle(held, [&] { here(13); });
      });
    });
    dispatch_async_or_run_if_idle(held, [&] { here(12); });
    here(10);
  });
  {
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<int>{10, 11, 12, 13}));
  }
  EXPECT_EQ(elsewhere, 0);
  dispatch_async_or_run_if_idle(held, [&] {
    dispatch_async_or_run_if_idle(held, [&] { record(21); });
    dispatch_async(held, [&] { record(22); });
    dispatch_async_or_run_if_idle(held, [&] { record(23); });
    record(20);
  });
  ASSERT_TRUE(flush(held));
  {
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<int>{10, 11, 12, 13, 20, 21, 22, 23}));
  }
  // A suspension meanwhile holds the ones not yet run until the resume (a fresh
  // queue again, idle for certain).
  auto suspended = dispatch_queue_create("run-if-idle.suspended", DISPATCH_QUEUE_SERIAL);
  dispatch_async_or_run_if_idle(suspended, [&] {
    dispatch_async_or_run_if_idle(suspended, [&] { record(31); });
    dispatch_suspend(suspended);
    record(30);
  });
  {
    std::lock_guard lock(m);
    EXPECT_EQ(order.back(), 30);
  }
  dispatch_resume(suspended);
  ASSERT_TRUE(flush(suspended));
  std::lock_guard lock(m);
  EXPECT_EQ(order, (std::vector<int>{10, 11, 12, 13, 20, 21, 22, 23, 30, 31}));
}

TEST(DispatchSerialQueueTest, SyncBetweenTwoQueuesAndBackRunsInline) {
  // A block of A waits for B, whose block calls back into A: A is on the calling
  // chain, so the call back runs inline instead of waiting for A to finish.
  auto a = dispatch_queue_create("test.chain.a");
  auto b = dispatch_queue_create("test.chain.b");
  auto done = dispatch_semaphore_create(0);
  std::atomic<int> steps{0};
  dispatch_async(a, [&, done] {
    dispatch_sync(b, [&] {
      steps = 1;
      dispatch_sync(a, [&] { steps = 2; });
    });
    dispatch_semaphore_signal(done);
  });
  ASSERT_TRUE(waitSemaphore(done));
  EXPECT_EQ(steps, 2);
}

TEST(DispatchQueueSpecificTest, TargetChainAndDestructors) {
  static const char kGlobalKey = 0, kOwnKey = 0;
  static std::atomic<int> destroyed{0};
  auto destroy = [](void*) { ++destroyed; };
  auto global = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
  int globalMarker = 1;
  dispatch_queue_set_specific(global, &kGlobalKey, &globalMarker);

  void* seen = nullptr;
  auto queue = dispatch_queue_create("test.specific");
  dispatch_sync(queue, [&] { seen = dispatch_get_specific(&kGlobalKey); });
  EXPECT_EQ(seen, &globalMarker);  // serial queues target the default global queue
  dispatch_queue_set_specific(global, &kGlobalKey, nullptr);

  int a = 0, b = 0;
  dispatch_queue_set_specific(queue, &kOwnKey, &a, destroy);
  dispatch_queue_set_specific(queue, &kOwnKey, &b, destroy);  // replaces: destroys a
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(dispatch_queue_get_specific(queue, &kOwnKey), &b);
  queue.reset();  // the queue's end (once its last block is done with it) destroys b
  EXPECT_TRUE(qvtest::waitUntil([] { return destroyed == 2; }));
}

TEST(DispatchMainQueueTest, SyncOnMainThreadRunsInlineAndDrainDoesNotReenter) {
  ASSERT_TRUE(dispatch_is_main_thread());
  bool ran = false;
  dispatch_sync(dispatch_get_main_queue(), [&] { ran = true; });
  EXPECT_TRUE(ran);

  std::vector<int> order;
  std::size_t nested = 99;
  dispatch_async(dispatch_get_main_queue(), [&] {
    order.push_back(1);
    EXPECT_TRUE(dispatch_main_queue::isRunningBlock());
    dispatch_async(dispatch_get_main_queue(), [&] { order.push_back(3); });
    nested = dispatch_main_queue::drain();  // no second main-queue block inside this one
  });
  dispatch_async(dispatch_get_main_queue(), [&] { order.push_back(2); });
  EXPECT_TRUE(dispatch_main_queue::hasPendingWork());
  EXPECT_EQ(dispatch_main_queue::drain(), 2u);  // only what was pending when called
  EXPECT_EQ(nested, 0u);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(dispatch_main_queue::drain(), 1u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(dispatch_main_queue::isRunningBlock());

  // Other threads cannot drain the main queue.
  std::size_t fromWorker = 99;
  dispatch_async(dispatch_get_main_queue(), [] {});
  std::thread([&] { fromWorker = dispatch_main_queue::drain(); }).join();
  EXPECT_EQ(fromWorker, 0u);
  EXPECT_EQ(dispatch_main_queue::drain(), 1u);
}

TEST(DispatchAfterTest, NeverFiresEarly) {
  struct Probe {
    std::int64_t delayNs;
    Clock::time_point submitted;
    std::atomic<std::int64_t> elapsedNs{-1};
  };
  std::vector<Probe> probes(60);
  auto queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    Probe& p = probes[i];
    p.delayNs = static_cast<std::int64_t>(i % 20) * 1'500'000 + static_cast<std::int64_t>(i) * 37'000;
    p.submitted = Clock::now();
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, p.delayNs), queue, [&p] {
      p.elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - p.submitted).count();
    });
  }
  auto serial = dispatch_queue_create("test.after.serial");
  std::atomic<std::int64_t> serialElapsed{-1};
  auto serialStart = Clock::now();
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 25 * NSEC_PER_MSEC), serial, [&] {
    serialElapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - serialStart).count();
  });

  ASSERT_TRUE(qvtest::waitUntil([&] {
    for (auto& p : probes) {
      if (p.elapsedNs < 0) return false;
    }
    return serialElapsed >= 0;
  }));
  for (auto& p : probes) EXPECT_GE(p.elapsedNs, p.delayNs) << "delay " << p.delayNs << " ns";
  EXPECT_GE(serialElapsed, 25 * NSEC_PER_MSEC);
}

TEST(DispatchTimeTest, ArithmeticSaturatesAndHugeTimeoutsDoNotSpin) {
  EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER, -5), DISPATCH_TIME_FOREVER);
  dispatch_time_t now = dispatch_now();
  EXPECT_GT(now, 0u);
  EXPECT_GE(dispatch_time(now, INT64_MAX), now);
  EXPECT_GE(dispatch_time(DISPATCH_TIME_NOW, INT64_MIN), 1u);
  EXPECT_EQ(dispatch_time(now, -5), now - 5);
  EXPECT_LT(dispatch_time(DISPATCH_TIME_NOW, INT64_MAX), DISPATCH_TIME_FOREVER);

  // A far-away deadline is a long wait, not a busy loop: neither for a waiter nor
  // for the timer thread that holds a far-away delayed block.
  auto far = dispatch_time(DISPATCH_TIME_NOW, INT64_MAX);
  dispatch_after(far, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [] {});
  auto sem = dispatch_semaphore_create(0);
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 100 * NSEC_PER_MSEC),
                 dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [sem] { dispatch_semaphore_signal(sem); });
  double cpuBefore = threadCpuSeconds();
  auto wallBefore = Clock::now();
  EXPECT_EQ(dispatch_semaphore_wait(sem, far), 0);
  double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  EXPECT_LT(threadCpuSeconds() - cpuBefore, 0.5 * wall);

  double processBefore = processCpuSeconds();
  wallBefore = Clock::now();
  EXPECT_NE(dispatch_semaphore_wait(sem, dispatch_time(DISPATCH_TIME_NOW, 100 * NSEC_PER_MSEC)), 0);
  wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  EXPECT_LT(processCpuSeconds() - processBefore, 0.5 * wall);
}

TEST(DispatchGlobalQueueTest, LongTasksDoNotHoldBackOthers) {
  auto background = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND);
  auto release = dispatch_semaphore_create(0);
  constexpr int kBlockers = 6;
  std::atomic<int> blockersRunning{0};
  for (int i = 0; i < kBlockers; ++i) {
    dispatch_async(background, [&, release] {
      ++blockersRunning;
      dispatch_semaphore_wait(release, DISPATCH_TIME_FOREVER);  // an endless task, until the test ends
      --blockersRunning;
    });
  }
  ASSERT_TRUE(qvtest::waitUntil([&] { return blockersRunning == kBlockers; }));

  std::atomic<int> ran{0};
  for (int i = 0; i < 20; ++i) dispatch_async(background, [&] { ++ran; });
  EXPECT_TRUE(qvtest::waitUntil([&] { return ran == 20; }));

  // A serial queue is not held back either.
  auto serial = dispatch_queue_create("test.behind.blockers");
  EXPECT_TRUE(flush(serial));

  for (int i = 0; i < kBlockers; ++i) dispatch_semaphore_signal(release);
  EXPECT_TRUE(qvtest::waitUntil([&] { return blockersRunning == 0; }));
  EXPECT_EQ(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND),
            dispatch_get_global_queue(-100));
  EXPECT_NE(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_HIGH), background);
}

TEST(DispatchConcurrentQueueTest, RunsBlocksSideBySideAndSuspends) {
  auto queue = dispatch_queue_create("test.concurrent", DISPATCH_QUEUE_CONCURRENT);
  // Two blocks that wait for each other finish only if they run at the same time.
  auto first = dispatch_semaphore_create(0), second = dispatch_semaphore_create(0);
  std::atomic<int> finished{0};
  dispatch_async(queue, [&, first, second] {
    dispatch_semaphore_signal(first);
    if (waitSemaphore(second)) ++finished;
  });
  dispatch_async(queue, [&, first, second] {
    dispatch_semaphore_signal(second);
    if (waitSemaphore(first)) ++finished;
  });
  EXPECT_TRUE(qvtest::waitUntil([&] { return finished == 2; }));

  bool inlineRan = false;
  dispatch_sync(queue, [&] {
    inlineRan = dispatch_get_current_queue() == queue;
  });
  EXPECT_TRUE(inlineRan);

  dispatch_suspend(queue);
  std::atomic<bool> ran{false};
  dispatch_async(queue, [&] { ran = true; });
  EXPECT_FALSE(qvtest::waitUntil([&] { return ran.load(); }, 60ms));
  dispatch_resume(queue);
  EXPECT_TRUE(qvtest::waitUntil([&] { return ran.load(); }));
}

TEST(DispatchSerialQueueTest, SuspendHoldsBlocksUntilResume) {
  auto queue = dispatch_queue_create("test.serial.suspend");
  dispatch_suspend(queue);
  dispatch_suspend(queue);
  std::atomic<int> ran{0};
  for (int i = 0; i < 3; ++i) dispatch_async(queue, [&] { ++ran; });
  dispatch_resume(queue);
  EXPECT_FALSE(qvtest::waitUntil([&] { return ran > 0; }, 60ms));
  dispatch_resume(queue);
  EXPECT_TRUE(qvtest::waitUntil([&] { return ran == 3; }));
  dispatch_resume(queue);  // unbalanced: ignored
  EXPECT_TRUE(flush(queue));

  // A block that throws does not stop the queue.
  dispatch_async(queue, [] { throw std::runtime_error("block failure"); });
  EXPECT_TRUE(flush(queue));
}

TEST(DispatchOnceTest, RunsOnceForRacingThreads) {
  static dispatch_once_t once;
  std::atomic<int> runs{0};
  int value = 0;
  std::vector<std::thread> threads;
  std::atomic<int> sawValue{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      dispatch_once(&once, [&] {
        ++runs;
        value = 42;
      });
      if (value == 42) ++sawValue;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(sawValue, 8);
}

TEST(DispatchSemaphoreTest, CountsAndTimesOut) {
  EXPECT_EQ(dispatch_semaphore_create(-1), nullptr);
  auto sem = dispatch_semaphore_create(2);
  EXPECT_EQ(dispatch_semaphore_wait(sem, DISPATCH_TIME_NOW), 0);
  EXPECT_EQ(dispatch_semaphore_wait(sem, DISPATCH_TIME_NOW), 0);
  EXPECT_NE(dispatch_semaphore_wait(sem, DISPATCH_TIME_NOW), 0);

  auto start = Clock::now();
  EXPECT_NE(dispatch_semaphore_wait(sem, dispatch_time(DISPATCH_TIME_NOW, 30 * NSEC_PER_MSEC)), 0);
  EXPECT_GE(Clock::now() - start, 30ms);

  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [sem] { dispatch_semaphore_signal(sem); });
  EXPECT_TRUE(waitSemaphore(sem));
  EXPECT_NE(dispatch_semaphore_wait(nullptr, DISPATCH_TIME_NOW), 0);
}

// The child half of the exit test below: threads keep using the main and global
// queues while the process exits. An exit handler registered before the queues
// are first used runs after their statics would be destroyed, and holds the exit
// until the threads have gone on using the queues for a while.
std::atomic<long> childCalls{0};

TEST(DispatchExitChild, DISABLED_ExitWhileQueuesAreBusy) {
  std::atexit([] {
    long start = childCalls;
    qvtest::waitUntil([start] { return childCalls > start + 2000; }, 2s);
  });
  for (int t = 0; t < 3; ++t) {
    std::thread([] {
      for (;;) {
        dispatch_async(dispatch_get_main_queue(), [] {});
        dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_BACKGROUND), [] {});
        ++childCalls;
      }
    }).detach();
  }
  qvtest::waitUntil([] { return childCalls > 1000; });
  std::exit(0);
}

TEST(DispatchExitTest, ProcessExitsCleanlyWhileQueuesAreInUse) {
  std::string self = "/proc/self/exe";
  std::string filter = "--gtest_filter=DispatchExitChild.DISABLED_ExitWhileQueuesAreBusy";
  std::string disabled = "--gtest_also_run_disabled_tests";
  char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
  for (int run = 0; run < 3; ++run) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << run << ", status " << status;
  }
}

}  // namespace
