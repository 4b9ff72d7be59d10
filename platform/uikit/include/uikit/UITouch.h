// A touch: one finger on the screen, from began to ended or cancelled. Its view is
// fixed when it begins (the window's hit test). The setters below are the
// platform's private ones, used by whoever synthesises touches; setGestureView: is
// also in the method table, so respondsToSelector("setGestureView:") holds.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "hid/IOHIDEvent.h"
#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class UIView;
class UIWindow;
class UIGestureRecognizer;

enum UITouchPhase : long {
  UITouchPhaseBegan = 0,
  UITouchPhaseMoved = 1,
  UITouchPhaseStationary = 2,
  UITouchPhaseEnded = 3,
  UITouchPhaseCancelled = 4,
};

class UITouch : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UITouch)
 public:
  UITouch() = default;
  ~UITouch() override;

  UITouchPhase phase() const;
  std::shared_ptr<UIView> view() const;
  std::shared_ptr<UIWindow> window() const;
  // The location in `view`'s coordinates; nullptr gives window coordinates.
  CGPoint locationInView(const std::shared_ptr<UIView>& view) const;
  CGPoint previousLocationInView(const std::shared_ptr<UIView>& view) const;
  unsigned long tapCount() const;
  double timestamp() const;
  std::shared_ptr<UIView> gestureView() const;
  bool isTap() const;
  bool _isFirstTouchForView() const;
  IOHIDEventRef _hidEvent() const;  // borrowed
  // The gesture recognisers that see this touch (fixed when it began).
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers() const;

  // Private setters.
  void setWindow(const std::shared_ptr<UIWindow>& window);
  void setTapCount(unsigned long count);
  void _setLocationInWindow(CGPoint location, bool resetPrevious);
  void setView(const std::shared_ptr<UIView>& view);
  void setPhase(UITouchPhase phase);
  void _setIsFirstTouchForView(bool first);
  void setIsTap(bool isTap);
  void setTimestamp(double timestamp);
  void setGestureView(const std::shared_ptr<UIView>& view);  // sends "setGestureView:"
  void _setHidEvent(IOHIDEventRef event);  // retains the new record, releases the old

  // Dispatch state (UIWindow).
  void _setGestureRecognizers(std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers);
  bool _deliveryCancelled() const;  // the view got touchesCancelled for this touch
  void _setDeliveryCancelled(bool cancelled);

  std::string description() const override;

 private:
  mutable std::mutex mutex_;
  UITouchPhase phase_ = UITouchPhaseBegan;
  std::weak_ptr<UIWindow> window_;
  std::shared_ptr<UIView> view_;
  std::shared_ptr<UIView> gestureView_;
  CGPoint location_;
  CGPoint previousLocation_;
  unsigned long tapCount_ = 0;
  double timestamp_ = 0;
  bool isTap_ = false;
  bool firstTouchForView_ = false;
  bool deliveryCancelled_ = false;
  IOHIDEventRef hidEvent_ = nullptr;
  std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
};
