// The back indicator of a navigation bar (a private view class): shown when the bar
// has an item below its top one, with that item's back title ("Back" when none).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UIView.h"

class _UINavigationBarBackIndicatorView : public UIView {
  QV_OBJC_DECLARE_CLASS(_UINavigationBarBackIndicatorView)
 public:
  explicit _UINavigationBarBackIndicatorView(CGRect frame = CGRectZero);

  std::optional<std::string> backTitle() const;
  void _setBackTitle(std::optional<std::string> title);
  std::shared_ptr<UILabel> titleLabel();

  void layoutSubviews() override;

 private:
  std::shared_ptr<UILabel> label_;
  std::once_flag labelOnce_;
};
