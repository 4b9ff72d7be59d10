// A tab bar controller: one child per tab; the selected child's view is shown above
// the tab bar. Selecting (by code or a tap on a tab button) moves the appearance
// callbacks from the old selection to the new one.
#pragma once

#include <memory>
#include <vector>

#include "uikit/UITabBar.h"
#include "uikit/UIViewController.h"

class UITabBarController : public UIViewController {
  QV_OBJC_DECLARE_CLASS(UITabBarController)
 public:
  UITabBarController() = default;

  std::vector<std::shared_ptr<UIViewController>> viewControllers() const;
  void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated);
  std::shared_ptr<UIViewController> selectedViewController() const;
  void setSelectedViewController(const std::shared_ptr<UIViewController>& controller);
  unsigned long selectedIndex() const;  // NSNotFound-like max value when none
  void setSelectedIndex(unsigned long index);
  std::shared_ptr<UITabBar> tabBar();

  void loadView() override;
  std::vector<std::shared_ptr<UIViewController>> _childrenForAppearance() const override;
  CGRect _contentFrame();

 private:
  void showSelected(const std::shared_ptr<UIViewController>& previous);

  std::shared_ptr<UITabBar> tabBar_;
  std::shared_ptr<UIViewController> selected_;
};
