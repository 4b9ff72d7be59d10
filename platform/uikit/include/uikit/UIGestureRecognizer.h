// Gesture recognisers: attached to a view, they see the touches that begin on that
// view or its descendants before the view does. When one recognises its gesture
// it runs its target-actions; with cancelsTouchesInView (the default) the touched
// view then gets touchesCancelled instead of the rest of the touch.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"
#include "uikit/UIResponder.h"

class UIView;
class UIEvent;

enum UIGestureRecognizerState : long {
  UIGestureRecognizerStatePossible = 0,
  UIGestureRecognizerStateBegan = 1,
  UIGestureRecognizerStateChanged = 2,
  UIGestureRecognizerStateEnded = 3,
  UIGestureRecognizerStateCancelled = 4,
  UIGestureRecognizerStateFailed = 5,
  UIGestureRecognizerStateRecognized = UIGestureRecognizerStateEnded,
};

class UIGestureRecognizer : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIGestureRecognizer)
 public:
  using Action = std::function<void(const std::shared_ptr<UIGestureRecognizer>&)>;

  UIGestureRecognizer() = default;
  explicit UIGestureRecognizer(Action action);

  // addTarget:action: — runs on Began, Changed, Ended (Recognized) and Cancelled.
  void addTarget(Action action);
  void removeAllTargets();

  std::shared_ptr<UIView> view() const;
  UIGestureRecognizerState state() const;
  bool isEnabled() const;
  void setEnabled(bool enabled);
  bool cancelsTouchesInView() const;
  void setCancelsTouchesInView(bool cancels);
  // The centroid of the tracked touches in `view` (nullptr: window coordinates).
  CGPoint locationInView(const std::shared_ptr<UIView>& view) const;
  unsigned long numberOfTouches() const;

  // Subclass interface: the touches of the gesture, phase by phase.
  virtual void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void reset();  // back to Possible after the gesture finished

  // Platform internals.
  void _setView(const std::shared_ptr<UIView>& view);
  // Delivers one phase of touches; resets the recogniser once it finished and no
  // tracked touch remains.
  void _handleTouches(long phase, const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  // True while the recogniser has recognised (or is recognising) its gesture.
  bool _hasRecognized() const;

 protected:
  // Moves to `state`, asking the touched view first when leaving Possible, and runs
  // the actions for the states that report. Returns false when the move was refused
  // (the recogniser failed instead).
  bool setState(UIGestureRecognizerState state);
  std::vector<std::shared_ptr<UITouch>> trackedTouches() const;

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<UIView> view_;
  UIGestureRecognizerState state_ = UIGestureRecognizerStatePossible;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  std::vector<Action> actions_;
  std::vector<std::shared_ptr<UITouch>> touches_;
};
