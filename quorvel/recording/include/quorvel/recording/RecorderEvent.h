// The touch classifier: sees every event the capture hook sees, before the
// application does, and decides what to record.
//
// In recording mode the element under the finger is captured before the
// application handles the touch (RecorderAction::captureStep): for an ordinary
// view when the touch begins, kept when it ends unless the finger moved more than
// 10 points and a scroll view around it scrolled (a drag that starts on a button
// and scrolls nothing records the button); for a switch or a segmented control
// when the touch ends, and not at all when the finger moved more than 10 points
// first. Touching a text field makes it the editable element; the text typed into
// it is recorded as "TypeTextOnEditBox" when the user next touches something
// else, just before that touch, whether or not that touch is recorded.
// Touches on the on-screen keyboard, events that are not touches, and every event
// after playback started are not recorded.
//
// In object-spy mode a touch is not recorded: when it begins, the object spy
// describes the element under it, and when the spy sent a description, a
// synthetic tap at kSpyTapPoint of the touched view follows. That tap reaches the
// application like any other but is not classified.
//
// One classifier lives for the whole process, so what it noted when a touch began
// is there when the touch moves and ends. Main thread only.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class ElementInfo;
class UIEvent;
class UIScrollView;
class UITouch;
class UIView;

class RecorderEvent : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RecorderEvent)
 public:
  using Touches = std::vector<std::shared_ptr<UITouch>>;

  // Movement beyond which a touch is a scroll (strictly more, in points).
  static constexpr double kScrollThreshold = 10.0;
  // Where the tap that follows a spied touch goes, in the touched view's coordinates.
  static constexpr CGPoint kSpyTapPoint{-100.0, -200.0};

  void handleEvent(const std::shared_ptr<UIEvent>& event);

  void touchesBeganOnView(const Touches& touches, const std::shared_ptr<UIEvent>& event);
  void touchesMovedOnView(const Touches& touches, const std::shared_ptr<UIEvent>& event);
  void touchesEndedOnView(const Touches& touches, const std::shared_ptr<UIEvent>& event);

  // YES for a view whose step is taken when the touch ends: a switch, or a class
  // whose lower-cased name contains "switch" or "uisegment".
  bool IsViewIsNotOfEventType(const std::shared_ptr<UIView>& view) const;
  // Hands a touched view on for recording, after the text left in the editable
  // element when that is another view; (x, y) in the view's coordinates.
  void submitViewForRecording(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIEvent>& event, double x,
                              double y);

 private:
  // The text left in the editable element goes into the bucket; the touch's
  // record, captured, is answered when the touch is to be kept.
  std::shared_ptr<ElementInfo> captureTouchOnView(const std::shared_ptr<UIView>& view,
                                                  const std::shared_ptr<UIEvent>& event, double x, double y);
  // The content offsets of the scroll views at and above `view`, when a touch begins.
  void noteScrollViewsAround(const std::shared_ptr<UIView>& view);
  bool scrolledSinceTouchBegan() const;
  // The touch ended or was cancelled: its held record goes into the bucket unless
  // the touch scrolled; a field whose text it recorded is no longer pending.
  void settleHeldTouch();

  // A typed-text record of the editable element when it is not `touched` and
  // holds text; the editable element is then cleared.
  std::shared_ptr<ElementInfo> takeTextOfEditableElement(const std::shared_ptr<UIView>& touched);

  CGPoint initialTouchPoint_{0, 0};
  bool isScrolling_ = false;
  bool isVerticalScroll_ = false;
  bool deliveringSpyTap_ = false;  // while the spy's tap is being dispatched
  std::shared_ptr<ElementInfo> heldTouch_;  // captured when the touch began
  std::shared_ptr<UIView> textTakenAtTouch_;  // the field whose text it recorded
  std::vector<std::pair<std::weak_ptr<UIScrollView>, CGPoint>> scrollOffsets_;
};
