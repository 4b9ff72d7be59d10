#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "internal.h"

namespace dispatch_internal {

void runGuarded(const std::function<void()>& fn, const char* what) {
  try {
    fn();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dispatch: exception escaped a block on %s: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "dispatch: unknown exception escaped a block on %s\n", what);
  }
}

}  // namespace dispatch_internal

using dispatch_internal::runGuarded;
using dispatch_internal::waitSpan;

dispatch_time_t dispatch_now() {
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<dispatch_time_t>(ns) + 1;  // never DISPATCH_TIME_NOW
}

dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta) {
  if (when == DISPATCH_TIME_FOREVER) return DISPATCH_TIME_FOREVER;
  if (when == DISPATCH_TIME_NOW) when = dispatch_now();
  if (delta >= 0) {
    std::uint64_t d = static_cast<std::uint64_t>(delta);
    return (DISPATCH_TIME_FOREVER - 1 - when < d) ? DISPATCH_TIME_FOREVER - 1 : when + d;
  }
  std::uint64_t d = static_cast<std::uint64_t>(-(delta + 1)) + 1;
  return when > d ? when - d : 1;
}

namespace {

// When a watching thread last found the processors all busy (0: never).
std::atomic<dispatch_time_t> lastContention{0};

}  // namespace

bool dispatch_spin_until(const std::function<bool()>& ready, std::uint64_t spanNs,
                         std::atomic<dispatch_time_t>* heartbeat) {
  // A yield that another thread used for this long means the processors are all
  // busy. Watching then only keeps the watcher from sleeping, and a thread that
  // sleeps is run sooner when woken than one that gave its turn away; so nobody
  // watches for a while after that.
  constexpr dispatch_time_t kContendedYieldNs = 20 * NSEC_PER_USEC;
  constexpr dispatch_time_t kNoWatchingAfterContentionNs = 50 * NSEC_PER_MSEC;
  dispatch_time_t now = dispatch_now();
  if (now - lastContention.load(std::memory_order_relaxed) < kNoWatchingAfterContentionNs) return ready();
  const dispatch_time_t until = now + spanNs;
  while (!ready()) {
    if (heartbeat) heartbeat->store(now, std::memory_order_relaxed);
    if (now >= until) return false;
    // Yielding, not busy-looping: on a machine with few processors the thread that
    // is to hand work over may need this one's processor to do it.
    std::this_thread::yield();
    const dispatch_time_t after = dispatch_now();
    if (after - now > kContendedYieldNs) {
      lastContention.store(after, std::memory_order_relaxed);
      return ready();
    }
    now = after;
  }
  return true;
}

namespace {

// Each thread's answer, asked of the kernel once: views ask it on every read.
// A child made by fork() runs on the thread that forked, which is the child's
// main thread whatever it was in the parent, so its answer is asked again.
// (Initial-exec: read with one load, not a lookup call; the library is loaded with
// the program.)
thread_local int tlsIsMainThread __attribute__((tls_model("initial-exec"))) = -1;
[[maybe_unused]] const bool kForgetsMainThreadAfterFork = [] {
  ::pthread_atfork(nullptr, nullptr, [] { tlsIsMainThread = -1; });
  return true;
}();

}  // namespace

bool dispatch_is_main_thread() {
  if (tlsIsMainThread < 0) tlsIsMainThread = static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid() ? 1 : 0;
  return tlsIsMainThread == 1;
}

namespace {

// The worker pool behind every global queue. Tasks never wait long behind busy
// threads: while fewer than eagerThreads_ threads are busy, a thread is added as
// soon as more tasks wait than threads are idle; past that, a watcher adds one
// thread each kStallInterval for as long as some task has been waiting longer than
// that. So an endless or sleeping block occupies only its own thread, while a
// burst of short tasks is served by the threads at hand instead of one new thread
// per task. Idle threads leave after a while.
//
// A thread that runs out of tasks first watches the queue for a short while before
// it sleeps (at most kMaxWatchers threads at a time): work handed from queue to
// queue (a socket's work queue, its delegate queue) is then taken at once, without
// waking a sleeping thread, which costs far more than the task itself.
class WorkerPool {
 public:
  static constexpr int kPriorities = 4;  // high, default, low, background
  static constexpr int kMaxThreads = 512;
  static constexpr std::chrono::milliseconds kStallInterval{10};
  static constexpr std::chrono::seconds kIdleLifetime{10};
  static constexpr std::uint64_t kWatchBeforeSleepNs = 50 * NSEC_PER_USEC;
  static constexpr int kMaxWatchers = 2;
  static constexpr std::uint64_t kFreshWatchNs = 5 * NSEC_PER_USEC;

