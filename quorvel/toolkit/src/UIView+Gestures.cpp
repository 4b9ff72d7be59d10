// Taps and drags: synthetic touches delivered through the shared application's
// "sendEvent:", one event per phase, as the device delivers a finger's.
#include <any>

#include "foundation/runloop.h"
#include "objc/exception.h"
#include "quorvel/toolkit/UIApplication+ToolkitAdditions.h"
#include "quorvel/toolkit/UIEvent+ToolkitAdditions.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UIApplication.h"
#include "uikit/UIEvent.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

namespace UIView_ToolkitAdditions {

using namespace UITouch_ToolkitAdditions;

namespace {

void deliver(const std::shared_ptr<UIEvent>& event) { UIApplication::sharedApplication()->sendEvent(event); }

CFRunLoopMode currentMode() {
  return UIApplication_ToolkitAdditions::currentRunLoopMode(*UIApplication::sharedApplication());
}

objc::id objectIn(const std::any& value) {
  const auto* object = std::any_cast<objc::id>(&value);
  return object ? *object : nullptr;
}

// The web browser view that takes a tap on `view` in place of touches: the view
// itself when it is one, the browser view of a web view's internals, else nothing.
// A missing key, an empty object or a browser view without the tap operation means
// nothing, and the tap falls back to touches.
objc::id webTapTarget(const std::shared_ptr<UIView>& view) {
  const std::string& name = view->className();
  objc::id target;
  if (name == "UIWebBrowserView") {
    target = view;
  } else if (name == "UIWebView") {
    try {
      if (auto internal = objectIn(view->valueForKey("_internal"))) target = objectIn(internal->valueForKey("browserView"));
    } catch (const objc::NSException&) {
      return nullptr;
    }
  }
  if (target && !target->respondsToSelector("tapInteractionWithLocation:")) return nullptr;
  return target;
}

// A tap's two deliveries; the touch made for it, or nullptr when a web view took it.
std::shared_ptr<UITouch> tapWithTouches(const std::shared_ptr<UIView>& view, CGPoint point) {
  if (!view) return nullptr;
  if (auto browser = webTapTarget(view)) {
    objc::msgSend<void>(*browser, "tapInteractionWithLocation:", point);
    return nullptr;
  }
  auto touch = initAtPointInView(point, view);
  setPhaseAndUpdateTimestamp(touch, UITouchPhaseBegan);
  auto event = eventWithTouch(view, touch);
  deliver(event);
  // The same event object again, not prepared anew: only the touch's phase changed.
  setPhaseAndUpdateTimestamp(touch, UITouchPhaseEnded);
  deliver(event);
  return touch;
}

}  // namespace

std::shared_ptr<UIEvent> eventWithTouches(const std::shared_ptr<UIView>&, const TKTouchList& touches) {
  auto event = UIApplication::sharedApplication()->_touchesEvent();
  event->_clearTouches();
  UIEvent_ToolkitAdditions::tk_setEventWithTouches(event, touches);
  for (const auto& touch : touches) event->_addTouch(touch, false);
  return event;
}

std::shared_ptr<UIEvent> eventWithTouch(const std::shared_ptr<UIView>& view, const std::shared_ptr<UITouch>& touch) {
  return eventWithTouches(view, touch ? TKTouchList{touch} : TKTouchList{});
}

void tap(const std::shared_ptr<UIView>& view) {
  if (!view) return;
  CGRect frame = view->frame();
  tapAtPoint(view, {frame.size.width * 0.5, frame.size.height * 0.5});
}

void tapAtPoint(const std::shared_ptr<UIView>& view, CGPoint point) {
  auto touch = tapWithTouches(view, point);
  if (!touch) return;
  auto hit = touch->view();
  if (hit && hit->isDescendantOfView(view) && view->canBecomeFirstResponder()) view->becomeFirstResponder();
}

void FaketapAtPoint(const std::shared_ptr<UIView>& view, CGPoint point) { tapWithTouches(view, point); }

void dragFromPointToPoint(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint end) {
  dragFromPointToPoint(view, start, end, TK_dragPointCount);
}

void dragFromPointToPoint(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint end, unsigned long steps) {
  dragFromPointDisplacement(view, start, {end.x - start.x, end.y - start.y}, steps);
}

void dragFromPointDisplacement(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint displacement,
                               unsigned long steps) {
  CGPoint end{start.x + displacement.x, start.y + displacement.y};
  dragPointsAlongPaths(view, {pointsFromStartPointToPoint(view, start, end, steps)});
}

TKDragPath pointsFromStartPointToPoint(const std::shared_ptr<UIView>&, CGPoint start, CGPoint end,
                                       unsigned long steps) {
  TKDragPath points;
  if (steps == 0) return points;
  points.push_back(start);
  for (unsigned long i = 1; i < steps; ++i) {
    double f = static_cast<double>(i) / static_cast<double>(steps - 1);
    points.push_back({start.x + (end.x - start.x) * f, start.y + (end.y - start.y) * f});
  }
  return points;
}

void dragAlongPathWithPoints(const std::shared_ptr<UIView>& view, const CGPoint* points, long count) {
  if (!points || count <= 0) return;  // an empty path drags nothing
  dragPointsAlongPaths(view, {TKDragPath(points, points + count)});
}

void dragPointsAlongPaths(const std::shared_ptr<UIView>& view, const std::vector<TKDragPath>& paths) {
  dragPointsAlongPaths(view, paths, {});
}

void dragPointsAlongPaths(const std::shared_ptr<UIView>& view, const std::vector<TKDragPath>& paths,
                          const std::vector<double>& pauses) {
  if (!view || paths.empty() || paths.front().empty()) return;
  auto pauseAfter = [&pauses](std::size_t step) { return step < pauses.size() ? pauses[step] : TK_dragStepPause; };
  const std::size_t steps = paths.front().size();
  for (const auto& path : paths) {
    if (path.size() != steps) return;
  }
  auto window = view->window();
  if (!window) return;  // nowhere to deliver a touch

  std::vector<TKDragPath> inWindow;
  for (const auto& path : paths) {
    TKDragPath converted;
    for (CGPoint p : path) converted.push_back(window->convertPointFromView(p, view));
    inWindow.push_back(std::move(converted));
  }

  TKTouchList touches;
  for (const auto& path : inWindow) {
    auto touch = initAtPointInView(view->convertPointFromView(path.front(), window), view);
    setPhaseAndUpdateTimestamp(touch, UITouchPhaseBegan);
    touches.push_back(touch);
  }
  deliver(eventWithTouches(view, touches));
  CFRunLoopRunInMode(currentMode(), pauseAfter(0), false);

  for (std::size_t i = 1; i < steps; ++i) {
    for (std::size_t j = 0; j < touches.size(); ++j) {
      setLocationInWindow(touches[j], inWindow[j][i]);
      setPhaseAndUpdateTimestamp(touches[j], UITouchPhaseMoved);
    }
    deliver(eventWithTouches(view, touches));
    CFRunLoopRunInMode(currentMode(), pauseAfter(i), false);
  }

  for (const auto& touch : touches) {
    setPhaseAndUpdateTimestamp(touch, UITouchPhaseEnded);
    deliver(eventWithTouch(view, touch));
  }

  if (touches.front()->view() == view && view->canBecomeFirstResponder()) view->becomeFirstResponder();

  for (CFRunLoopMode mode = currentMode(); mode != kCFRunLoopDefaultMode; mode = currentMode()) {
    CFRunLoopRunInMode(mode, TK_dragSettlePause, false);
  }
}

}  // namespace UIView_ToolkitAdditions
