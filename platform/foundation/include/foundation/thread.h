#pragma once

#include <string>

namespace NSThread {
void sleepForTimeInterval(double seconds);
bool isMainThread();
long currentThreadId();  // the kernel's thread id
}  // namespace NSThread