  // The pool of a global queue's priority (0 high ... 3 background). The background
  // queue has a pool of its own whose threads run at a lower scheduling priority
  // (nice kBackgroundNice), as the device runs background work: what runs there
  // takes the processor only when the application's other threads leave it. Both
  // pools live for the process; their threads are detached.
  static constexpr int kBackgroundNice = 10;
  static WorkerPool& forPriority(int priorityIndex) {
    struct Pools {
      WorkerPool* normal = new WorkerPool(0);
      WorkerPool* background = new WorkerPool(kBackgroundNice);
    };
    static const Pools pools;  // made together, by one thread, before either spawns
    return priorityIndex >= kPriorities - 1 ? *pools.background : *pools.normal;
  }

  void submit(int priorityIndex, std::function<void()> task) {
    bool wake = false;
    {
      std::unique_lock lock(mutex_);
      tasks_[priorityIndex].push_back({std::chrono::steady_clock::now(), std::move(task)});
      queued_.store(queued_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
      const int queued = queued_.load(std::memory_order_relaxed);
      if (queued <= idle_) {
        // A watching thread takes the task by itself, unless it has not looked for a
        // while (it is not running); otherwise a sleeping one is woken.
        const bool watchersLooking = dispatch_now() - lastWatch_.load(std::memory_order_relaxed) < kFreshWatchNs;
        wake = queued > (watchersLooking ? watching_ : 0);
      } else if (threads_ - idle_ < eagerThreads_) {
        spawnLocked();
      } else {
        watcherCv_.notify_one();  // the watcher runs from the pool's start
      }
    }
    // Woken outside the lock, so that the thread does not wake only to wait for it.
    if (wake) cv_.notify_one();
  }

 private:
  // A thread inherits its creator's scheduling priority, and any thread may submit
  // work; so the pool's threads are all made by a spawner thread of its own, which
  // took the pool's priority first. The watcher is started here for the same reason.
  explicit WorkerPool(int nice)
      : eagerThreads_(std::max(4, 2 * static_cast<int>(std::thread::hardware_concurrency()))) {
    std::thread([this, nice] {
      if (nice != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), nice);
      std::thread([this] { watcherLoop(); }).detach();
      spawnerLoop();
    }).detach();
  }

  void spawnLocked() {
    if (threads_ >= kMaxThreads) return;
    ++threads_;
    ++spawnRequests_;
    spawnerCv_.notify_one();
  }

  void spawnerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      spawnerCv_.wait(lock, [this] { return spawnRequests_ > 0; });
      for (; spawnRequests_ > 0; --spawnRequests_) std::thread([this] { workerLoop(); }).detach();
    }
  }

  // While tasks wait that no idle thread will take, looks once per interval and
  // adds a thread if one of them has waited a whole interval: the busy threads are
  // blocked or running long tasks.
  void watcherLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      watcherCv_.wait(lock, [this] { return queued_.load(std::memory_order_relaxed) > idle_; });
      auto until = std::chrono::steady_clock::now() + kStallInterval;
      while (watcherCv_.wait_until(lock, until) != std::cv_status::timeout) {
      }
      if (queued_.load(std::memory_order_relaxed) <= idle_) continue;
      auto now = std::chrono::steady_clock::now();
      for (const auto& q : tasks_) {
        if (!q.empty() && now - q.front().enqueued >= kStallInterval) {
          spawnLocked();
          break;
        }
      }
    }
  }

  void workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (queued_.load(std::memory_order_relaxed) > 0) {
        std::function<void()> task;
        for (auto& q : tasks_) {
          if (!q.empty()) {
            task = std::move(q.front().run);
            q.pop_front();
            break;
          }
        }
        queued_.store(queued_.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
        lock.unlock();
        task();
        task = nullptr;  // destroy captured state outside the lock
        lock.lock();
        continue;
      }
      ++idle_;
      if (watching_ < kMaxWatchers) {
        ++watching_;
        lock.unlock();
        dispatch_spin_until([this] { return queued_.load(std::memory_order_acquire) > 0; }, kWatchBeforeSleepNs,
                            &lastWatch_);
        lock.lock();
        --watching_;
        if (queued_.load(std::memory_order_relaxed) > 0) {
          --idle_;
          continue;
        }
      }
      bool woke = cv_.wait_for(lock, kIdleLifetime, [this] { return queued_.load(std::memory_order_relaxed) > 0; });
      --idle_;
      if (!woke) {
        --threads_;
        return;
      }
    }
  }

  const int eagerThreads_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable watcherCv_;
  std::condition_variable spawnerCv_;
  int spawnRequests_ = 0;  // threads counted in threads_ that the spawner is still to make
  struct Task {
    std::chrono::steady_clock::time_point enqueued;
    std::function<void()> run;
  };
  std::array<std::deque<Task>, kPriorities> tasks_;
  // Changed under the lock; read without it by a watching thread.
  std::atomic<int> queued_{0};
  int idle_ = 0;      // threads watching or sleeping
  int watching_ = 0;  // of which watching for work
  std::atomic<dispatch_time_t> lastWatch_{0};  // when a watching thread last looked
  int threads_ = 0;
};

