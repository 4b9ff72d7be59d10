// Dispatch queues, timers and readiness sources in the style of the device's
// libdispatch: serial and concurrent queues, the main queue (drained by the main
// run loop), global queues by priority whose thread pool grows whenever all of its
// threads are busy, delayed blocks, once-only guards, semaphores, and file
// descriptor and timer sources with suspend, resume and cancel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

using dispatch_block_t = std::function<void()>;
using dispatch_function_t = void (*)(void*);

// Absolute time in nanoseconds of the monotonic clock. DISPATCH_TIME_NOW stands for
// "now" wherever a time is expected; DISPATCH_TIME_FOREVER for "never".
using dispatch_time_t = std::uint64_t;
inline constexpr dispatch_time_t DISPATCH_TIME_NOW = 0;
inline constexpr dispatch_time_t DISPATCH_TIME_FOREVER = ~0ull;
inline constexpr std::int64_t NSEC_PER_SEC = 1000000000ll;
inline constexpr std::int64_t NSEC_PER_MSEC = 1000000ll;
inline constexpr std::int64_t NSEC_PER_USEC = 1000ll;

// `when` plus `delta` nanoseconds, saturating; FOREVER stays FOREVER.
dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta);
// The current monotonic time in nanoseconds (never 0).
dispatch_time_t dispatch_now();

// The next fire of a repeating timer that was due at `due` with `interval` (> 0):
// one interval later, or, when that has passed by `now`, the next point on the
// timer's own schedule after `now`; missed fires are skipped, not made up.
inline dispatch_time_t dispatch_next_fire_time(dispatch_time_t due, std::uint64_t interval, dispatch_time_t now) {
  dispatch_time_t next = due + interval;
  if (next <= now) next = now + interval - ((now - due) % interval);
  return next;
}

class DispatchQueue;
using dispatch_queue_t = std::shared_ptr<DispatchQueue>;

enum class dispatch_queue_attr_t { serial, concurrent };
inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_SERIAL = dispatch_queue_attr_t::serial;
inline constexpr dispatch_queue_attr_t DISPATCH_QUEUE_CONCURRENT = dispatch_queue_attr_t::concurrent;

// Global queue priorities; background is the lowest.
inline constexpr long DISPATCH_QUEUE_PRIORITY_HIGH = 2;
inline constexpr long DISPATCH_QUEUE_PRIORITY_DEFAULT = 0;
inline constexpr long DISPATCH_QUEUE_PRIORITY_LOW = -2;
inline constexpr long DISPATCH_QUEUE_PRIORITY_BACKGROUND = -32768;

dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr = DISPATCH_QUEUE_SERIAL);
dispatch_queue_t dispatch_get_main_queue();
dispatch_queue_t dispatch_get_global_queue(long priority, unsigned long flags = 0);
const char* dispatch_queue_get_label(const dispatch_queue_t& queue);  // "" for nullptr
// The queue whose block runs on this thread, or nullptr.
dispatch_queue_t dispatch_get_current_queue();

void dispatch_async(const dispatch_queue_t& queue, dispatch_block_t block);
// Runs the block on the queue and waits. Runs inline when the caller already runs
// on that queue (recognised through the queue-specific chain), on the main thread
// for the main queue, and always inline (with the queue as current) for
// concurrent queues. A serial queue's block runs on the calling thread once the
// queue's earlier blocks are done, with the queue as current.
void dispatch_sync(const dispatch_queue_t& queue, const dispatch_block_t& block);
// Like dispatch_async, except that a block for a serial queue with nothing running,
// waiting or suspended runs at once on the calling thread, holding the queue as its
// own drain would (blocks submitted meanwhile run after it, in order, as usual). For
// short work handed to a queue, where waking a thread would cost more than the work.
void dispatch_async_or_run_if_idle(const dispatch_queue_t& queue, dispatch_block_t block);
// Submits the block to the queue at `when` (never earlier).
void dispatch_after(dispatch_time_t when, const dispatch_queue_t& queue, dispatch_block_t block);

// Queue-specific data. dispatch_get_specific looks at the current queue, then the
// queues it targets (a serial queue targets a global queue).
void dispatch_queue_set_specific(const dispatch_queue_t& queue, const void* key, void* context,
                                 dispatch_function_t destructor = nullptr);
