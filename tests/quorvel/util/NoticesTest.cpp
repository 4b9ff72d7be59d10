#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "dispatch/dispatch.h"
#include "main_loop.h"
#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::shared_ptr<UIAlertView> visibleAlertWithMessage(const std::string& message) {
  for (const auto& alert : UIAlertView::_visibleAlerts()) {
    if (alert->message() == message) return alert;
  }
  return nullptr;
}

// Counts the times the alert overlay window became visible, through a root view
// controller that appears with it.
class AppearanceCounter : public UIViewController {
 public:
  int appearances = 0;
  void viewDidAppear(bool animated) override {
    UIViewController::viewDidAppear(animated);
    ++appearances;
  }
};

TEST(NoticesTest, ToastsAreButtonlessAlertsEachDismissedFiveSecondsAfterItWasShown) {
  ASSERT_TRUE(UIAlertView::_visibleAlerts().empty());
  // Asked from a background thread, as the recorder's handlers may; shown on the main thread.
  std::thread([] { Utilities::ShowToastMessage("Spy mode on"); }).join();
  EXPECT_TRUE(UIAlertView::_visibleAlerts().empty());  // nothing until the main queue runs

  std::map<std::string, Clock::time_point> shown, dismissed;
  auto watch = [&] {
    auto now = Clock::now();
    for (const char* m : {"Spy mode on", "Recording"}) {
      bool visible = visibleAlertWithMessage(m) != nullptr;
      if (visible && !shown.count(m)) shown[m] = now;
      if (!visible && shown.count(m) && !dismissed.count(m)) dismissed[m] = now;
    }
    return dismissed.size() == 2;
  };
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { watch(); return shown.count("Spy mode on") > 0; }));
  auto first = visibleAlertWithMessage("Spy mode on");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->title(), std::nullopt);
  EXPECT_EQ(first->numberOfButtons(), 0);
  EXPECT_NE(UIApplication::sharedApplication()->keyWindow(), first->window());

  // The second toast comes a little later and stays up after the first has gone.
  qvtest::runMainLoopUntil([&] { watch(); return Clock::now() - shown["Spy mode on"] > 300ms; });
  Utilities::ShowToastMessage("Recording");
  ASSERT_TRUE(qvtest::runMainLoopUntil(watch, 12s));
  EXPECT_GE(dismissed["Spy mode on"] - shown["Spy mode on"], 4900ms);
  EXPECT_GE(dismissed["Recording"] - shown["Recording"], 4900ms);
  EXPECT_LT(dismissed["Spy mode on"], dismissed["Recording"]);
  EXPECT_TRUE(UIAlertView::_visibleAlerts().empty());
}

TEST(NoticesTest, AlertOnlyFlashesAndLeavesOtherNoticesAlone) {
  ASSERT_TRUE(UIAlertView::_visibleAlerts().empty());
  auto overlay = UIAlertView::_alertWindow();
  ASSERT_TRUE(overlay->isHidden());
  auto counter = std::make_shared<AppearanceCounter>();
  overlay->setRootViewController(counter);

  Utilities::ShowAlertMessage("Element not found");
  bool ran = false;
  dispatch_async(dispatch_get_main_queue(), [&] { ran = true; });  // queued after the alert
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return ran; }));
  EXPECT_EQ(counter->appearances, 1);  // the overlay was shown ...
  EXPECT_TRUE(UIAlertView::_visibleAlerts().empty());  // ... and the alert dismissed at once
  EXPECT_TRUE(overlay->isHidden());
  overlay->setRootViewController(nullptr);

  // A flash while a toast is up takes only itself away.
  auto toast = std::make_shared<UIAlertView>(std::nullopt, "toast", nullptr, std::nullopt);
  toast->show();
  Utilities::ShowAlertMessage("flash");
  ran = false;
  dispatch_async(dispatch_get_main_queue(), [&] { ran = true; });
  ASSERT_TRUE(qvtest::runMainLoopUntil([&] { return ran; }));
  EXPECT_EQ(UIAlertView::_visibleAlerts(), (std::vector<std::shared_ptr<UIAlertView>>{toast}));
  Utilities::dismissAlert(toast);
  EXPECT_FALSE(toast->isVisible());
  Utilities::dismissAlert(nullptr);
}

}  // namespace
