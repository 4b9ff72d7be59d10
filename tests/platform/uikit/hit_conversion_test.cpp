#include <gtest/gtest.h>

#include "touch_helpers.h"

namespace {

class HitConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    window = uikittest::makeKeyWindow();
    outer = std::make_shared<UIView>(CGRectMake(20, 100, 300, 400));
    inner = std::make_shared<UIView>(CGRectMake(10, 20, 100, 100));
    window->addSubview(outer);
    outer->addSubview(inner);
  }
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIView> outer, inner;
};

TEST_F(HitConversion, ConvertsBetweenNestedViewsAndTheWindow) {
  EXPECT_EQ(inner->convertPointToView({5, 5}, nullptr), (CGPoint{35, 125}));
  EXPECT_EQ(inner->convertPointToView({5, 5}, window), (CGPoint{35, 125}));
  EXPECT_EQ(inner->convertPointFromView({35, 125}, nullptr), (CGPoint{5, 5}));
  EXPECT_EQ(outer->convertPointFromView({5, 5}, inner), (CGPoint{15, 25}));
  auto sibling = std::make_shared<UIView>(CGRectMake(200, 300, 50, 50));
  outer->addSubview(sibling);
  EXPECT_EQ(inner->convertPointToView({0, 0}, sibling), (CGPoint{-190, -280}));
  EXPECT_EQ(inner->convertRectToView(CGRectMake(1, 2, 3, 4), nullptr), CGRectMake(31, 122, 3, 4));
  EXPECT_EQ(inner->convertRectFromView(CGRectMake(31, 122, 3, 4), nullptr), CGRectMake(1, 2, 3, 4));
}

TEST_F(HitConversion, ScrolledBoundsShiftTheContent) {
  outer->setBounds(CGRectMake(0, 50, 300, 400));  // content scrolled up by 50
  EXPECT_EQ(inner->convertPointToView({0, 0}, nullptr), (CGPoint{30, 70}));
  EXPECT_EQ(inner->convertPointFromView({30, 70}, nullptr), (CGPoint{0, 0}));
  // Only the part of inner inside outer's frame (window y 100 to 170) can be hit.
  EXPECT_EQ(window->hitTest({35, 110}, nullptr), inner);
  EXPECT_EQ(window->hitTest({35, 75}, nullptr), window);  // scrolled out above outer
  EXPECT_EQ(window->hitTest({35, 180}, nullptr), outer);  // where inner was before scrolling
}

TEST_F(HitConversion, ConvertsAcrossWindowsThroughTheScreen) {
  auto other = std::make_shared<UIWindow>(CGRectMake(0, 500, 390, 344));
  auto view = std::make_shared<UIView>(CGRectMake(10, 10, 50, 50));
  other->addSubview(view);
  EXPECT_EQ(view->convertPointToView({0, 0}, inner), (CGPoint{-20, 390}));
  EXPECT_EQ(inner->convertPointToView({-20, 390}, view), (CGPoint{0, 0}));
}

TEST_F(HitConversion, HitTestFindsTheFrontmostInteractiveView) {
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), inner);
  EXPECT_EQ(window->hitTest({300, 450}, nullptr), outer);
  EXPECT_EQ(window->hitTest({5, 5}, nullptr), window);
  EXPECT_EQ(window->hitTest({-1, 5}, nullptr), nullptr);

  auto front = std::make_shared<UIView>(CGRectMake(0, 0, 50, 50));
  outer->addSubview(front);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), front);
  front->setHidden(true);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), inner);
  front->setHidden(false);
  front->setUserInteractionEnabled(false);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), inner);
  front->setUserInteractionEnabled(true);
  front->setAlpha(0.005);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), inner);
  front->setAlpha(0.01);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), front);

  // User interaction off on a container hides its whole subtree from touches.
  outer->setUserInteractionEnabled(false);
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), window);
}

TEST_F(HitConversion, SubviewsOutsideTheirParentAreNotHit) {
  auto sticking = std::make_shared<UIView>(CGRectMake(90, 90, 50, 50));  // half outside inner
  inner->addSubview(sticking);
  EXPECT_EQ(window->hitTest(inner->convertPointToView({95, 95}, nullptr), nullptr), sticking);
  EXPECT_EQ(window->hitTest(inner->convertPointToView({120, 120}, nullptr), nullptr), outer);
}

TEST_F(HitConversion, LabelsAndImagesLetTouchesThrough) {
  auto label = std::make_shared<UILabel>(CGRectMake(0, 0, 100, 100));
  inner->addSubview(label);
  auto image = std::make_shared<UIImageView>(std::make_shared<UIImage>(40, 40, 2.0));
  inner->addSubview(image);
  EXPECT_EQ(image->frame(), CGRectMake(0, 0, 20, 20));
  EXPECT_EQ(window->hitTest({35, 125}, nullptr), inner);

  auto button = std::make_shared<UIButton>(CGRectMake(0, 0, 100, 40));
  button->setTitle("OK", UIControlStateNormal);
  inner->addSubview(button);
  ASSERT_NE(button->titleLabel(), nullptr);
  EXPECT_EQ(button->titleLabel()->superview(), button);
  EXPECT_EQ(window->hitTest({60, 140}, nullptr), button);
}

TEST_F(HitConversion, HiddenWindowsAreNotHitAndTheApplicationFindsTheFrontWindow) {
  auto app = UIApplication::sharedApplication();
  std::shared_ptr<UIView> hit;
  EXPECT_EQ(app->_windowAtScreenPoint({35, 125}, &hit), window);
  EXPECT_EQ(hit, inner);

  auto overlay = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 200));
  overlay->setWindowLevel(UIWindowLevelAlert);
  EXPECT_EQ(overlay->hitTest({10, 10}, nullptr), nullptr);  // hidden
  overlay->setHidden(false);
  EXPECT_EQ(app->_windowAtScreenPoint({35, 125}, &hit), overlay);
  EXPECT_EQ(hit, overlay);
  EXPECT_EQ(app->keyWindow(), window);  // shown, not made key
  auto windows = app->windows();
  ASSERT_GE(windows.size(), 2u);
  EXPECT_EQ(windows.back(), overlay);
  overlay->setHidden(true);
  EXPECT_EQ(app->_windowAtScreenPoint({35, 125}, &hit), window);
}

TEST_F(HitConversion, RemovingAFirstResponderFromTheWindowResignsIt) {
  auto field = std::make_shared<UITextField>(CGRectMake(0, 0, 100, 30));
  inner->addSubview(field);
  ASSERT_TRUE(field->becomeFirstResponder());
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_EQ(window->_firstResponder(), field);
  outer->removeFromSuperview();
  EXPECT_FALSE(field->isFirstResponder());
  EXPECT_EQ(window->_firstResponder(), nullptr);
  EXPECT_FALSE(UIKeyboard::isOnScreen());

  // Not in a window: cannot become first responder.
  EXPECT_FALSE(field->becomeFirstResponder());
}

}  // namespace
