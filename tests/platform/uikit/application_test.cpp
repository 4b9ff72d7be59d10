#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_loop.h"
#include "touch_helpers.h"

namespace {

std::vector<std::string>& calls() {
  static std::vector<std::string> c;
  return c;
}

class TestAppDelegate : public UIApplicationDelegate {
  QV_OBJC_DECLARE_CLASS(TestAppDelegate)
 public:
  bool didFinishLaunchingWithOptions(const std::shared_ptr<UIApplication>& app,
                                     const std::map<std::string, std::any>&) override {
    calls().push_back("launch:" + std::to_string(app->applicationState()));
    auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    setWindow(window);
    window->setRootViewController(std::make_shared<UIViewController>());
    window->makeKeyAndVisible();
    // Quit the run loop once it runs, with a status the test can see.
    dispatch_async(dispatch_get_main_queue(), [app] { app->_stopMainLoop(7); });
    return true;
  }
  void applicationDidBecomeActive(const std::shared_ptr<UIApplication>&) override { calls().push_back("active"); }
  void applicationWillResignActive(const std::shared_ptr<UIApplication>&) override { calls().push_back("resign"); }
  void applicationDidEnterBackground(const std::shared_ptr<UIApplication>&) override { calls().push_back("background"); }
  void applicationWillEnterForeground(const std::shared_ptr<UIApplication>&) override { calls().push_back("foreground"); }
};

QV_OBJC_DEFINE_CLASS(TestAppDelegate, UIApplicationDelegate)

TEST(Application, MainMakesTheDelegateByNameLaunchesAndRunsTheLoop) {
  calls().clear();
  char arg0[] = "test";
  char* argv[] = {arg0, nullptr};
  int status = UIApplicationMain(1, argv, std::nullopt, std::string("TestAppDelegate"));
  EXPECT_EQ(status, 7);
  auto app = UIApplication::sharedApplication();
  auto delegate = objc::cast<TestAppDelegate>(app->delegate());
  ASSERT_NE(delegate, nullptr);
  EXPECT_EQ(calls(), (std::vector<std::string>{"launch:1", "active"}));
  EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
  EXPECT_EQ(app->keyWindow(), delegate->window());
  EXPECT_TRUE(delegate->window()->rootViewController()->_isAppeared());

  // Life cycle hooks of the host.
  calls().clear();
  std::vector<std::string> notices;
  int token = NSNotificationCenter::defaultCenter().addObserverForName(
      std::nullopt, app, [&](const NSNotification& n) { notices.push_back(n.name); });
  app->_enterBackground();
  EXPECT_EQ(app->applicationState(), UIApplicationStateBackground);
  app->_becomeActive();
  app->_resignActive();
  EXPECT_EQ(app->applicationState(), UIApplicationStateInactive);
  app->_becomeActive();
  NSNotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(calls(), (std::vector<std::string>{"resign", "background", "foreground", "active", "resign", "active"}));
  EXPECT_EQ(notices.front(), UIApplicationWillResignActiveNotification);
  EXPECT_EQ(notices[1], UIApplicationDidEnterBackgroundNotification);
  EXPECT_EQ(notices.size(), 6u);
  delegate->setWindow(nullptr);
}

TEST(Application, BackgroundTasksAreCountedUntilEnded) {
  auto app = UIApplication::sharedApplication();
  auto before = app->_backgroundTaskCount();
  auto a = app->beginBackgroundTaskWithExpirationHandler([] {});
  auto b = app->beginBackgroundTaskWithExpirationHandler(nullptr);
  EXPECT_NE(a, UIBackgroundTaskInvalid);
  EXPECT_NE(a, b);
  EXPECT_EQ(app->_backgroundTaskCount(), before + 2);
  app->endBackgroundTask(a);
  app->endBackgroundTask(a);
  app->endBackgroundTask(UIBackgroundTaskInvalid);
  EXPECT_EQ(app->_backgroundTaskCount(), before + 1);
  app->endBackgroundTask(b);
  EXPECT_EQ(app->_backgroundTaskCount(), before);
}

TEST(Application, TrackingModeIsACommonModeAndLayoutRunsOnTheMainQueue) {
  auto app = UIApplication::sharedApplication();
  bool fired = false;
  auto timer = CFRunLoopTimerCreate(0.0, 0, [&] { fired = true; });
  CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopCommonModes);
  CFRunLoopRunInMode(UITrackingRunLoopMode, 0.05, false);
  EXPECT_TRUE(fired);

  auto window = uikittest::makeKeyWindow();
  auto segmented = std::make_shared<UISegmentedControl>(CGRectMake(0, 0, 100, 30));
  segmented->initWithItems({"A", "B"});
  window->addSubview(segmented);
  segmented->setFrame(CGRectMake(0, 0, 200, 30));
  EXPECT_TRUE(segmented->needsLayout());
  EXPECT_TRUE(qvtest::runMainLoopUntil([&] { return !segmented->needsLayout(); }));
  EXPECT_EQ(segmented->segments()[1]->frame(), CGRectMake(100, 0, 100, 30));
}

}  // namespace
