#include "uikit/UITouch.h"

#include "class_support.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(UITouch, objc::Object, [](objc::Class* c) {
  c->addMethod<void, std::shared_ptr<UIView>>("setGestureView:", [](objc::Object& self, std::shared_ptr<UIView> view) {
    auto& touch = static_cast<UITouch&>(self);
    std::lock_guard lock(touch.mutex_);
    touch.gestureView_ = std::move(view);
  });
})

UITouch::~UITouch() { CFRelease(hidEvent_); }

UITouchPhase UITouch::phase() const {
  std::lock_guard lock(mutex_);
  return phase_;
}

std::shared_ptr<UIView> UITouch::view() const {
  std::lock_guard lock(mutex_);
  return view_;
}

std::shared_ptr<UIWindow> UITouch::window() const {
  std::lock_guard lock(mutex_);
  return window_.lock();
}

CGPoint UITouch::locationInView(const std::shared_ptr<UIView>& view) const {
  CGPoint p;
  std::shared_ptr<UIWindow> w;
  {
    std::lock_guard lock(mutex_);
    p = location_;
    w = window_.lock();
  }
  if (!view || !w) return p;
  return view->convertPointFromView(p, w);
}

CGPoint UITouch::previousLocationInView(const std::shared_ptr<UIView>& view) const {
  CGPoint p;
  std::shared_ptr<UIWindow> w;
  {
    std::lock_guard lock(mutex_);
    p = previousLocation_;
    w = window_.lock();
  }
  if (!view || !w) return p;
  return view->convertPointFromView(p, w);
}

unsigned long UITouch::tapCount() const {
  std::lock_guard lock(mutex_);
  return tapCount_;
}

double UITouch::timestamp() const {
  std::lock_guard lock(mutex_);
  return timestamp_;
}

std::shared_ptr<UIView> UITouch::gestureView() const {
  std::lock_guard lock(mutex_);
  return gestureView_;
}

bool UITouch::isTap() const {
  std::lock_guard lock(mutex_);
  return isTap_;
}

bool UITouch::_isFirstTouchForView() const {
  std::lock_guard lock(mutex_);
  return firstTouchForView_;
}

IOHIDEventRef UITouch::_hidEvent() const {
  std::lock_guard lock(mutex_);
  return hidEvent_;
}

std::vector<std::shared_ptr<UIGestureRecognizer>> UITouch::gestureRecognizers() const {
  std::lock_guard lock(mutex_);
  return recognizers_;
}

void UITouch::setWindow(const std::shared_ptr<UIWindow>& window) {
  std::lock_guard lock(mutex_);
  window_ = window;
}

void UITouch::setTapCount(unsigned long count) {
  std::lock_guard lock(mutex_);
  tapCount_ = count;
}

void UITouch::_setLocationInWindow(CGPoint location, bool resetPrevious) {
  std::lock_guard lock(mutex_);
  previousLocation_ = resetPrevious ? location : location_;
  location_ = location;
}

void UITouch::setView(const std::shared_ptr<UIView>& view) {
  std::lock_guard lock(mutex_);
  view_ = view;
}

void UITouch::setPhase(UITouchPhase phase) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
}

void UITouch::_setIsFirstTouchForView(bool first) {
  std::lock_guard lock(mutex_);
  firstTouchForView_ = first;
}

void UITouch::setIsTap(bool isTap) {
  std::lock_guard lock(mutex_);
  isTap_ = isTap;
}

void UITouch::setTimestamp(double timestamp) {
  std::lock_guard lock(mutex_);
  timestamp_ = timestamp;
}

void UITouch::setGestureView(const std::shared_ptr<UIView>& view) {
  objc::msgSend<void, std::shared_ptr<UIView>>(*this, "setGestureView:", view);
}

void UITouch::_setHidEvent(IOHIDEventRef event) {
  CFRetain(event);
  IOHIDEventRef old;
  {
    std::lock_guard lock(mutex_);
    old = hidEvent_;
    hidEvent_ = event;
  }
  CFRelease(old);
}

void UITouch::_setGestureRecognizers(std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers) {
  std::lock_guard lock(mutex_);
  recognizers_ = std::move(recognizers);
}

bool UITouch::_deliveryCancelled() const {
  std::lock_guard lock(mutex_);
  return deliveryCancelled_;
}

void UITouch::_setDeliveryCancelled(bool cancelled) {
  std::lock_guard lock(mutex_);
  deliveryCancelled_ = cancelled;
}

std::string UITouch::description() const {
  std::lock_guard lock(mutex_);
  return "<" + className() + ": " + addressText() + "; phase = " + std::to_string(phase_) + "; location = " +
         NSStringFromCGPoint(location_) + ">";
}
