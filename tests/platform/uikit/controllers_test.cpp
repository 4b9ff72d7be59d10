#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "touch_helpers.h"

namespace {

using uikittest::makeKeyWindow;

std::vector<std::string>& journal() {
  static std::vector<std::string> j;
  return j;
}

class Screen : public UIViewController {
 public:
  explicit Screen(std::string name = "screen") : name_(std::move(name)) { setTitle(name_); }
  void viewDidLoad() override { journal().push_back(name_ + ".load"); }
  void viewWillAppear(bool animated) override {
    UIViewController::viewWillAppear(animated);
    journal().push_back(name_ + ".willAppear");
  }
  void viewDidAppear(bool animated) override {
    UIViewController::viewDidAppear(animated);
    journal().push_back(name_ + ".didAppear");
  }
  void viewWillDisappear(bool animated) override {
    UIViewController::viewWillDisappear(animated);
    journal().push_back(name_ + ".willDisappear");
  }
  void viewDidDisappear(bool animated) override {
    UIViewController::viewDidDisappear(animated);
    journal().push_back(name_ + ".didDisappear");
  }

 private:
  std::string name_;
};

class Controllers : public ::testing::Test {
 protected:
  void SetUp() override { journal().clear(); }
};

TEST_F(Controllers, RootControllerAppearsWhenTheWindowShows) {
  auto window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
  auto screen = std::make_shared<Screen>("root");
  window->setRootViewController(screen);
  EXPECT_EQ(journal(), (std::vector<std::string>{"root.load"}));
  EXPECT_EQ(screen->view()->superview(), window);
  EXPECT_EQ(screen->view()->frame(), window->bounds());
  window->makeKeyAndVisible();
  EXPECT_EQ(journal(), (std::vector<std::string>{"root.load", "root.willAppear", "root.didAppear"}));
  window->setHidden(true);
  window->setHidden(false);  // already appeared: nothing new
  EXPECT_EQ(journal().size(), 3u);
}

TEST_F(Controllers, AppearanceCallbacksGoThroughTheMethodTable) {
  objc::Class* cls = UIViewController::classObject();
  std::vector<std::string> hooked;
  ASSERT_TRUE((cls->addMethod<void, bool>("test_csViewWillAppear:", [&](objc::Object& self, bool animated) {
    objc::msgSend<void, bool>(self, "test_csViewWillAppear:", animated);  // the platform's own, first
    hooked.push_back("will:" + self.className());
  })));
  ASSERT_TRUE((cls->addMethod<void, bool>("test_csViewDidAppear:", [&](objc::Object& self, bool animated) {
    objc::msgSend<void, bool>(self, "test_csViewDidAppear:", animated);
    hooked.push_back("did:" + self.className());
  })));
  objc::method_exchangeImplementations(cls->getInstanceMethod("viewWillAppear:"), cls->getInstanceMethod("test_csViewWillAppear:"));
  objc::method_exchangeImplementations(cls->getInstanceMethod("viewDidAppear:"), cls->getInstanceMethod("test_csViewDidAppear:"));

  auto window = makeKeyWindow();
  auto nav = std::make_shared<UINavigationController>()->initWithRootViewController(std::make_shared<Screen>("a"));
  window->setRootViewController(nav);
  nav->pushViewController(std::make_shared<Screen>("b"), true);

  objc::method_exchangeImplementations(cls->getInstanceMethod("viewWillAppear:"), cls->getInstanceMethod("test_csViewWillAppear:"));
  objc::method_exchangeImplementations(cls->getInstanceMethod("viewDidAppear:"), cls->getInstanceMethod("test_csViewDidAppear:"));

  EXPECT_EQ(hooked, (std::vector<std::string>{"will:UINavigationController", "will:UIViewController", "did:UINavigationController",
                                              "did:UIViewController", "will:UIViewController", "did:UIViewController"}));
  // The platform's own callbacks (the subclass overrides) ran before each hook.
  EXPECT_EQ(journal(), (std::vector<std::string>{"a.load", "a.willAppear", "a.didAppear", "b.load", "a.willDisappear",
                                                 "b.willAppear", "a.didDisappear", "b.didAppear"}));
}

TEST_F(Controllers, NavigationPushPopAndTheBackIndicator) {
  auto window = makeKeyWindow();
  auto a = std::make_shared<Screen>("a"), b = std::make_shared<Screen>("b"), c = std::make_shared<Screen>("c");
  auto nav = std::make_shared<UINavigationController>()->initWithRootViewController(a);
  window->setRootViewController(nav);
  auto bar = nav->navigationBar();
  EXPECT_EQ(bar->superview(), nav->view());
  EXPECT_EQ(nav->view()->className(), "UILayoutContainerView");
  EXPECT_EQ(bar->_backIndicatorView(), nullptr);
  ASSERT_NE(bar->_titleView(), nullptr);
  EXPECT_EQ(bar->_titleView()->className(), "UINavigationItemView");
  EXPECT_EQ(bar->_titleView()->titleLabel()->text(), "a");
  EXPECT_EQ(a->navigationController(), nav);

  nav->pushViewController(b, false);
  nav->pushViewController(c, false);
  EXPECT_EQ(nav->topViewController(), c);
  EXPECT_EQ(nav->viewControllers().size(), 3u);
  EXPECT_EQ(c->view()->superview(), nav->view());
  EXPECT_EQ(b->view()->superview(), nullptr);
  EXPECT_EQ(c->view()->frame().origin.y, nav->_contentFrame().origin.y);
  EXPECT_EQ(bar->items().size(), 3u);
  auto back = bar->_backIndicatorView();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->className(), "_UINavigationBarBackIndicatorView");
  EXPECT_EQ(back->backTitle(), "b");
  EXPECT_EQ(bar->_titleView()->titleLabel()->text(), "c");

