// A tab button of a tab bar (a private control class) with its item's title label.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UIControl.h"
#include "uikit/UILabel.h"
#include "uikit/UITabBarItem.h"

class UITabBarButton : public UIControl {
  QV_OBJC_DECLARE_CLASS(UITabBarButton)
 public:
  explicit UITabBarButton(CGRect frame = CGRectZero);

  std::shared_ptr<UITabBarItem> item() const;
  void _setItem(const std::shared_ptr<UITabBarItem>& item);
  std::optional<std::string> title() const;
  std::shared_ptr<UILabel> titleLabel();

  void layoutSubviews() override;

 private:
  std::weak_ptr<UITabBarItem> item_;
  std::shared_ptr<UILabel> label_;
  std::once_flag labelOnce_;
};
