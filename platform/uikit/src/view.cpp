#include "uikit/UIView.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "class_support.h"
#include "dispatch/dispatch.h"
#include "uikit/UIApplication.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

using uikit_internal::sharedFrom;

QV_OBJC_DEFINE_CLASS(UIView, UIResponder)

namespace uikit_internal {

void scheduleLayoutPass() {
  static std::atomic<bool> scheduled{false};
  if (scheduled.exchange(true)) return;
  dispatch_async(dispatch_get_main_queue(), [] {
    scheduled.store(false);
    UIApplication::sharedApplication()->_layoutWindowsIfNeeded();
  });
}

}  // namespace uikit_internal

namespace {

CGRect standardized(CGRect r) { return CGRectStandardize(r); }

// The open hierarchy readings and the views taken from their superviews while any
// was open. A reading opens before it reads a subview list under the superview's
// lock, and a view is taken out under that lock before the count is read, so a
// view some reader may still hold is always seen and kept.
struct OpenReadings {
  std::atomic<long> count{0};
  std::mutex mutex;
  std::vector<std::shared_ptr<UIView>> kept;

  // Releases the kept views when no reading is open (checked under the lock, so
  // that a reading opened meanwhile, which may hold any of them, keeps them all).
  void releaseKeptIfClosed() {
    std::vector<std::shared_ptr<UIView>> released;
    {
      std::lock_guard lock(mutex);
      if (count.load() != 0) return;
      released.swap(kept);
    }
  }  // released here, outside the lock: a view's end may end others

  void keepIfOpen(const std::shared_ptr<UIView>& view) {
    if (count.load() == 0) return;
    {
      std::lock_guard lock(mutex);
      kept.push_back(view);
    }
    // The last reading may have ended between the count's reading and the push.
    if (count.load() == 0) releaseKeptIfClosed();
  }
};

OpenReadings& openReadings() {
  static auto& readings = *new OpenReadings;  // readings run during exit too
  return readings;
}

}  // namespace

UIView::HierarchyReading::HierarchyReading() { openReadings().count.fetch_add(1); }

UIView::HierarchyReading::~HierarchyReading() {
  auto& readings = openReadings();
  if (readings.count.fetch_sub(1) == 1) readings.releaseKeptIfClosed();
}

UIView::UIView(CGRect frame) : layer_(std::make_shared<CALayer>()) {
  frame = standardized(frame);
  bounds_ = {{0, 0}, frame.size};
  center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
}

UIView::~UIView() = default;

std::shared_ptr<UIView> UIView::selfView() const { return sharedFrom<UIView>(this); }

// Geometry -------------------------------------------------------------------

CGRect UIView::frame() const {
  ReadLock lock(mutex_);
  return {{center_.x - bounds_.size.width / 2, center_.y - bounds_.size.height / 2}, bounds_.size};
}

