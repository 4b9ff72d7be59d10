#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "dispatch/dispatch.h"
#include "foundation/runloop.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Turns the main run loop (the test body runs on the main thread) until `done`
// holds or the deadline passes.
bool runMainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
  auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
  }
  return true;
}

TEST(RunLoopTimerTest, FiresOnTimeRepeatsAndStops) {
  ASSERT_TRUE(dispatch_is_main_thread());
  auto start = Clock::now();
  Clock::time_point firedAt;
  auto once = CFRunLoopTimerCreate(0.03, 0, [&] {
    firedAt = Clock::now();
    CFRunLoopStop(CFRunLoopGetMain());
  });
  CFRunLoopAddTimer(CFRunLoopGetMain(), once, kCFRunLoopDefaultMode);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, false), kCFRunLoopRunStopped);
  EXPECT_GE(firedAt - start, 30ms);
  EXPECT_FALSE(CFRunLoopTimerIsValid(once));  // a one-shot timer is done after firing

  int ticks = 0;
  CFRunLoopTimerRef repeating;
  repeating = NSRunLoop::scheduledTimer(0.005, true, [&] {
    if (++ticks == 4) CFRunLoopTimerInvalidate(repeating);
  });
  EXPECT_TRUE(runMainUntil([&] { return !CFRunLoopTimerIsValid(repeating); }));
  EXPECT_EQ(ticks, 4);
  EXPECT_FALSE(runMainUntil([&] { return ticks > 4; }, 30ms));

  bool delayed = false;
  NSRunLoop::performAfterDelay(0.01, [&] { delayed = true; });
  EXPECT_TRUE(runMainUntil([&] { return delayed; }));
}

TEST(RunLoopTimerTest, TimerInvalidatedByAnotherCalloutOfTheSamePassDoesNotFire) {
  // Both are due at once, so one pass of the run loop finds both.
  bool secondFired = false;
  CFRunLoopTimerRef second = CFRunLoopTimerCreate(0, 0, [&] { secondFired = true; });
  bool firstFired = false;
  CFRunLoopTimerRef first = CFRunLoopTimerCreate(0, 0, [&] {
    firstFired = true;
    CFRunLoopTimerInvalidate(second);
  });
  CFRunLoopAddTimer(CFRunLoopGetMain(), first, kCFRunLoopDefaultMode);
  CFRunLoopAddTimer(CFRunLoopGetMain(), second, kCFRunLoopDefaultMode);
  EXPECT_TRUE(runMainUntil([&] { return firstFired; }));
  EXPECT_FALSE(secondFired);
}

TEST(RunLoopModeTest, ItemsServeOnlyTheirModesAndTheCommonOnes) {
  const CFRunLoopMode tracking = "QVTestTrackingMode";
  const CFRunLoopMode modal = "QVTestModalMode";
  CFRunLoopRef main = CFRunLoopGetMain();
  int trackingFires = 0, commonFires = 0;
  CFRunLoopAddTimer(main, CFRunLoopTimerCreate(0, 0, [&] { ++trackingFires; }), tracking);
  CFRunLoopAddTimer(main, CFRunLoopTimerCreate(0, 0, [&] { ++commonFires; }), kCFRunLoopCommonModes);

  CFRunLoopRunInMode(modal, 0.02, false);  // neither tracking nor common
  EXPECT_EQ(trackingFires, 0);
  EXPECT_EQ(commonFires, 0);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.02, false);
  EXPECT_EQ(trackingFires, 0);
  EXPECT_EQ(commonFires, 1);
  CFRunLoopRunInMode(tracking, 0.02, false);
  EXPECT_EQ(trackingFires, 1);

  // A mode added to the common modes serves common items.
  CFRunLoopAddCommonMode(main, modal);
  CFRunLoopAddTimer(main, CFRunLoopTimerCreate(0, 0, [&] { ++commonFires; }), kCFRunLoopCommonModes);
  std::optional<CFRunLoopMode> modeInside;
  CFRunLoopPerformBlock(main, modal, [&] { modeInside = CFRunLoopCopyCurrentMode(main); });
  CFRunLoopRunInMode(modal, 0.02, false);
  EXPECT_EQ(commonFires, 2);
  EXPECT_EQ(modeInside, modal);
  EXPECT_EQ(CFRunLoopCopyCurrentMode(main), std::nullopt);
}

