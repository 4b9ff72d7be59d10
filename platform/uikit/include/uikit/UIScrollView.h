// A scroll view: its content offset is its bounds origin. contentOffset,
// setContentOffset: and setContentOffset:animated: live in the method table. A drag
// (its own pan recogniser) scrolls the content, clamped to the content size plus
// insets, along the axes where the content is larger than the view.
// setContentOffset:animated: with animation moves the offset over 0.25 s on the main
// run loop (common modes); any later offset change ends the animation.
#pragma once

#include <memory>

#include "foundation/runloop.h"
#include "uikit/UIView.h"

class UIPanGestureRecognizer;

class UIScrollView : public UIView {
  QV_OBJC_DECLARE_CLASS(UIScrollView)
 public:
  explicit UIScrollView(CGRect frame = CGRectZero);
  ~UIScrollView() override;

  // Through the method table: "contentOffset", "setContentOffset:",
  // "setContentOffset:animated:".
  CGPoint contentOffset();
  void setContentOffset(CGPoint offset);
  void setContentOffsetAnimated(CGPoint offset, bool animated);

  CGSize contentSize() const;
  void setContentSize(CGSize size);
  UIEdgeInsets contentInset() const;
  void setContentInset(UIEdgeInsets insets);
  bool isScrollEnabled() const;
  void setScrollEnabled(bool enabled);
  bool alwaysBounceVertical() const;
  void setAlwaysBounceVertical(bool bounce);
  bool alwaysBounceHorizontal() const;
  void setAlwaysBounceHorizontal(bool bounce);
  bool isDragging() const;
  bool isAnimatingScroll() const;

  std::shared_ptr<UIPanGestureRecognizer> panGestureRecognizer();

  // The offset range a drag may reach.
  CGPoint _minimumContentOffset() const;
  CGPoint _maximumContentOffset() const;

  void didMoveToSuperview() override;

  static constexpr double kScrollAnimationDuration = 0.25;

 protected:
  void handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan);
  void stopScrollAnimation();

 private:
  void installPanIfNeeded();

  CGSize contentSize_;
  UIEdgeInsets contentInset_;
  bool scrollEnabled_ = true;
  bool bounceVertical_ = false;
  bool bounceHorizontal_ = false;
  bool dragging_ = false;
  CGPoint dragStartOffset_;
  std::shared_ptr<UIPanGestureRecognizer> pan_;
  std::once_flag panOnce_;
  CFRunLoopTimerRef animationTimer_;
};
