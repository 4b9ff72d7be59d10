// Internal pieces of the dispatch library shared between its source files.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "dispatch/dispatch.h"

namespace dispatch_internal {

// The time to wait from `now` until `deadline`, capped so that far-away deadlines
// (up to DISPATCH_TIME_FOREVER) never overflow the clock arithmetic of a timed
// wait. Callers wait in a loop and recompute, so the cap only shortens one round.
inline std::chrono::nanoseconds waitSpan(dispatch_time_t now, dispatch_time_t deadline) {
  constexpr std::uint64_t kMaxSpan = 3600ull * NSEC_PER_SEC;
  std::uint64_t span = deadline > now ? deadline - now : 0;
  return std::chrono::nanoseconds(static_cast<std::int64_t>(span < kMaxSpan ? span : kMaxSpan));
}

// Runs `fn`, reporting (not propagating) an exception that escapes a block, so that
// one faulty block cannot take down the worker thread or the process.
void runGuarded(const std::function<void()>& fn, const char* what);

// The one timer thread behind dispatch_after and timer sources.
class TimerThread {
 public:
  static TimerThread& shared();
  // Calls `fire` on the timer thread at `deadline` (never earlier). Returns an id.
  std::uint64_t schedule(dispatch_time_t deadline, std::function<void()> fire);
  void cancel(std::uint64_t id);
};

// The one epoll thread behind read and write sources.
class EpollThread {
 public:
  static EpollThread& shared();
  // (Re)computes the interest of a descriptor from its sources and updates epoll.
  void update(int fd);
};

}  // namespace dispatch_internal
