// The view extension of the toolkit: operations the agent performs on a live view,
// receiver first.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "quorvel/toolkit/UITouch+ToolkitAdditions.h"
#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

class UIEvent;
class UIView;

namespace UIView_ToolkitAdditions {

// Gestures: synthetic touches delivered through the shared application's
// "sendEvent:" (so they pass the agent's capture hook as a finger's do). Main thread
// only; each returns once its last event has been delivered. Points are in the
// receiving view's own coordinates.

// The application's shared touches event, prepared for these touches: its touches
// cleared, the platform record of these touches attached (tk_setEventWithTouches),
// then each touch added in list order. No event object is made.
std::shared_ptr<UIEvent> eventWithTouches(const std::shared_ptr<UIView>& view, const TKTouchList& touches);
// The same for one touch; nullptr prepares it with no touches.
std::shared_ptr<UIEvent> eventWithTouch(const std::shared_ptr<UIView>& view, const std::shared_ptr<UITouch>& touch);

// tapAtPoint at (frame width / 2, frame height / 2): the visible centre only while
// the bounds origin is zero.
void tap(const std::shared_ptr<UIView>& view);
// A tap (began, then at once ended, on the same event object). A "UIWebBrowserView",
// or a "UIWebView" whose "_internal" object has a "browserView", gets the browser
// view's "tapInteractionWithLocation:" with the point instead of touches. After
// touches, the view becomes first responder when the touch hit it or a view inside
// it and it can become one.
void tapAtPoint(const std::shared_ptr<UIView>& view, CGPoint point);
// The same tap without the first-responder step.
void FaketapAtPoint(const std::shared_ptr<UIView>& view, CGPoint point);

// Drags. A path is the list of points one finger visits; all paths of a drag have
// the same length, the i-th points of all paths making step i.
using TKDragPath = std::vector<CGPoint>;
inline constexpr unsigned long TK_dragPointCount = 3;
inline constexpr double TK_dragStepPause = 0.01;   // run-loop time after each step
inline constexpr double TK_dragSettlePause = 0.1;  // per settle turn, see dragPointsAlongPaths

// A one-finger drag in TK_dragPointCount points.
void dragFromPointToPoint(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint end);
void dragFromPointToPoint(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint end, unsigned long steps);
void dragFromPointDisplacement(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint displacement,
                               unsigned long steps);
// `steps` points evenly from start to end, both included; one step gives the start
// alone and none gives no point.
TKDragPath pointsFromStartPointToPoint(const std::shared_ptr<UIView>& view, CGPoint start, CGPoint end,
                                       unsigned long steps);
void dragAlongPathWithPoints(const std::shared_ptr<UIView>& view, const CGPoint* points, long count);
// The multi-finger drag: one began event with every finger, a moved event with every
// finger per further step, TK_dragStepPause of run loop in the application's current
// mode after each of those, then one ended event per finger without pauses (a path of
// one point begins and ends at once). Then the view becomes first responder when the
// first finger began on the view itself and it can become one, and the run loop turns
// in TK_dragSettlePause slices until the current mode is the default one again.
// Nothing happens without paths, with an empty first path or with paths of different
// lengths.
void dragPointsAlongPaths(const std::shared_ptr<UIView>& view, const std::vector<TKDragPath>& paths);
// The same drag with the run-loop time after each step given in seconds, step by
// step (TK_dragStepPause for steps past the list): a finger's own pace.
void dragPointsAlongPaths(const std::shared_ptr<UIView>& view, const std::vector<TKDragPath>& paths,
                          const std::vector<double>& pauses);

// The highlight marking: a 4.0-point opaque pure green border (red 0, green 1,
// blue 0, alpha 1). Borders are put back 1.0 second after they were changed.
inline constexpr CGFloat TK_highlightBorderWidth = 4.0;
inline constexpr CGFloat TK_deHighlightBorderWidth = 1.0;
inline constexpr double TK_borderRestoreDelay = 1.0;
// A new colour reference of the highlight colour.
CGColorRef TK_highlightBorderColor();
// True when the view's layer carries the highlight marking (the width and a colour
// equal in value to the highlight colour).
bool TK_hasHighlightBorder(const std::shared_ptr<UIView>& view);

// Draws the highlight marking, then puts back the border the view had (the width
// and colour read at this call) after 1 second. Overlapping calls restore in the
// order they were made, each to what it read: two calls less than a second apart
// leave the marking on for good.
void highlightView(const std::shared_ptr<UIView>& view);
// A 1-point border in the layer's current colour, put back after 1 second.
void deHighlightView(const std::shared_ptr<UIView>& view);
// Sets the given border now and sets it again after 1 second.
void deHighlightView(const std::shared_ptr<UIView>& view, CGFloat width, const CGColorRef& color);

// Takes a left-over highlight marking off a view (the inventory walks call this for
// every view they pass). A marking whose own restore is still pending is left alone:
// de-highlighting it would read the marking and put it back after the highlight's
// restore, making a one-second highlight permanent. A marking left for good (two
// highlights less than a second apart) is replaced by the border the view had
// before it was first highlighted; a marking this toolkit did not draw is
// de-highlighted as usual.
void TK_clearStaleHighlight(UIView& view);
// Whether a highlight restore of this view is still to run.
bool TK_hasPendingHighlightRestore(const std::shared_ptr<UIView>& view);

// Visibility and tappability queries. Read-only; they never fail: a missing window,
// superview or hit view makes the answer NO (or the no-point).

// YES unless the view or one of its ancestors is hidden.
bool isVisibleInViewHierarchy(const std::shared_ptr<UIView>& view);
// YES when some part of the view's frame, in window coordinates, survives the
// clipping of the view itself and of its clipping ancestors up to (not including)
// the window. Hidden flags are not consulted; only an empty (0, 0) size is invisible.
bool isVisibleInWindowFrame(const std::shared_ptr<UIView>& view);

// isVisibleInWindowFrame for many views of one hierarchy, as a walk meets them:
// what the test reads of an ancestor (frame, bounds, clipping, place under the
// window) is read once per ancestor instead of once per view below it, and the
// arithmetic is the query's own, step for step, so the answers are the same as
// long as the hierarchy does not change meanwhile. One object stands for one view
// as the ancestor of the views being tested.
class TK_WindowFrameAncestor {
 public:
  // The chain of `view` and all its ancestors, read now.
  static std::shared_ptr<const TK_WindowFrameAncestor> chainOf(const UIView& view);
  // `view`, a subview of the view that `parent` stands for, as an ancestor in turn.
  static std::shared_ptr<const TK_WindowFrameAncestor> below(const std::shared_ptr<const TK_WindowFrameAncestor>& parent,
                                                             const UIView& view);
  // isVisibleInWindowFrame of `view`, a subview of the view this object stands for.
  bool isSubviewVisibleInWindowFrame(const UIView& view) const;