void UIView::setFrame(CGRect frame) {
  frame = standardized(frame);
  CGRect oldBounds, newBounds;
  {
    std::lock_guard lock(mutex_);
    oldBounds = bounds_;
    bounds_.size = frame.size;
    center_ = {frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    newBounds = bounds_;
  }
  if (oldBounds != newBounds) boundsDidChange(oldBounds, newBounds);
}

CGRect UIView::bounds() const {
  ReadLock lock(mutex_);
  return bounds_;
}

void UIView::setBounds(CGRect bounds) {
  bounds = standardized(bounds);
  CGRect oldBounds;
  {
    std::lock_guard lock(mutex_);
    oldBounds = bounds_;
    bounds_ = bounds;
  }
  if (oldBounds != bounds) boundsDidChange(oldBounds, bounds);
}

CGPoint UIView::center() const {
  ReadLock lock(mutex_);
  return center_;
}

void UIView::setCenter(CGPoint center) {
  std::lock_guard lock(mutex_);
  center_ = center;
}

void UIView::boundsDidChange(CGRect oldBounds, CGRect newBounds) {
  if (oldBounds.size != newBounds.size) setNeedsLayout();
}

// Hierarchy ------------------------------------------------------------------

std::shared_ptr<UIView> UIView::superview() const {
  ReadLock lock(mutex_);
  return superview_.lock();
}

std::vector<std::shared_ptr<UIView>> UIView::subviews() const {
  ReadLock lock(mutex_);
  return subviews_;
}

void UIView::appendSubviews(const HierarchyReading&, std::vector<UIView*>& out) const {
  ReadLock lock(mutex_);
  for (const auto& child : subviews_) out.push_back(child.get());
}

std::shared_ptr<UIWindow> UIView::window() const {
  std::shared_ptr<UIView> view = selfView();
  if (!view) return nullptr;
  while (auto parent = view->superview()) view = std::move(parent);
  return std::dynamic_pointer_cast<UIWindow>(view);
}

bool UIView::isDescendantOfView(const std::shared_ptr<UIView>& view) const {
  if (!view) return false;
  if (view.get() == this) return true;
  for (auto v = superview(); v; v = v->superview()) {
    if (v == view) return true;
  }
  return false;
}

void UIView::addSubview(const std::shared_ptr<UIView>& view) { insertSubviewInternal(view, LONG_MAX); }

void UIView::insertSubviewAtIndex(const std::shared_ptr<UIView>& view, long index) {
  insertSubviewInternal(view, std::max(0L, index));
}

void UIView::insertSubviewAboveSubview(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling) {
  insertSubviewNextTo(view, sibling, 1);
}

void UIView::insertSubviewBelowSubview(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling) {
  insertSubviewNextTo(view, sibling, 0);
}

void UIView::insertSubviewNextTo(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& sibling,
                                 long offset) {
  long index = LONG_MAX;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
    if (it != subviews_.end()) index = (it - subviews_.begin()) + offset;
  }
  // When the view is already a subview below the sibling, removing it first shifts
  // the sibling down by one.
  if (view && view->superview().get() == this && index != LONG_MAX) {
    std::lock_guard lock(mutex_);
    auto own = std::find(subviews_.begin(), subviews_.end(), view);
    if (own != subviews_.end() && own - subviews_.begin() < index) --index;
  }
  insertSubviewInternal(view, index);
}

void UIView::insertSubviewInternal(const std::shared_ptr<UIView>& view, long index) {
  auto self = selfView();
  if (!view || !self || view == self || isDescendantOfView(view)) return;

  auto oldSuper = view->superview();
  if (oldSuper == self) {  // a move among the siblings
    std::lock_guard lock(mutex_);
    auto it = std::find(subviews_.begin(), subviews_.end(), view);
    if (it != subviews_.end()) subviews_.erase(it);
    auto at = std::min<std::size_t>(static_cast<std::size_t>(index), subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<long>(at), view);
    return;
  }

  auto oldWindow = view->window();
  if (oldSuper) view->detachFromSuperview(false);
  {
    std::lock_guard lock(mutex_);
    auto at = std::min<std::size_t>(static_cast<std::size_t>(index), subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<long>(at), view);
  }
  {
    std::lock_guard lock(view->mutex_);
    view->superview_ = self;
  }
  didAddSubview(view);
  view->didMoveToSuperview();
  auto newWindow = window();
  if (newWindow != oldWindow) {
    if (oldWindow) oldWindow->_resignFirstResponderInside(view);
    notifyWindowChange(view);
  }
  view->setNeedsLayout();
  setNeedsLayout();
}

void UIView::detachFromSuperview(bool notify) {
  auto self = selfView();
  auto parent = superview();
  if (!self || !parent) return;
  auto oldWindow = notify ? window() : nullptr;
  parent->willRemoveSubview(self);
  {
    std::lock_guard lock(parent->mutex_);
    auto it = std::find(parent->subviews_.begin(), parent->subviews_.end(), self);
    if (it != parent->subviews_.end()) parent->subviews_.erase(it);
  }
  openReadings().keepIfOpen(self);
  {
    std::lock_guard lock(mutex_);
    superview_.reset();
  }
  if (!notify) return;
  didMoveToSuperview();
  if (oldWindow) {
    oldWindow->_resignFirstResponderInside(self);
    notifyWindowChange(self);
  }
  parent->setNeedsLayout();
}

