#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <queue>
#include <thread>
#include <unordered_map>

#include "internal.h"

using dispatch_internal::EpollThread;
using dispatch_internal::TimerThread;
using dispatch_internal::waitSpan;

class DispatchSource : public std::enable_shared_from_this<DispatchSource> {
 public:
  DispatchSource(dispatch_source_type_t type, std::uintptr_t handle, dispatch_queue_t queue)
      : type_(type), handle_(handle), queue_(std::move(queue)) {}

  ~DispatchSource() {
    if (type_ == DISPATCH_SOURCE_TYPE_TIMER) {
      if (timerId_) TimerThread::shared().cancel(timerId_);
    } else {
      EpollThread::shared().update(fd());  // drops the expired registration
    }
  }

  dispatch_source_type_t type() const { return type_; }
  int fd() const { return static_cast<int>(handle_); }
  std::uintptr_t handle() const { return handle_; }

  // The replaced handler is released outside the lock: what it captured may, on
  // its way out, call back into this source.
  void setEventHandler(dispatch_block_t handler) {
    std::lock_guard lock(mutex_);
    std::swap(eventHandler_, handler);
  }

  void setCancelHandler(dispatch_block_t handler) {
    std::lock_guard lock(mutex_);
    std::swap(cancelHandler_, handler);
  }

  unsigned long data() const {
    std::lock_guard lock(mutex_);
    return data_;
  }

  bool isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

  // Whether the epoll thread should watch for this source's events now.
  bool wantsEvents() const {
    std::lock_guard lock(mutex_);
    return !cancelled_ && suspendCount_ == 0 && !handlerInFlight_;
  }

  void suspend() {
    std::lock_guard lock(mutex_);
    ++suspendCount_;
  }

  void resume() {
    {
      std::lock_guard lock(mutex_);
      if (suspendCount_ == 0) return;
      if (--suspendCount_ > 0) return;
    }
    if (type_ != DISPATCH_SOURCE_TYPE_TIMER) EpollThread::shared().update(fd());
    submitIfReady();
  }

  void cancel() {
    {
      std::lock_guard lock(mutex_);
      if (cancelled_) return;
      cancelled_ = true;
      pendingFires_ = 0;
    }
    if (type_ == DISPATCH_SOURCE_TYPE_TIMER) {
      std::uint64_t id;
      {
        std::lock_guard lock(mutex_);
        id = timerId_;
        timerId_ = 0;
      }
      if (id) TimerThread::shared().cancel(id);
    } else {
      // Stop watching the descriptor before the cancel handler may close it; until
      // then the cancel handler is held back, even if an event handler finishes.
      EpollThread::shared().update(fd());
    }
    {
      std::lock_guard lock(mutex_);
      unwatched_ = true;
    }
    submitIfReady();
  }

  // Called by the epoll thread when the descriptor is ready for this source.
  void descriptorReady() {
    {
      std::lock_guard lock(mutex_);
      if (cancelled_ || suspendCount_ > 0 || handlerInFlight_) return;
      pendingFires_ = 1;
    }
    submitIfReady(Delivery::inlineIfIdle);
  }

  void setTimer(dispatch_time_t start, std::uint64_t interval) {
    std::uint64_t oldId;
    std::uint64_t generation;
    {
      std::lock_guard lock(mutex_);
      if (cancelled_) return;
      oldId = timerId_;
      timerId_ = 0;
      interval_ = interval;
      pendingFires_ = 0;
      generation = ++timerGeneration_;
    }
    if (oldId) TimerThread::shared().cancel(oldId);
    if (start == DISPATCH_TIME_FOREVER) return;
    armTimer(start == DISPATCH_TIME_NOW ? dispatch_now() : start, generation);
  }

 private:
  // Each setTimer starts a new generation; a fire of an older schedule that was
  // already under way when the timer was set again is dropped, so that a re-set
  // timer never runs two schedules at once.
  void armTimer(dispatch_time_t deadline, std::uint64_t generation) {
    std::weak_ptr<DispatchSource> weak = weak_from_this();
    std::uint64_t id = TimerThread::shared().schedule(deadline, [weak, deadline, generation] {
      if (auto self = weak.lock()) self->timerFired(deadline, generation);
    });
    bool stale;
    {
      std::lock_guard lock(mutex_);
      stale = cancelled_ || generation != timerGeneration_;
      if (!stale) timerId_ = id;
    }
    if (stale) TimerThread::shared().cancel(id);
  }

