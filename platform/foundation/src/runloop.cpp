#include "foundation/runloop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "dispatch/dispatch.h"
#include "foundation/log.h"

namespace {

// Seconds as nanoseconds for time arithmetic: negative and NaN are 0, and anything
// beyond about 31 years is capped there (far enough to mean "not in this run").
std::uint64_t secondsToNs(double seconds) {
  constexpr double kMaxSeconds = 1e9;
  if (!(seconds > 0)) return 0;
  return static_cast<std::uint64_t>(std::min(seconds, kMaxSeconds) * 1e9);
}

}  // namespace

// Never destroyed: background threads may post to a run loop while the process
// runs its exit handlers.
const CFRunLoopMode& kCFRunLoopDefaultMode = *new CFRunLoopMode("kCFRunLoopDefaultMode");
const CFRunLoopMode& kCFRunLoopCommonModes = *new CFRunLoopMode("kCFRunLoopCommonModes");

class CFRunLoopTimer {
 public:
  CFRunLoopTimer(double delay, double interval, std::function<void()> callout)
      : delayNs_(toNs(delay)), intervalNs_(toNs(interval)), callout_(std::move(callout)) {}

  static std::uint64_t toNs(double seconds) { return secondsToNs(seconds); }

  const std::uint64_t delayNs_;
  const std::uint64_t intervalNs_;
  std::function<void()> callout_;
  dispatch_time_t fireTime_ = 0;  // guarded by the owning run loop's mutex
  std::atomic<bool> valid_{true};
  std::atomic<CFRunLoop*> runLoop_{nullptr};
};

class CFRunLoopSource {
 public:
  explicit CFRunLoopSource(std::function<void()> perform) : perform_(std::move(perform)) {}
  std::function<void()> perform_;
  bool signalled_ = false;  // guarded by the owning run loop's mutex
  std::atomic<bool> valid_{true};
  std::atomic<CFRunLoop*> runLoop_{nullptr};
};

class CFRunLoop {
 public:
  static constexpr dispatch_time_t kWatchBeforeSleepNs = 100 * NSEC_PER_USEC;

  explicit CFRunLoop(bool isMain) : isMain_(isMain) { commonModes_.insert(kCFRunLoopDefaultMode); }