void UIView::removeFromSuperview() { detachFromSuperview(true); }

void UIView::notifyWindowChange(const std::shared_ptr<UIView>& root) {
  root->didMoveToWindow();
  for (const auto& child : root->subviews()) notifyWindowChange(child);
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& view) {
  std::lock_guard lock(mutex_);
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  subviews_.erase(it);
  subviews_.push_back(view);
}

void UIView::sendSubviewToBack(const std::shared_ptr<UIView>& view) {
  std::lock_guard lock(mutex_);
  auto it = std::find(subviews_.begin(), subviews_.end(), view);
  if (it == subviews_.end()) return;
  subviews_.erase(it);
  subviews_.insert(subviews_.begin(), view);
}

std::shared_ptr<UIView> UIView::viewWithTag(long tag) {
  if (this->tag() == tag) return selfView();
  for (const auto& child : subviews()) {
    if (auto found = child->viewWithTag(tag)) return found;
  }
  return nullptr;
}

void UIView::didAddSubview(const std::shared_ptr<UIView>&) {}
void UIView::willRemoveSubview(const std::shared_ptr<UIView>&) {}
void UIView::didMoveToSuperview() {}
void UIView::didMoveToWindow() {}

// Appearance -----------------------------------------------------------------

bool UIView::isHidden() const {
  ReadLock lock(mutex_);
  return hidden_;
}
void UIView::setHidden(bool hidden) { setHiddenFlag(hidden); }
void UIView::setHiddenFlag(bool hidden) {
  std::lock_guard lock(mutex_);
  hidden_ = hidden;
}

CGFloat UIView::alpha() const {
  ReadLock lock(mutex_);
  return alpha_;
}
void UIView::setAlpha(CGFloat alpha) {
  alpha = std::clamp(alpha, 0.0, 1.0);
  {
    std::lock_guard lock(mutex_);
    alpha_ = alpha;
  }
  layer_->setOpacity(static_cast<float>(alpha));
}

bool UIView::clipsToBounds() const {
  ReadLock lock(mutex_);
  return clipsToBounds_;
}
void UIView::setClipsToBounds(bool clips) {
  {
    std::lock_guard lock(mutex_);
    clipsToBounds_ = clips;
  }
  layer_->setMasksToBounds(clips);
}

bool UIView::isUserInteractionEnabled() const {
  ReadLock lock(mutex_);
  return userInteractionEnabled_;
}
void UIView::setUserInteractionEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  userInteractionEnabled_ = enabled;
}

bool UIView::isOpaque() const {
  ReadLock lock(mutex_);
  return opaque_;
}
void UIView::setOpaque(bool opaque) {
  std::lock_guard lock(mutex_);
  opaque_ = opaque;
}

std::shared_ptr<UIColor> UIView::backgroundColor() const {
  ReadLock lock(mutex_);
  return backgroundColor_;
}
void UIView::setBackgroundColor(const std::shared_ptr<UIColor>& color) {
  {
    std::lock_guard lock(mutex_);
    backgroundColor_ = color;
  }
  layer_->setBackgroundColor(color ? color->CGColor() : nullptr);
}

std::shared_ptr<UIColor> UIView::tintColor() const {
  {
    std::lock_guard lock(mutex_);
    if (tintColor_) return tintColor_;
  }
  if (auto parent = superview()) return parent->tintColor();
  return UIColor::systemBlueColor();
}
void UIView::setTintColor(const std::shared_ptr<UIColor>& color) {
  std::lock_guard lock(mutex_);
  tintColor_ = color;
}

