// Waiting helpers for tests: conditions polled against a deadline, never bare sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace qvtest {

// Polls `condition` until it holds or `timeout` passes; returns its last value.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace qvtest
