#include <algorithm>
#include <cmath>

#include "foundation/process_info.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIScrollViewPanGestureRecognizer.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(UIGestureRecognizer, objc::Object)
QV_OBJC_DEFINE_CLASS(UITapGestureRecognizer, UIGestureRecognizer)
QV_OBJC_DEFINE_CLASS(UIPanGestureRecognizer, UIGestureRecognizer)
QV_OBJC_DEFINE_CLASS(UIScrollViewPanGestureRecognizer, UIPanGestureRecognizer)

namespace {

bool isFinished(UIGestureRecognizerState s) {
  return s == UIGestureRecognizerStateEnded || s == UIGestureRecognizerStateCancelled ||
         s == UIGestureRecognizerStateFailed;
}

CGFloat distance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

}  // namespace

UIGestureRecognizer::UIGestureRecognizer(Action action) {
  if (action) actions_.push_back(std::move(action));
}

void UIGestureRecognizer::addTarget(Action action) {
  if (!action) return;
  std::lock_guard lock(mutex_);
  actions_.push_back(std::move(action));
}

void UIGestureRecognizer::removeAllTargets() {
  std::lock_guard lock(mutex_);
  actions_.clear();
}

std::shared_ptr<UIView> UIGestureRecognizer::view() const {
  std::lock_guard lock(mutex_);
  return view_.lock();
}

void UIGestureRecognizer::_setView(const std::shared_ptr<UIView>& view) {
  std::lock_guard lock(mutex_);
  view_ = view;
}

UIGestureRecognizerState UIGestureRecognizer::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool UIGestureRecognizer::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void UIGestureRecognizer::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool UIGestureRecognizer::cancelsTouchesInView() const {
  std::lock_guard lock(mutex_);
  return cancelsTouchesInView_;
}

void UIGestureRecognizer::setCancelsTouchesInView(bool cancels) {
  std::lock_guard lock(mutex_);
  cancelsTouchesInView_ = cancels;
}

std::vector<std::shared_ptr<UITouch>> UIGestureRecognizer::trackedTouches() const {
  std::lock_guard lock(mutex_);
  return touches_;
}

unsigned long UIGestureRecognizer::numberOfTouches() const {
  std::lock_guard lock(mutex_);
  return touches_.size();
}

CGPoint UIGestureRecognizer::locationInView(const std::shared_ptr<UIView>& view) const {
  auto touches = trackedTouches();
  if (touches.empty()) return CGPointZero;
  CGPoint sum{0, 0};
  for (const auto& t : touches) {
    CGPoint p = t->locationInView(view);
    sum.x += p.x;
    sum.y += p.y;
  }
  return {sum.x / static_cast<CGFloat>(touches.size()), sum.y / static_cast<CGFloat>(touches.size())};
}

bool UIGestureRecognizer::_hasRecognized() const {
  auto s = state();
  return s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged ||
         s == UIGestureRecognizerStateEnded;
}

bool UIGestureRecognizer::setState(UIGestureRecognizerState state) {
  auto old = this->state();
  if (old == UIGestureRecognizerStatePossible &&
      (state == UIGestureRecognizerStateBegan || state == UIGestureRecognizerStateEnded)) {
    // The view the gesture's touch began on may refuse (a control keeps its taps).
    auto touches = trackedTouches();
    auto self = std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    if (!touches.empty()) {
      if (auto touched = touches.front()->view(); touched && !touched->gestureRecognizerShouldBegin(self)) {
        std::lock_guard lock(mutex_);
        state_ = UIGestureRecognizerStateFailed;
        return false;
      }
    }
  }
  std::vector<Action> actions;
  {
    std::lock_guard lock(mutex_);
    state_ = state;
    if (state != UIGestureRecognizerStatePossible && state != UIGestureRecognizerStateFailed) actions = actions_;
  }
  if (!actions.empty()) {
    auto self = std::static_pointer_cast<UIGestureRecognizer>(shared_from_this());
    for (const auto& action : actions) action(self);
  }
  return true;
}

void UIGestureRecognizer::_handleTouches(long phase, const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (phase < 0) {  // the event was delivered: finish a gesture that is over
    bool finished;
    {
      std::lock_guard lock(mutex_);
      finished = touches_.empty() && isFinished(state_);
      if (finished) state_ = UIGestureRecognizerStatePossible;
    }
    if (finished) reset();
    return;
  }
  if (!isEnabled()) return;
  if (phase == UITouchPhaseBegan) {
    bool stale;
    {
      std::lock_guard lock(mutex_);
      stale = touches_.empty() && isFinished(state_);
      if (stale) state_ = UIGestureRecognizerStatePossible;
      for (const auto& t : touches) {
        if (std::find(touches_.begin(), touches_.end(), t) == touches_.end()) touches_.push_back(t);
      }
    }
    if (stale) reset();
  }
  bool active = !isFinished(state());
  if (active) {
    switch (phase) {
      case UITouchPhaseBegan: touchesBegan(touches, event); break;
      case UITouchPhaseMoved: touchesMoved(touches, event); break;
      case UITouchPhaseEnded: touchesEnded(touches, event); break;
      case UITouchPhaseCancelled: touchesCancelled(touches, event); break;
      default: break;
    }
  }
  if (phase == UITouchPhaseEnded || phase == UITouchPhaseCancelled) {
    std::lock_guard lock(mutex_);
    for (const auto& t : touches) std::erase(touches_, t);
  }
}

