#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "xctest/XCTestMain.h"
#include "xctest/XCTestObservation.h"

namespace {

class Counter : public XCTestObservation {
 public:
  void testBundleWillStart(const std::shared_ptr<XCTestBundle>&) override { ++bundles; }
  void testCaseDidFinish(const std::shared_ptr<XCTestCase>&) override { ++cases; }
  std::atomic<int> bundles{0};
  std::atomic<int> cases{0};
};

TEST(XCTestObservationCenter, ObserversComeAndGoWhileTestsRun) {
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  EXPECT_EQ(center, XCTestObservationCenter::sharedTestObservationCenter());
  auto steady = std::make_shared<Counter>();
  center->addTestObserver(steady);

  std::atomic<bool> running{true};
  std::vector<std::thread> churn;
  for (int t = 0; t < 3; ++t) {
    churn.emplace_back([&] {
      while (running) {
        auto passing = std::make_shared<Counter>();
        center->addTestObserver(passing);
        center->removeTestObserver(passing);
      }
    });
  }
  constexpr int kRuns = 20;
  int failures = 0;
  for (int i = 0; i < kRuns; ++i) failures += xctest::runTestBundles({PASSING_BUNDLE});
  running = false;
  for (auto& t : churn) t.join();
  center->removeTestObserver(steady);

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(steady->bundles.load(), kRuns);
  EXPECT_EQ(steady->cases.load(), kRuns * 2);
  EXPECT_TRUE(center->observers().empty());
}

TEST(XCTestObservationCenter, FailuresRecordedOnOtherThreadsReachObservers) {
  class Failures : public XCTestObservation {
   public:
    void testCaseDidFailWithDescription(const std::shared_ptr<XCTestCase>&, const std::string&,
                                        const std::optional<std::string>&, unsigned long) override {
      ++count;
    }
    std::atomic<int> count{0};
  };
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  auto failures = std::make_shared<Failures>();
  center->addTestObserver(failures);
  auto testCase = std::make_shared<XCTestCase>("bundle", "testThreads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) testCase->recordFailure("failure");
    });
  }
  for (auto& t : threads) t.join();
  center->removeTestObserver(failures);
  EXPECT_EQ(testCase->failures().size(), 200u);
  EXPECT_EQ(failures->count.load(), 200);
  EXPECT_FALSE(testCase->hasSucceeded());
}

}  // namespace
