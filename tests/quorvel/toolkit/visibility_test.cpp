#include <gtest/gtest.h>

#include <cmath>

#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"

namespace {

using namespace UIView_ToolkitAdditions;

std::shared_ptr<UIWindow> makeWindow() {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  window->makeKeyAndVisible();
  return window;
}

TEST(VisibilityTest, HiddenFlagsCountOnlyForTheHierarchyQuery) {
  auto window = makeWindow();
  auto box = std::make_shared<UIView>(CGRectMake(0, 100, 300, 300));
  auto inner = std::make_shared<UIView>(CGRectMake(0, 0, 200, 200));
  auto leaf = std::make_shared<UILabel>(CGRectMake(10, 10, 50, 20));
  window->addSubview(box);
  box->addSubview(inner);
  inner->addSubview(leaf);
  EXPECT_TRUE(isVisibleInViewHierarchy(leaf));
  box->setHidden(true);
  EXPECT_FALSE(isVisibleInViewHierarchy(leaf));
  EXPECT_FALSE(isVisibleInViewHierarchy(box));
  EXPECT_TRUE(isVisibleInWindowFrame(leaf));
  // Transparency and size do not count for the hierarchy query.
  box->setHidden(false);
  leaf->setAlpha(0);
  leaf->setFrame(CGRectZero);
  EXPECT_TRUE(isVisibleInViewHierarchy(leaf));
}

TEST(VisibilityTest, ClippingAncestorsCutTheFrame) {
  auto window = makeWindow();
  auto scroll = std::make_shared<UIScrollView>(CGRectMake(0, 100, 390, 200));
  scroll->setClipsToBounds(true);
  scroll->setContentSize(CGSizeMake(390, 2000));
  window->addSubview(scroll);
  auto content = std::make_shared<UIView>(CGRectMake(0, 0, 390, 2000));  // does not clip
  scroll->addSubview(content);
  auto near = std::make_shared<UIButton>(CGRectMake(10, 150, 100, 40));
  auto far = std::make_shared<UIButton>(CGRectMake(10, 1500, 100, 40));
  content->addSubview(near);
  content->addSubview(far);
  EXPECT_TRUE(isVisibleInWindowFrame(near));
  EXPECT_FALSE(isVisibleInWindowFrame(far));

  // Scrolled so that the near button shows one point at the top of the clip.
  scroll->setContentOffset(CGPointMake(0, 189));
  EXPECT_TRUE(isVisibleInWindowFrame(near));
  scroll->setContentOffset(CGPointMake(0, 191));
  EXPECT_FALSE(isVisibleInWindowFrame(near));
  scroll->setContentOffset(CGPointMake(0, 1400));
  EXPECT_TRUE(isVisibleInWindowFrame(far));

  // Without clipping, content far outside the scroll view's frame is still visible.
  scroll->setClipsToBounds(false);
  scroll->setContentOffset(CGPointZero);
  EXPECT_TRUE(isVisibleInWindowFrame(far));
}

TEST(VisibilityTest, OnlyAnExactlyEmptySizeIsInvisible) {
  auto window = makeWindow();
  auto flat = std::make_shared<UIView>(CGRectMake(10, 10, 10, 0));
  auto dot = std::make_shared<UIView>(CGRectMake(10, 10, 0, 0));
  window->addSubview(flat);
  window->addSubview(dot);
  EXPECT_TRUE(isVisibleInWindowFrame(flat));
  EXPECT_FALSE(isVisibleInWindowFrame(dot));
  // Outside the window but not clipped by any ancestor: the window's own bounds
  // are never applied.
  auto offscreen = std::make_shared<UIView>(CGRectMake(5000, 5000, 10, 10));
  window->addSubview(offscreen);
  EXPECT_TRUE(isVisibleInWindowFrame(offscreen));
  // A view without a superview has no frame in any window.
  EXPECT_FALSE(isVisibleInWindowFrame(std::make_shared<UIView>(CGRectMake(0, 0, 10, 10))));
}

TEST(VisibilityTest, CoveredLabelIsTappableOnlyWhereAPointIsUncovered) {
  auto window = makeWindow();
  auto label = std::make_shared<UILabel>(CGRectMake(100, 100, 100, 40));
  label->setUserInteractionEnabled(true);
  window->addSubview(label);
  auto cover = std::make_shared<UIButton>(CGRectMake(100, 100, 100, 40));
  window->addSubview(cover);
  EXPECT_FALSE(isTappable(label));
  EXPECT_TRUE(std::isnan(tappablePointInRect(label, label->bounds()).x));

  // Uncover the bottom-right corner (window point (198, 138)).
  cover->setFrame(CGRectMake(100, 100, 97, 40));
  auto under = std::make_shared<UIButton>(CGRectMake(100, 100, 100, 37));
  window->addSubview(under);
  EXPECT_TRUE(isTappable(label));
  CGPoint point = tappablePointInRect(label, label->bounds());
  EXPECT_EQ(point, CGPointMake(99, 39));

  // A tap recogniser makes it tappable however covered.
  cover->setFrame(CGRectMake(0, 0, 390, 844));
  EXPECT_FALSE(isTappable(label));
  label->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>());
  EXPECT_TRUE(hasTapGestureRecognizer(label));
  EXPECT_TRUE(isTappable(label));
  EXPECT_TRUE(isProbablyTappable(label));
}

