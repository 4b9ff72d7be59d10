#include "uikit/UIControl.h"

#include <algorithm>

#include "uikit/UIEvent.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"

QV_OBJC_DEFINE_CLASS(UIControl, UIView)

UIControl::UIControl(CGRect frame) : UIView(frame) {}

int UIControl::addAction(Action action, UIControlEvents events) {
  if (!action) return 0;
  std::lock_guard lock(mutex_);
  int token = nextToken_++;
  actions_.push_back({token, events, std::make_shared<Action>(std::move(action))});
  return token;
}

void UIControl::removeAction(int token) {
  std::lock_guard lock(mutex_);
  std::erase_if(actions_, [&](const Entry& e) { return e.token == token; });
}

UIControlEvents UIControl::allControlEvents() const {
  std::lock_guard lock(mutex_);
  UIControlEvents all = 0;
  for (const auto& e : actions_) all |= e.events;
  return all;
}

void UIControl::sendActionsForControlEvents(UIControlEvents events) { sendActionsForControlEvents(events, nullptr); }

void UIControl::sendActionsForControlEvents(UIControlEvents events, const std::shared_ptr<UIEvent>& event) {
  std::vector<std::shared_ptr<Action>> toRun;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : actions_) {
      if (e.events & events) toRun.push_back(e.action);
    }
  }
  if (toRun.empty()) return;
  auto self = std::static_pointer_cast<UIControl>(selfView());
  for (const auto& action : toRun) (*action)(self, event);
}

bool UIControl::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}
void UIControl::setEnabled(bool enabled) {
  {
    std::lock_guard lock(mutex_);
    if (enabled_ == enabled) return;
    enabled_ = enabled;
  }
  stateDidChange();
}
bool UIControl::isSelected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}
void UIControl::setSelected(bool selected) {
  {
    std::lock_guard lock(mutex_);
    if (selected_ == selected) return;
    selected_ = selected;
  }
  stateDidChange();
}
bool UIControl::isHighlighted() const {
  std::lock_guard lock(mutex_);
  return highlighted_;
}
void UIControl::setHighlighted(bool highlighted) {
  {
    std::lock_guard lock(mutex_);
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
  }
  stateDidChange();
}

UIControlState UIControl::state() const {
  std::lock_guard lock(mutex_);
  UIControlState s = UIControlStateNormal;
  if (highlighted_) s |= UIControlStateHighlighted;
  if (!enabled_) s |= UIControlStateDisabled;
  if (selected_) s |= UIControlStateSelected;
  return s;
}

bool UIControl::isTracking() const {
  std::lock_guard lock(mutex_);
  return tracking_;
}

bool UIControl::isTouchInside() const {
  std::lock_guard lock(mutex_);
  return touchInside_;
}

bool UIControl::beginTrackingWithTouch(const std::shared_ptr<UITouch>&, const std::shared_ptr<UIEvent>&) { return true; }
bool UIControl::continueTrackingWithTouch(const std::shared_ptr<UITouch>&, const std::shared_ptr<UIEvent>&) { return true; }
void UIControl::endTrackingWithTouch(const std::shared_ptr<UITouch>&, const std::shared_ptr<UIEvent>&) {}
void UIControl::cancelTrackingWithEvent(const std::shared_ptr<UIEvent>&) {}

void UIControl::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (touches.empty() || !isEnabled()) return;
  const auto& touch = touches.front();
  {
    std::lock_guard lock(mutex_);
    touchInside_ = true;
  }
  bool track = beginTrackingWithTouch(touch, event);
  {
    std::lock_guard lock(mutex_);
    tracking_ = track;
  }
  setHighlighted(true);
  sendActionsForControlEvents(touch->tapCount() > 1 ? UIControlEventTouchDown | UIControlEventTouchDownRepeat
                                                    : UIControlEventTouchDown,
                              event);
}

void UIControl::touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (touches.empty() || !isEnabled()) return;
  const auto& touch = touches.front();
  bool inside = CGRectContainsPoint(bounds(), touch->locationInView(selfView()));
  bool wasInside;
  bool tracking;
  {
    std::lock_guard lock(mutex_);
    wasInside = touchInside_;
    touchInside_ = inside;
    tracking = tracking_;
  }
  if (tracking) {
    bool keep = continueTrackingWithTouch(touch, event);
    std::lock_guard lock(mutex_);
    tracking_ = keep;
  }
  setHighlighted(inside);
  UIControlEvents events = inside ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside;
  if (inside && !wasInside) events |= UIControlEventTouchDragEnter;
  if (!inside && wasInside) events |= UIControlEventTouchDragExit;
  sendActionsForControlEvents(events, event);
}

void UIControl::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (touches.empty() || !isEnabled()) return;
  const auto& touch = touches.front();
  bool inside = CGRectContainsPoint(bounds(), touch->locationInView(selfView()));
  bool tracking;
  {
    std::lock_guard lock(mutex_);
    touchInside_ = inside;
    tracking = tracking_;
    tracking_ = false;
  }
  if (tracking) endTrackingWithTouch(touch, event);
  setHighlighted(false);
  sendActionsForControlEvents(inside ? UIControlEventTouchUpInside : UIControlEventTouchUpOutside, event);
  if (inside) sendActionsForControlEvents(UIControlEventPrimaryActionTriggered, event);
}

void UIControl::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>& event) {
  bool tracking;
  {
    std::lock_guard lock(mutex_);
    tracking = tracking_;
    tracking_ = false;
    touchInside_ = false;
  }
  if (tracking) cancelTrackingWithEvent(event);
  setHighlighted(false);
  sendActionsForControlEvents(UIControlEventTouchCancel, event);
}

bool UIControl::gestureRecognizerShouldBegin(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (objc::cast<UITapGestureRecognizer>(recognizer) && recognizer->view().get() != this) return false;
  return true;
}
