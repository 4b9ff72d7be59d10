#include "quorvel/state/RecorderQueue.h"

#include "dispatch/dispatch.h"

QV_OBJC_DEFINE_CLASS(RecorderQueue, objc::Object)

std::shared_ptr<RecorderQueue> RecorderQueue::get() {
  static dispatch_once_t once;
  static std::shared_ptr<RecorderQueue>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<RecorderQueue>(std::make_shared<RecorderQueue>()); });
  return *instance;
}

void RecorderQueue::enqueue(JSONValue entry) {
  std::lock_guard lock(mutex_);
  innerItems.push_back({std::move(entry), false});
}

void RecorderQueue::enqueueSpyList(JSONValue list) {
  std::lock_guard lock(mutex_);
  innerItems.push_back({std::move(list), true});
}

std::optional<JSONValue> RecorderQueue::dequeue() {
  std::lock_guard lock(mutex_);
  if (innerItems.empty()) return std::nullopt;
  JSONValue first = std::move(innerItems.front().value);
  innerItems.pop_front();
  return first;
}

std::vector<JSONValue> RecorderQueue::takeForSending() {
  std::deque<Entry> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(innerItems);
  }
  std::size_t newestSpyList = taken.size();
  for (std::size_t i = 0; i < taken.size(); ++i) {
    if (taken[i].spyList) newestSpyList = i;
  }
  std::vector<JSONValue> sent;
  for (std::size_t i = 0; i < taken.size(); ++i) {
    if (taken[i].spyList && i != newestSpyList) continue;
    sent.push_back(std::move(taken[i].value));
  }
  return sent;
}

std::size_t RecorderQueue::getLength() const {
  std::lock_guard lock(mutex_);
  return innerItems.size();
}