  CFRunLoopRunResult runInMode(const CFRunLoopMode& mode, double seconds, bool returnAfterSourceHandled) {
    dispatch_time_t deadline = dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(secondsToNs(seconds)));
    {
      std::lock_guard lock(mutex_);
      modeStack_.push_back(mode);
    }
    CFRunLoopRunResult result = kCFRunLoopRunTimedOut;
    for (;;) {
      bool handled = onePass(mode);
      std::unique_lock lock(mutex_);
      if (stopRequested_) {
        stopRequested_ = false;
        result = kCFRunLoopRunStopped;
        break;
      }
      if (handled && returnAfterSourceHandled) {
        result = kCFRunLoopRunHandledSource;
        break;
      }
      if (!isMain_ && isEmptyLocked(mode)) {
        result = kCFRunLoopRunFinished;
        break;
      }
      dispatch_time_t now = dispatch_now();
      if (now >= deadline) break;
      if (hasWorkLocked(mode)) continue;
      dispatch_time_t wakeAt = std::min(deadline, nextTimerLocked(mode));
      waiting_ = true;
      if (wakeAt > now + kWatchBeforeSleepNs) {
        // Work often arrives within microseconds (a reply to write, the next request
        // of a client): watch for a wake-up for a moment before sleeping, since being
        // woken from sleep costs far more than the work.
        lock.unlock();
        dispatch_spin_until([this] { return wakePending_.load(std::memory_order_acquire); }, kWatchBeforeSleepNs);
        lock.lock();
        now = dispatch_now();
      }
      cv_.wait_for(lock, std::chrono::nanoseconds(wakeAt > now ? wakeAt - now : 0),
                   [&] { return wakePending_ || stopRequested_ || hasWorkLocked(mode); });
      waiting_ = false;
      wakePending_ = false;
    }
    std::lock_guard lock(mutex_);
    modeStack_.pop_back();
    return result;
  }

  // The waiter is woken after the lock is let go (here and below): woken under it,
  // it would block at once on the lock and need a second wake-up.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      if (modeStack_.empty()) return;
      stopRequested_ = true;
    }
    cv_.notify_all();
  }

  void wake() {
    {
      std::lock_guard lock(mutex_);
      wakePending_ = true;
    }
    cv_.notify_all();
  }

  bool isWaiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

  std::optional<CFRunLoopMode> currentMode() {
    std::lock_guard lock(mutex_);
    if (modeStack_.empty()) return std::nullopt;
    return modeStack_.back();
  }

  void addCommonMode(const CFRunLoopMode& mode) {
    std::lock_guard lock(mutex_);
    commonModes_.insert(mode);
  }

  void performBlock(const CFRunLoopMode& mode, std::function<void()> block) {
    std::lock_guard lock(mutex_);
    items_[mode].blocks.push_back(std::move(block));
  }

  void addTimer(const CFRunLoopTimerRef& timer, const CFRunLoopMode& mode) {
    {
      std::lock_guard lock(mutex_);
      if (!timer->valid_) return;
      CFRunLoop* owner = timer->runLoop_.load();
      if (owner && owner != this) return;  // a timer belongs to one run loop
      if (!owner) {
        timer->runLoop_ = this;
        timer->fireTime_ = dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(timer->delayNs_));
      }
      auto& timers = items_[mode].timers;
      if (std::find(timers.begin(), timers.end(), timer) == timers.end()) timers.push_back(timer);
      wakePending_ = true;
    }
    cv_.notify_all();
  }

  void invalidateTimer(const CFRunLoopTimerRef& timer) {
    std::lock_guard lock(mutex_);
    timer->valid_ = false;
    for (auto& [mode, items] : items_) {
      items.timers.erase(std::remove(items.timers.begin(), items.timers.end(), timer), items.timers.end());
    }
  }

  void addSource(const CFRunLoopSourceRef& source, const CFRunLoopMode& mode) {
    std::lock_guard lock(mutex_);
    if (!source->valid_) return;
    CFRunLoop* owner = source->runLoop_.load();
    if (owner && owner != this) return;
    source->runLoop_ = this;
    auto& sources = items_[mode].sources;
    if (std::find(sources.begin(), sources.end(), source) == sources.end()) sources.push_back(source);
  }

  void signalSource(const CFRunLoopSourceRef& source) {
    {
      std::lock_guard lock(mutex_);
      if (!source->valid_) return;
      source->signalled_ = true;
      wakePending_ = true;
    }
    cv_.notify_all();
  }

  // Drops everything registered (for a run loop whose thread has ended); the items
  // are released outside the lock.
  void releaseItems() {
    std::map<CFRunLoopMode, ModeItems> items;
    std::lock_guard lock(mutex_);
    items.swap(items_);
    for (auto& [mode, set] : items) {
      for (auto& t : set.timers) t->valid_ = false;
      for (auto& src : set.sources) src->valid_ = false;
    }
  }

  void invalidateSource(const CFRunLoopSourceRef& source) {
    std::lock_guard lock(mutex_);
    source->valid_ = false;
    for (auto& [mode, items] : items_) {
      items.sources.erase(std::remove(items.sources.begin(), items.sources.end(), source), items.sources.end());
    }
  }

 private:
  struct ModeItems {
    std::vector<CFRunLoopTimerRef> timers;
    std::vector<CFRunLoopSourceRef> sources;
    std::deque<std::function<void()>> blocks;
  };

  // The item sets that serve `mode`: its own, plus the common ones when it is common.
  template <class Fn>
  void forEachItemSetLocked(const CFRunLoopMode& mode, Fn fn) {
    auto own = items_.find(mode);
    if (own != items_.end()) fn(own->second);
    if (mode != kCFRunLoopCommonModes && commonModes_.count(mode)) {
      auto common = items_.find(kCFRunLoopCommonModes);
      if (common != items_.end()) fn(common->second);
    }
  }

  bool drainsMainQueue(const CFRunLoopMode& mode) const {
    return isMain_ && commonModes_.count(mode) && !dispatch_main_queue::isRunningBlock();
  }

  bool hasWorkLocked(const CFRunLoopMode& mode) {
    bool work = false;
    dispatch_time_t now = dispatch_now();
    forEachItemSetLocked(mode, [&](ModeItems& items) {
      if (!items.blocks.empty()) work = true;
      for (auto& s : items.sources) work = work || s->signalled_;
      for (auto& t : items.timers) work = work || t->fireTime_ <= now;
    });
    return work || (drainsMainQueue(mode) && dispatch_main_queue::hasPendingWork());
  }

  bool isEmptyLocked(const CFRunLoopMode& mode) {
    bool empty = true;
    forEachItemSetLocked(mode, [&](ModeItems& items) {
      if (!items.timers.empty() || !items.sources.empty() || !items.blocks.empty()) empty = false;
    });
    return empty;
  }

  dispatch_time_t nextTimerLocked(const CFRunLoopMode& mode) {
    dispatch_time_t next = DISPATCH_TIME_FOREVER;
    forEachItemSetLocked(mode, [&](ModeItems& items) {
      for (auto& t : items.timers) next = std::min(next, t->fireTime_);
    });
    return next;
  }

  // One pass over the mode's work; true when a source or main-queue block ran.
  bool onePass(const CFRunLoopMode& mode) {
    std::vector<std::function<void()>> blocks;
    std::vector<CFRunLoopTimerRef> dueTimers;
    std::vector<CFRunLoopSourceRef> signalled;
    {
      std::lock_guard lock(mutex_);
      dispatch_time_t now = dispatch_now();
      forEachItemSetLocked(mode, [&](ModeItems& items) {
        while (!items.blocks.empty()) {
          blocks.push_back(std::move(items.blocks.front()));
          items.blocks.pop_front();
        }
        for (auto& t : items.timers) {
          if (t->valid_ && t->fireTime_ <= now) dueTimers.push_back(t);
        }
        for (auto& s : items.sources) {
          if (s->valid_ && s->signalled_) {
            s->signalled_ = false;
            signalled.push_back(s);
          }
        }
      });
      for (auto& t : dueTimers) {
        if (t->intervalNs_ == 0) {
          // Leaves the run loop now; becomes invalid once its callout has run.
          for (auto& [m, items] : items_) {
            items.timers.erase(std::remove(items.timers.begin(), items.timers.end(), t), items.timers.end());
          }
        } else {
          t->fireTime_ = dispatch_next_fire_time(t->fireTime_, t->intervalNs_, now);
        }
      }
    }
    bool handled = false;
    for (auto& block : blocks) guarded(block);
    for (auto& t : dueTimers) {
      if (!t->valid_) continue;  // an earlier callout of this pass invalidated it
      guarded(t->callout_);
      if (t->intervalNs_ == 0) t->valid_ = false;
    }
    for (auto& s : signalled) {
      guarded(s->perform_);
      handled = true;
    }
    bool drain;
    {
      std::lock_guard lock(mutex_);
      drain = drainsMainQueue(mode);
    }
    if (drain && dispatch_main_queue::drain() > 0) handled = true;
    return handled;
  }

  static void guarded(const std::function<void()>& fn) {
    if (!fn) return;
    try {
      fn();
    } catch (const std::exception& e) {
      NSLog("*** Exception escaped a run loop callout: %@", std::string(e.what()));
    }
  }

  const bool isMain_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::set<CFRunLoopMode> commonModes_;
  std::map<CFRunLoopMode, ModeItems> items_;
  std::vector<CFRunLoopMode> modeStack_;
  bool stopRequested_ = false;
  // Set under the lock; also watched without it before the run loop sleeps.
  std::atomic<bool> wakePending_{false};
  bool waiting_ = false;
};

