// Run loops. Every thread has one; the main thread's also drains the main dispatch
// queue. A run loop runs in a mode and serves only the timers, sources and blocks
// registered for that mode (or for the common modes, when the mode is common).
// Runs may nest (a drag gesture turns the run loop from inside a block); a nested
// run never starts a second main-queue block while one is running.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

using CFRunLoopMode = std::string;
extern const CFRunLoopMode& kCFRunLoopDefaultMode;   // "kCFRunLoopDefaultMode"
extern const CFRunLoopMode& kCFRunLoopCommonModes;   // "kCFRunLoopCommonModes"
#define NSDefaultRunLoopMode kCFRunLoopDefaultMode
#define NSRunLoopCommonModes kCFRunLoopCommonModes

class CFRunLoop;
using CFRunLoopRef = CFRunLoop*;  // run loops live as long as the process

enum CFRunLoopRunResult {
  kCFRunLoopRunFinished = 1,
  kCFRunLoopRunStopped = 2,
  kCFRunLoopRunTimedOut = 3,
  kCFRunLoopRunHandledSource = 4,
};

CFRunLoopRef CFRunLoopGetMain();
CFRunLoopRef CFRunLoopGetCurrent();

// Runs the current thread's run loop in the default mode until CFRunLoopStop.
void CFRunLoopRun();
// Runs the current thread's run loop in `mode` for up to `seconds` (0: one pass).
CFRunLoopRunResult CFRunLoopRunInMode(const CFRunLoopMode& mode, double seconds, bool returnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef runLoop);
void CFRunLoopWakeUp(CFRunLoopRef runLoop);
bool CFRunLoopIsWaiting(CFRunLoopRef runLoop);
// The mode of the innermost active run, or absent when the run loop is not running.
std::optional<CFRunLoopMode> CFRunLoopCopyCurrentMode(CFRunLoopRef runLoop);
// Adds a mode to the set of common modes (the default mode always is one).
void CFRunLoopAddCommonMode(CFRunLoopRef runLoop, const CFRunLoopMode& mode);
// Runs `block` once, the next time the run loop runs in `mode`.
void CFRunLoopPerformBlock(CFRunLoopRef runLoop, const CFRunLoopMode& mode, std::function<void()> block);

// Timers: fire `delay` seconds after being added, then every `interval` seconds
// (0: once). A timer fires on the thread of the run loop it was added to.
class CFRunLoopTimer;
using CFRunLoopTimerRef = std::shared_ptr<CFRunLoopTimer>;
CFRunLoopTimerRef CFRunLoopTimerCreate(double delay, double interval, std::function<void()> callout);
void CFRunLoopAddTimer(CFRunLoopRef runLoop, const CFRunLoopTimerRef& timer, const CFRunLoopMode& mode);
void CFRunLoopTimerInvalidate(const CFRunLoopTimerRef& timer);
bool CFRunLoopTimerIsValid(const CFRunLoopTimerRef& timer);

// Input sources: a callout that runs on the run loop's thread each time the source
// has been signalled (signals before a callout coalesce into one callout).
class CFRunLoopSource;
using CFRunLoopSourceRef = std::shared_ptr<CFRunLoopSource>;
CFRunLoopSourceRef CFRunLoopSourceCreate(std::function<void()> perform);
void CFRunLoopAddSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode);
void CFRunLoopSourceSignal(const CFRunLoopSourceRef& source);  // then CFRunLoopWakeUp
void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source);

// Foundation conveniences over the run loops.
namespace NSRunLoop {
// [NSTimer scheduledTimerWithTimeInterval:repeats:block:] on the current run loop
// in the default mode.
CFRunLoopTimerRef scheduledTimer(double interval, bool repeats, std::function<void()> block);
// [obj performSelector:withObject:afterDelay:]: runs `block` on the current
// thread's run loop, in the default mode, `delay` seconds from now.
void performAfterDelay(double delay, std::function<void()> block);
// [obj performSelectorOnMainThread:withObject:waitUntilDone:] (common modes).
void performOnMainThread(std::function<void()> block, bool waitUntilDone);
}  // namespace NSRunLoop
