// The object spy: describes the element under a finger in spy mode. It picks the
// innermost element under the touch, highlights it, and sends one spy list to the
// recorder client through the step queue: a record of the element, then one of
// each ancestor up to (not including) the topmost view, normally the window. Every
// described view is kept in the spy storage under the next storage key, so that
// the recorder client can have it highlighted again.
//
// A record holds strings only, apart from "parent":
//   "tagName", "class"     the run-time class name
//   "id", "label"          accessibility identifier and label ("" when absent)
//   "elementText", "name"  the view's text (left out when it has none)
//   "mode"                 "native"
//   "logicalname"          see getLogicalNameOfElement
//   "xpath:position"       the registered position xpath (left out when none)
//   "X", "Y", "height", "width"  the view's own bounds, whole numbers
//   "parent"               the superview's "title" and "class" (its class name),
//                          "id", "label", "X", "Y", "height" and "width"
//
// Created per use; main thread only, inside the application's event dispatch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/json.h"
#include "objc/runtime.h"
#include "uikit/CGGeometry.h"

class UIView;

class ElementSpy : public objc::Object {
  QV_OBJC_DECLARE_CLASS(ElementSpy)
 public:
  // `point` is the touch in the touched view's own coordinates. YES when a spy
  // list was queued. NO, after highlighting it, when the element is a web view
  // (its page describes its own elements), and NO without a view.
  bool createSpyHierarchy(const std::shared_ptr<UIView>& view, CGPoint point);

  // The element a touch at `point` on `view` means: a button, text field or switch
  // is the element itself; any other view stands for the last of `descendants`
  // (pre-order, as the recording walk lists them) whose rectangle strictly
  // contains the point, or for itself when none does.
  std::shared_ptr<UIView> elementAtPoint(const std::shared_ptr<UIView>& view, CGPoint point,
                                         const std::vector<std::shared_ptr<UIView>>& descendants) const;

  // One spy record of the view (see above).
  JSONValue createSpyProperties(const std::shared_ptr<UIView>& view) const;
  // The view's text when present and not empty, else its accessibility identifier
  // when present and not empty, else its class name.
  std::string getLogicalNameOfElement(const std::shared_ptr<UIView>& view) const;
};