  journal().clear();
  bar->layoutIfNeeded();
  // A tap on the back indicator: the hit test finds the bar, which pops.
  CGPoint onBack = uikittest::middleInWindow(back);
  EXPECT_EQ(window->hitTest(onBack, nullptr), bar);
  uikittest::tap(window, onBack);
  EXPECT_EQ(nav->topViewController(), b);
  EXPECT_EQ(journal(), (std::vector<std::string>{"c.willDisappear", "b.willAppear", "c.didDisappear", "b.didAppear"}));
  EXPECT_EQ(c->parentViewController(), nullptr);
  EXPECT_EQ(bar->items().size(), 2u);
  EXPECT_EQ(bar->_backIndicatorView()->backTitle(), "a");

  EXPECT_EQ(nav->popToRootViewControllerAnimated(false).size(), 1u);
  EXPECT_EQ(nav->topViewController(), a);
  EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);  // the root stays
  EXPECT_EQ(bar->_backIndicatorView(), nullptr);

  // Titles set later show in the bar.
  a->setTitle("Home");
  EXPECT_EQ(bar->_titleView()->titleLabel()->text(), "Home");
}

TEST_F(Controllers, BarButtonItemsBecomeButtonsThatRunTheirActions) {
  auto window = makeKeyWindow();
  auto a = std::make_shared<Screen>("a");
  int pressed = 0;
  a->navigationItem()->setRightBarButtonItem(
      std::make_shared<UIBarButtonItem>("Add", UIBarButtonItemStylePlain, [&](const auto&) { ++pressed; }));
  auto nav = std::make_shared<UINavigationController>()->initWithRootViewController(a);
  window->setRootViewController(nav);
  nav->navigationBar()->layoutIfNeeded();
  std::shared_ptr<UIView> button;
  for (const auto& v : nav->navigationBar()->subviews()) {
    if (v->className() == "UINavigationButton") button = v;
  }
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<UIButton>(button)->currentTitle(), "Add");
  uikittest::tap(window, uikittest::middleInWindow(button));
  EXPECT_EQ(pressed, 1);
}

TEST_F(Controllers, TabBarSelectionMovesAppearance) {
  auto window = makeKeyWindow();
  auto first = std::make_shared<Screen>("first"), second = std::make_shared<Screen>("second");
  auto tabs = std::make_shared<UITabBarController>();
  tabs->setViewControllers({first, second}, false);
  window->setRootViewController(tabs);
  EXPECT_EQ(tabs->selectedIndex(), 0u);
  auto buttons = tabs->tabBar()->_buttons();
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[1]->className(), "UITabBarButton");
  EXPECT_EQ(buttons[1]->title(), "second");
  EXPECT_EQ(tabs->tabBar()->selectedItem(), first->tabBarItem());

  journal().clear();
  uikittest::tap(window, uikittest::middleInWindow(buttons[1]));
  EXPECT_EQ(tabs->selectedViewController(), second);
  EXPECT_EQ(tabs->selectedIndex(), 1u);
  EXPECT_EQ(tabs->tabBar()->selectedItem(), second->tabBarItem());
  EXPECT_EQ(journal(), (std::vector<std::string>{"second.load", "first.willDisappear", "second.willAppear",
                                                 "first.didDisappear", "second.didAppear"}));
  EXPECT_EQ(second->view()->superview(), tabs->view());
  EXPECT_EQ(first->view()->superview(), nullptr);
  EXPECT_EQ(second->tabBarController(), tabs);
  tabs->setSelectedIndex(0);
  EXPECT_EQ(tabs->selectedViewController(), first);
}

TEST_F(Controllers, ScreensInsideNavigationInsideTabsStayAboveTheTabBar) {
  auto window = makeKeyWindow();
  auto screen = std::make_shared<Screen>("inner");
  auto nav = std::make_shared<UINavigationController>()->initWithRootViewController(screen);
  auto tabs = std::make_shared<UITabBarController>();
  tabs->setViewControllers({nav}, false);
  window->setRootViewController(tabs);
  window->layoutIfNeeded();
  CGRect content = screen->view()->convertRectToView(screen->view()->bounds(), nullptr);
  CGRect bar = tabs->tabBar()->convertRectToView(tabs->tabBar()->bounds(), nullptr);
  CGRect navBar = nav->navigationBar()->convertRectToView(nav->navigationBar()->bounds(), nullptr);
  EXPECT_DOUBLE_EQ(CGRectGetMaxY(content), CGRectGetMinY(bar));
  EXPECT_DOUBLE_EQ(CGRectGetMinY(content), CGRectGetMaxY(navBar));
}

TEST_F(Controllers, ViewLoadsOnceAndKnowsItsController) {
  auto screen = std::make_shared<Screen>("x");
  EXPECT_FALSE(screen->isViewLoaded());
  auto view = screen->view();
  EXPECT_TRUE(screen->isViewLoaded());
  EXPECT_EQ(screen->view(), view);
  EXPECT_EQ(view->_viewController(), screen);
  EXPECT_EQ(view->frame(), UIScreen::mainScreen()->bounds());
  EXPECT_EQ(journal(), (std::vector<std::string>{"x.load"}));
  EXPECT_EQ(screen->navigationItem()->title(), "x");
  EXPECT_EQ(screen->tabBarItem()->title(), "x");
}

}  // namespace
