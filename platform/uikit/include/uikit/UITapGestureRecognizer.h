// A tap: the touches end within 10 points of where they began, the required number
// of times (each further tap beginning within 0.35 s of the previous one's end).
#pragma once

#include <atomic>

#include "uikit/UIGestureRecognizer.h"

class UITapGestureRecognizer : public UIGestureRecognizer {
  QV_OBJC_DECLARE_CLASS(UITapGestureRecognizer)
 public:
  using UIGestureRecognizer::UIGestureRecognizer;

  unsigned long numberOfTapsRequired() const;
  void setNumberOfTapsRequired(unsigned long taps);
  unsigned long numberOfTouchesRequired() const;
  void setNumberOfTouchesRequired(unsigned long touches);

  void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) override;
  void reset() override;

  static constexpr CGFloat kAllowableMovement = 10.0;
  static constexpr double kMaximumTapInterval = 0.35;

 private:
  std::atomic<unsigned long> tapsRequired_{1};
  std::atomic<unsigned long> touchesRequired_{1};
  unsigned long tapsSoFar_ = 0;
  double lastTapEnd_ = 0;
  CGPoint start_;
};