 private:
  // `origin` (in this view's coordinates) in the coordinates of the hierarchy's top.
  CGPoint pointToTop(CGPoint origin) const;

  std::shared_ptr<const TK_WindowFrameAncestor> parent_;  // nullptr at the top
  CGRect frame_{};
  CGRect bounds_{};
  CGRect frameInWindow_{};
  bool clips_ = false;
  bool topIsWindow_ = false;  // the top of the hierarchy is a window
};
// YES for a "UIWebBrowserView", otherwise isTappable.
bool isProbablyTappable(const std::shared_ptr<UIView>& view);
// YES with a tap gesture recogniser, otherwise when its bounds have a tappable point.
bool isTappable(const std::shared_ptr<UIView>& view);
bool hasTapGestureRecognizer(const std::shared_ptr<UIView>& view);
// YES when tappablePointInRect of the rectangle (in the view's coordinates) is a point.
bool isTappableInRect(const std::shared_ptr<UIView>& view, CGRect rect);
// The first of the rectangle's centre and its four corner points inset by 1 whose
// window hit test counts as a hit on the view, in the view's coordinates; otherwise
// TK_noPoint (NaN, NaN).
CGPoint tappablePointInRect(const std::shared_ptr<UIView>& view, CGRect rect);
inline constexpr CGPoint TK_noPoint{NAN, NAN};
// Whether a hit on `hitView` counts as a hit on the view: a hit control containing
// the view, a hit navigation bar containing the view when it is a navigation item
// view, or a hit view that is the view or lies inside it.
bool isTappableWithHitTestResultView(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIView>& hitView);
// YES for a view of class "UINavigationItemView" or "_UINavigationBarBackIndicatorView"
// (or a subclass).
bool isNavigationItemView(const std::shared_ptr<UIView>& view);
// Visits the view, then its superview and so on, until there is none or the visitor
// sets `stop`.
using TK_AscendentViewVisitor = std::function<void(const std::shared_ptr<UIView>& view, bool& stop)>;
void performBlockOnAscendentViews(const std::shared_ptr<UIView>& view, const TK_AscendentViewVisitor& visitor);

}  // namespace UIView_ToolkitAdditions