  void timerFired(dispatch_time_t deadline, std::uint64_t generation) {
    std::uint64_t interval;
    {
      std::lock_guard lock(mutex_);
      if (cancelled_ || generation != timerGeneration_) return;
      ++pendingFires_;
      interval = interval_;
      timerId_ = 0;
    }
    if (interval != DISPATCH_TIME_FOREVER && interval > 0) {
      armTimer(dispatch_next_fire_time(deadline, interval, dispatch_now()), generation);
    }
    submitIfReady();
  }

  // How an event handler reaches its queue. A readiness report is delivered on the
  // thread that received it when the target queue is idle, as the device's kernel
  // event threads do: handing it to a worker would cost a thread wake-up on every
  // message. The handler still runs as the queue (one at a time, queue-specific
  // data, blocks submitted meanwhile drained after it).
  enum class Delivery { queued, inlineIfIdle };

  // Submits the event handler (or, once cancelled, the cancel handler) to the
  // target queue when nothing of this source is running and it is resumed.
  void submitIfReady(Delivery delivery = Delivery::queued) {
    bool runCancel = false;
    {
      std::lock_guard lock(mutex_);
      if (handlerInFlight_ || suspendCount_ > 0) return;
      if (cancelled_) {
        if (cancelHandlerDone_ || !unwatched_) return;
        cancelHandlerDone_ = true;
        runCancel = true;
      } else if (pendingFires_ == 0) {
        return;
      }
      handlerInFlight_ = true;
    }
    auto self = shared_from_this();
    if (runCancel) {
      dispatch_async(queue_, [self] {
        // Both handlers leave the source here (breaking any cycle through what they
        // captured) and are released outside its lock.
        dispatch_block_t handler, event;
        {
          std::lock_guard lock(self->mutex_);
          std::swap(handler, self->cancelHandler_);
          std::swap(event, self->eventHandler_);
        }
        event = nullptr;
        if (handler) dispatch_internal::runGuarded(handler, "a source cancel handler");
      });
      return;
    }
    if (delivery == Delivery::inlineIfIdle) {
      dispatch_async_or_run_if_idle(queue_, [self] { self->runEventHandler(); });
    } else {
      dispatch_async(queue_, [self] { self->runEventHandler(); });
    }
  }

  void runEventHandler() {
    dispatch_block_t handler;
    bool deliver = false;
    {
      std::lock_guard lock(mutex_);
      if (!cancelled_ && suspendCount_ == 0) {
        handler = eventHandler_;
        deliver = true;
      }
    }
    if (deliver) {
      unsigned long data = 0;
      bool spurious = false;
      if (type_ == DISPATCH_SOURCE_TYPE_TIMER) {
        std::lock_guard lock(mutex_);
        data = pendingFires_;
        pendingFires_ = 0;
      } else {
        {
          std::lock_guard lock(mutex_);
          pendingFires_ = 0;
        }
        data = measureDescriptor(spurious);
      }
      if (!spurious) {
        {
          std::lock_guard lock(mutex_);
          data_ = data;
        }
        if (handler) dispatch_internal::runGuarded(handler, dispatch_queue_get_label(queue_));
      }
    }
    {
      std::lock_guard lock(mutex_);
      handlerInFlight_ = false;
    }
    if (type_ != DISPATCH_SOURCE_TYPE_TIMER) EpollThread::shared().update(fd());
    submitIfReady();
  }

  // Bytes waiting for a read source (0 at end of file, 1 for a listening socket);
  // 1 for a write source. A readiness report that no longer holds (the bytes were
  // consumed meanwhile) is spurious and not delivered. Bytes counted are bytes
  // waiting, which settles the usual case with one call; otherwise readiness is
  // asked, and then the byte count again, so that bytes arriving in between never
  // pass for an end of file. This works alike for sockets, pipes and terminals.
  unsigned long measureDescriptor(bool& spurious) const {
    if (type_ == DISPATCH_SOURCE_TYPE_WRITE) return 1;
    int available = 0;
    const bool counted = ::ioctl(fd(), FIONREAD, &available) == 0;
    if (counted && available > 0) return static_cast<unsigned long>(available);
    pollfd p{fd(), POLLIN | POLLRDHUP, 0};
    int ready = ::poll(&p, 1, 0);
    if (ready <= 0 || p.revents == 0 || (p.revents & POLLNVAL)) {
      spurious = true;
      return 0;
    }
    if (!counted || ::ioctl(fd(), FIONREAD, &available) != 0) return 1;  // a listening socket
    return available > 0 ? static_cast<unsigned long>(available) : 0;
  }

