// The view a navigation bar shows for its top item (a private view class): the
// item's title in a label.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UINavigationItem.h"
#include "uikit/UIView.h"

class UINavigationItemView : public UIView {
  QV_OBJC_DECLARE_CLASS(UINavigationItemView)
 public:
  explicit UINavigationItemView(CGRect frame = CGRectZero);

  std::shared_ptr<UINavigationItem> item() const;
  void _setItem(const std::shared_ptr<UINavigationItem>& item);
  std::optional<std::string> title() const;
  std::shared_ptr<UILabel> titleLabel();

  void layoutSubviews() override;

 private:
  std::weak_ptr<UINavigationItem> item_;
  std::shared_ptr<UILabel> label_;
  std::once_flag labelOnce_;
};
