#include "uikit/UIScrollView.h"

#include <algorithm>
#include <cmath>

#include "class_support.h"
#include "foundation/process_info.h"
#include "uikit/UIScrollViewPanGestureRecognizer.h"

QV_OBJC_DEFINE_CLASS(UIScrollView, UIView, [](objc::Class* c) {
  c->addMethod<CGPoint>("contentOffset", [](objc::Object& self) { return static_cast<UIScrollView&>(self).bounds().origin; });
  c->addMethod<void, CGPoint>("setContentOffset:", [](objc::Object& self, CGPoint offset) {
    static_cast<UIScrollView&>(self).setContentOffsetAnimated(offset, false);
  });
  c->addMethod<void, CGPoint, bool>("setContentOffset:animated:", [](objc::Object& self, CGPoint offset, bool animated) {
    auto& view = static_cast<UIScrollView&>(self);
    view.stopScrollAnimation();
    CGPoint from = view.bounds().origin;
    if (!animated || from == offset) {
      CGRect b = view.bounds();
      b.origin = offset;
      view.setBounds(b);
      return;
    }
    // Moves the offset along an ease-out curve, one step per timer tick.
    auto weak = std::weak_ptr<UIScrollView>(std::static_pointer_cast<UIScrollView>(view.selfView()));
    double start = NSProcessInfo::processInfo()->systemUptime();
    // A view that goes away invalidates its timer as it is destroyed.
    auto timer = CFRunLoopTimerCreate(1.0 / 60.0, 1.0 / 60.0, [weak, from, offset, start] {
      auto scroll = weak.lock();
      if (!scroll) return;
      double t = (NSProcessInfo::processInfo()->systemUptime() - start) / UIScrollView::kScrollAnimationDuration;
      t = std::clamp(t, 0.0, 1.0);
      double eased = 1 - (1 - t) * (1 - t);
      CGRect b = scroll->bounds();
      b.origin = t >= 1 ? offset : CGPoint{from.x + (offset.x - from.x) * eased, from.y + (offset.y - from.y) * eased};
      scroll->setBounds(b);
      if (t >= 1) scroll->stopScrollAnimation();
    });
    {
      std::lock_guard lock(view.mutex_);
      view.animationTimer_ = timer;
    }
    CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopCommonModes);
  });
})

UIScrollView::UIScrollView(CGRect frame) : UIView(frame) { setClipsToBounds(true); }

UIScrollView::~UIScrollView() {
  if (animationTimer_) CFRunLoopTimerInvalidate(animationTimer_);
}

CGPoint UIScrollView::contentOffset() { return objc::msgSend<CGPoint>(*this, "contentOffset"); }

void UIScrollView::setContentOffset(CGPoint offset) { objc::msgSend<void, CGPoint>(*this, "setContentOffset:", offset); }

void UIScrollView::setContentOffsetAnimated(CGPoint offset, bool animated) {
  objc::msgSend<void, CGPoint, bool>(*this, "setContentOffset:animated:", offset, animated);
}

void UIScrollView::stopScrollAnimation() {
  CFRunLoopTimerRef timer;
  {
    std::lock_guard lock(mutex_);
    timer.swap(animationTimer_);
  }
  if (timer) CFRunLoopTimerInvalidate(timer);
}

bool UIScrollView::isAnimatingScroll() const {
  std::lock_guard lock(mutex_);
  return animationTimer_ != nullptr;
}

