#include "quorvel/recording/RecorderEvent.h"

#include <cmath>

#include "foundation/log.h"
#include "quorvel/playback/ElementSpy.h"
#include "quorvel/recording/ElementInfo.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/recording/RecorderAction.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIEvent.h"
#include "uikit/UIScrollView.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(RecorderEvent, objc::Object)

namespace {

const std::string kTrue = "true";


bool isSpyMode() { return GlobalVars::sharedInstance()->_spyMode() == kTrue; }

}  // namespace

void RecorderEvent::handleEvent(const std::shared_ptr<UIEvent>& event) {
  if (GlobalVars::sharedInstance()->_isPlaybackStarted() == kTrue) return;
  // The spy's own tap goes on to the application unclassified: spying it would
  // describe, highlight and store whatever view it lands on as a spy action of its
  // own, so that the highlight positions no longer counted from the list sent.
  if (deliveringSpyTap_) return;
  if (!event) return;
  if (event->type() != UIEventTypeTouches) {
    NSLog("Event has invalid type. Keyboard input?");
    NSLog("No ready view to handle this event\n%@", event);
    return;
  }
  const Touches touches = event->allTouches();
  if (touches.empty()) return;
  const auto& touch = touches.front();
  const auto view = touch->view();
  NSLog("******CLICKED ON UIVIEW %@", Utilities::getUIViewClassName(view));
  // Typing is recorded from the text field, never from the keys.
  if (Utilities::classNameContains(view, "uikeyboard")) return;
  switch (touch->phase()) {
    case UITouchPhaseBegan:
      touchesBeganOnView(touches, event);
      break;
    case UITouchPhaseMoved:
      touchesMovedOnView(touches, event);
      break;
    case UITouchPhaseEnded:
      touchesEndedOnView(touches, event);
      break;
    case UITouchPhaseCancelled:
      settleHeldTouch();
      break;
    case UITouchPhaseStationary:
      break;
  }
  NSLog("No ready view to handle this event\n%@", event);
}

void RecorderEvent::touchesBeganOnView(const Touches& touches, const std::shared_ptr<UIEvent>& event) {
  NSLog("touchesBeganOnView11111111111111");
  if (touches.empty()) return;
  const auto view = touches.front()->view();
  const CGPoint location = touches.front()->locationInView(view);
  initialTouchPoint_ = location;
  isScrolling_ = false;
  NSLog("Intial Coordinate: x = %f, y = %f", location.x, location.y);
  if (isSpyMode()) {
    // Object-spy mode: the touched view is described instead of recorded, and a
    // synthetic tap far outside it follows before the touch goes on to the
    // application.
    if (std::make_shared<ElementSpy>()->createSpyHierarchy(view, location)) {
      struct DeliveringSpyTap {
        bool& flag;
        explicit DeliveringSpyTap(bool& f) : flag(f) { flag = true; }
        ~DeliveringSpyTap() { flag = false; }
      } delivering(deliveringSpyTap_);
      UIView_ToolkitAdditions::FaketapAtPoint(view, kSpyTapPoint);
    }
    return;
  }
  // Switches and segmented controls are recorded when the touch ends. Other views
  // are captured now, as the finger found them, and kept when the touch ends
  // unless it scrolled.
  heldTouch_.reset();
  textTakenAtTouch_.reset();
  if (!IsViewIsNotOfEventType(view)) {
    noteScrollViewsAround(view);
    heldTouch_ = captureTouchOnView(view, event, location.x, location.y);
  }
}

void RecorderEvent::touchesMovedOnView(const Touches& touches, const std::shared_ptr<UIEvent>&) {
  NSLog("touchesMovedOnView1111111111111");
  if (touches.empty()) return;
  const CGPoint location = touches.front()->locationInView(touches.front()->view());
  const double dx = location.x - initialTouchPoint_.x;
  const double dy = location.y - initialTouchPoint_.y;
  const double distance = std::sqrt(dx * dx + dy * dy);
  NSLog("Current Coordinate: x = %f, y = %f", location.x, location.y);
  if (distance > kScrollThreshold) {
    isScrolling_ = true;
    isVerticalScroll_ = std::fabs(dy) > std::fabs(dx);
    NSLog(isVerticalScroll_ ? "Scrolling vertically... distance: %f" : "Scrolling horizontally... distance: %f",
          distance);
  }
}

void RecorderEvent::touchesEndedOnView(const Touches& touches, const std::shared_ptr<UIEvent>& event) {
  NSLog("touchesEndedOnView1111111111111");
  if (touches.empty()) return;
  const auto view = touches.front()->view();
  const CGPoint location = touches.front()->locationInView(view);
  NSLog("End Coordinate: x = %f, y = %f", location.x, location.y);
  if (isSpyMode()) return;
  settleHeldTouch();
  if (isScrolling_) {
    const double distance = std::hypot(location.x - initialTouchPoint_.x, location.y - initialTouchPoint_.y);
    NSLog(isVerticalScroll_ ? "Vertical scroll ended. Distance: %f" : "Horizontal scroll ended. Distance: %f",
          distance);
    return;
  }
  if (IsViewIsNotOfEventType(view)) submitViewForRecording(view, event, location.x, location.y);
}

