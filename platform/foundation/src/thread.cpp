#include "foundation/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "dispatch/dispatch.h"

namespace NSThread {

void sleepForTimeInterval(double seconds) {
  if (!(seconds > 0)) return;  // also NaN
  constexpr double kMaxSeconds = 1e9;  // keeps the clock arithmetic in range
  std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, kMaxSeconds)));
}

bool isMainThread() { return dispatch_is_main_thread(); }

long currentThreadId() { return static_cast<long>(::syscall(SYS_gettid)); }

}  // namespace NSThread
