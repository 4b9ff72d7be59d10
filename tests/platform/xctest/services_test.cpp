#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/log.h"
#include "xctest/BKSProcessAssertion.h"
#include "xctest/XCTDefaultLog.h"

namespace {

TEST(XCTDefaultLog, WritesThroughTheLogWithItsLevel) {
  auto log = XCTDefaultLog();
  EXPECT_EQ(log, XCTDefaultLog());
  std::mutex mutex;
  std::vector<std::string> platformLines;
  std::vector<std::pair<XCTLogLevel, std::string>> levelled;
  int platformToken = foundation::addLogObserver([&](const std::string& m) {
    std::lock_guard lock(mutex);
    platformLines.push_back(m);
  });
  int token = log->addObserver([&](XCTLogLevel level, const std::string& m) {
    std::lock_guard lock(mutex);
    levelled.emplace_back(level, m);
  });

  log->log("Running tests...");
  log->error("background task expired!!!");
  log->log("Continuing to run tests in the background with task ID %lu", 17ul);
  log->log("%@", "100%d");  // arguments are not formats
  log->removeObserver(token);
  log->log("unobserved");
  foundation::removeLogObserver(platformToken);

  EXPECT_EQ(platformLines, (std::vector<std::string>{"Running tests...", "background task expired!!!",
                                                     "Continuing to run tests in the background with task ID 17",
                                                     "100%d", "unobserved"}));
  ASSERT_EQ(levelled.size(), 4u);
  EXPECT_EQ(levelled[0].first, XCTLogLevel::defaultLevel);
  EXPECT_EQ(levelled[1], std::make_pair(XCTLogLevel::error, std::string("background task expired!!!")));
  EXPECT_EQ(levelled[2].first, XCTLogLevel::defaultLevel);
}

bool held(const std::string& name) {
  for (const auto& n : BKSProcessAssertion::heldAssertionNames()) {
    if (n == name) return true;
  }
  return false;
}

TEST(BKSProcessAssertion, AcquireHoldsUntilInvalidated) {
  auto assertion = BKSProcessAssertion::initWithPID(::getpid(), 1, 4, "Trellan Initialization");
  EXPECT_EQ(assertion->flags(), 1u);
  EXPECT_EQ(assertion->reason(), 4u);
  EXPECT_FALSE(assertion->valid());
  EXPECT_TRUE(assertion->acquire());
  EXPECT_TRUE(assertion->acquire());  // already held
  EXPECT_TRUE(assertion->valid());
  EXPECT_TRUE(held("Trellan Initialization"));
  assertion->invalidate();
  EXPECT_FALSE(assertion->valid());
  EXPECT_FALSE(held("Trellan Initialization"));
  EXPECT_FALSE(assertion->acquire());  // invalidated for good
  EXPECT_TRUE(objc::Class::named("BKSProcessAssertion") != nullptr);
}

TEST(BKSProcessAssertion, ReleasedWhenDestroyed) {
  {
    auto assertion = BKSProcessAssertion::initWithPID(::getpid(), 1, 4, "scoped");
    ASSERT_TRUE(assertion->acquire());
    EXPECT_TRUE(held("scoped"));
  }
  EXPECT_FALSE(held("scoped"));
}

TEST(BKSProcessAssertion, RefusedByTheServiceOrForAMissingProcess) {
  ::setenv("QUORVEL_ASSERTION_FAIL", "1", 1);
  auto refused = BKSProcessAssertion::initWithPID(::getpid(), 1, 4, "refused");
  EXPECT_FALSE(refused->acquire());
  EXPECT_FALSE(refused->valid());
  EXPECT_FALSE(held("refused"));
  ::unsetenv("QUORVEL_ASSERTION_FAIL");
  EXPECT_TRUE(refused->acquire());  // the service accepts again
  refused->invalidate();

  // Process ids stay far below this bound on Linux.
  EXPECT_FALSE(BKSProcessAssertion::initWithPID(0x7FFFFFF0, 1, 4, "ghost")->acquire());
  EXPECT_FALSE(BKSProcessAssertion::initWithPID(-1, 1, 4, "negative")->acquire());
  EXPECT_FALSE(held("ghost"));
}

}  // namespace