long UIView::tag() const {
  ReadLock lock(mutex_);
  return tag_;
}
void UIView::setTag(long tag) {
  std::lock_guard lock(mutex_);
  tag_ = tag;
}

std::shared_ptr<CALayer> UIView::layer() const {
  if (!layerDelegateSet_.load(std::memory_order_acquire)) {
    if (auto self = selfView()) {
      layer_->_setDelegate(self);
      layerDelegateSet_.store(true, std::memory_order_release);
    }
  }
  return layer_;
}

// Gesture recognisers ---------------------------------------------------------

std::vector<std::shared_ptr<UIGestureRecognizer>> UIView::gestureRecognizers() const {
  std::lock_guard lock(mutex_);
  return gestureRecognizers_;
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  auto self = selfView();
  if (!recognizer || !self) return;
  auto previous = recognizer->view();
  if (previous == self) return;
  if (previous) previous->removeGestureRecognizer(recognizer);
  {
    std::lock_guard lock(mutex_);
    gestureRecognizers_.push_back(recognizer);
  }
  recognizer->_setView(self);
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  bool removed = false;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
    if (it != gestureRecognizers_.end()) {
      gestureRecognizers_.erase(it);
      removed = true;
    }
  }
  if (removed) recognizer->_setView(nullptr);
}

bool UIView::gestureRecognizerShouldBegin(const std::shared_ptr<UIGestureRecognizer>&) { return true; }

// Coordinate conversion --------------------------------------------------------

CGPoint UIView::pointToRoot(CGPoint point, std::shared_ptr<const UIView>* root) const {
  std::shared_ptr<const UIView> view = selfView();
  if (!view) {
    if (root) root->reset();
    return point;
  }
  while (auto parent = view->superview()) {
    CGRect f = view->frame();
    CGRect b = view->bounds();
    point = {point.x - b.origin.x + f.origin.x, point.y - b.origin.y + f.origin.y};
    view = parent;
  }
  if (root) *root = view;
  return point;
}

CGPoint UIView::pointFromRoot(CGPoint point) const {
  std::vector<std::shared_ptr<const UIView>> chain;  // this view up to (not including) the root
  std::shared_ptr<const UIView> view = selfView();
  if (!view) return point;
  while (auto parent = view->superview()) {
    chain.push_back(view);
    view = parent;
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    CGRect f = (*it)->frame();
    CGRect b = (*it)->bounds();
    point = {point.x - f.origin.x + b.origin.x, point.y - f.origin.y + b.origin.y};
  }
  return point;
}

CGPoint UIView::convertPointToView(CGPoint point, const std::shared_ptr<UIView>& view) const {
  std::shared_ptr<const UIView> root;
  CGPoint inRoot = pointToRoot(point, &root);
  if (!view || !root) return inRoot;
  std::shared_ptr<const UIView> targetRoot;
  view->pointToRoot(CGPointZero, &targetRoot);
  if (targetRoot != root && targetRoot) {
    // Different hierarchies: through the screen, placing each root by its frame.
    CGRect f = root->frame(), b = root->bounds();
    CGPoint screen{inRoot.x - b.origin.x + f.origin.x, inRoot.y - b.origin.y + f.origin.y};
    CGRect tf = targetRoot->frame(), tb = targetRoot->bounds();
    inRoot = {screen.x - tf.origin.x + tb.origin.x, screen.y - tf.origin.y + tb.origin.y};
  }
  return view->pointFromRoot(inRoot);
}

CGPoint UIView::convertPointFromView(CGPoint point, const std::shared_ptr<UIView>& view) const {
  if (!view) return pointFromRoot(point);
  return view->convertPointToView(point, selfView());
}

CGRect UIView::convertRectToView(CGRect rect, const std::shared_ptr<UIView>& view) const {
  rect = standardized(rect);
  return {convertPointToView(rect.origin, view), rect.size};
}

CGRect UIView::convertRectFromView(CGRect rect, const std::shared_ptr<UIView>& view) const {
  rect = standardized(rect);
  return {convertPointFromView(rect.origin, view), rect.size};
}