enum class QueueKind { main, global, serial, concurrent };

thread_local std::vector<DispatchQueue*> tlsQueueStack;

// The serial queues whose blocks this thread runs in place of the queue (through
// dispatch_async_or_run_if_idle), innermost last, each with the short blocks this
// thread handed to the same queue meanwhile: they run on this thread right after
// the block, rather than waking a worker to run them a moment later.
struct InlineRun {
  DispatchQueue* queue;
  std::deque<dispatch_block_t> continuations;
};
thread_local std::vector<InlineRun*> tlsInlineRuns;
thread_local bool tlsRunningMainBlock = false;

}  // namespace

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  DispatchQueue(std::string label, QueueKind kind, int priorityIndex, dispatch_queue_t target)
      : label_(std::move(label)), kind_(kind), priorityIndex_(priorityIndex), target_(std::move(target)) {}

  ~DispatchQueue() {
    for (auto& [key, entry] : specific_) {
      if (entry.destructor) entry.destructor(entry.context);
    }
  }

  const std::string& label() const { return label_; }
  QueueKind kind() const { return kind_; }
  const dispatch_queue_t& target() const { return target_; }

  void async(dispatch_block_t block) {
    switch (kind_) {
      case QueueKind::main: {
        {
          std::lock_guard lock(mutex_);
          items_.push_back(std::move(block));
        }
        std::function<void()> wake;
        {
          std::lock_guard lock(wakeMutex());
          wake = wakeHandler();
        }
        if (wake) wake();
        return;
      }
      case QueueKind::global:
        WorkerPool::forPriority(priorityIndex_).submit(priorityIndex_, [self = shared_from_this(), block = std::move(block)] {
          self->runAsCurrent(block);
        });
        return;
      case QueueKind::concurrent: {
        {
          std::lock_guard lock(mutex_);
          if (suspendCount_ > 0) {
            items_.push_back(std::move(block));
            return;
          }
        }
        submitConcurrent(std::move(block));
        return;
      }
      case QueueKind::serial: {
        bool schedule = false;
        {
          std::lock_guard lock(mutex_);
          items_.push_back(std::move(block));
          if (!scheduled_ && suspendCount_ == 0) {
            scheduled_ = true;
            schedule = true;
          }
        }
        if (schedule) scheduleDrain();
        return;
      }
    }
  }

  bool isOnCurrentThreadStack() const {
    for (DispatchQueue* q : tlsQueueStack) {
      if (q == this) return true;
    }
    return false;
  }

  void runAsCurrent(const dispatch_block_t& block) {
    tlsQueueStack.push_back(this);
    runGuarded(block, label_.c_str());
    tlsQueueStack.pop_back();
  }

  void setSpecific(const void* key, void* context, dispatch_function_t destructor) {
    std::lock_guard lock(mutex_);
    auto it = specific_.find(key);
    if (it != specific_.end()) {
      if (it->second.destructor) it->second.destructor(it->second.context);
      if (!context) {
        specific_.erase(it);
        return;
      }
      it->second = {context, destructor};
      return;
    }
    if (context) specific_[key] = {context, destructor};
  }

  void* getSpecific(const void* key) const {
    std::lock_guard lock(mutex_);
    auto it = specific_.find(key);
    return it == specific_.end() ? nullptr : it->second.context;
  }

  void suspend() {
    std::lock_guard lock(mutex_);
    ++suspendCount_;
  }

  void resume() {
    std::deque<dispatch_block_t> release;
    bool schedule = false;
    {
      std::lock_guard lock(mutex_);
      if (suspendCount_ == 0) return;
      if (--suspendCount_ > 0) return;
      if (kind_ == QueueKind::serial && !items_.empty() && !scheduled_) {
        scheduled_ = true;
        schedule = true;
      } else if (kind_ == QueueKind::concurrent) {
        release.swap(items_);
      }
    }
    if (schedule) scheduleDrain();
    for (auto& block : release) submitConcurrent(std::move(block));
  }

  // Serial queues: waits for the queue's turn, then runs the block on the calling
  // thread (as the device does) while the queue's drain waits for it. The block
  // thus sees this queue on top of the caller's own queues, so a sync back into
  // any queue of the calling chain runs inline instead of deadlocking.
  void syncOnCallingThread(const dispatch_block_t& block) {
    if (runIfIdle(block)) return;
    struct Turn {
      std::mutex mutex;
      std::condition_variable cv;
      bool started = false;
      bool finished = false;
    };
    auto turn = std::make_shared<Turn>();
    async([turn] {
      std::unique_lock lock(turn->mutex);
      turn->started = true;
      turn->cv.notify_all();
      turn->cv.wait(lock, [&] { return turn->finished; });
    });
    {
      std::unique_lock lock(turn->mutex);
      turn->cv.wait(lock, [&] { return turn->started; });
    }
    runAsCurrent(block);
    std::lock_guard lock(turn->mutex);
    turn->finished = true;
    turn->cv.notify_all();
  }

  // Serial queues: runs the block on the calling thread and returns true when the
  // queue is idle (no drain scheduled or running, nothing waiting, not suspended).
  // The queue counts as draining meanwhile, so blocks submitted during the run wait
  // for it and are drained after it.
  bool runIfIdle(const dispatch_block_t& block) {
    {
      std::lock_guard lock(mutex_);
      if (scheduled_ || suspendCount_ > 0 || !items_.empty()) return false;
      scheduled_ = true;
    }
    InlineRun run{this, {}};
    tlsInlineRuns.push_back(&run);
    runAsCurrent(block);
    while (!run.continuations.empty()) {
      {
        // A queue suspended meanwhile keeps them for its resume, ahead of the rest.
        std::lock_guard lock(mutex_);
        if (suspendCount_ > 0) {
          items_.insert(items_.begin(), std::make_move_iterator(run.continuations.begin()),
                        std::make_move_iterator(run.continuations.end()));
          run.continuations.clear();
          break;
        }
      }
      dispatch_block_t next = std::move(run.continuations.front());
      run.continuations.pop_front();
      runAsCurrent(next);
    }
    tlsInlineRuns.pop_back();
    bool schedule = false;
    {
      std::lock_guard lock(mutex_);
      if (!items_.empty() && suspendCount_ == 0) {
        schedule = true;
      } else {
        scheduled_ = false;
      }
    }
    if (schedule) scheduleDrain();
    return true;
  }

  // Serial queues: when this thread runs a block of this queue in its place
  // (runIfIdle) and nothing else waits on the queue, keeps `block` to run on this
  // thread after it and returns true. Blocks other threads queue meanwhile wait in
  // the queue and run after these, in the order they were submitted.
  bool continueInline(dispatch_block_t& block) {
    for (auto it = tlsInlineRuns.rbegin(); it != tlsInlineRuns.rend(); ++it) {
      if ((*it)->queue != this) continue;
      std::lock_guard lock(mutex_);
      if (suspendCount_ > 0 || !items_.empty()) return false;
      (*it)->continuations.push_back(std::move(block));
      return true;
    }
    return false;
  }

  // Main queue only: runs the blocks pending at the time of the call.
  std::size_t drainMain() {
    if (tlsRunningMainBlock) return 0;
    std::size_t budget;
    {
      std::lock_guard lock(mutex_);
      budget = items_.size();
    }
    std::size_t ran = 0;
    while (ran < budget) {
      dispatch_block_t block;
      {
        std::lock_guard lock(mutex_);
        if (items_.empty()) break;
        block = std::move(items_.front());
        items_.pop_front();
      }
      tlsRunningMainBlock = true;
      runAsCurrent(block);
      tlsRunningMainBlock = false;
      ++ran;
    }
    return ran;
  }

  bool hasItems() const {
    std::lock_guard lock(mutex_);
    return !items_.empty();
  }

  // Process-wide state is never destroyed: detached worker threads may still use
  // it while the process runs its exit handlers.
  static std::mutex& wakeMutex() {
    static auto* m = new std::mutex;
    return *m;
  }
  static std::function<void()>& wakeHandler() {
    static auto* handler = new std::function<void()>;
    return *handler;
  }

 private:
  void submitConcurrent(dispatch_block_t block) {
    int prio = target_ ? target_->priorityIndex_ : priorityIndex_;
    WorkerPool::forPriority(prio).submit(prio, [self = shared_from_this(), block = std::move(block)] {
      self->runAsCurrent(block);
    });
  }

  void scheduleDrain() {
    int prio = target_ ? target_->priorityIndex_ : priorityIndex_;
    WorkerPool::forPriority(prio).submit(prio, [self = shared_from_this()] { self->drainSerial(); });
  }

  void drainSerial() {
    for (;;) {
      dispatch_block_t block;
      {
        std::lock_guard lock(mutex_);
        if (items_.empty() || suspendCount_ > 0) {
          scheduled_ = false;
          break;
        }
        block = std::move(items_.front());
        items_.pop_front();
      }
      runAsCurrent(block);
    }
  }

  struct Specific {
    void* context;
    dispatch_function_t destructor;
  };

  const std::string label_;
  const QueueKind kind_;
  const int priorityIndex_;
  const dispatch_queue_t target_;
  mutable std::mutex mutex_;
  std::deque<dispatch_block_t> items_;
  bool scheduled_ = false;
  int suspendCount_ = 0;
  std::map<const void*, Specific> specific_;
};