  const dispatch_source_type_t type_;
  const std::uintptr_t handle_;
  const dispatch_queue_t queue_;
  mutable std::mutex mutex_;
  dispatch_block_t eventHandler_;
  dispatch_block_t cancelHandler_;
  unsigned long data_ = 0;
  unsigned long pendingFires_ = 0;
  int suspendCount_ = 1;
  bool cancelled_ = false;
  bool unwatched_ = false;  // cancelled and no longer watched by the epoll thread
  bool cancelHandlerDone_ = false;
  bool handlerInFlight_ = false;
  std::uint64_t interval_ = DISPATCH_TIME_FOREVER;
  std::uint64_t timerId_ = 0;
  std::uint64_t timerGeneration_ = 0;
};

namespace dispatch_internal {
namespace {

struct TimerEntry {
  dispatch_time_t deadline;
  std::uint64_t id;
  bool operator>(const TimerEntry& o) const { return deadline != o.deadline ? deadline > o.deadline : id > o.id; }
};

struct TimerState {
  std::mutex mutex;
  std::condition_variable cv;
  std::priority_queue<TimerEntry, std::vector<TimerEntry>, std::greater<>> heap;
  std::unordered_map<std::uint64_t, std::function<void()>> callbacks;
  std::uint64_t nextId = 1;
  bool started = false;

  void loop() {
    std::unique_lock lock(mutex);
    for (;;) {
      while (!heap.empty() && !callbacks.count(heap.top().id)) heap.pop();  // cancelled
      if (heap.empty()) {
        cv.wait(lock);
        continue;
      }
      TimerEntry top = heap.top();
      dispatch_time_t now = dispatch_now();
      if (now < top.deadline) {
        cv.wait_for(lock, waitSpan(now, top.deadline));
        continue;
      }
      heap.pop();
      auto it = callbacks.find(top.id);
      if (it == callbacks.end()) continue;
      auto fire = std::move(it->second);
      callbacks.erase(it);
      lock.unlock();
      runGuarded(fire, "the timer thread");
      fire = nullptr;
      lock.lock();
    }
  }
};

TimerState& timerState() {
  static TimerState* state = new TimerState;
  return *state;
}

}  // namespace

TimerThread& TimerThread::shared() {
  static TimerThread thread;
  return thread;
}

std::uint64_t TimerThread::schedule(dispatch_time_t deadline, std::function<void()> fire) {
  TimerState& s = timerState();
  std::lock_guard lock(s.mutex);
  if (!s.started) {
    s.started = true;
    std::thread([&s] { s.loop(); }).detach();
  }
  std::uint64_t id = s.nextId++;
  s.callbacks.emplace(id, std::move(fire));
  s.heap.push({deadline, id});
  s.cv.notify_one();
  return id;
}

void TimerThread::cancel(std::uint64_t id) {
  std::function<void()> dropped;
  TimerState& s = timerState();
  std::lock_guard lock(s.mutex);
  auto it = s.callbacks.find(id);
  if (it != s.callbacks.end()) {
    dropped = std::move(it->second);
    s.callbacks.erase(it);
  }
}

namespace {

// Registered sources per descriptor; epoll allows a descriptor only once, so the
// read and write sources of one descriptor share an entry.
struct FdEntry {
  std::weak_ptr<DispatchSource> reader;
  std::weak_ptr<DispatchSource> writer;
  std::uint32_t mask = 0;  // interest currently registered with epoll
};

struct EpollState {
  std::mutex mutex;
  int epfd = -1;
  std::unordered_map<int, FdEntry> entries;

  EpollState() {
    epfd = ::epoll_create1(EPOLL_CLOEXEC);
    std::thread([this] { loop(); }).detach();
  }

  void loop() {
    epoll_event events[64];
    for (;;) {
      int n = ::epoll_wait(epfd, events, 64, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        std::uint32_t ev = events[i].events;
        std::shared_ptr<DispatchSource> reader, writer;
        {
          std::lock_guard lock(mutex);
          auto it = entries.find(fd);
          if (it == entries.end()) continue;
          bool hangup = ev & (EPOLLHUP | EPOLLERR | EPOLLRDHUP);
          if ((ev & EPOLLIN || hangup) && (it->second.mask & EPOLLIN)) reader = it->second.reader.lock();
          if ((ev & EPOLLOUT || hangup) && (it->second.mask & EPOLLOUT)) writer = it->second.writer.lock();
        }
        // Each delivered source stops being watched until its handler has run.
        if (reader) reader->descriptorReady();
        if (writer) writer->descriptorReady();
        update(fd);
      }
    }
  }

