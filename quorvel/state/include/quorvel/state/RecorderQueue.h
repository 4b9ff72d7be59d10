// The queue of finished steps between their builders (the recorded-action thread,
// the capture hook and the object spy) and the step sender. First in, first out;
// each entry is a one-element list holding one step, or a spy list.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/json.h"
#include "objc/runtime.h"

class RecorderQueue : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RecorderQueue)
 public:
  // The single queue, created once on first use.
  static std::shared_ptr<RecorderQueue> get();

  void enqueue(JSONValue entry);
  // A spy list of the object spy: of several waiting together only the newest is
  // sent, the one whose views the spy storage counts highlight positions from.
  void enqueueSpyList(JSONValue list);
  // The first entry, removed; absent when the queue is empty.
  std::optional<JSONValue> dequeue();
  std::size_t getLength() const;
  // What the step sender sends now, in order, emptying the queue: every step, and
  // of the spy lists waiting only the newest (in its place).
  std::vector<JSONValue> takeForSending();

 private:
  struct Entry {
    JSONValue value;
    bool spyList = false;
  };
  mutable std::mutex mutex_;
  std::deque<Entry> innerItems;
};