namespace {

dispatch_queue_t makeGlobal(const char* label, int index) {
  return std::make_shared<DispatchQueue>(label, QueueKind::global, index, nullptr);
}

}  // namespace

dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long) {
  // Never destroyed (see wakeMutex).
  static const auto& queues = *new std::array<dispatch_queue_t, 4>{
      makeGlobal("com.apple.root.user-interactive-qos", 0),
      makeGlobal("com.apple.root.default-qos", 1),
      makeGlobal("com.apple.root.utility-qos", 2),
      makeGlobal("com.apple.root.background-qos", 3),
  };
  if (priority >= DISPATCH_QUEUE_PRIORITY_HIGH) return queues[0];
  if (priority >= DISPATCH_QUEUE_PRIORITY_DEFAULT) return queues[1];
  if (priority >= DISPATCH_QUEUE_PRIORITY_LOW) return queues[2];
  return queues[3];
}

dispatch_queue_t dispatch_get_main_queue() {
  static const auto& main =
      *new dispatch_queue_t(std::make_shared<DispatchQueue>("com.apple.main-thread", QueueKind::main, 1, nullptr));
  return main;
}

dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr) {
  return std::make_shared<DispatchQueue>(label ? label : "",
                                         attr == DISPATCH_QUEUE_CONCURRENT ? QueueKind::concurrent : QueueKind::serial,
                                         1, dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT));
}

