// The touch extension of the toolkit: synthetic touches, built with the platform's
// private touch setters so that they look like a finger's. Main thread only.
#pragma once

#include <memory>
#include <vector>

#include "uikit/CGGeometry.h"
#include "uikit/UITouch.h"

class UIView;
class UIWindow;

// An ordered list of touches (the same touch may appear more than once).
using TKTouchList = std::vector<std::shared_ptr<UITouch>>;

namespace UITouch_ToolkitAdditions {

// A touch at a point of the window, in this order: window, tap count 1, location
// (previous location reset to it), the window's hit-test view for the point (with
// no event), phase began, first touch for its view, a tap, the current system
// uptime as timestamp, the hit-test view as gesture view when the touch answers
// "setGestureView:", and on platform 9.0 or later its own digitizer record
// (tk_setHidEvent). A point over no view gives a touch without view.
std::shared_ptr<UITouch> initAtPointInWindow(CGPoint point, const std::shared_ptr<UIWindow>& window);
// The same for a point in the view's coordinates, converted into the view's window.
// A view outside any window gives a touch without window at the window origin.
std::shared_ptr<UITouch> initAtPointInView(CGPoint point, const std::shared_ptr<UIView>& view);
// A touch at half the view's frame width and height, in the view's coordinates.
std::shared_ptr<UITouch> initInView(const std::shared_ptr<UIView>& view);

// A fresh timestamp first, then the location (the previous location keeps the old one).
void setLocationInWindow(const std::shared_ptr<UITouch>& touch, CGPoint point);
// A fresh timestamp first, then the phase.
void setPhaseAndUpdateTimestamp(const std::shared_ptr<UITouch>& touch, UITouchPhase phase);
// Gives the touch a digitizer record of itself alone (its _setHidEvent:).
void tk_setHidEvent(const std::shared_ptr<UITouch>& touch);

}  // namespace UITouch_ToolkitAdditions
