// Test helpers: windows and synthetic fingers built with the touch's private
// setters and delivered through the application's sendEvent:, as a real finger's
// touches would be.
#pragma once

#include <memory>
#include <vector>

#include "foundation/foundation.h"
#include "uikit/uikit.h"

namespace uikittest {

inline std::shared_ptr<UIWindow> makeKeyWindow() {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  window->makeKeyAndVisible();
  return window;
}

class Finger {
 public:
  // Touches down at `point` (window coordinates) on whatever the window's hit test finds.
  Finger(const std::shared_ptr<UIWindow>& window, CGPoint point) : touch_(std::make_shared<UITouch>()) {
    touch_->setWindow(window);
    touch_->setTapCount(1);
    touch_->_setLocationInWindow(point, true);
    touch_->setView(window->hitTest(point, nullptr));
    touch_->setPhase(UITouchPhaseBegan);
    touch_->_setIsFirstTouchForView(true);
    touch_->setIsTap(true);
    touch_->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
    deliver();
  }

  void moveTo(CGPoint point) {
    touch_->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
    touch_->_setLocationInWindow(point, false);
    touch_->setPhase(UITouchPhaseMoved);
    deliver();
  }

  void lift() {
    touch_->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
    touch_->setPhase(UITouchPhaseEnded);
    deliver();
  }

  const std::shared_ptr<UITouch>& touch() const { return touch_; }

 private:
  void deliver() {
    auto app = UIApplication::sharedApplication();
    auto event = app->_touchesEvent();
    event->_clearTouches();
    event->_addTouch(touch_, false);
    app->sendEvent(event);
  }

  std::shared_ptr<UITouch> touch_;
};

inline std::shared_ptr<UIView> tap(const std::shared_ptr<UIWindow>& window, CGPoint point) {
  Finger finger(window, point);
  finger.lift();
  return finger.touch()->view();
}

// A drag from `from` to `to` in `steps` moves (window coordinates).
inline void drag(const std::shared_ptr<UIWindow>& window, CGPoint from, CGPoint to, int steps = 4) {
  Finger finger(window, from);
  for (int i = 1; i <= steps; ++i) {
    double f = static_cast<double>(i) / steps;
    finger.moveTo({from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f});
  }
  finger.lift();
}

// The middle of `view` in its window's coordinates.
inline CGPoint middleInWindow(const std::shared_ptr<UIView>& view) {
  CGRect b = view->bounds();
  return view->convertPointToView({b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2}, nullptr);
}

}  // namespace uikittest