TEST(RunLoopMainQueueTest, DrainsMainQueueAndDelayedMainBlocks) {
  std::atomic<bool> onMain{false}, ran{false};
  dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT), [&] {
    dispatch_async(dispatch_get_main_queue(), [&] {
      onMain = dispatch_is_main_thread();
      ran = true;
    });
  });
  EXPECT_TRUE(runMainUntil([&] { return ran.load(); }));
  EXPECT_TRUE(onMain);

  auto start = Clock::now();
  Clock::time_point at;
  bool after = false;
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, 20 * NSEC_PER_MSEC), dispatch_get_main_queue(), [&] {
    at = Clock::now();
    after = true;
  });
  EXPECT_TRUE(runMainUntil([&] { return after; }));
  EXPECT_GE(at - start, 20ms);

  // A main-queue block arriving while the run loop waits wakes it up.
  std::thread poster([] {
    qvtest::waitUntil([] { return CFRunLoopIsWaiting(CFRunLoopGetMain()); }, 2s);
    dispatch_async(dispatch_get_main_queue(), [] {});
  });
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
  poster.join();
}

TEST(RunLoopMainQueueTest, NestedRunFiresTimersButStartsNoSecondMainBlock) {
  bool outerDone = false, secondRan = false, timerFired = false;
  bool secondRanDuringNested = true;
  std::optional<CFRunLoopMode> nestedMode;
  dispatch_async(dispatch_get_main_queue(), [&] {
    dispatch_async(dispatch_get_main_queue(), [&] { secondRan = true; });
    CFRunLoopAddTimer(CFRunLoopGetMain(), CFRunLoopTimerCreate(0.01, 0, [&] {
                        timerFired = true;
                        nestedMode = CFRunLoopCopyCurrentMode(CFRunLoopGetMain());
                      }),
                      kCFRunLoopDefaultMode);
    auto deadline = Clock::now() + 2s;
    while (!timerFired && Clock::now() < deadline) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
    secondRanDuringNested = secondRan;
    outerDone = true;
  });
  EXPECT_TRUE(runMainUntil([&] { return outerDone && secondRan; }));
  EXPECT_TRUE(timerFired);
  EXPECT_FALSE(secondRanDuringNested);
  EXPECT_EQ(nestedMode, kCFRunLoopDefaultMode);
}

// The hand-overs of the control channel (a socket's work queue to its delegate
// queue to the main run loop and back), many times over, sometimes with a pause
// longer than an idle thread watches for work, so that every waiter is caught both
// watching and asleep: no hand-over is lost and each queue keeps its order.
TEST(RunLoopMainQueueTest, HandOversBetweenQueuesAndTheMainRunLoopAreNeverLost) {
  auto work = dispatch_queue_create("test.handover.work");
  auto delegate = dispatch_queue_create("test.handover.delegate");
  constexpr int kRounds = 3000;
  std::vector<int> onWork, onDelegate, onMain;  // each touched by one queue only
  std::atomic<int> finished{0};
  std::function<void(int)> round = [&](int i) {
    dispatch_async(work, [&, i] {
      onWork.push_back(i);
      if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));  // pace, not a wait
      dispatch_async(delegate, [&, i] {
        onDelegate.push_back(i);
        dispatch_async(dispatch_get_main_queue(), [&, i] {
          onMain.push_back(i);
          if (i + 1 < kRounds) {
            round(i + 1);
          } else {
            finished = 1;
          }
        });
      });
    });
  };
  round(0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
  }
  ASSERT_TRUE(finished) << "stalled after " << onMain.size() << " rounds";
  std::vector<int> expected(kRounds);
  for (int i = 0; i < kRounds; ++i) expected[static_cast<std::size_t>(i)] = i;
  EXPECT_EQ(onWork, expected);
  EXPECT_EQ(onDelegate, expected);
  EXPECT_EQ(onMain, expected);
}