TEST(VisibilityTest, HitsOnContainingControlsAndNavigationBarsCount) {
  auto window = makeWindow();
  auto segmented = std::make_shared<UISegmentedControl>(CGRectMake(20, 100, 200, 30))->initWithItems({"A", "B"});
  window->addSubview(segmented);
  segmented->layoutIfNeeded();
  auto segment = segmented->segments().at(1);
  EXPECT_EQ(window->hitTest(segment->convertPointToView(CGPointMake(5, 5), nullptr), nullptr), segmented);
  EXPECT_TRUE(isTappable(segment));
  EXPECT_TRUE(isTappableWithHitTestResultView(segmented, segment));  // a hit inside the view is a hit on it
  EXPECT_FALSE(isTappableWithHitTestResultView(segmented->segments().at(0), segment));  // a sibling's is not

  auto bar = std::make_shared<UINavigationBar>(CGRectMake(0, 0, 390, 44));
  window->addSubview(bar);
  auto root = std::make_shared<UINavigationItem>(std::string("Home"));
  auto top = std::make_shared<UINavigationItem>(std::string("Detail"));
  bar->setItems({root, top}, false);
  bar->layoutIfNeeded();
  auto back = bar->_backIndicatorView();
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(isNavigationItemView(back));
  EXPECT_TRUE(isNavigationItemView(bar->_titleView()));
  EXPECT_FALSE(isNavigationItemView(bar));
  EXPECT_TRUE(isTappableWithHitTestResultView(back, bar));
  EXPECT_TRUE(isTappable(back));
  // A plain view inside the bar does not profit from the bar's hit.
  auto plain = std::make_shared<UIView>(CGRectMake(300, 5, 30, 30));
  plain->setUserInteractionEnabled(false);
  bar->addSubview(plain);
  EXPECT_FALSE(isTappableWithHitTestResultView(plain, bar));
  EXPECT_FALSE(isTappableWithHitTestResultView(plain, nullptr));
}

TEST(VisibilityTest, ViewsOutsideAnyWindowAreNotTappableUnlessTheyAreWebContent) {
  auto loose = std::make_shared<UIButton>(CGRectMake(0, 0, 100, 40));
  EXPECT_FALSE(isTappable(loose));
  EXPECT_TRUE(std::isnan(tappablePointInRect(loose, loose->bounds()).y));
  auto* cls = objc::NSClassFromString("UIWebBrowserView");
  if (!cls) cls = objc::Class::allocateClassPair(UIView::classObject(), "UIWebBrowserView");
  ASSERT_NE(cls, nullptr);
  auto browser = objc::makeInstanceOf<UIView>(cls);
  EXPECT_FALSE(isTappable(browser));
  EXPECT_TRUE(isProbablyTappable(browser));
  // Only the exact class name counts.
  auto* sub = objc::Class::allocateClassPair(cls, "MyWebBrowserViewSubclass");
  ASSERT_NE(sub, nullptr);
  EXPECT_FALSE(isProbablyTappable(objc::makeInstanceOf<UIView>(sub)));
}

TEST(VisibilityTest, AscendentWalkVisitsUpwardsAndStops) {
  auto window = makeWindow();
  auto a = std::make_shared<UIView>();
  auto b = std::make_shared<UIView>();
  window->addSubview(a);
  a->addSubview(b);
  std::vector<std::shared_ptr<UIView>> seen;
  performBlockOnAscendentViews(b, [&](const std::shared_ptr<UIView>& v, bool&) { seen.push_back(v); });
  EXPECT_EQ(seen, (std::vector<std::shared_ptr<UIView>>{b, a, window}));
  seen.clear();
  performBlockOnAscendentViews(b, [&](const std::shared_ptr<UIView>& v, bool& stop) {
    seen.push_back(v);
    stop = v == a;
  });
  EXPECT_EQ(seen, (std::vector<std::shared_ptr<UIView>>{b, a}));
}

}  // namespace
