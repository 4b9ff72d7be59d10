// A tab bar: one tab button (class "UITabBarButton") per item, side by side. A tap
// on a button selects its item and runs the selection callback.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "uikit/UITabBarItem.h"
#include "uikit/UIView.h"

class UITabBarButton;

class UITabBar : public UIView {
  QV_OBJC_DECLARE_CLASS(UITabBar)
 public:
  using SelectionHandler = std::function<void(const std::shared_ptr<UITabBarItem>&)>;

  explicit UITabBar(CGRect frame = CGRectZero);

  std::vector<std::shared_ptr<UITabBarItem>> items() const;
  void setItems(const std::vector<std::shared_ptr<UITabBarItem>>& items, bool animated);
  std::shared_ptr<UITabBarItem> selectedItem() const;
  void setSelectedItem(const std::shared_ptr<UITabBarItem>& item);  // no callback
  // Runs when a tap selects an item (tabBar:didSelectItem:).
  void setSelectionHandler(SelectionHandler handler);
  std::vector<std::shared_ptr<UITabBarButton>> _buttons() const;
  void _buttonTapped(const std::shared_ptr<UITabBarButton>& button);

  void layoutSubviews() override;
  CGSize sizeThatFits(CGSize size) override;

  static constexpr CGFloat kHeight = 49.0;

 private:
  void updateButtonSelection();

  std::vector<std::shared_ptr<UITabBarItem>> items_;
  std::vector<std::shared_ptr<UITabBarButton>> buttons_;
  std::shared_ptr<UITabBarItem> selected_;
  std::shared_ptr<SelectionHandler> handler_;
};
