#include <gtest/gtest.h>

#include <any>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "touch_helpers.h"

namespace {

TEST(Geometry, RectanglesContainIntersectAndUnite) {
  CGRect r = CGRectMake(10, 10, 100, 50);
  EXPECT_TRUE(CGRectContainsPoint(r, {10, 10}));
  EXPECT_FALSE(CGRectContainsPoint(r, {110, 30}));  // the far edges are outside
  EXPECT_FALSE(CGRectContainsPoint(CGRectMake(0, 0, 0, 10), {0, 0}));
  EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(10, 10, 100, 50)));
  EXPECT_FALSE(CGRectContainsRect(r, CGRectMake(9, 10, 10, 10)));
  EXPECT_EQ(CGRectIntersection(r, CGRectMake(100, 50, 50, 50)), CGRectMake(100, 50, 10, 10));
  EXPECT_EQ(CGRectIntersection(r, CGRectMake(500, 500, 5, 5)), CGRectZero);
  EXPECT_TRUE(CGRectIsEmpty(CGRectIntersection(r, CGRectMake(500, 500, 5, 5))));
  EXPECT_EQ(CGRectIntersection(r, CGRectMake(110, 10, 5, 5)).size, (CGSize{0, 5}));  // touching edges
  EXPECT_FALSE(CGRectIntersectsRect(r, CGRectMake(110, 10, 5, 5)));
  EXPECT_EQ(CGRectUnion(r, CGRectMake(0, 0, 5, 5)), CGRectMake(0, 0, 110, 60));
  EXPECT_EQ(CGRectStandardize(CGRectMake(10, 10, -5, -5)), CGRectMake(5, 5, 5, 5));
  EXPECT_EQ(CGRectInset(r, 5, 5), CGRectMake(15, 15, 90, 40));
  EXPECT_TRUE(CGRectIsNull(CGRectInset(r, 60, 0)));
  EXPECT_EQ(NSStringFromCGRect(CGRectMake(1, 2.5, 3, 4)), "{{1, 2.5}, {3, 4}}");
  CGAffineTransform t = CGAffineTransformConcat(CGAffineTransformMakeScale(2, 3), CGAffineTransformMakeTranslation(5, 7));
  EXPECT_EQ(CGPointApplyAffineTransform({1, 1}, t), (CGPoint{7, 10}));
  EXPECT_EQ(CGPointApplyAffineTransform(CGPointApplyAffineTransform({4, 9}, t), CGAffineTransformInvert(t)), (CGPoint{4, 9}));
}

TEST(Color, ComponentsAndEquality) {
  auto green = UIColor::colorWithRed(0, 1, 0, 1);
  CGFloat r = -1, g = -1, b = -1, a = -1;
  EXPECT_TRUE(green->getRed(&r, &g, &b, &a));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 1);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(a, 1);
  EXPECT_TRUE(UIColorEqualToColor(green, UIColor::greenColor()));
  EXPECT_FALSE(UIColorEqualToColor(green, UIColor::colorWithRed(0, 1, 0, 0.5)));
  EXPECT_TRUE(UIColorEqualToColor(nullptr, nullptr));
  EXPECT_FALSE(UIColorEqualToColor(green, nullptr));
  EXPECT_TRUE(CGColorEqualToColor(green->CGColor(), CGColorCreateSRGB(0, 1, 0, 1)));
  EXPECT_FALSE(CGColorEqualToColor(green->CGColor(), nullptr));
  EXPECT_TRUE(UIColorEqualToColor(UIColor::colorWithCGColor(green->CGColor()), green));
  EXPECT_EQ(UIColor::colorWithRed(2, -1, 0.5, 1)->red(), 1);  // clamped
}

TEST(Layer, BorderAndFreeAttributesLiveWithTheLayer) {
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  auto layer = view->layer();
  EXPECT_EQ(layer, view->layer());
  EXPECT_EQ(layer->delegate(), view);
  EXPECT_EQ(layer->borderWidth(), 0);
  EXPECT_TRUE(CGColorEqualToColor(layer->borderColor(), CGColorCreateSRGB(0, 0, 0, 1)));
  layer->setBorderWidth(4.0);
  layer->setBorderColor(UIColor::greenColor()->CGColor());
  EXPECT_EQ(std::any_cast<double>(layer->valueForKey("borderWidth")), 4.0);
  EXPECT_TRUE(CGColorEqualToColor(std::any_cast<CGColorRef>(layer->valueForKey("borderColor")),
                                  UIColor::greenColor()->CGColor()));
  layer->setValueForKey("borderWidth", 2);  // a boxed integer converts
  EXPECT_EQ(layer->borderWidth(), 2.0);

  EXPECT_FALSE(layer->valueForKey("ZarvoUIVIewGuid").has_value());
  layer->setValueForKey("ZarvoUIVIewGuid", std::string("ABC"));
  layer->setValueForKey("other", std::string("X"));
  EXPECT_EQ(std::any_cast<std::string>(view->layer()->valueForKey("ZarvoUIVIewGuid")), "ABC");
  layer->setValueForKey("other", std::any());
  EXPECT_FALSE(layer->valueForKey("other").has_value());
  EXPECT_THROW(layer->setValueForKey("borderWidth", std::string("wide")), objc::NSException);

  view->setBackgroundColor(UIColor::redColor());
  EXPECT_TRUE(CGColorEqualToColor(layer->backgroundColor(), UIColor::redColor()->CGColor()));
  view->setAlpha(0.5);
  EXPECT_FLOAT_EQ(layer->opacity(), 0.5f);
}

