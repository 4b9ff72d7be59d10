// The recorded-step builder: turns one touched view into one step in the step
// queue. Created per step. What the step says about the element is captured on
// the main thread when the touch comes, before the application handles it (the
// application may change the screen at once); the step is finished on the
// recorded-action thread, reading views only through their thread-safe accessors.
//
// The element recorded is the one the user meant: a view that is not a button, a
// text field or a switch stands for its front-most visible descendant under the
// finger; a view inside a switch for the switch; a segmented control for its
// selected segment. A plain "Click" becomes the action that suits the element.
// A touch on a web view records no step here: it leaves an image of the touched
// area for the steps the web page records.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

struct CapturedStep;
class UIView;

class RecorderAction : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RecorderAction)
 public:
  // `view` is the touched view and (x, y) the touch in its coordinates. `event` is
  // accepted and not used. The step goes into the step queue as a one-element list.
  // Captures and finishes at once.
  void CreateRecorderAction(const std::string& action, const std::shared_ptr<UIView>& view,
                            const std::string& dataArgs, const objc::id& event, double x, double y);

  // The element a touch at (x, y) of `touched` means: the element under the
  // finger, or the switch around it.
  std::shared_ptr<UIView> getElementOfTouch(const std::shared_ptr<UIView>& touched, double x, double y) const;
  // Everything the step says about `element` (see getElementOfTouch) and its
  // parent, read now: on the main thread before the application handles the
  // touch, while the screen is still the one the finger touched.
  std::shared_ptr<CapturedStep> captureStep(const std::string& action, const std::shared_ptr<UIView>& touched,
                                            const std::shared_ptr<UIView>& element, const std::string& dataArgs,
                                            double x, double y) const;
  // Completes a captured step once the application has handled the touch (the
  // action a switch's new state names, the segment now selected, the JPEG) and
  // puts it into the step queue; a web view's touch leaves its image instead.
  void finishStep(const CapturedStep& capture) const;

  // The nearest view at or above `view` that is a switch (a UISwitch, or a class
  // whose name contains "switch" in any case) and has a superview; else nullptr.
  std::shared_ptr<UIView> getActualParentComponent(const std::shared_ptr<UIView>& view) const;
  // The view's position among the visible views of its class in the key window,
  // recognised by its recording GUID; 0 when it is not among them.
  std::int64_t getClassNameIndexOfUIView(const std::shared_ptr<UIView>& view) const;
  // The view's text when present and not empty, else its class name.
  std::string getLogicalNameOfElement(const std::shared_ptr<UIView>& view) const;

 private:
  // The element under the finger for a touch at `windowPoint` on `touched`.
  std::shared_ptr<UIView> elementUnderFinger(const std::shared_ptr<UIView>& touched, CGPoint windowPoint) const;
  // The element and parent properties of `element`, with `text` as its text.
  void describe(CapturedStep& capture, const std::shared_ptr<UIView>& element,
                const std::optional<std::string>& text) const;
};
