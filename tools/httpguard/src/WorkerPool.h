// The workers of a guarded server: each connection is served by a worker of its
// own, started when none is idle (up to a maximum; beyond it connections wait for
// one). Workers left idle for a while end, down to a few kept ready.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace httpguard {

class WorkerPool final : public httplib::TaskQueue {
 public:
  explicit WorkerPool(std::size_t maxWorkers, std::size_t keptReady = 4,
                      std::chrono::milliseconds idleLife = std::chrono::seconds(30));
  ~WorkerPool() override;

  void enqueue(std::function<void()> job) override;
  // Runs the jobs already queued, then ends every worker.
  void shutdown() override;

 private:
  using Worker = std::list<std::thread>::iterator;
  void work(Worker self);
  void joinEnded();  // under mutex_

  const std::size_t maxWorkers_;
  const std::size_t keptReady_;
  const std::chrono::milliseconds idleLife_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::list<std::thread> workers_;
  std::vector<Worker> ended_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace httpguard