void* dispatch_queue_get_specific(const dispatch_queue_t& queue, const void* key);
void* dispatch_get_specific(const void* key);

void dispatch_suspend(const dispatch_queue_t& queue);
void dispatch_resume(const dispatch_queue_t& queue);

// Once-only guard.
struct dispatch_once_t {
  std::once_flag flag;
};
void dispatch_once(dispatch_once_t* predicate, const dispatch_block_t& block);

// Counting semaphores. dispatch_semaphore_wait returns 0 on success and non-zero
// when the time-out passed first.
class DispatchSemaphore;
using dispatch_semaphore_t = std::shared_ptr<DispatchSemaphore>;
dispatch_semaphore_t dispatch_semaphore_create(long value);
long dispatch_semaphore_wait(const dispatch_semaphore_t& semaphore, dispatch_time_t timeout);
long dispatch_semaphore_signal(const dispatch_semaphore_t& semaphore);

// Sources. A new source is suspended: call dispatch_resume once to start it.
// Read and write sources watch a file descriptor (one epoll thread serves them
// all, and runs a handler itself when its queue is idle, so handlers must not
// block); their data is the number of bytes waiting to be read (0 at end of file; 1
// for a listening socket with connections waiting) or 1 for writability. Timer
// sources fire at their start time and then every interval; their data is the
// number of fires since the handler last ran. A source's handlers never run
// concurrently with each other, whatever its queue. The cancel handler runs
// exactly once, after cancellation, once the source is not suspended and no event
// handler is running; a cancelled source delivers no further events.
enum class dispatch_source_type_t { read, write, timer };
inline constexpr dispatch_source_type_t DISPATCH_SOURCE_TYPE_READ = dispatch_source_type_t::read;
inline constexpr dispatch_source_type_t DISPATCH_SOURCE_TYPE_WRITE = dispatch_source_type_t::write;
inline constexpr dispatch_source_type_t DISPATCH_SOURCE_TYPE_TIMER = dispatch_source_type_t::timer;

class DispatchSource;
using dispatch_source_t = std::shared_ptr<DispatchSource>;

dispatch_source_t dispatch_source_create(dispatch_source_type_t type, std::uintptr_t handle, unsigned long mask,
                                         const dispatch_queue_t& queue);
void dispatch_source_set_event_handler(const dispatch_source_t& source, dispatch_block_t handler);
void dispatch_source_set_cancel_handler(const dispatch_source_t& source, dispatch_block_t handler);
// Timer: first fire at `start`, then every `interval` ns (DISPATCH_TIME_FOREVER: once).
void dispatch_source_set_timer(const dispatch_source_t& source, dispatch_time_t start, std::uint64_t interval,
                               std::uint64_t leeway);
unsigned long dispatch_source_get_data(const dispatch_source_t& source);
std::uintptr_t dispatch_source_get_handle(const dispatch_source_t& source);
void dispatch_source_cancel(const dispatch_source_t& source);
long dispatch_source_testcancel(const dispatch_source_t& source);
void dispatch_suspend(const dispatch_source_t& source);
void dispatch_resume(const dispatch_source_t& source);

// Watches `ready` for up to `spanNs` nanoseconds, yielding the processor between
// looks, instead of sleeping; true as soon as it holds. For hand-overs between
// threads that are usually over within microseconds, where sleeping and being woken
// would cost more than the wait. Gives up early, and no thread watches for a while
// after, when the processors are all busy (a yield let another thread run for a
// while). `heartbeat`, when given, receives the time of every look.
bool dispatch_spin_until(const std::function<bool()>& ready, std::uint64_t spanNs,
                         std::atomic<dispatch_time_t>* heartbeat = nullptr);

// True on the process's main thread (the thread whose id is the process id).
bool dispatch_is_main_thread();

// The main run loop's side of the main queue.
namespace dispatch_main_queue {
// Runs the main-queue blocks that were pending when called, in order, unless a
// main-queue block is already running on this thread (the main queue never
// re-enters itself). Must be called on the main thread. Returns how many ran.
std::size_t drain();
bool hasPendingWork();
// True while a main-queue block runs on this thread (drain would then do nothing).
bool isRunningBlock();
// Called (from any thread) whenever a block is added to the main queue.
void setWakeupHandler(std::function<void()> wakeup);
}  // namespace dispatch_main_queue
