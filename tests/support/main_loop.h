// Turning the main run loop from a test body (which runs on the main thread) until
// a condition holds or a deadline passes, so that main-queue blocks, delayed
// performs and timers run meanwhile.
#pragma once

#include <chrono>
#include <functional>

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

}  // namespace qvtest
