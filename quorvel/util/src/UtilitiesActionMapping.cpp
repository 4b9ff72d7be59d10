// The action mapping: which recorded action a plain tap on a view stands for.
#include <exception>

#include "foundation/log.h"
#include "quorvel/util/MappedActionObject.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"

namespace {

// Asks the view itself, through its method table: an application's own switch
// class may implement isOn without deriving from UISwitch. Raises when the view
// has no such method.
const char* switchAction(objc::Object& view) {
  return objc::msgSend<bool>(view, "isOn") ? "Mobile_SelectSwitch" : "Mobile_DeSelectSwitch";
}

}  // namespace

std::shared_ptr<MappedActionObject> Utilities::getActionAndDataAccordingToComponent(const objc::id& view) {
  auto mapped = std::make_shared<MappedActionObject>();
  mapped->setDataArgs("");
  mapped->setActionName("Click");
  if (!view) return mapped;
  try {
    if (view->isKindOfClass(UISwitch::classObject())) {
      NSLog("********SWITCH FOUND");
      mapped->setActionName(switchAction(*view));
    } else if (Utilities::classNameContains(view, "switch")) {
      mapped->setActionName(switchAction(*view));
    } else if (view->isKindOfClass(UIButton::classObject())) {
      mapped->setActionName("ClickButton");
    } else if (view->isKindOfClass(UIImageView::classObject())) {
      mapped->setActionName("ClickImage");
    }
  } catch (const std::exception&) {  // NSException included: a view that cannot tell its state
    mapped->setActionName("Click");
  }
  return mapped;
}
