#include "WorkerPool.h"

#include <algorithm>

namespace httpguard {

WorkerPool::WorkerPool(std::size_t maxWorkers, std::size_t keptReady, std::chrono::milliseconds idleLife)
    : maxWorkers_(std::max<std::size_t>(1, maxWorkers)), keptReady_(keptReady), idleLife_(idleLife) {}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::enqueue(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  joinEnded();
  jobs_.push_back(std::move(job));
  if (idle_ < jobs_.size() && workers_.size() - ended_.size() < maxWorkers_) {
    // The new worker's own place in the list, which it hands back when it ends.
    Worker self = workers_.emplace(workers_.end());
    *self = std::thread([this, self] { work(self); });
  } else {
    wake_.notify_one();
  }
}

void WorkerPool::shutdown() {
  std::list<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    workers.swap(workers_);
    ended_.clear();
  }
  for (auto& worker : workers) {
    if (worker.joinable()) worker.join();
  }
}

void WorkerPool::joinEnded() {
  for (Worker worker : ended_) {
    if (worker->joinable()) worker->join();
    workers_.erase(worker);
  }
  ended_.clear();
}

void WorkerPool::work(Worker self) {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    const bool woken = wake_.wait_for(lock, idleLife_, [this] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (!jobs_.empty()) {
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      continue;
    }
    if (stopping_) return;
    // Idle for its whole life: ends unless it is one of the few kept ready.
    if (!woken && workers_.size() - ended_.size() > keptReady_) {
      ended_.push_back(self);
      return;
    }
  }
}

}  // namespace httpguard
