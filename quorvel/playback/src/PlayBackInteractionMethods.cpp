#include "quorvel/playback/PlayBackInteractionMethods.h"

#include "foundation/notification_center.h"
#include "quorvel/util/Utilities.h"
#include "objc/exception.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"

QV_OBJC_DEFINE_CLASS(PlayBackInteractionMethods, objc::Object)

namespace {

bool isSwitch(const std::shared_ptr<UIView>& view) { return view->isKindOfClass(UISwitch::classObject()); }

// setOn: with the opposite of isOn, both through the method table.
void toggle(UIView& view) { objc::msgSend<void>(view, "setOn:", !objc::msgSend<bool>(view, "isOn")); }

}  // namespace

bool PlayBackInteractionMethods::performClickOnUIView(const std::shared_ptr<UIView>& view) {
  if (!view) return true;
  if (isSwitch(view)) {
    toggle(*view);
    return true;
  }
  if (Utilities::classNameContains(view, "switch")) {
    try {
      toggle(*view);
      return true;
    } catch (const objc::NSException&) {
      // A switch by name only: clicked like any other view.
    }
  }
  // The switch that holds the clicked part (an inner image or label of a switch).
  // The top view, normally the window, is never one.
  for (auto current = view; current->superview(); current = current->superview()) {
    if (isSwitch(current)) {
      toggle(*current);
      return true;
    }
  }
  UIView_ToolkitAdditions::tap(view);
  return true;
}

bool PlayBackInteractionMethods::performTypeTextOnUIView(const std::shared_ptr<UIView>& view,
                                                         const std::optional<std::string>& text) {
  auto field = std::dynamic_pointer_cast<UITextField>(view);
  if (!field) return false;
  field->becomeFirstResponder();
  field->setText(text);
  NSNotificationCenter::defaultCenter().postNotificationName(UITextFieldTextDidChangeNotification, field);
  field->sendActionsForControlEvents(UIControlEventEditingChanged);
  return true;
}
