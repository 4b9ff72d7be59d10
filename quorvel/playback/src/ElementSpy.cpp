#include "quorvel/playback/ElementSpy.h"

#include "foundation/log.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/MainRecorderAction.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIButton.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(ElementSpy, objc::Object)

namespace {

bool isNonEmpty(const Utilities::Text& text) { return text && !text->empty(); }

}  // namespace

std::shared_ptr<UIView> ElementSpy::elementAtPoint(const std::shared_ptr<UIView>& view, CGPoint point,
                                                   const std::vector<std::shared_ptr<UIView>>& descendants) const {
  // Controls that take touches themselves are the element, whatever lies inside them.
  if (view->isKindOfClass(UIButton::classObject()) || view->isKindOfClass(UITextField::classObject()) ||
      view->isKindOfClass(UISwitch::classObject())) {
    return view;
  }
  // The walk lists a view before its descendants and siblings back to front, so
  // the last views listed are the deepest and front-most: they are tried first.
  for (auto it = descendants.rbegin(); it != descendants.rend(); ++it) {
    const auto& candidate = *it;
    const auto superview = candidate->superview();
    if (!superview) continue;  // taken out of the hierarchy since the walk
    const CGPoint centre = view->convertPointFromView(candidate->center(), superview);
    const CGSize size = candidate->bounds().size;
    const double left = centre.x - size.width / 2;
    const double top = centre.y - size.height / 2;
    // Strictly inside: a point on an edge belongs to the view around it.
    if (left < point.x && point.x < left + size.width && top < point.y && point.y < top + size.height) {
      return candidate;
    }
  }
  return view;
}

bool ElementSpy::createSpyHierarchy(const std::shared_ptr<UIView>& view, CGPoint point) {
  if (!view) return false;
  // The recording walk also gives the views below the touched one their GUIDs and
  // xpaths, so the records can name them.
  const auto descendants = std::make_shared<UIViewsManager>()->GetAllViews(view, true);
  std::shared_ptr<UIView> element = elementAtPoint(view, point, descendants);
  UIView_ToolkitAdditions::highlightView(element);
  if (Utilities::classNameContains(element, "uiweb")) return false;

  auto storage = UIViewStorage::sharedObject();
  JSONValue spyList = JSONValue::array();
  storage->setCount(0);
  for (auto described = element; described && described->superview(); described = described->superview()) {
    storage->setCount(storage->count() + 1);
    spyList.push_back(createSpyProperties(described));
    storage->storeView(described, Utilities::getGUIDString());
  }
  NSLog("Spy list of %@ views", std::to_string(spyList.size()));
  RecorderQueue::get()->enqueueSpyList(std::move(spyList));
  return true;
}

JSONValue ElementSpy::createSpyProperties(const std::shared_ptr<UIView>& view) const {
  auto builder = std::make_shared<MainRecorderAction>();
  const auto className = Utilities::getUIViewClassName(view);
  const auto text = Utilities::getUIViewText(view);
  builder->addObjectProperty("tagName", className);
  builder->addObjectProperty("class", className);
  builder->addObjectProperty("id", Utilities::getUIViewAccesibilityId(view));
  builder->addObjectProperty("label", Utilities::getUIViewAccesibilityLabel(view));
  builder->addObjectProperty("elementText", text);
  builder->addObjectProperty("name", text);
  builder->addObjectProperty("mode", std::string("native"));
  builder->addObjectProperty("logicalname", getLogicalNameOfElement(view));
  builder->addObjectProperty("xpath:position", XpathManager::sharedInstance()->getPositionXpathOfUIView(view));
  builder->addObjectBoundsProperties(view);

  const auto parent = view ? view->superview() : nullptr;
  const auto parentClassName = Utilities::getUIViewClassName(parent);
  builder->addParentProperty("title", parentClassName);
  builder->addParentProperty("class", parentClassName);
  builder->addParentProperty("id", Utilities::getUIViewAccesibilityId(parent));
  builder->addParentProperty("label", Utilities::getUIViewAccesibilityLabel(parent));
  builder->addParentBoundsProperties(parent);
  return builder->CreateSpyData();
}

std::string ElementSpy::getLogicalNameOfElement(const std::shared_ptr<UIView>& view) const {
  if (auto text = Utilities::getUIViewText(view); isNonEmpty(text)) return *text;
  if (auto identifier = Utilities::getUIViewAccesibilityId(view); isNonEmpty(identifier)) return *identifier;
  return Utilities::getUIViewClassName(view).value_or("");
}