CGSize UIScrollView::contentSize() const {
  std::lock_guard lock(mutex_);
  return contentSize_;
}
void UIScrollView::setContentSize(CGSize size) {
  std::lock_guard lock(mutex_);
  contentSize_ = size;
}
UIEdgeInsets UIScrollView::contentInset() const {
  std::lock_guard lock(mutex_);
  return contentInset_;
}
void UIScrollView::setContentInset(UIEdgeInsets insets) {
  std::lock_guard lock(mutex_);
  contentInset_ = insets;
}
bool UIScrollView::isScrollEnabled() const {
  std::lock_guard lock(mutex_);
  return scrollEnabled_;
}
void UIScrollView::setScrollEnabled(bool enabled) {
  {
    std::lock_guard lock(mutex_);
    scrollEnabled_ = enabled;
  }
  if (auto pan = panGestureRecognizer()) pan->setEnabled(enabled);
}
bool UIScrollView::alwaysBounceVertical() const {
  std::lock_guard lock(mutex_);
  return bounceVertical_;
}
void UIScrollView::setAlwaysBounceVertical(bool bounce) {
  std::lock_guard lock(mutex_);
  bounceVertical_ = bounce;
}
bool UIScrollView::alwaysBounceHorizontal() const {
  std::lock_guard lock(mutex_);
  return bounceHorizontal_;
}
void UIScrollView::setAlwaysBounceHorizontal(bool bounce) {
  std::lock_guard lock(mutex_);
  bounceHorizontal_ = bounce;
}
bool UIScrollView::isDragging() const {
  std::lock_guard lock(mutex_);
  return dragging_;
}

CGPoint UIScrollView::_minimumContentOffset() const {
  auto inset = contentInset();
  return {-inset.left, -inset.top};
}

CGPoint UIScrollView::_maximumContentOffset() const {
  auto inset = contentInset();
  CGSize content = contentSize();
  CGSize size = bounds().size;
  return {std::max(content.width + inset.right - size.width, -inset.left),
          std::max(content.height + inset.bottom - size.height, -inset.top)};
}

std::shared_ptr<UIPanGestureRecognizer> UIScrollView::panGestureRecognizer() {
  installPanIfNeeded();
  std::lock_guard lock(mutex_);
  return pan_;
}

void UIScrollView::installPanIfNeeded() {
  auto self = std::static_pointer_cast<UIScrollView>(selfView());
  if (!self) return;
  std::call_once(panOnce_, [&] {
    std::weak_ptr<UIScrollView> weak = self;
    auto pan = std::make_shared<UIScrollViewPanGestureRecognizer>([weak](const std::shared_ptr<UIGestureRecognizer>& r) {
      if (auto scroll = weak.lock()) scroll->handlePan(std::static_pointer_cast<UIPanGestureRecognizer>(r));
    });
    pan->setEnabled(isScrollEnabled());
    {
      std::lock_guard lock(mutex_);
      pan_ = pan;
    }
    addGestureRecognizer(pan);
  });
}

void UIScrollView::didMoveToSuperview() { installPanIfNeeded(); }

void UIScrollView::handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan) {
  auto state = pan->state();
  if (state == UIGestureRecognizerStateBegan) {
    stopScrollAnimation();
    CGPoint start = bounds().origin;
    std::lock_guard lock(mutex_);
    dragStartOffset_ = start;
    dragging_ = true;
  }
  if (state == UIGestureRecognizerStateBegan || state == UIGestureRecognizerStateChanged ||
      state == UIGestureRecognizerStateEnded) {
    CGPoint t = pan->translationInView(selfView());
    CGPoint start;
    {
      std::lock_guard lock(mutex_);
      start = dragStartOffset_;
    }
    CGSize size = bounds().size;
    CGSize content = contentSize();
    auto inset = contentInset();
    bool vertical = alwaysBounceVertical() || content.height + inset.top + inset.bottom > size.height;
    bool horizontal = alwaysBounceHorizontal() || content.width + inset.left + inset.right > size.width;
    CGPoint lo = _minimumContentOffset(), hi = _maximumContentOffset();
    CGPoint target = start;
    if (horizontal) target.x = std::clamp(start.x - t.x, lo.x, hi.x);
    if (vertical) target.y = std::clamp(start.y - t.y, lo.y, hi.y);
    setContentOffset(target);
  }
  if (state == UIGestureRecognizerStateEnded || state == UIGestureRecognizerStateCancelled) {
    std::lock_guard lock(mutex_);
    dragging_ = false;
  }
}
