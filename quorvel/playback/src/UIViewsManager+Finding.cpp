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

// The matching rule apart from visibility. What depends only on the command (the
// lower-cased value) is worked out once per search.
class AccessorMatch {
 public:
  AccessorMatch(const Text& type, const Text& value) : type_(type), value_(value) {
    if (type_ && *type_ == "partialtext" && value_) loweredValue_ = foundation::lowercaseString(*value_);
  }

  bool matches(const std::shared_ptr<UIView>& view) const {
    if (!type_) return false;
    const std::string& type = *type_;
    if (type.empty()) return true;
    if (!value_) return false;
    const std::string& value = *value_;
    if (type == "text") {
      auto text = Utilities::getUIViewText(view);
      return text && *text == value;
    }
    if (type == "partialtext") {
      if (value.empty()) return false;
      auto text = Utilities::getUIViewText(view);
      return text && foundation::lowercaseString(*text).find(loweredValue_) != std::string::npos;
    }
    if (type == "accessibilityid") {
      return !value.empty() && Utilities::getUIViewAccesibilityId(view) == value;
    }
    if (type == "xpath") {
      // Looked up for each view: the search itself registers xpaths as it goes.
      auto registered = XpathManager::sharedInstance()->getIdentificationGUIDFromXpath(value_);
      return registered && registered == ViewIdentity::getPlaybackGUID(view);
    }
    return false;
  }

 private:
  const Text& type_;
  const Text& value_;
  std::string loweredValue_;
};

}  // namespace

bool identifyElementByAccessor(UIViewsManager&, const std::shared_ptr<UIView>& view, const Text&,
                               const Text& accessorType, const Text& accessorValue) {
  if (!view || !accessorType) return false;
  if (!UIView_ToolkitAdditions::isVisibleInWindowFrame(view)) return false;
  if (!AccessorMatch(accessorType, accessorValue).matches(view)) return false;
  UIViewMemoryCache::sharedInstance()->addViewInMemoryCache(view);
  return true;
}

void findElements(UIViewsManager&, const std::shared_ptr<UIView>& root, const Text& tag, const Text& accessorType,
                  const Text& accessorValue) {
  std::optional<std::string> wanted;
  if (tag) wanted = foundation::lowercaseString(*tag);
  const AccessorMatch match(accessorType, accessorValue);
  auto cache = UIViewMemoryCache::sharedInstance();
  UIViewsManager::walkSubviewsInPreOrder(
      root, [&](UIView& parent, UIView& view, const UIViewsManager::WalkStep& step) {
        ViewIdentity::attachGUIDIfAbsent(parent, view, ViewIdentity::kPlaybackGUIDKey, &step);
        if (!wanted || !accessorType) return true;
        if (!wanted->empty() && !foundation::lowercaseEquals(view.className(), *wanted)) return true;
        // The rule's two tests read nothing but the view, so the cheaper one goes
        // first: most views fail it, and are never tested for visibility.
        auto candidate = view.self<UIView>();
        if (match.matches(candidate) && step.isVisibleInWindowFrame()) cache->addViewInMemoryCache(candidate);
        return true;
      });
}

}  // namespace UIViewsManager_Finding