TEST(RunLoopSourceTest, SignalsCoalesceAndWakeTheRunLoop) {
  std::atomic<int> performed{0};
  auto source = CFRunLoopSourceCreate([&] { ++performed; });
  CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopDefaultMode);
  CFRunLoopSourceSignal(source);
  CFRunLoopSourceSignal(source);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, true), kCFRunLoopRunHandledSource);
  EXPECT_EQ(performed, 1);

  std::thread signaller([&] {
    qvtest::waitUntil([] { return CFRunLoopIsWaiting(CFRunLoopGetMain()); }, 2s);
    CFRunLoopSourceSignal(source);
    CFRunLoopWakeUp(CFRunLoopGetMain());
  });
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true), kCFRunLoopRunHandledSource);
  signaller.join();
  EXPECT_EQ(performed, 2);

  CFRunLoopSourceInvalidate(source);
  CFRunLoopSourceSignal(source);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
  EXPECT_EQ(performed, 2);
}

TEST(RunLoopThreadTest, OtherThreadsRunTheirOwnLoops) {
  std::atomic<bool> firedOnWorker{false};
  std::atomic<CFRunLoopRunResult> emptyResult{kCFRunLoopRunTimedOut};
  std::thread worker([&] {
    CFRunLoopRef own = CFRunLoopGetCurrent();
    EXPECT_NE(own, CFRunLoopGetMain());
    emptyResult = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, false);  // nothing to serve
    CFRunLoopAddTimer(own, CFRunLoopTimerCreate(0.01, 0, [&] { firedOnWorker = !dispatch_is_main_thread(); }),
                      kCFRunLoopDefaultMode);
    CFRunLoopRun();  // returns once the one-shot timer is gone
  });
  worker.join();
  EXPECT_EQ(emptyResult, kCFRunLoopRunFinished);
  EXPECT_TRUE(firedOnWorker);
}

TEST(RunLoopThreadTest, StopFromAnotherThreadAndPerformOnMainThread) {
  std::atomic<bool> performed{false};
  std::thread worker([&] {
    NSRunLoop::performOnMainThread([&] { performed = dispatch_is_main_thread(); }, true);  // waits for the main thread
    CFRunLoopStop(CFRunLoopGetMain());
  });
  auto start = Clock::now();
  CFRunLoopRun();
  worker.join();
  EXPECT_TRUE(performed);
  EXPECT_LT(Clock::now() - start, 5s);

  bool inlineRan = false;
  NSRunLoop::performOnMainThread([&] { inlineRan = true; }, true);  // on the main thread: at once
  EXPECT_TRUE(inlineRan);
}

TEST(RunLoopRobustnessTest, OddDurationsAndFailingCallouts) {
  auto start = Clock::now();
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, std::nan(""), false), kCFRunLoopRunTimedOut);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, -1e300, false), kCFRunLoopRunTimedOut);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false), kCFRunLoopRunTimedOut);
  EXPECT_LT(Clock::now() - start, 1s);

  bool after = false;
  CFRunLoopAddTimer(CFRunLoopGetMain(), CFRunLoopTimerCreate(std::nan(""), std::nan(""), [] {
                      throw std::runtime_error("callout failure");
                    }),
                    kCFRunLoopDefaultMode);
  auto distant = CFRunLoopTimerCreate(1e300, 0, [] {});
  CFRunLoopAddTimer(CFRunLoopGetMain(), distant, kCFRunLoopDefaultMode);
  NSRunLoop::performAfterDelay(0.005, [&] { after = true; });
  EXPECT_TRUE(runMainUntil([&] { return after; }));
  EXPECT_TRUE(CFRunLoopTimerIsValid(distant));
  CFRunLoopTimerInvalidate(distant);
}

}  // namespace