// Free attributes of every kind (texts, other values, removals) and the view's
// associated objects, set in random order under a few keys, read back as a plain
// map of the same operations says they must.
TEST(Layer, FreeAttributesAndAssociatedObjectsAnswerLikeAPlainMap) {
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  auto layer = view->layer();
  const std::vector<std::string> keys = {"ZarvoUIVIewGuid", "ZarvoUIVIewGuid_PlayBack", "a", "tag", ""};
  static const char kAssociated[4] = {};
  std::map<std::string, std::any> attributes;
  std::map<const void*, int> associated;
  std::mt19937 random(7);
  auto describe = [](const std::any& value) {
    if (!value.has_value()) return std::string("nil");
    if (auto* text = std::any_cast<std::string>(&value)) return "text " + *text;
    return "number " + std::to_string(std::any_cast<int>(value));
  };
  for (int step = 0; step < 4000; ++step) {
    const std::string& key = keys[random() % keys.size()];
    std::any value;
    switch (random() % 4) {
      case 0: break;  // removes
      case 1: value = static_cast<int>(random() % 100); break;
      case 2: value = std::string(random() % 3, 'x'); break;  // the empty text included
      default: value = std::string(36 + random() % 40, static_cast<char>('A' + step % 26)) + std::to_string(step);
    }
    layer->setValueForKey(key, value);
    if (value.has_value()) {
      attributes[key] = value;
    } else {
      attributes.erase(key);
    }
    const void* associationKey = random() % 5 == 0 ? nullptr : &kAssociated[random() % 4];
    if (random() % 3 == 0) {
      view->setAssociatedObject(associationKey, std::any());
      associated.erase(associationKey);
    } else {
      view->setAssociatedObject(associationKey, step);
      associated[associationKey] = step;
    }
    for (const std::string& probe : keys) {
      auto it = attributes.find(probe);
      ASSERT_EQ(describe(layer->valueForKey(probe)), describe(it == attributes.end() ? std::any() : it->second))
          << "key '" << probe << "' after step " << step;
      ASSERT_EQ(layer->_hasAttribute(probe), it != attributes.end());
    }
    for (const void* probe : {static_cast<const void*>(nullptr), static_cast<const void*>(&kAssociated[0]),
                              static_cast<const void*>(&kAssociated[1]), static_cast<const void*>(&kAssociated[2]),
                              static_cast<const void*>(&kAssociated[3])}) {
      auto it = associated.find(probe);
      std::any value = view->associatedObject(probe);
      ASSERT_EQ(describe(value), describe(it == associated.end() ? std::any() : std::any(it->second)))
          << "association after step " << step;
    }
  }
  EXPECT_EQ(layer->borderWidth(), 0);  // free attributes never reach the properties
}

TEST(View, FrameBoundsAndCenterStayConsistent) {
  auto view = std::make_shared<UIView>(CGRectMake(10, 20, 100, 40));
  EXPECT_EQ(view->bounds(), CGRectMake(0, 0, 100, 40));
  EXPECT_EQ(view->center(), (CGPoint{60, 40}));
  view->setCenter({100, 100});
  EXPECT_EQ(view->frame(), CGRectMake(50, 80, 100, 40));
  view->setBounds(CGRectMake(5, 7, 20, 10));
  EXPECT_EQ(view->center(), (CGPoint{100, 100}));
  EXPECT_EQ(view->frame(), CGRectMake(90, 95, 20, 10));
  view->setFrame(CGRectMake(0, 0, 30, 30));
  EXPECT_EQ(view->bounds(), CGRectMake(5, 7, 30, 30));  // the bounds origin survives
  EXPECT_EQ(view->center(), (CGPoint{15, 15}));
  view->setFrame(CGRectMake(10, 10, -10, -10));  // standardized
  EXPECT_EQ(view->frame(), CGRectMake(0, 0, 10, 10));
}

