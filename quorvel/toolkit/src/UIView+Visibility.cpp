// Visibility and tappability of a view: whether the user could see it and whether a
// tap would reach it. Everything here only reads the views.
#include <cmath>
#include <string_view>

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
