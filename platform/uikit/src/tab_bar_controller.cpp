#include "uikit/UITabBarController.h"

#include <algorithm>
#include <limits>

#include "uikit/UIScreen.h"

QV_OBJC_DEFINE_CLASS(UITabBarController, UIViewController)

namespace {
// The home-indicator area below the tab bar.
constexpr CGFloat kBottomInset = 34.0;
}  // namespace

std::vector<std::shared_ptr<UIViewController>> UITabBarController::viewControllers() const {
  return childViewControllers();
}

std::shared_ptr<UITabBar> UITabBarController::tabBar() {
  view();
  std::lock_guard lock(mutex_);
  return tabBar_;
}

void UITabBarController::loadView() {
  auto container = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
  if (auto* cls = objc::Class::named("UILayoutContainerView")) object_setClass(*container, cls);
  container->setBackgroundColor(UIColor::whiteColor());
  auto bar = std::make_shared<UITabBar>();
  {
    std::lock_guard lock(mutex_);
    tabBar_ = bar;
  }
  setView(container);
  container->addSubview(bar);
  CGRect b = container->bounds();
  bar->setFrame({{0, b.size.height - UITabBar::kHeight - kBottomInset}, {b.size.width, UITabBar::kHeight + kBottomInset}});
  std::weak_ptr<UITabBarController> weak = std::static_pointer_cast<UITabBarController>(shared_from_this());
  bar->setSelectionHandler([weak](const std::shared_ptr<UITabBarItem>& item) {
    auto controller = weak.lock();
    if (!controller) return;
    for (const auto& vc : controller->viewControllers()) {
      if (vc->tabBarItem() == item) controller->setSelectedViewController(vc);
    }
  });
  std::vector<std::shared_ptr<UITabBarItem>> items;
  for (const auto& vc : viewControllers()) items.push_back(vc->tabBarItem());
  bar->setItems(items, false);
  auto selected = selectedViewController();
  if (selected) {
    bar->setSelectedItem(selected->tabBarItem());
    selected->view()->setFrame(_contentFrame());
    container->insertSubviewBelowSubview(selected->view(), bar);
  }
}

CGRect UITabBarController::_contentFrame() {
  CGRect b = view()->bounds();
  return {{0, 0}, {b.size.width, std::max(0.0, b.size.height - UITabBar::kHeight - kBottomInset)}};
}

void UITabBarController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated) {
  auto previous = selectedViewController();
  for (const auto& vc : childViewControllers()) vc->removeFromParentViewController();
  for (const auto& vc : controllers) addChildViewController(vc);
  if (isViewLoaded()) {
    std::vector<std::shared_ptr<UITabBarItem>> items;
    for (const auto& vc : controllers) items.push_back(vc->tabBarItem());
    tabBar()->setItems(items, animated);
  }
  auto stillThere = std::find(controllers.begin(), controllers.end(), previous) != controllers.end();
  {
    std::lock_guard lock(mutex_);
    selected_ = stillThere ? previous : (controllers.empty() ? nullptr : controllers.front());
  }
  showSelected(previous);
}

std::shared_ptr<UIViewController> UITabBarController::selectedViewController() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void UITabBarController::setSelectedViewController(const std::shared_ptr<UIViewController>& controller) {
  auto all = viewControllers();
  if (std::find(all.begin(), all.end(), controller) == all.end()) return;
  std::shared_ptr<UIViewController> previous;
  {
    std::lock_guard lock(mutex_);
    previous = selected_;
    if (previous == controller) return;
    selected_ = controller;
  }
  showSelected(previous);
}

unsigned long UITabBarController::selectedIndex() const {
  auto all = viewControllers();
  auto selected = selectedViewController();
  auto it = std::find(all.begin(), all.end(), selected);
  return it == all.end() || !selected ? std::numeric_limits<unsigned long>::max()
                                      : static_cast<unsigned long>(it - all.begin());
}

void UITabBarController::setSelectedIndex(unsigned long index) {
  auto all = viewControllers();
  if (index < all.size()) setSelectedViewController(all[index]);
}

std::vector<std::shared_ptr<UIViewController>> UITabBarController::_childrenForAppearance() const {
  auto selected = selectedViewController();
  return selected ? std::vector<std::shared_ptr<UIViewController>>{selected}
                  : std::vector<std::shared_ptr<UIViewController>>{};
}

void UITabBarController::showSelected(const std::shared_ptr<UIViewController>& previous) {
  auto selected = selectedViewController();
  if (previous == selected) return;
  bool visible = _isAppeared();
  if (selected && (visible || isViewLoaded())) selected->view();  // loaded before it appears
  if (visible && previous) previous->_beginDisappearance(false);
  if (visible && selected) selected->_beginAppearance(false);
  if (auto container = viewIfLoaded()) {
    std::shared_ptr<UITabBar> bar;
    {
      std::lock_guard lock(mutex_);
      bar = tabBar_;
    }
    if (previous && previous->isViewLoaded()) previous->view()->removeFromSuperview();
    if (selected) {
      auto v = selected->view();
      v->setFrame(_contentFrame());
      container->insertSubviewBelowSubview(v, bar);
      if (bar) bar->setSelectedItem(selected->tabBarItem());
    }
  }
  if (visible && previous) previous->_endDisappearance(false);
  if (visible && selected) selected->_endAppearance(false);
}
