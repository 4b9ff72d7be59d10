// A pan: begins once a touch moved more than 10 points from where it began, then
// reports every movement (Changed) until the touch ends.
#pragma once

#include "uikit/UIGestureRecognizer.h"

class UIPanGestureRecognizer : public UIGestureRecognizer {
  QV_OBJC_DECLARE_CLASS(UIPanGestureRecognizer)
 public:
  using UIGestureRecognizer::UIGestureRecognizer;

  // The movement since the gesture's start, in `view`'s coordinate space (nullptr:
  // window coordinates; translations do not depend on the view's origin).
  CGPoint translationInView(const std::shared_ptr<UIView>& view) const;
  void setTranslation(CGPoint translation, const std::shared_ptr<UIView>& view);

  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void reset() override;

  static constexpr CGFloat kHysteresis = 10.0;

 private:
  mutable std::mutex panMutex_;
  CGPoint startInWindow_;
  CGPoint currentInWindow_;
  CGPoint translationOffset_;
};
