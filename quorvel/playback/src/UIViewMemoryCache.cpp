#include "quorvel/playback/UIViewMemoryCache.h"

#include "dispatch/dispatch.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(UIViewMemoryCache, objc::Object)

std::shared_ptr<UIViewMemoryCache> UIViewMemoryCache::sharedInstance() {
  static dispatch_once_t once;
  static std::shared_ptr<UIViewMemoryCache>* instance = nullptr;
  dispatch_once(&once, [] { instance = new std::shared_ptr<UIViewMemoryCache>(std::make_shared<UIViewMemoryCache>()); });
  return *instance;
}

std::string UIViewMemoryCache::addViewInMemoryCache(const std::shared_ptr<UIView>& view) {
  std::string elementId = Utilities::getGUIDString();
  addViewInMemoryCache(view, elementId);
  return elementId;
}

void UIViewMemoryCache::addViewInMemoryCache(const std::shared_ptr<UIView>& view, const std::string& elementId) {
  std::shared_ptr<UIView> replaced;
  std::lock_guard lock(mutex_);
  auto [it, inserted] = views_.try_emplace(elementId);
  if (inserted) order_.push_back(elementId);
  replaced = std::exchange(it->second, view);
}

std::shared_ptr<UIView> UIViewMemoryCache::getUIVIewAccordingToElementId(const std::optional<std::string>& elementId) const {
  if (!elementId) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = views_.find(*elementId);
  return it == views_.end() ? nullptr : it->second;
}

std::vector<std::string> UIViewMemoryCache::getAllUIViewsIdentifier() const {
  std::lock_guard lock(mutex_);
  return order_;
}

void UIViewMemoryCache::clearMemoryCache() {
  std::map<std::string, std::shared_ptr<UIView>> released;
  {
    std::lock_guard lock(mutex_);
    released.swap(views_);
    order_.clear();
  }
  // The views are released here, outside the lock: a view's last release may run code.
}
