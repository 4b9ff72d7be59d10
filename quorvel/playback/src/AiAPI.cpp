#include "quorvel/playback/AiAPI.h"

#include <vector>

#include "foundation/format.h"
#include "foundation/string.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UICollectionView.h"
#include "uikit/UIImage.h"
#include "uikit/UIImageView.h"
#include "uikit/UIPickerView.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(AiAPI, objc::Object)

JSONValue AiAPI::getAllViewsInformation(const std::optional<std::string>& tag) {
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
  JSONValue list = JSONValue::array();
  describingScreen_ = true;
  try {
    for (const auto& view : VisibleViewList::getAllUIViewsAccordingToViewType(tag)) {
      list.push_back(getViewProperty(view));
    }
  } catch (...) {
    describingScreen_ = false;
    chainTappable_.clear();
    throw;
  }
  describingScreen_ = false;
  chainTappable_.clear();
  return list;
}

JSONValue AiAPI::getViewProperty(const std::shared_ptr<UIView>& view) {
  return getViewPropertyWithImage(view, Utilities::getBase64StringOfUIImageOfUIView(view).value_or(""));
}

JSONValue AiAPI::getViewPropertyWithImage(const std::shared_ptr<UIView>& view, std::string imageBase64) {
  using namespace UIView_ToolkitAdditions;
  const std::string elementId = Utilities::getGUIDString();
  UIViewMemoryCache::sharedInstance()->addViewInMemoryCache(view, elementId);
  return {
      {"elementID", elementId},
      {"text", Utilities::getUIViewTextForPlayBack(view).value_or("")},
      {"elementType", Utilities::getUIViewClassName(view).value_or("")},
      {"imageBase64", std::move(imageBase64)},
      {"childCount", NSStringWithFormat("%ld", static_cast<long>(view->subviews().size()))},
      {"isProbablyTappable", convertBooleanToString(IsActuallyTappable(view))},
      {"isVisibleInViewHierarchy", convertBooleanToString(isVisibleInViewHierarchy(view))},
      {"isVisibleInWindowFrame", convertBooleanToString(isVisibleInWindowFrame(view))},
      {"isUserInteractionEnabled", convertBooleanToString(view->isUserInteractionEnabled())},
      {"isHidden", convertBooleanToString(view->isHidden())},
      {"isEditable", convertBooleanToString(view->isKindOfClass(UITextField::classObject()))},
      {"isScrollable", convertBooleanToString(isViewScrollable(view))},
      {"isImageObject", convertBooleanToString(IsImageTypeOfObject(view))},
      {"rectangle", getRectObjectOfView(view)},
  };
}

std::optional<std::string> AiAPI::getBase64ImageOfCurrentWindow() {
  auto window = VisibleViewList::getCurrentWindow();
  if (!window) return std::nullopt;
  return Utilities::getBase64StringOfUIImageOfUIView(window);
}

bool AiAPI::IsActuallyTappable(const std::shared_ptr<UIView>& view) {
  // The answer is whether any view of the chain is probably tappable, so the chain
  // is asked from the top down: on most screens a container near the top is hit
  // through one of its descendants, and every view below it is then answered
  // without hit tests of its own. While a screen is described, each view keeps the
  // answer for its chain, where its descendants start.
  std::vector<std::shared_ptr<UIView>> chain;  // up from the view, short of the topmost or of a known one
  bool tappable = false;
  for (auto current = view; current && current->superview(); current = current->superview()) {
    if (describingScreen_) {
      if (auto known = chainTappable_.find(current.get()); known != chainTappable_.end()) {
        tappable = known->second;
        break;
      }
    }
    chain.push_back(current);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    tappable = tappable || UIView_ToolkitAdditions::isProbablyTappable(*it);
    if (describingScreen_) {
      chainTappable_.emplace(it->get(), tappable);
    } else if (tappable) {
      return true;
    }
  }
  return tappable;
}

bool AiAPI::isViewScrollable(const std::shared_ptr<UIView>& view) {
  if (!view) return false;
  const std::string name = foundation::lowercaseString(view->className());
  return name.find("scrollview") != std::string::npos || view->isKindOfClass(UIScrollView::classObject()) ||
         view->isKindOfClass(UICollectionView::classObject()) || view->isKindOfClass(UITableView::classObject()) ||
         view->isKindOfClass(UIPickerView::classObject()) || name.find("uicollectionview") != std::string::npos ||
         name == "uipickercolumnview";
}

bool AiAPI::IsImageTypeOfObject(const objc::id& object) {
  return object &&
         (object->isKindOfClass(UIImage::classObject()) || object->isKindOfClass(UIImageView::classObject()));
}

std::string AiAPI::convertBooleanToString(bool value) { return value ? "true" : "false"; }

JSONValue AiAPI::getRectObjectOfView(const std::shared_ptr<UIView>& view) {
  // The origin is a point of the superview's space; a view without one (a window)
  // is at the origin of its own window coordinates.
  CGPoint origin = CGPointZero;
  if (auto superview = view->superview()) origin = superview->convertPointToView(view->frame().origin, nullptr);
  const CGSize size = view->bounds().size;
  return {
      {"x", NSStringWithFormat("%.02f", origin.x)},
      {"y", NSStringWithFormat("%.02f", origin.y)},
      {"width", NSStringWithFormat("%.02f", size.width)},
      {"height", NSStringWithFormat("%.02f", size.height)},
  };
}
