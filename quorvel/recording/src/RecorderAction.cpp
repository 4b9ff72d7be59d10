#include "quorvel/recording/RecorderAction.h"

#include <chrono>
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
#include "uikit/UIControl.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationItemView.h"
#include "uikit/UISegmentedControl.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"
#include "uikit/_UINavigationBarBackIndicatorView.h"

QV_OBJC_DEFINE_CLASS(RecorderAction, objc::Object)

namespace {

// The title a control shows in a label of its own (a tab bar button, a navigation
// bar's title and back indicator): the first label below it with a text.
std::optional<std::string> titleOfInnerLabel(const std::shared_ptr<UIView>& view) {
  for (const auto& subview : view->subviews()) {
    if (auto label = std::dynamic_pointer_cast<UILabel>(subview)) {
      if (auto text = label->text(); text && !text->empty()) return text;
    }
    if (auto text = titleOfInnerLabel(subview)) return text;
  }
  return std::nullopt;
}

bool drawsTitleInInnerLabel(const std::shared_ptr<UIView>& view) {
  // A text field's labels show what was typed, which is no name of the field.
  if (view->isKindOfClass(UITextField::classObject())) return false;
  return view->isKindOfClass(UIControl::classObject()) || view->isKindOfClass(UINavigationItemView::classObject()) ||
         view->isKindOfClass(_UINavigationBarBackIndicatorView::classObject());
}

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
  finishStep(*captureStep(action, view, getElementOfTouch(view, x, y), dataArgs, x, y));
}

std::shared_ptr<UIView> RecorderAction::getElementOfTouch(const std::shared_ptr<UIView>& touched, double x,
                                                          double y) const {
  if (!touched) return nullptr;
  std::shared_ptr<UIView> element =
      elementUnderFinger(touched, touched->convertPointToView(CGPointMake(x, y), nullptr));
  if (auto enclosingSwitch = getActualParentComponent(element)) element = enclosingSwitch;
  return element;
}

std::shared_ptr<CapturedStep> RecorderAction::captureStep(const std::string& action,
                                                          const std::shared_ptr<UIView>& touched,
                                                          const std::shared_ptr<UIView>& element,
                                                          const std::string& dataArgs, double x, double y) const {
  auto capture = std::make_shared<CapturedStep>();
  capture->action = action;
  capture->dataArgs = dataArgs;
  capture->touched = touched;
  capture->element = element ? element : touched;
  if (!capture->element) return capture;
  if (Utilities::classNameContains(capture->element, "uiweb")) {
    // The web page records its own step; the image of the touched area goes with it.
    const CGPoint windowPoint = touched->convertPointToView(CGPointMake(x, y), nullptr);
    const CGPoint point = capture->element->convertPointFromView(windowPoint, nullptr);
    capture->webView = true;
    capture->webTouchTime =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    capture->image = Utilities::getUIImageOfUIViewTouchedArea(capture->element, point.x, point.y);
    return capture;
  }
  // A segmented control's element is the segment it selects, which only the
  // application's handling of the touch settles.
  if (Utilities::classNameContains(touched, "segmentedcontrol")) {
    capture->selectedSegment = true;
    return capture;
  }
  auto text = Utilities::getUIViewText(capture->element);
  // A control that shows its title in a label of its own is named by that title,
  // which is what a person reads on it and what replay looks for.
  if ((!text || text->empty()) && drawsTitleInInnerLabel(capture->element)) {
    if (auto title = titleOfInnerLabel(capture->element)) text = title;
  }
  describe(*capture, capture->element, text);
  return capture;
}

void RecorderAction::describe(CapturedStep& capture, const std::shared_ptr<UIView>& element,
                              const std::optional<std::string>& text) const {
  capture.element = element;
  auto builder = std::make_shared<MainRecorderAction>();
  capture.image = Utilities::getUIImageOfUIView(element);
  builder->addObjectProperty("className", Utilities::getUIViewClassName(element));
  builder->addObjectProperty("id", Utilities::getUIViewAccesibilityId(element));
  builder->addObjectProperty("label", Utilities::getUIViewAccesibilityLabel(element));
  builder->addObjectProperty("elementText", text);
  builder->addObjectProperty("name", text);
  builder->addObjectProperty("mode", std::string("native"));
  builder->addObjectProperty("index", NSStringWithFormat("%zd", getClassNameIndexOfUIView(element)));
  // An empty text leaves the logical name out; an absent one names the class.
  if (text != std::string()) {
    builder->addObjectProperty("logicalname", text ? *text : getLogicalNameOfElement(element));
  }
  builder->addObjectProperty("xpath:position", XpathManager::sharedInstance()->getPositionXpathOfUIView(element));
  builder->addObjectBoundsProperties(element);

  const auto parent = element->superview();
  builder->addParentProperty("title", Utilities::getUIViewClassName(parent));
  builder->addParentProperty("classname", Utilities::getUIViewClassName(parent));
  builder->addParentProperty("id", Utilities::getUIViewAccesibilityId(parent));
  builder->addParentProperty("label", Utilities::getUIViewAccesibilityLabel(parent));
  builder->addParentBoundsProperties(parent);
  capture.builder = std::move(builder);
}

void RecorderAction::finishStep(const CapturedStep& captured) const {
  if (!captured.element) return;
  if (captured.webView) {
    GlobalVars::sharedInstance()->set_webViewBase64Image(Utilities::getBase64StringOfUIImage(captured.image));
    return;
  }
  CapturedStep capture = captured;
  if (capture.selectedSegment) {
    NSLog("***FOUND UISEGMENTCONTROL");
    // The selected segment, with the control's text; with none selected (or no
    // segment list to ask) the control itself.
    std::shared_ptr<UIView> element = capture.element;
    if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(capture.touched)) {
      const long selected = control->selectedSegmentIndex();
      auto segments = control->subviews();
      if (selected >= 0 && static_cast<std::size_t>(selected) < segments.size()) element = segments[selected];
    }
    describe(capture, element,
             Utilities::getUIViewText(capture.touched->isKindOfClass(UISegmentedControl::classObject())
                                          ? capture.touched
                                          : element));
  }
  if (!capture.builder) return;

  std::string actionName = capture.action;
  std::string data = capture.dataArgs;
  if (actionName == ElementInfo::kClickAction) {
    auto mapped = Utilities::getActionAndDataAccordingToComponent(capture.element);
    actionName = mapped->getActionName();
    data = mapped->getDataArgs();
  }
  auto& builder = *capture.builder;
  builder.addMainActionProperty("action", actionName);
  builder.addMainActionProperty("popupName", std::string());
  builder.addObjectProperty("ObjectImage", Utilities::getBase64StringOfUIImage(capture.image));
  builder.addDataArgsProperty("type", std::string("string"));
  builder.addDataArgsProperty("data", data);
  RecorderQueue::get()->enqueue(JSONValue::array({builder.CreateRecorderAction()}));
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
