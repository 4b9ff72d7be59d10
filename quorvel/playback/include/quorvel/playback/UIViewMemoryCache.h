// The element cache: the views that the last find command found, each under a fresh
// element ID. It holds strong references, so a found view stays alive until the
// cache is cleared (at the start of the next find command).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"

class UIView;

class UIViewMemoryCache : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIViewMemoryCache)
 public:
  // The single cache, created empty once on first use.
  static std::shared_ptr<UIViewMemoryCache> sharedInstance();

  // Stores the view under a new element ID (a fresh GUID) and returns the ID.
  std::string addViewInMemoryCache(const std::shared_ptr<UIView>& view);
  // Stores the view under the given element ID.
  void addViewInMemoryCache(const std::shared_ptr<UIView>& view, const std::string& elementId);
  // The view stored under the ID; nullptr for an unknown or absent ID.
  std::shared_ptr<UIView> getUIVIewAccordingToElementId(const std::optional<std::string>& elementId) const;
  // Every element ID, in the order the views were stored: a find stores them as its
  // walk meets them, so the first ID is the first match in the hierarchy.
  std::vector<std::string> getAllUIViewsIdentifier() const;
  void clearMemoryCache();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<UIView>> views_;
  std::vector<std::string> order_;  // the keys of views_, oldest first
};