// Hit testing ----------------------------------------------------------------

std::shared_ptr<UIView> UIView::hitTest(CGPoint point, const std::shared_ptr<UIEvent>& event) {
  {
    ReadLock lock(mutex_);
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
  }
  if (!pointInside(point, event)) return nullptr;
  auto hitInChild = [&](UIView& child) {
    const CGRect f = child.frame();
    const CGRect b = child.bounds();
    return child.hitTest({point.x - f.origin.x + b.origin.x, point.y - f.origin.y + b.origin.y}, event);
  };
  if (dispatch_is_main_thread()) {
    // The main thread asks the children in place, front to back, rather than from a
    // copy of the list: a copy writes every child's reference count, which a walk of
    // the hierarchy on another thread writes too, and the two would take the line
    // from each other for every child. Only this thread changes the list, and a hit
    // test changes nothing; should an override change it all the same, the index is
    // checked again before each child.
    for (std::size_t i = subviews_.size(); i-- > 0;) {
      if (i >= subviews_.size()) continue;
      if (auto hit = hitInChild(*subviews_[i])) return hit;
    }
    return selfView();
  }
  auto children = subviews();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (auto hit = hitInChild(**it)) return hit;
  }
  return selfView();
}

bool UIView::pointInside(CGPoint point, const std::shared_ptr<UIEvent>&) {
  return CGRectContainsPoint(bounds(), point);
}

// Layout ---------------------------------------------------------------------

void UIView::setNeedsLayout() {
  {
    std::lock_guard lock(mutex_);
    needsLayout_ = true;
  }
  uikit_internal::scheduleLayoutPass();
}

bool UIView::needsLayout() const {
  ReadLock lock(mutex_);
  return needsLayout_;
}

void UIView::layoutIfNeeded() { _layoutSubtreeIfNeeded(); }

void UIView::_layoutSubtreeIfNeeded() {
  bool needed;
  {
    std::lock_guard lock(mutex_);
    needed = needsLayout_;
    needsLayout_ = false;
  }
  if (needed) {
    auto controller = _viewController();
    if (controller) controller->viewWillLayoutSubviews();
    layoutSubviews();
    if (controller) controller->viewDidLayoutSubviews();
  }
  for (const auto& child : subviews()) child->_layoutSubtreeIfNeeded();
}

void UIView::layoutSubviews() {}

CGSize UIView::sizeThatFits(CGSize) { return bounds().size; }

void UIView::sizeToFit() {
  CGRect f = frame();
  f.size = sizeThatFits(f.size);
  setFrame(f);
}

CGSize UIView::intrinsicContentSize() { return {-1, -1}; }

// Responder ------------------------------------------------------------------

std::shared_ptr<UIViewController> UIView::_viewController() const {
  std::lock_guard lock(mutex_);
  return viewController_.lock();
}

void UIView::_setViewController(const std::weak_ptr<UIViewController>& controller) {
  std::lock_guard lock(mutex_);
  viewController_ = controller;
}

std::shared_ptr<UIResponder> UIView::nextResponder() const {
  if (auto controller = _viewController()) return controller;
  return superview();
}

bool UIView::becomeFirstResponder() {
  if (!canBecomeFirstResponder()) return false;
  auto w = window();
  if (!w) return false;
  return w->_setFirstResponder(selfView());
}

bool UIView::resignFirstResponder() {
  auto w = window();
  if (!w || w->_firstResponder().get() != this) return true;
  return w->_setFirstResponder(nullptr);
}

bool UIView::isFirstResponder() const {
  auto w = window();
  return w && w->_firstResponder().get() == this;
}

std::string UIView::description() const {
  CGRect f = frame();
  char buf[160];
  std::snprintf(buf, sizeof buf, "; frame = (%g %g; %g %g)>", f.origin.x, f.origin.y, f.size.width, f.size.height);
  return "<" + className() + ": " + addressText() + buf;
}
