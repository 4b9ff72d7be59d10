#include "quorvel/playback/AiAPI.h"

#include <charconv>
#include <string>
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

namespace {

// The text "%.02f" gives, without the formatting machinery (a screen has thousands
// of coordinates); values too long for the buffer take the formatter.
std::string twoDecimals(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  if (error != std::errc()) return NSStringWithFormat("%.02f", value);
  return std::string(text, end);
}

}  // namespace

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
  // Members go straight into the object: a screen has thousands of them, and a
  // braced list would build each pair as an array of two first.
  JSONValue description = JSONValue::object();
  auto& members = description.get_ref<JSONValue::object_t&>();
  members.emplace("elementID", elementId);
  members.emplace("text", Utilities::getUIViewTextForPlayBack(view).value_or(""));
  members.emplace("elementType", Utilities::getUIViewClassName(view).value_or(""));
  members.emplace("imageBase64", std::move(imageBase64));
  members.emplace("childCount", std::to_string(view->subviews().size()));
  members.emplace("isProbablyTappable", convertBooleanToString(IsActuallyTappable(view)));
  members.emplace("isVisibleInViewHierarchy", convertBooleanToString(isVisibleInViewHierarchy(view)));
  members.emplace("isVisibleInWindowFrame", convertBooleanToString(isVisibleInWindowFrame(view)));
  members.emplace("isUserInteractionEnabled", convertBooleanToString(view->isUserInteractionEnabled()));
  members.emplace("isHidden", convertBooleanToString(view->isHidden()));
  members.emplace("isEditable", convertBooleanToString(view->isKindOfClass(UITextField::classObject())));
  members.emplace("isScrollable", convertBooleanToString(isViewScrollable(view)));
  members.emplace("isImageObject", convertBooleanToString(IsImageTypeOfObject(view)));
  members.emplace("rectangle", getRectObjectOfView(view));
  return description;
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
  JSONValue rectangle = JSONValue::object();
  auto& members = rectangle.get_ref<JSONValue::object_t&>();
  members.emplace("x", twoDecimals(origin.x));
  members.emplace("y", twoDecimals(origin.y));
  members.emplace("width", twoDecimals(size.width));
  members.emplace("height", twoDecimals(size.height));
  return rectangle;
}
