#include "quorvel/recording/RecorderAction.h"

#include <exception>

#include "foundation/format.h"
#include "foundation/log.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/recording/ElementInfo.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/MainRecorderAction.h"
#include "quorvel/util/MappedActionObject.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIButton.h"
#include "uikit/UISegmentedControl.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(RecorderAction, objc::Object)

namespace {


}  // namespace

std::shared_ptr<UIView> RecorderAction::elementUnderFinger(const std::shared_ptr<UIView>& touched,
                                                           CGPoint windowPoint) const {
  // Controls that take touches themselves are the element.
  if (touched->isKindOfClass(UIButton::classObject()) || touched->isKindOfClass(UITextField::classObject()) ||
      touched->isKindOfClass(UISwitch::classObject())) {
    return touched;
  }
  // Otherwise the front-most descendant under the finger: the walk lists a view
  // before its descendants and siblings back to front, so the last views listed
  // are tried first. Candidates and the point are compared in window coordinates,
  // strictly inside; hidden views are not under anybody's finger. A view without
  // descendants is the element itself.
  auto candidates = std::make_shared<UIViewsManager>()->GetAllViewsForPlayer(touched, true);
  for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
    const auto& candidate = *it;
    CGRect r = candidate->convertRectToView(candidate->bounds(), nullptr);
    if (r.origin.x < windowPoint.x && windowPoint.x < r.origin.x + r.size.width && r.origin.y < windowPoint.y &&
        windowPoint.y < r.origin.y + r.size.height && UIView_ToolkitAdditions::isVisibleInViewHierarchy(candidate)) {
      return candidate;
    }
  }
  return touched;
}

void RecorderAction::CreateRecorderAction(const std::string& action, const std::shared_ptr<UIView>& view,
                                          const std::string& dataArgs, const objc::id&, double x, double y) {
  if (!view) return;
  const std::shared_ptr<UIView> touched = view;
  const CGPoint windowPoint = touched->convertPointToView(CGPointMake(x, y), nullptr);
  std::shared_ptr<UIView> element = elementUnderFinger(touched, windowPoint);

  if (auto enclosingSwitch = getActualParentComponent(element)) element = enclosingSwitch;

  if (Utilities::classNameContains(touched, "segmentedcontrol")) {
    NSLog("***FOUND UISEGMENTCONTROL");
    // The selected segment; with none selected (or no segment list to ask) the
    // element stays as it is.
    if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(touched)) {
      const long selected = control->selectedSegmentIndex();
      auto segments = control->subviews();
      if (selected >= 0 && static_cast<std::size_t>(selected) < segments.size()) element = segments[selected];
    }
  }

  std::string actionName = action;
  std::string data = dataArgs;
  if (actionName == ElementInfo::kClickAction) {
    auto mapped = Utilities::getActionAndDataAccordingToComponent(element);
    actionName = mapped->getActionName();
    data = mapped->getDataArgs();
  }

  auto builder = std::make_shared<MainRecorderAction>();
  builder->addMainActionProperty("action", actionName);
  builder->addMainActionProperty("popupName", std::string());

  if (Utilities::classNameContains(element, "uiweb")) {
    // The web page records its own step and attaches this image to it.
    const CGPoint point = element->convertPointFromView(windowPoint, nullptr);
    GlobalVars::sharedInstance()->set_webViewBase64Image(
        Utilities::getBase64StringOfUIImageOfUIViewTouchedArea(element, point.x, point.y));
    return;
  }

  const auto text = Utilities::getUIViewText(touched->isKindOfClass(UISegmentedControl::classObject()) ? touched
                                                                                                    : element);
  builder->addObjectProperty("ObjectImage", Utilities::getBase64StringOfUIImageOfUIView(element));
  builder->addObjectProperty("className", Utilities::getUIViewClassName(element));
  builder->addObjectProperty("id", Utilities::getUIViewAccesibilityId(element));
  builder->addObjectProperty("label", Utilities::getUIViewAccesibilityLabel(element));
  builder->addObjectProperty("elementText", text);
  builder->addObjectProperty("name", text);
  builder->addObjectProperty("mode", std::string("native"));
  builder->addObjectProperty("index", NSStringWithFormat("%zd", getClassNameIndexOfUIView(element)));
  // An empty text leaves the logical name out; an absent one names the class.
  if (text != std::string()) builder->addObjectProperty("logicalname", getLogicalNameOfElement(element));
  builder->addObjectProperty("xpath:position", XpathManager::sharedInstance()->getPositionXpathOfUIView(element));
  builder->addObjectBoundsProperties(element);

  const auto parent = element->superview();
  builder->addParentProperty("title", Utilities::getUIViewClassName(parent));
  builder->addParentProperty("classname", Utilities::getUIViewClassName(parent));
  builder->addParentProperty("id", Utilities::getUIViewAccesibilityId(parent));
  builder->addParentProperty("label", Utilities::getUIViewAccesibilityLabel(parent));
  builder->addParentBoundsProperties(parent);

  builder->addDataArgsProperty("type", std::string("string"));
  builder->addDataArgsProperty("data", data);

  RecorderQueue::get()->enqueue(JSONValue::array({builder->CreateRecorderAction()}));
}

std::shared_ptr<UIView> RecorderAction::getActualParentComponent(const std::shared_ptr<UIView>& view) const {
  for (auto current = view; current; current = current->superview()) {
    if (!current->superview()) return nullptr;
    if (current->isKindOfClass(UISwitch::classObject()) || Utilities::classNameContains(current, "switch")) return current;
  }
  return nullptr;
}

std::int64_t RecorderAction::getClassNameIndexOfUIView(const std::shared_ptr<UIView>& view) const {
  const auto guid = ViewIdentity::getRecordingGUID(view);
  if (!guid) return 0;
  const auto sameClass = VisibleViewList::getAllUIViewsAccordingToViewType(Utilities::getUIViewClassName(view));
  for (std::size_t i = 0; i < sameClass.size(); ++i) {
    if (ViewIdentity::getRecordingGUID(sameClass[i]) == guid) return static_cast<std::int64_t>(i);
  }
  return 0;
}

std::string RecorderAction::getLogicalNameOfElement(const std::shared_ptr<UIView>& view) const {
  auto text = Utilities::getUIViewText(view);
  if (text && !text->empty()) return *text;
  return Utilities::getUIViewClassName(view).value_or("");
}
