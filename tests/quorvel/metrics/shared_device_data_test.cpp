#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

#include "quorvel/metrics/DeviceModelTable.h"

namespace {

TEST(SharedDeviceData, ConcurrentFirstCallsCreateOneObject) {
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<DeviceModelTable*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = DeviceModelTable::sharedDeviceData().get();
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (auto* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_EQ(DeviceModelTable::sharedDeviceData().get(), seen[0]);
  EXPECT_EQ(seen[0]->iDevice(), 0);  // untouched until an identifier is set
}

TEST(SharedDeviceData, SettersAndGettersFromSeveralThreads) {
  auto table = DeviceModelTable::sharedDeviceData();
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < 500; ++n) {
        table->setHwMachine(i % 2 ? "iPhone7,2" : "iPhone7,1");
        std::string name = table->getiDeviceName();
        if (name != "iPhone 6" && name != "iPhone 6 Plus") ++unexpected;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
}

}  // namespace
