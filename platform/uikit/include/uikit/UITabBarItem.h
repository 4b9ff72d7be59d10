// An item of a tab bar.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UIBarItem.h"

class UITabBarItem : public UIBarItem {
  QV_OBJC_DECLARE_CLASS(UITabBarItem)
 public:
  UITabBarItem() = default;
  // initWithTitle:image:tag:
  UITabBarItem(std::optional<std::string> title, std::shared_ptr<UIImage> image, long tag);

  std::optional<std::string> badgeValue() const;
  void setBadgeValue(std::optional<std::string> badge);

 private:
  std::optional<std::string> badgeValue_;
};