bool RecorderEvent::IsViewIsNotOfEventType(const std::shared_ptr<UIView>& view) const {
  if (!view) return false;
  return view->isKindOfClass(UISwitch::classObject()) || Utilities::classNameContains(view, "switch") ||
         Utilities::classNameContains(view, "uisegment");
}

void RecorderEvent::submitViewForRecording(const std::shared_ptr<UIView>& view, const std::shared_ptr<UIEvent>& event,
                                           double x, double y) {
  if (auto record = captureTouchOnView(view, event, x, y)) ElementsQueue::sharedInstance()->addElementInfoInQueue(record);
}

std::shared_ptr<ElementInfo> RecorderEvent::captureTouchOnView(const std::shared_ptr<UIView>& view,
                                                               const std::shared_ptr<UIEvent>& event, double x,
                                                               double y) {
  if (!view) return nullptr;
  auto queue = ElementsQueue::sharedInstance();
  // The user has moved on from the editable field: its text is recorded now,
  // before this touch, whether or not the touch itself is kept.
  if (auto text = takeTextOfEditableElement(view)) {
    textTakenAtTouch_ = text->getUIView();
    queue->addTypedTextInQueue(text);
  }
  std::shared_ptr<ElementInfo> record;
  if (queue->getZarvoIdOfUIView(view)) {
    auto recorder = std::make_shared<RecorderAction>();
    auto element = recorder->getElementOfTouch(view, x, y);
    // Only this thread adds to the bucket, so a touch accepted now is still
    // accepted when its record goes in.
    const bool kept = queue->acceptsElementOfUIView(view, element);
    // Every touch on a web view leaves the image the page's step will carry.
    const bool onWebView = Utilities::classNameContains(element, "uiweb");
    if (kept || onWebView) {
      auto capture = recorder->captureStep(ElementInfo::kClickAction, view, element, "", x, y);
      if (capture->webView) GlobalVars::sharedInstance()->add_webTouchImage(capture->webTouchTime, capture->image);
      if (kept) {
        record = std::make_shared<ElementInfo>();
        record->addAction(ElementInfo::kClickAction);
        record->addEvent(event);
        record->addUIView(view);
        record->addDataArgs("");
        record->addTouchedPoint(CGPointMake(x, y));
        record->setCapture(std::move(capture));
      }
    }
  }
  // A touched text field's text is recorded once the user has moved on.
  if (view->isKindOfClass(UITextField::classObject())) GlobalVars::sharedInstance()->set_editAbleElement(view);
  return record;
}

void RecorderEvent::noteScrollViewsAround(const std::shared_ptr<UIView>& view) {
  scrollOffsets_.clear();
  for (auto current = view; current; current = current->superview()) {
    if (auto scroll = std::dynamic_pointer_cast<UIScrollView>(current)) {
      scrollOffsets_.emplace_back(scroll, scroll->contentOffset());
    }
  }
}

bool RecorderEvent::scrolledSinceTouchBegan() const {
  for (const auto& [weak, offset] : scrollOffsets_) {
    auto scroll = weak.lock();
    if (scroll && !CGPointEqualToPoint(scroll->contentOffset(), offset)) return true;
  }
  return false;
}

void RecorderEvent::settleHeldTouch() {
  // The text taken when this touch began was recorded; the inventory walk may have
  // made its field pending again while the finger was down, before the
  // application could resign it: that is no new typing.
  if (auto field = std::move(textTakenAtTouch_)) GlobalVars::sharedInstance()->take_editAbleElement(field);
  textTakenAtTouch_.reset();
  auto record = std::move(heldTouch_);
  heldTouch_.reset();
  if (!record) return;
  // A drag that moved a scroll view's content was a scroll, not a tap.
  if (isScrolling_ && scrolledSinceTouchBegan()) {
    NSLog("A scroll, not a tap: the touch is not recorded");
    return;
  }
  ElementsQueue::sharedInstance()->addElementInfoInQueue(record);
}

std::shared_ptr<ElementInfo> RecorderEvent::takeTextOfEditableElement(const std::shared_ptr<UIView>& touched) {
  auto vars = GlobalVars::sharedInstance();
  auto editable = vars->_editAbleElement();
  if (!editable) return nullptr;
  NSLog("FOUND EDITABLE COMPONENT");
  if (editable == touched) return nullptr;
  auto field = std::dynamic_pointer_cast<UITextField>(editable);
  std::string text = field ? field->text().value_or("") : "";
  // Nothing typed: the field stays pending, so that what is typed later is recorded.
  if (text.empty()) return nullptr;
  // The inventory walk may store a field meanwhile; that one stays.
  if (!vars->take_editAbleElement(editable)) return nullptr;
  NSLog("tYPE text Class Name %@", Utilities::getUIViewClassName(editable));
  auto record = std::make_shared<ElementInfo>();
  record->addAction(ElementInfo::kTypeTextAction);
  record->addUIView(editable);
  record->addDataArgs(text);
  // Described now, while the field is still where the user typed into it.
  record->setCapture(std::make_shared<RecorderAction>()->captureStep(ElementInfo::kTypeTextAction, editable, editable,
                                                                     text, 0, 0));
  return record;
}