const char* dispatch_queue_get_label(const dispatch_queue_t& queue) { return queue ? queue->label().c_str() : ""; }

dispatch_queue_t dispatch_get_current_queue() {
  if (tlsQueueStack.empty()) return nullptr;
  return tlsQueueStack.back()->shared_from_this();
}

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block) {
  if (!queue || !block) return;
  queue->async(std::move(block));
}

void dispatch_sync(const dispatch_queue_t& queue, const dispatch_block_t& block) {
  if (!queue || !block) return;
  bool inlineRun = false;
  switch (queue->kind()) {
    case QueueKind::main:
      inlineRun = dispatch_is_main_thread();
      break;
    case QueueKind::global:
    case QueueKind::concurrent:
      inlineRun = true;
      break;
    case QueueKind::serial:
      inlineRun = queue->isOnCurrentThreadStack();
      break;
  }
  if (inlineRun) {
    queue->runAsCurrent(block);
    return;
  }
  if (queue->kind() == QueueKind::serial) {
    queue->syncOnCallingThread(block);
    return;
  }
  // The main queue from another thread: the block must run on the main thread.
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  queue->async([&] {
    runGuarded(block, queue->label().c_str());
    std::lock_guard lock(m);
    done = true;
    cv.notify_one();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
}

void dispatch_async_or_run_if_idle(const dispatch_queue_t& queue, dispatch_block_t block) {
  if (!queue || !block) return;
  if (queue->kind() == QueueKind::serial && (queue->continueInline(block) || queue->runIfIdle(block))) return;
  queue->async(std::move(block));
}

void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block) {
  if (!queue || !block || when == DISPATCH_TIME_FOREVER) return;
  if (when == DISPATCH_TIME_NOW) when = dispatch_now();
  dispatch_internal::TimerThread::shared().schedule(
      when, [queue, block = std::move(block)]() mutable { dispatch_async(queue, std::move(block)); });
}

void dispatch_queue_set_specific(const dispatch_queue_t& queue, const void* key, void* context,
                                 dispatch_function_t destructor) {
  if (queue && key) queue->setSpecific(key, context, destructor);
}

void* dispatch_queue_get_specific(const dispatch_queue_t& queue, const void* key) {
  return queue && key ? queue->getSpecific(key) : nullptr;
}

void* dispatch_get_specific(const void* key) {
  if (!key || tlsQueueStack.empty()) return nullptr;
  for (DispatchQueue* q = tlsQueueStack.back(); q; q = q->target().get()) {
    if (void* ctx = q->getSpecific(key)) return ctx;
  }
  return nullptr;
}

void dispatch_suspend(const dispatch_queue_t& queue) {
  if (queue && (queue->kind() == QueueKind::serial || queue->kind() == QueueKind::concurrent)) queue->suspend();
}

void dispatch_resume(const dispatch_queue_t& queue) {
  if (queue) queue->resume();
}

void dispatch_once(dispatch_once_t* predicate, const dispatch_block_t& block) {
  std::call_once(predicate->flag, block);
}

class DispatchSemaphore {
 public:
  explicit DispatchSemaphore(long value) : value_(value) {}

  long wait(dispatch_time_t timeout) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return value_ > 0; };
    if (timeout == DISPATCH_TIME_FOREVER) {
      cv_.wait(lock, ready);
    } else {
      dispatch_time_t deadline = timeout == DISPATCH_TIME_NOW ? dispatch_now() : timeout;
      while (!ready()) {
        dispatch_time_t now = dispatch_now();
        if (now >= deadline) return 1;
        cv_.wait_for(lock, waitSpan(now, deadline));
      }
    }
    --value_;
    return 0;
  }

  long signal() {
    std::lock_guard lock(mutex_);
    ++value_;
    cv_.notify_one();
    return 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
};

dispatch_semaphore_t dispatch_semaphore_create(long value) {
  if (value < 0) return nullptr;
  return std::make_shared<DispatchSemaphore>(value);
}

long dispatch_semaphore_wait(const dispatch_semaphore_t& semaphore, dispatch_time_t timeout) {
  return semaphore ? semaphore->wait(timeout) : 1;
}

long dispatch_semaphore_signal(const dispatch_semaphore_t& semaphore) {
  return semaphore ? semaphore->signal() : 0;
}

namespace dispatch_main_queue {

std::size_t drain() {
  if (!dispatch_is_main_thread()) return 0;
  return dispatch_get_main_queue()->drainMain();
}

bool hasPendingWork() { return dispatch_get_main_queue()->hasItems(); }

bool isRunningBlock() { return tlsRunningMainBlock; }

void setWakeupHandler(std::function<void()> wakeup) {
  std::lock_guard lock(DispatchQueue::wakeMutex());
  DispatchQueue::wakeHandler() = std::move(wakeup);
}

}  // namespace dispatch_main_queue
