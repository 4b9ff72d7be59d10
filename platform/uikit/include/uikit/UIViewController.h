// View controllers: a screen's controller with its view (loaded on first use by
// loadView then viewDidLoad), title, navigation item, tab bar item and children.
//
// The appearance callbacks "viewWillAppear:", "viewDidAppear:",
// "viewWillDisappear:" and "viewDidDisappear:" live in the method table and the
// platform calls them through it (so an exchange of implementations sees every
// appearance): when a controller's view appears as a window's root, is pushed or
// popped back to, or is selected in a tab bar controller. Their default
// implementations run the C++ virtuals of the same names, which subclasses
// override (calling the inherited one).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "uikit/UIResponder.h"
#include "uikit/UIView.h"

class UINavigationItem;
class UITabBarItem;
class UINavigationController;
class UITabBarController;

class UIViewController : public UIResponder {
  QV_OBJC_DECLARE_CLASS(UIViewController)
 public:
  UIViewController();
  ~UIViewController() override;

  // The view, loaded on first use.
  std::shared_ptr<UIView> view();
  void setView(const std::shared_ptr<UIView>& view);
  bool isViewLoaded() const;
  std::shared_ptr<UIView> viewIfLoaded() const;
  void loadViewIfNeeded();
  // Makes the view: a plain white view the size of the screen by default.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}

  // Appearance (see above). Overrides call the inherited implementation.
  virtual void viewWillAppear(bool animated);
  virtual void viewDidAppear(bool animated);
  virtual void viewWillDisappear(bool animated);
  virtual void viewDidDisappear(bool animated);

  // The title; setting it also sets the navigation item's and tab bar item's title.
  std::optional<std::string> title() const;
  void setTitle(std::optional<std::string> title);
  std::shared_ptr<UINavigationItem> navigationItem();
  std::shared_ptr<UITabBarItem> tabBarItem();
  void setTabBarItem(const std::shared_ptr<UITabBarItem>& item);

  // Containment.
  std::shared_ptr<UIViewController> parentViewController() const;
  std::vector<std::shared_ptr<UIViewController>> childViewControllers() const;
  void addChildViewController(const std::shared_ptr<UIViewController>& child);
  void removeFromParentViewController();
  std::shared_ptr<UINavigationController> navigationController() const;  // nearest ancestor
  std::shared_ptr<UITabBarController> tabBarController() const;        // nearest ancestor

  // Appearance state, maintained by the platform's appearance transitions.
  bool _isAppeared() const;

  // The view's superview (the controller sits between its view and that view).
  std::shared_ptr<UIResponder> nextResponder() const override;

  // Appearance transitions: send the callbacks through the method table. Each
  // sends nothing when the controller is already in the requested state.
  void _beginAppearance(bool animated);  // viewWillAppear:
  void _endAppearance(bool animated);    // viewDidAppear:
  void _beginDisappearance(bool animated);
  void _endDisappearance(bool animated);

  // The children whose appearance follows this controller's (containers answer
  // their visible child).
  virtual std::vector<std::shared_ptr<UIViewController>> _childrenForAppearance() const;

 protected:
  mutable std::mutex mutex_;

 private:
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };

  std::shared_ptr<UIView> view_;
  bool loadingView_ = false;
  std::optional<std::string> title_;
  std::shared_ptr<UINavigationItem> navigationItem_;
  std::shared_ptr<UITabBarItem> tabBarItem_;
  std::weak_ptr<UIViewController> parent_;
  std::vector<std::shared_ptr<UIViewController>> children_;
  Appearance appearance_ = Appearance::Disappeared;
};
