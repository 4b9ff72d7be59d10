#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "log_lines.h"
#include "quorvel/bootstrap/RecordControl.h"
#include "quorvel/recording/CaptureHooks.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/state/GlobalVars.h"
#include "uikit/uikit.h"
#include "wait.h"

namespace {

using Clock = std::chrono::steady_clock;

struct CycleTimes {
  std::mutex mutex;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> cycles;  // start, end
  Clock::time_point currentStart;
  int running = 0;
  int maxRunning = 0;
};

// The start-up runs once per process (as the library's load hook would), so all the
// observations share one process and come in one test.
TEST(BootstrapTest, LoadHooksStartTheAgentAndThePollingHookNeverOverlaps) {
  qvtest::LogLines log;
  auto windowIsNull = [&] { return log.countExact("WINDOW IS NULL"); };

  auto times = std::make_shared<CycleTimes>();
  std::atomic<bool> slow{true};
  RecordControl::setCycleObserver([times, &slow](bool started) {
    std::unique_lock lock(times->mutex);
    if (started) {
      times->currentStart = Clock::now();
      times->maxRunning = std::max(times->maxRunning, ++times->running);
      lock.unlock();
      // A slow cycle: it must delay the next one instead of overlapping with it.
      if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else {
      --times->running;
      times->cycles.emplace_back(times->currentStart, Clock::now());
    }
  });

  QuorvelRunLoadHooks();
  auto vars = GlobalVars::sharedInstance();
  EXPECT_EQ(vars->_spyMode(), std::string("false"));
  EXPECT_EQ(vars->_viewControllerLoaded(), std::string("LOADED"));
  EXPECT_EQ(vars->_currentUIWindow(), UIWindow::classObject());
  EXPECT_EQ(log.countExact("Loading ZARVO IOS INSTRUMENTOR..."), 1);
  EXPECT_EQ(log.countExact("WINDOW IS LOADED UIWindow"), 1);
  // The recorded-action thread runs, every 0.1 seconds.
  EXPECT_TRUE(qvtest::waitUntil([] { return ElementsQueue::completedRuns() >= 3; }, std::chrono::seconds(5)));

  // No window is key: every cycle logs "WINDOW IS NULL".
  ASSERT_TRUE(qvtest::waitUntil([&] { return windowIsNull() >= 4; }, std::chrono::seconds(10)));
  {
    std::lock_guard lock(times->mutex);
    EXPECT_EQ(times->maxRunning, 1);
    for (std::size_t i = 1; i < times->cycles.size(); ++i) {
      auto gap = times->cycles[i].first - times->cycles[i - 1].second;
      EXPECT_GE(gap, std::chrono::milliseconds(195)) << "cycle " << i << " was armed before the previous ended";
    }
  }
  slow = false;

  // A key window stops the message and becomes the shared state's window.
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  auto controller = std::make_shared<UIViewController>();
  window->setRootViewController(controller);  // appearance callbacks run through the hooks
  window->makeKeyAndVisible();
  ASSERT_TRUE(qvtest::waitUntil([&] { return vars->_uiWindow() == window; }, std::chrono::seconds(5)));
  int nullsWhenKey = windowIsNull();
  std::size_t cyclesWhenKey;
  {
    std::lock_guard lock(times->mutex);
    cyclesWhenKey = times->cycles.size();
  }
  ASSERT_TRUE(qvtest::waitUntil(
      [&] {
        std::lock_guard lock(times->mutex);
        return times->cycles.size() >= cyclesWhenKey + 3;
      },
      std::chrono::seconds(5)));
  EXPECT_LE(windowIsNull(), nullsWhenKey + 1);  // at most one cycle was already past its check
  EXPECT_EQ(vars->_viewControllerLoaded(), std::string("LOADED"));

  // Every dispatched event passes through the capture hook, and the application
  // still receives it: a tap on a button runs its action.
  auto button = std::make_shared<UIButton>(CGRectMake(10, 100, 100, 40));
  button->setTitle(std::string("Go"), UIControlStateNormal);
  window->addSubview(button);
  int taps = 0;
  button->addAction([&taps](auto, auto) { ++taps; }, UIControlEventTouchUpInside);
  auto app = UIApplication::sharedApplication();
  auto touch = std::make_shared<UITouch>();
  touch->setWindow(window);
  touch->setTapCount(1);
  touch->_setLocationInWindow(CGPointMake(50, 120), true);
  touch->setView(window->hitTest(CGPointMake(50, 120), nullptr));
  touch->setPhase(UITouchPhaseBegan);
  auto event = app->_touchesEvent();
  event->_clearTouches();
  event->_addTouch(touch, false);
  app->sendEvent(event);
  touch->setPhase(UITouchPhaseEnded);
  app->sendEvent(event);
  EXPECT_EQ(log.countExact("Clicked"), 2);
  EXPECT_EQ(taps, 1);

  // The will-appear hook sets "LOADING" after the platform's own callback; the
  // did-appear hook sets "LOADED".
  auto pushed = std::make_shared<UIViewController>();
  objc::msgSend<void>(*pushed, "viewWillAppear:", false);
  EXPECT_EQ(vars->_viewControllerLoaded(), std::string("LOADING"));
  objc::msgSend<void>(*pushed, "viewDidAppear:", false);
  EXPECT_EQ(vars->_viewControllerLoaded(), std::string("LOADED"));
  RecordControl::setCycleObserver(nullptr);
}

TEST(BootstrapTest, LoadHooksIgnoreSubclasses) {
  objc::Class* sub = objc::Class::allocateClassPair(UIWindow::classObject(), "MyAppWindowForLoadHookTest");
  ASSERT_NE(sub, nullptr);
  qvtest::LogLines log;
  UIWindow_UIWindow::load(sub);
  EXPECT_EQ(log.countExact("WINDOW IS LOADED MyAppWindowForLoadHookTest"), 0);
}

}  // namespace
