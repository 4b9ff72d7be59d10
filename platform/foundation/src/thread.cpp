#include "foundation/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "dispatch/dispatch.h"

namespace NSThread {

void sleepForTimeInterval(double seconds) {
  if (seconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

bool isMainThread() { return dispatch_is_main_thread(); }

long currentThreadId() { return static_cast<long>(::syscall(SYS_gettid)); }

}  // namespace NSThread
