// The host's application delegate in process: made by class name, its process
// assertion and its release through the observation centre when a bundle starts,
// and the background task on resigning active, with the levels of its log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <any>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TrellanAppDelegate.h"
#include "uikit/UIApplication.h"
#include "xctest/XCTDefaultLog.h"
#include "xctest/XCTestMain.h"

namespace {

using ::testing::Contains;
using ::testing::Not;

// Collects what is written to the test machinery's default log while alive.
class LogCapture {
 public:
  LogCapture() {
    token_ = XCTDefaultLog()->addObserver([this](XCTLogLevel level, const std::string& message) {
      std::lock_guard lock(mutex_);
      entries_.emplace_back(level, message);
    });
  }
  ~LogCapture() { XCTDefaultLog()->removeObserver(token_); }
  std::vector<std::pair<XCTLogLevel, std::string>> entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  int token_ = 0;
  std::mutex mutex_;
  std::vector<std::pair<XCTLogLevel, std::string>> entries_;
};

bool observing(const std::shared_ptr<_TrellanAppDelegate>& delegate) {
  auto observers = XCTestObservationCenter::sharedTestObservationCenter()->observers();
  return std::find(observers.begin(), observers.end(), std::shared_ptr<XCTestObservation>(delegate)) !=
         observers.end();
}

TEST(TrellanAppDelegate, IsMadeByItsClassName) {
  objc::Class* cls = objc::Class::named("_TrellanAppDelegate");
  ASSERT_NE(cls, nullptr);
  EXPECT_TRUE(cls->isSubclassOfClass(UIApplicationDelegate::classObject()));
  auto delegate = objc::cast<_TrellanAppDelegate>(cls->createInstance());
  ASSERT_TRUE(delegate);
  EXPECT_EQ(delegate->className(), "_TrellanAppDelegate");
  EXPECT_EQ(delegate->temporaryProcessAssertion(), nullptr);
  EXPECT_EQ(delegate->window(), nullptr);
}

TEST(TrellanAppDelegate, AssertionIsHeldUntilTheBundleStarts) {
  const char* buildDir = std::getenv("QV_BUILD_DIR");
  ASSERT_NE(buildDir, nullptr);
  auto delegate = std::make_shared<_TrellanAppDelegate>();
  LogCapture log;

  delegate->acquireTemporaryProcessAssertion();
  auto assertion = delegate->temporaryProcessAssertion();
  ASSERT_TRUE(assertion);
  EXPECT_EQ(assertion->pid(), ::getpid());
  EXPECT_EQ(assertion->flags(), 1u);
  EXPECT_EQ(assertion->reason(), 4u);
  EXPECT_EQ(assertion->name(), "Trellan Initialization");
  EXPECT_TRUE(assertion->valid());
  EXPECT_THAT(BKSProcessAssertion::heldAssertionNames(), Contains("Trellan Initialization"));
  EXPECT_EQ(std::any_cast<std::shared_ptr<BKSProcessAssertion>>(delegate->valueForKey("temporaryProcessAssertion")),
            assertion);
  EXPECT_TRUE(log.entries().empty());

  // The test machinery tells the observing delegate that the bundle starts.
  auto center = XCTestObservationCenter::sharedTestObservationCenter();
  center->addTestObserver(delegate);
  EXPECT_EQ(xctest::runTestBundles({std::string(buildDir) + "/lib/libTrellanSampleTests.so"}), 0);
  EXPECT_FALSE(assertion->valid());
  EXPECT_EQ(delegate->temporaryProcessAssertion(), nullptr);
  EXPECT_THAT(BKSProcessAssertion::heldAssertionNames(), Not(Contains("Trellan Initialization")));
  EXPECT_FALSE(observing(delegate));

  // A bundle start with nothing held releases nothing and does no harm.
  delegate->testBundleWillStart(std::make_shared<XCTestBundle>("/bundles/libOther.so", std::vector<std::string>{}));
  EXPECT_EQ(delegate->temporaryProcessAssertion(), nullptr);
  EXPECT_TRUE(log.entries().empty());
}

TEST(TrellanAppDelegate, ARefusedAssertionIsLoggedAtErrorLevel) {
  auto delegate = std::make_shared<_TrellanAppDelegate>();
  LogCapture log;
  ::setenv("QUORVEL_ASSERTION_FAIL", "1", 1);
  delegate->acquireTemporaryProcessAssertion();
  ::unsetenv("QUORVEL_ASSERTION_FAIL");
  EXPECT_EQ(log.entries(),
            (std::vector<std::pair<XCTLogLevel, std::string>>{
                {XCTLogLevel::error, "Failed to acquire temporary process assertion. Execution may be interrupted."}}));
  // The assertion is kept all the same, to be invalidated when the bundle starts.
  auto assertion = delegate->temporaryProcessAssertion();
  ASSERT_TRUE(assertion);
  EXPECT_FALSE(assertion->valid());
  delegate->testBundleWillStart(std::make_shared<XCTestBundle>("/bundles/libOther.so", std::vector<std::string>{}));
  EXPECT_EQ(delegate->temporaryProcessAssertion(), nullptr);
}

TEST(TrellanAppDelegate, ResigningActiveBeginsABackgroundTaskEachTime) {
  auto app = UIApplication::sharedApplication();
  auto delegate = std::make_shared<_TrellanAppDelegate>();
  LogCapture log;
  const std::size_t before = app->_backgroundTaskCount();
  delegate->applicationWillResignActive(app);
  delegate->applicationWillResignActive(app);
  EXPECT_EQ(app->_backgroundTaskCount(), before + 2);  // never ended by the host

  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  const std::string prefix = "Continuing to run tests in the background with task ID ";
  std::vector<unsigned long> ids;
  for (const auto& [level, message] : entries) {
    EXPECT_EQ(level, XCTLogLevel::defaultLevel);
    ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
    const std::string id = message.substr(prefix.size());
    ASSERT_TRUE(!id.empty() && id.find_first_not_of("0123456789") == std::string::npos) << message;
    ids.push_back(std::stoul(id));
  }
  EXPECT_NE(ids[0], ids[1]);
  for (unsigned long id : ids) {
    EXPECT_NE(id, UIBackgroundTaskInvalid);
    app->endBackgroundTask(id);  // the logged ID names the task that was begun
  }
  EXPECT_EQ(app->_backgroundTaskCount(), before);
}

TEST(TrellanAppDelegate, AnExpiredBackgroundTaskIsLoggedAtErrorLevel) {
  auto app = UIApplication::sharedApplication();
  app->_expireBackgroundTasks();  // nothing left over from other tests
  auto delegate = std::make_shared<_TrellanAppDelegate>();
  LogCapture log;
  delegate->applicationWillResignActive(app);
  ASSERT_EQ(app->_backgroundTaskCount(), 1u);
  EXPECT_EQ(app->_expireBackgroundTasks(), 1u);
  EXPECT_EQ(app->_backgroundTaskCount(), 0u);
  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], std::make_pair(XCTLogLevel::error, std::string("background task expired!!!")));
}

}  // namespace
