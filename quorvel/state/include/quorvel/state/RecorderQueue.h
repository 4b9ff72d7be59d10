// The queue of finished steps between their builders (the recorded-action thread,
// the capture hook and the object spy) and the step sender. First in, first out;
// each entry is a one-element list holding one step.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "foundation/json.h"
#include "objc/runtime.h"

class RecorderQueue : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RecorderQueue)
 public:
  // The single queue, created once on first use.
  static std::shared_ptr<RecorderQueue> get();

  void enqueue(JSONValue entry);
  // The first entry, removed; absent when the queue is empty.
  std::optional<JSONValue> dequeue();
  std::size_t getLength() const;

 private:
  mutable std::mutex mutex_;
  std::deque<JSONValue> innerItems;
};
