#include "quorvel/playback/UIViewsManager+Finding.h"

#include "foundation/string.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIView.h"

namespace UIViewsManager_Finding {
namespace {

bool matchesAccessor(const std::shared_ptr<UIView>& view, const std::string& type, const Text& value) {
  if (type.empty()) return true;
  if (!value) return false;
  if (type == "text") {
    auto text = Utilities::getUIViewText(view);
    return text && *text == *value;
  }
  if (type == "partialtext") {
    auto text = Utilities::getUIViewText(view);
    return text && !value->empty() &&
           foundation::lowercaseString(*text).find(foundation::lowercaseString(*value)) != std::string::npos;
  }
  if (type == "accessibilityid") {
    return !value->empty() && Utilities::getUIViewAccesibilityId(view) == *value;
  }
  if (type == "xpath") {
    auto registered = XpathManager::sharedInstance()->getIdentificationGUIDFromXpath(value);
    return registered && registered == ViewIdentity::getPlaybackGUID(view);
  }
  return false;
}

}  // namespace

bool identifyElementByAccessor(UIViewsManager&, const std::shared_ptr<UIView>& view, const Text&,
                               const Text& accessorType, const Text& accessorValue) {
  if (!view || !accessorType) return false;
  if (!UIView_ToolkitAdditions::isVisibleInWindowFrame(view)) return false;
  if (!matchesAccessor(view, *accessorType, accessorValue)) return false;
  UIViewMemoryCache::sharedInstance()->addViewInMemoryCache(view);
  return true;
}

void findElements(UIViewsManager& manager, const std::shared_ptr<UIView>& root, const Text& tag,
                  const Text& accessorType, const Text& accessorValue) {
  std::optional<std::string> wanted;
  if (tag) wanted = foundation::lowercaseString(*tag);
  UIViewsManager::walkSubviewsInPreOrder(
      root, [&](const std::shared_ptr<UIView>& parent, const std::shared_ptr<UIView>& view,
                const UIViewsManager::SameClassIndex& sameClassIndex) {
        ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kPlaybackGUIDKey, sameClassIndex);
        if (wanted && (wanted->empty() ||
                       *wanted == foundation::lowercaseString(Utilities::getUIViewClassName(view).value_or("")))) {
          identifyElementByAccessor(manager, view, tag, accessorType, accessorValue);
        }
        return true;
      });
}

}  // namespace UIViewsManager_Finding
