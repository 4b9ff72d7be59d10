#include "uikit/UINavigationController.h"

#include <algorithm>

#include "uikit/UINavigationItem.h"
#include "uikit/UIScreen.h"

QV_OBJC_DEFINE_CLASS(UINavigationController, UIViewController)

namespace {
// The status-bar area above the navigation bar.
constexpr CGFloat kTopInset = 47.0;
}  // namespace

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(
    const std::shared_ptr<UIViewController>& root) {
  setViewControllers(root ? std::vector<std::shared_ptr<UIViewController>>{root}
                          : std::vector<std::shared_ptr<UIViewController>>{},
                     false);
  return std::static_pointer_cast<UINavigationController>(shared_from_this());
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::viewControllers() const {
  return childViewControllers();
}

std::shared_ptr<UIViewController> UINavigationController::topViewController() const {
  auto stack = viewControllers();
  return stack.empty() ? nullptr : stack.back();
}

std::shared_ptr<UIViewController> UINavigationController::visibleViewController() const { return topViewController(); }

std::shared_ptr<UINavigationBar> UINavigationController::navigationBar() {
  view();
  std::lock_guard lock(mutex_);
  return bar_;
}

bool UINavigationController::isNavigationBarHidden() const {
  std::lock_guard lock(mutex_);
  return barHidden_;
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool) {
  {
    std::lock_guard lock(mutex_);
    barHidden_ = hidden;
  }
  navigationBar()->setHidden(hidden);
  layoutContent();
}

void UINavigationController::loadView() {
  auto container = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
  if (auto* cls = objc::Class::named("UILayoutContainerView")) object_setClass(*container, cls);
  container->setBackgroundColor(UIColor::whiteColor());
  auto bar = std::make_shared<UINavigationBar>();
  {
    std::lock_guard lock(mutex_);
    bar_ = bar;
  }
  setView(container);
  container->addSubview(bar);
  bar->setDelegate(std::static_pointer_cast<UINavigationController>(shared_from_this()));
  std::vector<std::shared_ptr<UINavigationItem>> items;
  for (const auto& vc : viewControllers()) items.push_back(vc->navigationItem());
  bar->setItems(items, false);
  if (auto top = topViewController()) container->insertSubviewBelowSubview(top->view(), bar);
  layoutContent();
}

void UINavigationController::viewDidLayoutSubviews() { layoutContent(); }

CGRect UINavigationController::_contentFrame() {
  auto container = view();
  CGRect b = container->bounds();
  CGFloat top = isNavigationBarHidden() ? 0 : kTopInset + UINavigationBar::kHeight;
  return {{0, top}, {b.size.width, std::max(0.0, b.size.height - top)}};
}

void UINavigationController::layoutContent() {
  auto container = viewIfLoaded();
  if (!container) return;
  std::shared_ptr<UINavigationBar> bar;
  {
    std::lock_guard lock(mutex_);
    bar = bar_;
  }
  if (bar) bar->setFrame({{0, kTopInset}, {container->bounds().size.width, UINavigationBar::kHeight}});
  if (auto top = topViewController(); top && top->isViewLoaded()) top->view()->setFrame(_contentFrame());
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::_childrenForAppearance() const {
  auto top = topViewController();
  return top ? std::vector<std::shared_ptr<UIViewController>>{top} : std::vector<std::shared_ptr<UIViewController>>{};
}

void UINavigationController::transition(const std::shared_ptr<UIViewController>& from,
                                        const std::shared_ptr<UIViewController>& to, bool animated) {
  auto container = viewIfLoaded();
  bool visible = _isAppeared();
  if (from == to) return;
  if (to && (container || visible)) to->view();  // loaded before it appears
  if (visible && from) from->_beginDisappearance(animated);
  if (visible && to) to->_beginAppearance(animated);
  if (container) {
    std::shared_ptr<UINavigationBar> bar;
    {
      std::lock_guard lock(mutex_);
      bar = bar_;
    }
    if (to) {
      auto v = to->view();
      v->setFrame(_contentFrame());
      if (bar) {
        container->insertSubviewBelowSubview(v, bar);
      } else {
        container->addSubview(v);
      }
    }
    if (from && from->isViewLoaded()) from->view()->removeFromSuperview();
  }
  if (visible && from) from->_endDisappearance(animated);
  if (visible && to) to->_endAppearance(animated);
}

void UINavigationController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers,
                                                bool animated) {
  auto oldTop = topViewController();
  // The children are the stack, in order.
  for (const auto& vc : childViewControllers()) vc->removeFromParentViewController();
  for (const auto& vc : controllers) addChildViewController(vc);
  if (isViewLoaded()) {
    std::vector<std::shared_ptr<UINavigationItem>> items;
    for (const auto& vc : viewControllers()) items.push_back(vc->navigationItem());
    navigationBar()->setItems(items, animated);
  }
  transition(oldTop, topViewController(), animated);
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated) {
  if (!controller) return;
  auto stack = viewControllers();
  if (std::find(stack.begin(), stack.end(), controller) != stack.end()) return;  // already on the stack
  auto oldTop = topViewController();
  addChildViewController(controller);
  if (isViewLoaded()) navigationBar()->pushNavigationItem(controller->navigationItem(), animated);
  transition(oldTop, controller, animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
  auto stack = viewControllers();
  if (stack.size() < 2) return nullptr;
  auto popped = stack.back();
  auto newTop = stack[stack.size() - 2];
  popped->removeFromParentViewController();
  if (isViewLoaded()) {
    auto bar = navigationBar();
    if (bar->topItem() == popped->navigationItem()) bar->popNavigationItemAnimated(animated);
  }
  transition(popped, newTop, animated);
  return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToViewController(
    const std::shared_ptr<UIViewController>& controller, bool animated) {
  auto stack = viewControllers();
  auto it = std::find(stack.begin(), stack.end(), controller);
  if (it == stack.end() || it + 1 == stack.end()) return {};
  std::vector<std::shared_ptr<UIViewController>> popped(it + 1, stack.end());
  setViewControllers(std::vector<std::shared_ptr<UIViewController>>(stack.begin(), it + 1), animated);
  return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated) {
  auto stack = viewControllers();
  if (stack.empty()) return {};
  return popToViewController(stack.front(), animated);
}

bool UINavigationController::navigationBarBackIndicatorTapped(const std::shared_ptr<UINavigationBar>&) {
  popViewControllerAnimated(true);
  return true;
}

// The container view class of the navigation and tab bar controllers.
[[maybe_unused]] static objc::Class* const kLayoutContainerClass =
    objc::Class::allocateClassPair(UIView::classObject(), "UILayoutContainerView");
