// Visibility and tappability of a view: whether the user could see it and whether a
// tap would reach it. Everything here only reads the views.
#include <cmath>
#include <string_view>
#include <vector>

#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UIControl.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UITapGestureRecognizer.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

namespace UIView_ToolkitAdditions {

void performBlockOnAscendentViews(const std::shared_ptr<UIView>& view, const TK_AscendentViewVisitor& visitor) {
  bool stop = false;
  for (auto current = view; current && !stop; current = current->superview()) visitor(current, stop);
}

bool isVisibleInViewHierarchy(const std::shared_ptr<UIView>& view) {
  bool visible = true;
  performBlockOnAscendentViews(view, [&visible](const std::shared_ptr<UIView>& v, bool& stop) {
    if (v->isHidden()) {
      visible = false;
      stop = true;
    }
  });
  return visible;
}

namespace {

// A view's frame in window coordinates, converted through its superview; the zero
// rectangle for a view without one.
CGRect frameInWindow(const std::shared_ptr<UIView>& view) {
  auto superview = view->superview();
  return superview ? superview->convertRectToView(view->frame(), nullptr) : CGRectZero;
}

bool isZeroSize(CGRect r) { return r.size.width == 0 && r.size.height == 0; }

}  // namespace

bool isVisibleInWindowFrame(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  CGRect visible = frameInWindow(view);
  // Every ancestor shares the view's window, so it is looked up once.
  const std::shared_ptr<UIView> window = view->window();
  performBlockOnAscendentViews(view, [&visible, &window](const std::shared_ptr<UIView>& v, bool& stop) {
    if (v->clipsToBounds()) visible = CGRectIntersection(visible, frameInWindow(v));
    if (isZeroSize(visible) || v->superview() == window) stop = true;
  });
  return !isZeroSize(visible);
}

std::shared_ptr<const TK_WindowFrameAncestor> TK_WindowFrameAncestor::chainOf(const UIView& view) {
  std::vector<std::shared_ptr<UIView>> above;  // the view's ancestors, up to the top
  for (auto current = view.superview(); current; current = current->superview()) above.push_back(current);
  const UIView& topView = above.empty() ? view : *above.back();
  auto top = std::make_shared<TK_WindowFrameAncestor>();
  top->frame_ = topView.frame();
  top->bounds_ = topView.bounds();
  top->clips_ = topView.clipsToBounds();
  top->frameInWindow_ = CGRectZero;  // no superview
  top->topIsWindow_ = dynamic_cast<const UIWindow*>(&topView) != nullptr;
  std::shared_ptr<const TK_WindowFrameAncestor> node = std::move(top);
  if (above.empty()) return node;
  for (auto it = above.rbegin() + 1; it != above.rend(); ++it) node = below(node, **it);
  return below(node, view);
}

std::shared_ptr<const TK_WindowFrameAncestor> TK_WindowFrameAncestor::below(
    const std::shared_ptr<const TK_WindowFrameAncestor>& parent, const UIView& view) {
  auto node = std::make_shared<TK_WindowFrameAncestor>();
  node->parent_ = parent;
  node->frame_ = view.frame();
  node->bounds_ = view.bounds();
  node->clips_ = view.clipsToBounds();
  node->frameInWindow_ = {parent->pointToTop(node->frame_.origin), node->frame_.size};
  node->topIsWindow_ = parent->topIsWindow_;
  return node;
}

CGPoint TK_WindowFrameAncestor::pointToTop(CGPoint point) const {
  // As UIView::convertPointToView with no view converts: the offsets of this view
  // and of each ancestor that has a superview, bottom up.
  for (const TK_WindowFrameAncestor* node = this; node->parent_; node = node->parent_.get()) {
    point = {point.x - node->bounds_.origin.x + node->frame_.origin.x,
             point.y - node->bounds_.origin.y + node->frame_.origin.y};
  }
  return point;
}

bool TK_WindowFrameAncestor::isSubviewVisibleInWindowFrame(const UIView& view) const {
  // The steps of isVisibleInWindowFrame, with the ancestors' part read from the chain.
  const CGRect frame = view.frame();
  const CGRect inWindow{pointToTop(frame.origin), frame.size};
  CGRect visible = inWindow;
  if (view.clipsToBounds()) visible = CGRectIntersection(visible, inWindow);
  if (isZeroSize(visible)) return false;
  if (!parent_ && topIsWindow_) return true;  // the view's superview is the window
  for (const TK_WindowFrameAncestor* node = this; node; node = node->parent_.get()) {
    if (node->clips_) visible = CGRectIntersection(visible, node->frameInWindow_);
    if (isZeroSize(visible)) return false;
    // Its superview is the window: the walk ends before the window.
    if (topIsWindow_ && node->parent_ && !node->parent_->parent_) break;
  }
  return !isZeroSize(visible);
}

bool hasTapGestureRecognizer(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  for (const auto& recognizer : view->gestureRecognizers()) {
    if (recognizer->isKindOfClass(UITapGestureRecognizer::classObject())) return true;
  }
  return false;
}

bool isNavigationItemView(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  for (std::string_view name : {"UINavigationItemView", "_UINavigationBarBackIndicatorView"}) {
    if (auto* cls = objc::NSClassFromString(name); cls && view->isKindOfClass(cls)) return true;
  }
  return false;
}

bool isTappableWithHitTestResultView(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& hitView) {
  if (!view || !hitView) return false;
  if (hitView->isKindOfClass(UIControl::classObject()) && view->isDescendantOfView(hitView)) return true;
  if (hitView->isKindOfClass(UINavigationBar::classObject()) && isNavigationItemView(view) &&
      view->isDescendantOfView(hitView)) {
    return true;
  }
  return hitView->isDescendantOfView(view);
}

CGPoint tappablePointInRect(const std::shared_ptr<UIView>& view, CGRect rect) {
  auto window = view ? view->window() : nullptr;
  if (!window) return TK_noPoint;
  CGRect w = view->convertRectToView(rect, nullptr);
  CGFloat x0 = w.origin.x, y0 = w.origin.y, width = w.size.width, height = w.size.height;
  const CGPoint candidates[] = {
      {x0 + width * 0.5, y0 + height * 0.5},
      {x0 + 1, y0 + 1},
      {x0 + width - 1, y0 + 1},
      {x0 + 1, y0 + height - 1},
      {x0 + width - 1, y0 + height - 1},
  };
  for (const CGPoint& point : candidates) {
    if (isTappableWithHitTestResultView(view, window->hitTest(point, nullptr))) {
      return view->convertPointFromView(point, nullptr);
    }
  }
  return TK_noPoint;
}

bool isTappableInRect(const std::shared_ptr<UIView>& view, CGRect rect) {
  return !std::isnan(tappablePointInRect(view, rect).x);
}

bool isTappable(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  return hasTapGestureRecognizer(view) || isTappableInRect(view, view->bounds());
}

bool isProbablyTappable(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  return view->className() == "UIWebBrowserView" || isTappable(view);
}

}  // namespace UIView_ToolkitAdditions
