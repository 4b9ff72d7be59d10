// A record of what the user did, handed by the touch classifier to the
// recorded-action thread: a touch, or the text typed into a field.
// Each record owns its fields; it is filled on the main thread and read on the
// recorded-action thread only after the elements bucket handed it over.
#pragma once

#include <memory>
#include <string>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class MainRecorderAction;
class UIEvent;
class UIImage;
class UIView;

// What a step says about the element under the finger, settled on the main thread
// before the application handles the touch (RecorderAction::captureStep). Only
// what the touch itself changes is read when the step is finished after the
// dispatch: a switch's state, the selected segment of a segmented control (whose
// whole description waits for it), and the JPEG written from the image.
struct CapturedStep {
  std::string action;
  std::string dataArgs;
  std::shared_ptr<UIView> touched;
  std::shared_ptr<UIView> element;
  std::shared_ptr<MainRecorderAction> builder;  // element and parent properties
  std::shared_ptr<UIImage> image;               // of the element, or of the touched area of a web view
  bool selectedSegment = false;                 // the element is settled after the dispatch
  bool webView = false;                         // no step: the page records its own
  double webTouchTime = 0;                      // seconds since 1970, for a web view
};

class ElementInfo : public objc::Object {
  QV_OBJC_DECLARE_CLASS(ElementInfo)
 public:
  // The actions of records: a touch (mapped to the control's own action when its
  // step is built), and the text left in a text field.
  static constexpr const char* kClickAction = "Click";
  static constexpr const char* kTypeTextAction = "TypeTextOnEditBox";

  void addAction(std::string action) { action_ = std::move(action); }
  const std::string& getAction() const { return action_; }
  void addEvent(std::shared_ptr<UIEvent> event) { event_ = std::move(event); }
  const std::shared_ptr<UIEvent>& getEvent() const { return event_; }
  void addUIView(std::shared_ptr<UIView> view) { view_ = std::move(view); }
  const std::shared_ptr<UIView>& getUIView() const { return view_; }
  void addDataArgs(std::string args) { dataArgs_ = std::move(args); }
  const std::string& getDatArgs() const { return dataArgs_; }
  // In the coordinates of the touched view.
  void addTouchedPoint(CGPoint point) { touchedPoint_ = point; }
  CGPoint getTouchedPoint() const { return touchedPoint_; }
  void setElementProperties(objc::id properties) { elementProperties_ = std::move(properties); }
  const objc::id& getElementProperties() const { return elementProperties_; }
  // Set when the touch was captured; the step is then finished from it.
  void setCapture(std::shared_ptr<CapturedStep> capture) { capture_ = std::move(capture); }
  const std::shared_ptr<CapturedStep>& getCapture() const { return capture_; }

 private:
  std::string action_;
  std::shared_ptr<UIEvent> event_;
  std::shared_ptr<UIView> view_;
  std::string dataArgs_;
  CGPoint touchedPoint_{0, 0};
  objc::id elementProperties_;
  std::shared_ptr<CapturedStep> capture_;
};
