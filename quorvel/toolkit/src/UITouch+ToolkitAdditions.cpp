#include "quorvel/toolkit/UITouch+ToolkitAdditions.h"

#include "PlatformVersion.h"
#include "foundation/process_info.h"
#include "quorvel/toolkit/IOHIDEvent+Toolkit.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

namespace UITouch_ToolkitAdditions {

namespace {

double now() { return NSProcessInfo::processInfo()->systemUptime(); }

}  // namespace

std::shared_ptr<UITouch> initAtPointInWindow(CGPoint point, const std::shared_ptr<UIWindow>& window) {
  auto touch = std::make_shared<UITouch>();
  touch->setWindow(window);
  touch->setTapCount(1);
  touch->_setLocationInWindow(point, true);
  std::shared_ptr<UIView> hit = window ? window->hitTest(point, nullptr) : nullptr;
  touch->setView(hit);
  touch->setPhase(UITouchPhaseBegan);
  touch->_setIsFirstTouchForView(true);
  touch->setIsTap(true);
  touch->setTimestamp(now());
  if (touch->respondsToSelector("setGestureView:")) touch->setGestureView(hit);
  if (toolkit_internal::isOperatingSystemAtLeast(9)) tk_setHidEvent(touch);
  return touch;
}

std::shared_ptr<UITouch> initAtPointInView(CGPoint point, const std::shared_ptr<UIView>& view) {
  auto window = view ? view->window() : nullptr;
  // Like a message to no window: no conversion, the zero point.
  CGPoint inWindow = window ? window->convertPointFromView(point, view) : CGPointZero;
  return initAtPointInWindow(inWindow, window);
}

std::shared_ptr<UITouch> initInView(const std::shared_ptr<UIView>& view) {
  CGRect frame = view ? view->frame() : CGRectZero;
  return initAtPointInView({frame.size.width * 0.5, frame.size.height * 0.5}, view);
}

void setLocationInWindow(const std::shared_ptr<UITouch>& touch, CGPoint point) {
  touch->setTimestamp(now());
  touch->_setLocationInWindow(point, false);
}

void setPhaseAndUpdateTimestamp(const std::shared_ptr<UITouch>& touch, UITouchPhase phase) {
  touch->setTimestamp(now());
  touch->setPhase(phase);
}

void tk_setHidEvent(const std::shared_ptr<UITouch>& touch) {
  IOHIDEventRef record = tk_IOHIDEventWithTouches({touch});
  touch->_setHidEvent(record);
  CFRelease(record);
}

}  // namespace UITouch_ToolkitAdditions
