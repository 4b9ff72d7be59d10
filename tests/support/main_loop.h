// Turning the main run loop from a test body (which runs on the main thread) until
// a condition holds or a deadline passes, so that main-queue blocks, delayed
// performs and timers run meanwhile.
#pragma once

#include <chrono>
#include <functional>
#include <future>

#include <gtest/gtest.h>

#include "foundation/runloop.h"

namespace qvtest {

// Returns the condition's last value.
inline bool runMainLoopUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false);
  }
  return true;
}

// Runs `work` on another thread while this (the main) thread turns the main run
// loop, as the application's would, until it is done or the deadline passes; then
// returns its result.
template <class F>
auto whileMainLoopRuns(F work, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
  auto future = std::async(std::launch::async, std::move(work));
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline) {
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, false);
  }
  EXPECT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready) << "client still waiting";
  return future.get();
}

}  // namespace qvtest
