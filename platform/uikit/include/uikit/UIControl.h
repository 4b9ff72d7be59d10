// Controls: enabled/selected/highlighted state, actions per control event, and
// touch tracking (touch down, drag inside/outside, touch up inside when the touch
// ends inside the bounds, touch up outside otherwise, cancel).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "uikit/UIView.h"

using UIControlEvents = unsigned long;
inline constexpr UIControlEvents UIControlEventTouchDown = 1ul << 0;
inline constexpr UIControlEvents UIControlEventTouchDownRepeat = 1ul << 1;
inline constexpr UIControlEvents UIControlEventTouchDragInside = 1ul << 2;
inline constexpr UIControlEvents UIControlEventTouchDragOutside = 1ul << 3;
inline constexpr UIControlEvents UIControlEventTouchDragEnter = 1ul << 4;
inline constexpr UIControlEvents UIControlEventTouchDragExit = 1ul << 5;
inline constexpr UIControlEvents UIControlEventTouchUpInside = 1ul << 6;
inline constexpr UIControlEvents UIControlEventTouchUpOutside = 1ul << 7;
inline constexpr UIControlEvents UIControlEventTouchCancel = 1ul << 8;
inline constexpr UIControlEvents UIControlEventValueChanged = 1ul << 12;
inline constexpr UIControlEvents UIControlEventPrimaryActionTriggered = 1ul << 13;
inline constexpr UIControlEvents UIControlEventEditingDidBegin = 1ul << 16;
inline constexpr UIControlEvents UIControlEventEditingChanged = 1ul << 17;  // 0x20000
inline constexpr UIControlEvents UIControlEventEditingDidEnd = 1ul << 18;
inline constexpr UIControlEvents UIControlEventEditingDidEndOnExit = 1ul << 19;
inline constexpr UIControlEvents UIControlEventAllTouchEvents = 0x00000FFFul;
inline constexpr UIControlEvents UIControlEventAllEditingEvents = 0x000F0000ul;
inline constexpr UIControlEvents UIControlEventAllEvents = 0xFFFFFFFFul;

using UIControlState = unsigned long;
inline constexpr UIControlState UIControlStateNormal = 0;
inline constexpr UIControlState UIControlStateHighlighted = 1ul << 0;
inline constexpr UIControlState UIControlStateDisabled = 1ul << 1;
inline constexpr UIControlState UIControlStateSelected = 1ul << 2;

class UIControl : public UIView {
  QV_OBJC_DECLARE_CLASS(UIControl)
 public:
  using Action = std::function<void(std::shared_ptr<UIControl>, std::shared_ptr<UIEvent>)>;

  explicit UIControl(CGRect frame = CGRectZero);

  // Adds an action for the given events; returns a token for removeAction.
  int addAction(Action action, UIControlEvents events);
  void removeAction(int token);
  UIControlEvents allControlEvents() const;
  // Runs the actions registered for any of `events`, in the order added.
  void sendActionsForControlEvents(UIControlEvents events);
  void sendActionsForControlEvents(UIControlEvents events, const std::shared_ptr<UIEvent>& event);

  bool isEnabled() const;
  void setEnabled(bool enabled);
  bool isSelected() const;
  void setSelected(bool selected);
  bool isHighlighted() const;
  void setHighlighted(bool highlighted);
  UIControlState state() const;
  bool isTracking() const;
  bool isTouchInside() const;

  // Tracking hooks (called from the touch handlers below).
  virtual bool beginTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event);
  virtual bool continueTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event);
  virtual void endTrackingWithTouch(const std::shared_ptr<UITouch>& touch, const std::shared_ptr<UIEvent>& event);
  virtual void cancelTrackingWithEvent(const std::shared_ptr<UIEvent>& event);

  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;

  // A tap recogniser of an ancestor does not take a touch from a control.
  bool gestureRecognizerShouldBegin(const std::shared_ptr<UIGestureRecognizer>& recognizer) override;

 protected:
  // Called after enabled, selected or highlighted changed.
  virtual void stateDidChange() {}

 private:
  struct Entry {
    int token;
    UIControlEvents events;
    std::shared_ptr<Action> action;
  };
  std::vector<Entry> actions_;
  int nextToken_ = 1;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  bool tracking_ = false;
  bool touchInside_ = false;
};