CFRunLoopRef CFRunLoopGetMain() {
  static CFRunLoop* main = [] {
    auto* rl = new CFRunLoop(true);
    dispatch_main_queue::setWakeupHandler([rl] { rl->wake(); });
    return rl;
  }();
  return main;
}

namespace {

// Run loops of other threads are kept for the life of the process, so that a
// reference handed to another thread (or held by a timer) stays valid after its
// thread ends. What such a run loop holds (timers, sources, blocks and whatever
// they captured) is released when its thread ends, since nothing can serve it any
// more; the registry keeps the emptied run loops reachable.
struct ThreadRunLoop {
  CFRunLoop* runLoop;

  ThreadRunLoop() : runLoop(new CFRunLoop(false)) {
    static auto* mutex = new std::mutex;
    static auto* all = new std::vector<CFRunLoop*>;
    std::lock_guard lock(*mutex);
    all->push_back(runLoop);
  }
  ~ThreadRunLoop() { runLoop->releaseItems(); }
};

}  // namespace

CFRunLoopRef CFRunLoopGetCurrent() {
  if (dispatch_is_main_thread()) return CFRunLoopGetMain();
  thread_local ThreadRunLoop current;
  return current.runLoop;
}

void CFRunLoopRun() {
  for (;;) {
    CFRunLoopRunResult r = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1e10, false);
    if (r == kCFRunLoopRunStopped || r == kCFRunLoopRunFinished) return;
  }
}