TEST(View, SubviewOrderAndReparenting) {
  auto root = std::make_shared<UIView>();
  auto a = std::make_shared<UIView>(), b = std::make_shared<UIView>(), c = std::make_shared<UIView>();
  root->addSubview(a);
  root->addSubview(b);
  root->insertSubviewAtIndex(c, 0);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{c, a, b}));
  root->bringSubviewToFront(c);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{a, b, c}));
  root->sendSubviewToBack(b);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{b, a, c}));
  root->insertSubviewAboveSubview(b, c);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{a, c, b}));
  root->insertSubviewBelowSubview(b, a);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{b, a, c}));

  // Moving to another parent takes the view from the first.
  a->addSubview(c);
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{b, a}));
  EXPECT_EQ(c->superview(), a);
  EXPECT_TRUE(c->isDescendantOfView(root));
  EXPECT_TRUE(c->isDescendantOfView(c));
  EXPECT_FALSE(root->isDescendantOfView(c));
  EXPECT_FALSE(c->isDescendantOfView(nullptr));

  // A cycle is refused.
  c->addSubview(root);
  EXPECT_EQ(root->superview(), nullptr);
  c->addSubview(c);
  EXPECT_TRUE(c->subviews().empty());

  c->setTag(7);
  EXPECT_EQ(root->viewWithTag(7), c);
  c->removeFromSuperview();
  EXPECT_EQ(c->superview(), nullptr);
  EXPECT_EQ(root->viewWithTag(7), nullptr);
}

TEST(View, WindowAndResponderChain) {
  auto window = uikittest::makeKeyWindow();
  auto controller = std::make_shared<UIViewController>();
  window->setRootViewController(controller);
  auto root = controller->view();
  auto child = std::make_shared<UIView>();
  root->addSubview(child);
  EXPECT_EQ(child->window(), window);
  EXPECT_EQ(window->window(), window);
  EXPECT_EQ(child->nextResponder(), root);
  EXPECT_EQ(root->nextResponder(), controller);
  EXPECT_EQ(controller->nextResponder(), window);
  EXPECT_EQ(window->nextResponder(), UIApplication::sharedApplication());
  child->removeFromSuperview();
  EXPECT_EQ(child->window(), nullptr);
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(UIApplication::sharedApplication()->keyWindow(), window);
}

TEST(View, AccessibilityTextsAreAbsentByDefault) {
  auto view = std::make_shared<UIView>();
  EXPECT_FALSE(view->accessibilityIdentifier());
  EXPECT_FALSE(view->accessibilityLabel());
  EXPECT_FALSE(view->accessibilityValue());
  EXPECT_FALSE(view->accessibilityHint());
  view->setAccessibilityIdentifier("login");
  view->setAccessibilityLabel("");
  EXPECT_EQ(view->accessibilityIdentifier(), "login");
  EXPECT_EQ(view->accessibilityLabel(), "");
  auto item = std::make_shared<UIBarButtonItem>("Done", UIBarButtonItemStyleDone);
  item->setAccessibilityHint("finishes");
  EXPECT_EQ(item->accessibilityHint(), "finishes");
  EXPECT_EQ(item->title(), "Done");
}

TEST(View, ClassesAreRegisteredWithTheirNamesAndAncestry) {
  for (const char* name : {"UIView", "UIWindow", "UILabel", "UIButton", "UITextField", "UITextView", "UISwitch",
                           "UISegmentedControl", "UISegment", "UIScrollView", "UITableView", "UITableViewCell",
                           "UICollectionView", "UICollectionViewCell", "UIPickerView", "UIPickerColumnView",
                           "UIImageView", "UINavigationBar", "UINavigationItemView",
                           "_UINavigationBarBackIndicatorView", "UITabBar", "UITabBarButton", "UIAlertView",
                           "UIKeyboardLayoutStar", "UIKeyboardKeyView", "UITapGestureRecognizer",
                           "UIBarButtonItem", "UITabBarItem", "UINavigationItem", "UIViewController",
                           "UINavigationController", "UITabBarController", "UIApplication", "UITouch", "UIEvent"}) {
    EXPECT_NE(objc::Class::named(name), nullptr) << name;
  }
  auto button = std::make_shared<UIButton>();
  EXPECT_EQ(button->className(), "UIButton");
  EXPECT_TRUE(button->isKindOfClass("UIControl"));
  EXPECT_TRUE(button->isKindOfClass("UIView"));
  EXPECT_TRUE(button->isKindOfClass("UIResponder"));
  EXPECT_FALSE(button->isKindOfClass("UILabel"));
  EXPECT_FALSE(std::make_shared<UIBarButtonItem>()->isKindOfClass("UIView"));

  // A runtime subclass made by an application, instantiated by name.
  objc::Class* custom = objc::Class::allocateClassPair(UISwitch::classObject(), "MyToggleSwitch");
  ASSERT_NE(custom, nullptr);
  auto instance = objc::cast<UISwitch>(custom->createInstance());
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->className(), "MyToggleSwitch");
  EXPECT_TRUE(instance->isKindOfClass(UISwitch::classObject()));
  instance->setOn(true);
  EXPECT_TRUE(instance->isOn());
}

}  // namespace