  // Recomputes the interest of `fd` from its sources. The sources are looked at
  // through references that are released only after the lock: dropping the last
  // reference to a source runs its destructor, which comes back here.
  void update(int fd) {
    std::shared_ptr<DispatchSource> keepReader, keepWriter;
    std::lock_guard lock(mutex);
    applyLocked(fd, keepReader, keepWriter);
  }

  void registerSource(const std::shared_ptr<DispatchSource>& source) {
    std::shared_ptr<DispatchSource> replaced, keepReader, keepWriter;
    std::lock_guard lock(mutex);
    int fd = source->fd();
    FdEntry& entry = entries[fd];
    auto& slot = source->type() == DISPATCH_SOURCE_TYPE_READ ? entry.reader : entry.writer;
    replaced = slot.lock();
    slot = source;
    // A descriptor number that comes back while an old registration is remembered
    // was closed behind its source's back, and the kernel dropped it from epoll:
    // start the registration afresh.
    if (entry.mask != 0) {
      ::epoll_ctl(epfd, EPOLL_CTL_DEL, fd, nullptr);
      entry.mask = 0;
    }
    applyLocked(fd, keepReader, keepWriter);
  }

 private:
  void applyLocked(int fd, std::shared_ptr<DispatchSource>& reader, std::shared_ptr<DispatchSource>& writer) {
    auto it = entries.find(fd);
    if (it == entries.end()) return;
    FdEntry& entry = it->second;
    reader = entry.reader.lock();
    writer = entry.writer.lock();
    // A cancelled source is forgotten at once, so that its descriptor can be closed
    // and reused by a new source.
    bool readerLive = reader && !reader->isCancelled();
    bool writerLive = writer && !writer->isCancelled();
    if (!readerLive) entry.reader.reset();
    if (!writerLive) entry.writer.reset();
    std::uint32_t mask = 0;
    if (readerLive && reader->wantsEvents()) mask |= EPOLLIN | EPOLLRDHUP;
    if (writerLive && writer->wantsEvents()) mask |= EPOLLOUT;
    if (mask != entry.mask) {
      epoll_event ev{};
      ev.events = mask;
      ev.data.fd = fd;
      if (mask == 0) {
        ::epoll_ctl(epfd, EPOLL_CTL_DEL, fd, nullptr);
      } else if (entry.mask == 0) {
        if (::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST) ::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev);
      } else if (::epoll_ctl(epfd, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
        ::epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev);  // closed and reused behind our back
      }
      entry.mask = mask;
    }
    if (!readerLive && !writerLive) entries.erase(it);
  }
};

EpollState& epollState() {
  static EpollState* state = new EpollState;
  return *state;
}

}  // namespace

EpollThread& EpollThread::shared() {
  static EpollThread thread;
  return thread;
}

void EpollThread::update(int fd) { epollState().update(fd); }

void registerDescriptorSource(const std::shared_ptr<DispatchSource>& source) {
  epollState().registerSource(source);
}

}  // namespace dispatch_internal

dispatch_source_t dispatch_source_create(dispatch_source_type_t type, std::uintptr_t handle, unsigned long,
                                         const dispatch_queue_t& queue) {
  auto target = queue ? queue : dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT);
  auto source = std::make_shared<DispatchSource>(type, handle, target);
  if (type != DISPATCH_SOURCE_TYPE_TIMER) dispatch_internal::registerDescriptorSource(source);
  return source;
}

void dispatch_source_set_event_handler(const dispatch_source_t& source, dispatch_block_t handler) {
  if (source) source->setEventHandler(std::move(handler));
}

void dispatch_source_set_cancel_handler(const dispatch_source_t& source, dispatch_block_t handler) {
  if (source) source->setCancelHandler(std::move(handler));
}

void dispatch_source_set_timer(const dispatch_source_t& source, dispatch_time_t start, std::uint64_t interval,
                               std::uint64_t) {
  if (source && source->type() == DISPATCH_SOURCE_TYPE_TIMER) source->setTimer(start, interval);
}

unsigned long dispatch_source_get_data(const dispatch_source_t& source) { return source ? source->data() : 0; }

std::uintptr_t dispatch_source_get_handle(const dispatch_source_t& source) {
  return source ? source->handle() : 0;
}

void dispatch_source_cancel(const dispatch_source_t& source) {
  if (source) source->cancel();
}

long dispatch_source_testcancel(const dispatch_source_t& source) { return source && source->isCancelled() ? 1 : 0; }

void dispatch_suspend(const dispatch_source_t& source) {
  if (source) source->suspend();
}

void dispatch_resume(const dispatch_source_t& source) {
  if (source) source->resume();
}