CFRunLoopRunResult CFRunLoopRunInMode(const CFRunLoopMode& mode, double seconds, bool returnAfterSourceHandled) {
  return CFRunLoopGetCurrent()->runInMode(mode, seconds, returnAfterSourceHandled);
}

void CFRunLoopStop(CFRunLoopRef runLoop) {
  if (runLoop) runLoop->stop();
}

void CFRunLoopWakeUp(CFRunLoopRef runLoop) {
  if (runLoop) runLoop->wake();
}

bool CFRunLoopIsWaiting(CFRunLoopRef runLoop) { return runLoop && runLoop->isWaiting(); }

std::optional<CFRunLoopMode> CFRunLoopCopyCurrentMode(CFRunLoopRef runLoop) {
  return runLoop ? runLoop->currentMode() : std::nullopt;
}

void CFRunLoopAddCommonMode(CFRunLoopRef runLoop, const CFRunLoopMode& mode) {
  if (runLoop) runLoop->addCommonMode(mode);
}

void CFRunLoopPerformBlock(CFRunLoopRef runLoop, const CFRunLoopMode& mode, std::function<void()> block) {
  if (runLoop && block) runLoop->performBlock(mode, std::move(block));
}

CFRunLoopTimerRef CFRunLoopTimerCreate(double delay, double interval, std::function<void()> callout) {
  return std::make_shared<CFRunLoopTimer>(delay, interval, std::move(callout));
}

void CFRunLoopAddTimer(CFRunLoopRef runLoop, const CFRunLoopTimerRef& timer, const CFRunLoopMode& mode) {
  if (runLoop && timer) runLoop->addTimer(timer, mode);
}

void CFRunLoopTimerInvalidate(const CFRunLoopTimerRef& timer) {
  if (!timer) return;
  CFRunLoop* owner = timer->runLoop_.load();
  if (owner) {
    owner->invalidateTimer(timer);
  } else {
    timer->valid_ = false;
  }
}

bool CFRunLoopTimerIsValid(const CFRunLoopTimerRef& timer) {
  return timer && timer->valid_;
}

CFRunLoopSourceRef CFRunLoopSourceCreate(std::function<void()> perform) {
  return std::make_shared<CFRunLoopSource>(std::move(perform));
}

void CFRunLoopAddSource(CFRunLoopRef runLoop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode) {
  if (runLoop && source) runLoop->addSource(source, mode);
}

void CFRunLoopSourceSignal(const CFRunLoopSourceRef& source) {
  if (CFRunLoop* owner = source ? source->runLoop_.load() : nullptr) owner->signalSource(source);
}

void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source) {
  if (CFRunLoop* owner = source ? source->runLoop_.load() : nullptr) owner->invalidateSource(source);
}

namespace NSRunLoop {

CFRunLoopTimerRef scheduledTimer(double interval, bool repeats, std::function<void()> block) {
  auto timer = CFRunLoopTimerCreate(interval, repeats ? std::max(interval, 1e-4) : 0, std::move(block));
  CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
  return timer;
}

void performAfterDelay(double delay, std::function<void()> block) {
  CFRunLoopAddTimer(CFRunLoopGetCurrent(), CFRunLoopTimerCreate(delay, 0, std::move(block)), kCFRunLoopDefaultMode);
}

void performOnMainThread(std::function<void()> block, bool waitUntilDone) {
  if (!block) return;
  if (waitUntilDone && dispatch_is_main_thread()) {
    block();
    return;
  }
  CFRunLoopRef main = CFRunLoopGetMain();
  if (!waitUntilDone) {
    CFRunLoopPerformBlock(main, kCFRunLoopCommonModes, std::move(block));
    CFRunLoopWakeUp(main);
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  CFRunLoopPerformBlock(main, kCFRunLoopCommonModes, [block = std::move(block), done] {
    try {
      block();
    } catch (...) {
    }
    done->set_value();
  });
  CFRunLoopWakeUp(main);
  future.wait();
}

}  // namespace NSRunLoop