void UIGestureRecognizer::touchesBegan(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIGestureRecognizer::touchesMoved(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIGestureRecognizer::touchesEnded(const UITouchSet&, const std::shared_ptr<UIEvent>&) {}
void UIGestureRecognizer::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  setState(UIGestureRecognizerStateFailed);
}
void UIGestureRecognizer::reset() {}

// Tap ------------------------------------------------------------------------

unsigned long UITapGestureRecognizer::numberOfTapsRequired() const { return tapsRequired_.load(); }
void UITapGestureRecognizer::setNumberOfTapsRequired(unsigned long taps) { tapsRequired_.store(std::max(1ul, taps)); }
unsigned long UITapGestureRecognizer::numberOfTouchesRequired() const { return touchesRequired_.load(); }
void UITapGestureRecognizer::setNumberOfTouchesRequired(unsigned long touches) {
  touchesRequired_.store(std::max(1ul, touches));
}

namespace {
double touchTime(const std::shared_ptr<UITouch>& touch) {
  double t = touch->timestamp();
  return t > 0 ? t : NSProcessInfo::processInfo()->systemUptime();
}
}  // namespace

void UITapGestureRecognizer::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  if (numberOfTouches() > numberOfTouchesRequired()) {
    setState(UIGestureRecognizerStateFailed);
    return;
  }
  double now = touchTime(touches.front());
  if (tapsSoFar_ > 0 && now - lastTapEnd_ > kMaximumTapInterval) tapsSoFar_ = 0;
  start_ = touches.front()->locationInView(nullptr);
}

void UITapGestureRecognizer::touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  for (const auto& t : touches) {
    if (distance(t->locationInView(nullptr), start_) > kAllowableMovement) {
      setState(UIGestureRecognizerStateFailed);
      return;
    }
  }
}

void UITapGestureRecognizer::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  if (distance(touches.front()->locationInView(nullptr), start_) > kAllowableMovement) {
    setState(UIGestureRecognizerStateFailed);
    return;
  }
  // Wait for the other fingers of a multi-finger tap.
  if (numberOfTouches() > touches.size()) return;
  ++tapsSoFar_;
  lastTapEnd_ = touchTime(touches.front());
  if (tapsSoFar_ >= numberOfTapsRequired()) setState(UIGestureRecognizerStateEnded);
}

void UITapGestureRecognizer::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  setState(UIGestureRecognizerStateFailed);
}

void UITapGestureRecognizer::reset() {
  tapsSoFar_ = 0;
  lastTapEnd_ = 0;
}

// Pan ------------------------------------------------------------------------

CGPoint UIPanGestureRecognizer::translationInView(const std::shared_ptr<UIView>&) const {
  std::lock_guard lock(panMutex_);
  return {currentInWindow_.x - startInWindow_.x + translationOffset_.x,
          currentInWindow_.y - startInWindow_.y + translationOffset_.y};
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const std::shared_ptr<UIView>&) {
  std::lock_guard lock(panMutex_);
  translationOffset_ = {translation.x - (currentInWindow_.x - startInWindow_.x),
                        translation.y - (currentInWindow_.y - startInWindow_.y)};
}

void UIPanGestureRecognizer::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty() || numberOfTouches() > touches.size()) return;
  std::lock_guard lock(panMutex_);
  startInWindow_ = currentInWindow_ = touches.front()->locationInView(nullptr);
  translationOffset_ = CGPointZero;
}

void UIPanGestureRecognizer::touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  if (touches.empty()) return;
  CGPoint start;
  {
    std::lock_guard lock(panMutex_);
    currentInWindow_ = touches.front()->locationInView(nullptr);
    start = startInWindow_;
  }
  auto s = state();
  if (s == UIGestureRecognizerStatePossible) {
    if (distance(touches.front()->locationInView(nullptr), start) > kHysteresis) setState(UIGestureRecognizerStateBegan);
  } else if (s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged) {
    setState(UIGestureRecognizerStateChanged);
  }
}

void UIPanGestureRecognizer::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>&) {
  auto s = state();
  if (s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged) {
    if (!touches.empty()) {
      std::lock_guard lock(panMutex_);
      currentInWindow_ = touches.front()->locationInView(nullptr);
    }
    setState(UIGestureRecognizerStateEnded);
  } else {
    setState(UIGestureRecognizerStateFailed);
  }
}

void UIPanGestureRecognizer::touchesCancelled(const UITouchSet&, const std::shared_ptr<UIEvent>&) {
  auto s = state();
  bool active = s == UIGestureRecognizerStateBegan || s == UIGestureRecognizerStateChanged;
  setState(active ? UIGestureRecognizerStateCancelled : UIGestureRecognizerStateFailed);
}

void UIPanGestureRecognizer::reset() {
  std::lock_guard lock(panMutex_);
  startInWindow_ = currentInWindow_ = translationOffset_ = CGPointZero;
}
