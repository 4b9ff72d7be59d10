#include "uikit/UIEvent.h"

#include <algorithm>

#include "foundation/process_info.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(UIEvent, objc::Object)

UIEvent::UIEvent(UIEventType type, UIEventSubtype subtype)
    : type_(type), subtype_(subtype), timestamp_(NSProcessInfo::processInfo()->systemUptime()) {}

UIEvent::~UIEvent() { CFRelease(hidEvent_); }

UIEventType UIEvent::type() const { return type_; }
UIEventSubtype UIEvent::subtype() const { return subtype_; }

double UIEvent::timestamp() const {
  std::lock_guard lock(mutex_);
  return timestamp_;
}

std::vector<std::shared_ptr<UITouch>> UIEvent::allTouches() const {
  std::lock_guard lock(mutex_);
  return touches_;
}

std::vector<std::shared_ptr<UITouch>> UIEvent::touchesForView(const std::shared_ptr<UIView>& view) const {
  std::vector<std::shared_ptr<UITouch>> result;
  for (const auto& touch : allTouches()) {
    if (touch->view() == view) result.push_back(touch);
  }
  return result;
}

std::vector<std::shared_ptr<UITouch>> UIEvent::touchesForWindow(const std::shared_ptr<UIWindow>& window) const {
  std::vector<std::shared_ptr<UITouch>> result;
  for (const auto& touch : allTouches()) {
    if (touch->window() == window) result.push_back(touch);
  }
  return result;
}

void UIEvent::_setHIDEvent(IOHIDEventRef event) {
  CFRetain(event);
  IOHIDEventRef old;
  {
    std::lock_guard lock(mutex_);
    old = hidEvent_;
    hidEvent_ = event;
  }
  CFRelease(old);
}

IOHIDEventRef UIEvent::_hidEvent() const {
  std::lock_guard lock(mutex_);
  return hidEvent_;
}

void UIEvent::_setGSEvent(const objc::id& record) {
  std::lock_guard lock(mutex_);
  gsEvent_ = record;
}

objc::id UIEvent::_gsEvent() const {
  std::lock_guard lock(mutex_);
  return gsEvent_;
}

void UIEvent::_setTimestamp(double timestamp) {
  std::lock_guard lock(mutex_);
  timestamp_ = timestamp;
}

void UIEvent::_clearTouches() {
  std::vector<std::shared_ptr<UITouch>> old;
  std::lock_guard lock(mutex_);
  old.swap(touches_);
}

void UIEvent::_addTouch(const std::shared_ptr<UITouch>& touch, bool) {
  if (!touch) return;
  std::lock_guard lock(mutex_);
  if (std::find(touches_.begin(), touches_.end(), touch) == touches_.end()) touches_.push_back(touch);
}

std::string UIEvent::description() const {
  std::lock_guard lock(mutex_);
  return "<" + className() + ": " + addressText() + "; type = " + std::to_string(type_) +
         "; touches = " + std::to_string(touches_.size()) + ">";
}
