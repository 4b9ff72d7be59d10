#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "quorvel/state/RecorderQueue.h"

namespace {

TEST(RecorderQueueTest, FirstInFirstOutAndAbsentWhenEmpty) {
  RecorderQueue queue;
  EXPECT_FALSE(queue.dequeue().has_value());
  queue.enqueue(JSONValue::array({{{"action", "Click"}}}));
  queue.enqueue(JSONValue::array({{{"action", "ClickButton"}}}));
  EXPECT_EQ(queue.getLength(), 2u);
  EXPECT_EQ((*queue.dequeue())[0]["action"], "Click");
  EXPECT_EQ((*queue.dequeue())[0]["action"], "ClickButton");
  EXPECT_EQ(queue.getLength(), 0u);
  EXPECT_FALSE(queue.dequeue().has_value());
}

TEST(RecorderQueueTest, ConcurrentProducersAndConsumerLoseNothing) {
  RecorderQueue queue;
  constexpr int kProducers = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&queue, p] {
      for (int i = 0; i < kEach; ++i) queue.enqueue(JSONValue::array({{{"p", p}, {"i", i}}}));
    });
  }
  std::vector<int> lastSeen(kProducers, -1);
  int received = 0;
  bool ordered = true;
  while (received < kProducers * kEach) {
    if (auto entry = queue.dequeue()) {
      int p = (*entry)[0]["p"];
      int i = (*entry)[0]["i"];
      ordered = ordered && i == lastSeen[static_cast<std::size_t>(p)] + 1;
      lastSeen[static_cast<std::size_t>(p)] = i;
      ++received;
    } else {
      std::this_thread::yield();
    }
  }
  for (auto& t : producers) t.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(queue.getLength(), 0u);
}

TEST(RecorderQueueTest, GetReturnsOneQueue) { EXPECT_EQ(RecorderQueue::get(), RecorderQueue::get()); }

}  // namespace
