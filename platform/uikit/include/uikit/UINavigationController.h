// A navigation controller: a stack of view controllers; the top one's view is
// shown below the navigation bar. Pushing and popping move the appearance
// callbacks (the leaving controller's disappear and the arriving one's appear) and
// the bar's items. A tap on the bar's back indicator pops the top controller.
#pragma once

#include <memory>
#include <vector>

#include "uikit/UINavigationBar.h"
#include "uikit/UIViewController.h"

class UINavigationController : public UIViewController, public UINavigationBarDelegate {
  QV_OBJC_DECLARE_CLASS(UINavigationController)
 public:
  UINavigationController() = default;
  // initWithRootViewController: — sets the stack to [root]; returns this controller.
  std::shared_ptr<UINavigationController> initWithRootViewController(const std::shared_ptr<UIViewController>& root);

  std::vector<std::shared_ptr<UIViewController>> viewControllers() const;
  void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated);
  std::shared_ptr<UIViewController> topViewController() const;
  std::shared_ptr<UIViewController> visibleViewController() const;

  void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
  // Pops the top controller unless it is the root; returns it (nullptr at the root).
  std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<UIViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<UIViewController>> popToViewController(const std::shared_ptr<UIViewController>& controller,
                                                                     bool animated);

  std::shared_ptr<UINavigationBar> navigationBar();
  bool isNavigationBarHidden() const;
  void setNavigationBarHidden(bool hidden, bool animated);

  void loadView() override;
  // The bar and the top screen follow the container's size (a tab bar controller
  // resizes it, for instance).
  void viewDidLayoutSubviews() override;
  std::vector<std::shared_ptr<UIViewController>> _childrenForAppearance() const override;

  bool navigationBarBackIndicatorTapped(const std::shared_ptr<UINavigationBar>& bar) override;

  // The frame of the top controller's view inside this controller's view.
  CGRect _contentFrame();

 private:
  void transition(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& to,
                  bool animated);
  void layoutContent();

  std::shared_ptr<UINavigationBar> bar_;
  bool barHidden_ = false;
};
