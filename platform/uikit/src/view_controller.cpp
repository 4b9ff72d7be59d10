#include "uikit/UIViewController.h"

#include <algorithm>

#include "class_support.h"
#include "uikit/UINavigationController.h"
#include "uikit/UINavigationItem.h"
#include "uikit/UIScreen.h"
#include "uikit/UITabBarController.h"
#include "uikit/UITabBarItem.h"

namespace {

template <void (UIViewController::*Callback)(bool)>
void installAppearance(objc::Class* c, const char* selector) {
  c->addMethod<void, bool>(selector, [](objc::Object& self, bool animated) {
    (static_cast<UIViewController&>(self).*Callback)(animated);
  });
}

}  // namespace

QV_OBJC_DEFINE_CLASS(UIViewController, UIResponder, [](objc::Class* c) {
  installAppearance<&UIViewController::viewWillAppear>(c, "viewWillAppear:");
  installAppearance<&UIViewController::viewDidAppear>(c, "viewDidAppear:");
  installAppearance<&UIViewController::viewWillDisappear>(c, "viewWillDisappear:");
  installAppearance<&UIViewController::viewDidDisappear>(c, "viewDidDisappear:");
})

UIViewController::UIViewController() = default;
UIViewController::~UIViewController() = default;

std::shared_ptr<UIView> UIViewController::view() {
  {
    std::lock_guard lock(mutex_);
    if (view_ || loadingView_) return view_;
    loadingView_ = true;
  }
  loadView();
  std::shared_ptr<UIView> made;
  {
    std::lock_guard lock(mutex_);
    if (!view_) view_ = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
    made = view_;
  }
  made->_setViewController(std::static_pointer_cast<UIViewController>(shared_from_this()));
  viewDidLoad();
  {
    std::lock_guard lock(mutex_);
    loadingView_ = false;
  }
  return made;
}

void UIViewController::setView(const std::shared_ptr<UIView>& view) {
  std::shared_ptr<UIView> old;
  {
    std::lock_guard lock(mutex_);
    old = view_;
    view_ = view;
  }
  if (old && old != view) old->_setViewController({});
  if (view) view->_setViewController(std::static_pointer_cast<UIViewController>(shared_from_this()));
}

bool UIViewController::isViewLoaded() const {
  std::lock_guard lock(mutex_);
  return view_ != nullptr;
}

std::shared_ptr<UIView> UIViewController::viewIfLoaded() const {
  std::lock_guard lock(mutex_);
  return view_;
}

void UIViewController::loadViewIfNeeded() { view(); }

void UIViewController::loadView() {
  auto view = std::make_shared<UIView>(UIScreen::mainScreen()->bounds());
  view->setBackgroundColor(UIColor::whiteColor());
  setView(view);
}

void UIViewController::viewWillAppear(bool) {}
void UIViewController::viewDidAppear(bool) {}
void UIViewController::viewWillDisappear(bool) {}
void UIViewController::viewDidDisappear(bool) {}

std::optional<std::string> UIViewController::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}

void UIViewController::setTitle(std::optional<std::string> title) {
  std::shared_ptr<UITabBarItem> tab;
  {
    std::lock_guard lock(mutex_);
    title_ = title;
    tab = tabBarItem_;
  }
  navigationItem()->setTitle(title);
  if (tab) tab->setTitle(title);
}

std::shared_ptr<UINavigationItem> UIViewController::navigationItem() {
  std::lock_guard lock(mutex_);
  if (!navigationItem_) navigationItem_ = std::make_shared<UINavigationItem>(title_);
  return navigationItem_;
}

std::shared_ptr<UITabBarItem> UIViewController::tabBarItem() {
  std::lock_guard lock(mutex_);
  if (!tabBarItem_) {
    tabBarItem_ = std::make_shared<UITabBarItem>();
    tabBarItem_->setTitle(title_);
  }
  return tabBarItem_;
}

void UIViewController::setTabBarItem(const std::shared_ptr<UITabBarItem>& item) {
  std::lock_guard lock(mutex_);
  tabBarItem_ = item;
}

std::shared_ptr<UIViewController> UIViewController::parentViewController() const {
  std::lock_guard lock(mutex_);
  return parent_.lock();
}

std::vector<std::shared_ptr<UIViewController>> UIViewController::childViewControllers() const {
  std::lock_guard lock(mutex_);
  return children_;
}

void UIViewController::addChildViewController(const std::shared_ptr<UIViewController>& child) {
  if (!child || child.get() == this) return;
  auto oldParent = child->parentViewController();
  if (oldParent.get() == this) return;
  if (oldParent) child->removeFromParentViewController();
  {
    std::lock_guard lock(mutex_);
    children_.push_back(child);
  }
  std::lock_guard lock(child->mutex_);
  child->parent_ = std::static_pointer_cast<UIViewController>(shared_from_this());
}

void UIViewController::removeFromParentViewController() {
  auto parent = parentViewController();
  if (!parent) return;
  auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
  {
    std::lock_guard lock(parent->mutex_);
    std::erase(parent->children_, self);
  }
  std::lock_guard lock(mutex_);
  parent_.reset();
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
  for (auto p = parentViewController(); p; p = p->parentViewController()) {
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(p)) return nav;
  }
  return nullptr;
}

std::shared_ptr<UITabBarController> UIViewController::tabBarController() const {
  for (auto p = parentViewController(); p; p = p->parentViewController()) {
    if (auto tab = std::dynamic_pointer_cast<UITabBarController>(p)) return tab;
  }
  return nullptr;
}

bool UIViewController::_isAppeared() const {
  std::lock_guard lock(mutex_);
  return appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing;
}

std::shared_ptr<UIResponder> UIViewController::nextResponder() const {
  auto view = viewIfLoaded();
  if (auto parent = view ? view->superview() : nullptr) return parent;
  return parentViewController();
}

std::vector<std::shared_ptr<UIViewController>> UIViewController::_childrenForAppearance() const { return {}; }

namespace {

void send(UIViewController& controller, const char* selector, bool animated) {
  objc::msgSend<void, bool>(controller, selector, animated);
}

}  // namespace

void UIViewController::_beginAppearance(bool animated) {
  {
    std::lock_guard lock(mutex_);
    if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
    appearance_ = Appearance::Appearing;
  }
  send(*this, "viewWillAppear:", animated);
  for (const auto& child : _childrenForAppearance()) child->_beginAppearance(animated);
}

void UIViewController::_endAppearance(bool animated) {
  {
    std::lock_guard lock(mutex_);
    if (appearance_ == Appearance::Appeared) return;
    appearance_ = Appearance::Appeared;
  }
  send(*this, "viewDidAppear:", animated);
  for (const auto& child : _childrenForAppearance()) child->_endAppearance(animated);
}

void UIViewController::_beginDisappearance(bool animated) {
  {
    std::lock_guard lock(mutex_);
    if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) return;
    appearance_ = Appearance::Disappearing;
  }
  send(*this, "viewWillDisappear:", animated);
  for (const auto& child : _childrenForAppearance()) child->_beginDisappearance(animated);
}

void UIViewController::_endDisappearance(bool animated) {
  {
    std::lock_guard lock(mutex_);
    if (appearance_ == Appearance::Disappeared) return;
    appearance_ = Appearance::Disappeared;
  }
  send(*this, "viewDidDisappear:", animated);
  for (const auto& child : _childrenForAppearance()) child->_endDisappearance(animated);
}
