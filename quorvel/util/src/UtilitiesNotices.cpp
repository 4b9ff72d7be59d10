// The on-screen notices: a toast that goes away by itself and an alert that only
// flashes. Both are built and shown on the main queue.
#include "dispatch/dispatch.h"
#include "foundation/runloop.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIAlertView.h"

namespace {

constexpr double kToastDuration = 5.0;

}  // namespace

void Utilities::ShowToastMessage(const Text& message) {
  dispatch_async(dispatch_get_main_queue(), [message] {
    auto alert = std::make_shared<UIAlertView>(std::nullopt, message, nullptr, std::nullopt);
    alert->show();
    // Runs on the main run loop: this block runs on the main thread.
    NSRunLoop::performAfterDelay(kToastDuration, [alert] { dismissAlert(alert); });
  });
}

void Utilities::ShowAlertMessage(const Text& message) {
  dispatch_async(dispatch_get_main_queue(), [message] {
    auto alert = std::make_shared<UIAlertView>(std::nullopt, message, nullptr, "Cancel", std::vector<std::string>{"Ok"});
    alert->show();
    alert->dismissWithClickedButtonIndex(0, true);
  });
}

void Utilities::dismissAlert(const std::shared_ptr<UIAlertView>& alert) {
  if (alert) alert->dismissWithClickedButtonIndex(0, true);
}
