// The playback actions through the native interpreter: clicks (switches toggled
// directly, everything else tapped), typing into text fields, scrolling every
// scrolling view and dragging across an element.
#include <gtest/gtest.h>

#include <chrono>

#include "foundation/notification_center.h"
#include "interpreter_helpers.h"
#include "main_loop.h"
#include "objc/exception.h"
#include "quorvel/playback/PlayBackInteractionMethods.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "touch_recorder.h"
#include "uikit/uikit.h"

namespace {

using namespace interpretertest;
using Clock = std::chrono::steady_clock;
using qvtest::TouchRecorder;

std::string cached(const std::shared_ptr<UIView>& view) {
  return UIViewMemoryCache::sharedInstance()->addViewInMemoryCache(view);
}

// A counter of the control's value-changed actions.
std::shared_ptr<int> countValueChanges(const std::shared_ptr<UIControl>& control) {
  auto count = std::make_shared<int>(0);
  control->addAction([count](auto, auto) { ++*count; }, UIControlEventValueChanged);
  return count;
}

// A run-time class whose name says "Switch", with or without an on/off state.
objc::Class* switchLikeClass(const char* name, bool answersIsOn) {
  objc::Class* cls = objc::Class::allocateClassPair(UIView::classObject(), name);
  if (cls && answersIsOn) {
    static const char kOn = 0;
    cls->addMethod<bool>("isOn", [](objc::Object& self) {
      auto value = self.associatedObject(&kOn);
      return value.has_value() && std::any_cast<bool>(value);
    });
    cls->addMethod<void, bool>("setOn:", [](objc::Object& self, bool on) { self.setAssociatedObject(&kOn, on); });
  }
  return cls;
}

class ActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    UIViewMemoryCache::sharedInstance()->clearMemoryCache();
    window->setHidden(true);
  }

  template <class T, class... A>
  std::shared_ptr<T> add(const std::shared_ptr<UIView>& parent, A&&... args) {
    auto view = std::make_shared<T>(std::forward<A>(args)...);
    parent->addSubview(view);
    return view;
  }

  // Runs a command and returns its reply, with how long it held the thread.
  JSONValue timed(const Command& command, double* seconds) {
    auto start = Clock::now();
    auto reply = run(command);
    *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return reply;
  }

  std::shared_ptr<UIWindow> window;
};

TEST_F(ActionsTest, ClicksToggleSwitchesWithoutTheirActionsAndTapEverythingElse) {
  auto toggle = add<UISwitch>(window, CGRectMake(20, 100, 0, 0));
  auto toggleChanges = countValueChanges(toggle);
  double seconds = 0;
  EXPECT_TRUE(timed({"ClickElement", {}, {}, cached(toggle), {}}, &seconds).empty());
  EXPECT_TRUE(toggle->isOn());
  EXPECT_GE(seconds, 0.5);  // the settle wait after the action
  run({"clickelement", {}, {}, cached(toggle), {}});
  EXPECT_FALSE(toggle->isOn());
  EXPECT_EQ(*toggleChanges, 0);

  // A label inside a custom container inside a switch toggles the switch; nothing
  // touches the label.
  auto outer = add<UISwitch>(window, CGRectMake(20, 200, 0, 0));
  auto outerChanges = countValueChanges(outer);
  auto container = add<UIView>(outer, outer->bounds());
  auto label = add<TouchRecorder>(container, container->bounds());
  run({"clickelement", {}, {}, cached(label), {}});
  EXPECT_TRUE(outer->isOn());
  EXPECT_EQ(*outerChanges, 0);
  EXPECT_TRUE(label->seen.empty());

  // Switches by name: one with a state is toggled through it; one without is tapped.
  auto* answering = switchLikeClass("ActionsTestRoundSwitch", true);
  auto* plain = switchLikeClass("ActionsTestPaintedSwitch", false);
  ASSERT_TRUE(answering && plain);
  auto stateful = objc::makeInstanceOf<UIView>(answering, CGRectMake(20, 300, 51, 31));
  window->addSubview(stateful);
  run({"clickelement", {}, {}, cached(stateful), {}});
  EXPECT_TRUE(objc::msgSend<bool>(*stateful, "isOn"));
  auto painted = objc::makeInstanceOf<UIView>(plain, CGRectMake(20, 350, 51, 31));
  window->addSubview(painted);
  int taps = 0;
  painted->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([&](const auto& r) {
    taps += r->state() == UIGestureRecognizerStateEnded;
  }));
  run({"clickelement", {}, {}, cached(painted), {}});
  EXPECT_EQ(taps, 1);

  // A button is tapped while it shows the highlight; its own border comes back after.
  auto button = add<UIButton>(window, CGRectMake(20, 400, 200, 44));
  button->layer()->setBorderWidth(2.0);
  button->layer()->setBorderColor(UIColor::redColor()->CGColor());
  std::vector<bool> highlightedWhenPressed;
  button->addAction([&](auto, auto) { highlightedWhenPressed.push_back(UIView_ToolkitAdditions::TK_hasHighlightBorder(button)); },
                    UIControlEventTouchUpInside);
  run({"clickelement", {}, {}, cached(button), {}});
  EXPECT_EQ(highlightedWhenPressed, std::vector<bool>{true});
  EXPECT_EQ(button->layer()->borderWidth(), 2.0);
  EXPECT_TRUE(CGColorEqualToColor(button->layer()->borderColor(), UIColor::redColor()->CGColor()));

  // An unknown element ID acts on nothing but still waits.
  UIViewMemoryCache::sharedInstance()->clearMemoryCache();
  EXPECT_TRUE(timed({"clickelement", {}, {}, std::string("NO-SUCH-ID"), {}}, &seconds).empty());
  EXPECT_GE(seconds, 0.5);
  EXPECT_TRUE(timed({"sendkeysonelement", {}, {}, std::string("NO-SUCH-ID"), std::string("x")}, &seconds).empty());
  EXPECT_GE(seconds, 0.5);
  EXPECT_EQ(highlightedWhenPressed.size(), 1u);
}

TEST_F(ActionsTest, TypingReplacesTheTextWithOneNotificationAndOneEditingChange) {
  auto field = add<UITextField>(window, CGRectMake(20, 100, 300, 40));
  field->setText(std::string("old text"));
  int notifications = 0, editingChanges = 0;
  int token = NSNotificationCenter::defaultCenter().addObserverForName(
      std::string(UITextFieldTextDidChangeNotification), field, [&](const auto&) { ++notifications; });
  field->addAction([&](auto, auto) { ++editingChanges; }, UIControlEventEditingChanged);

  EXPECT_TRUE(run({"SendKeysOnElement", {}, {}, cached(field), std::string("alice")}).empty());
  EXPECT_EQ(field->text(), std::string("alice"));
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_EQ(notifications, 1);
  EXPECT_EQ(editingChanges, 1);
  // No data value empties the field.
  run({"sendkeysonelement", {}, {}, cached(field), {}});
  EXPECT_EQ(field->text(), std::string(""));
  EXPECT_EQ(notifications, 2);
  NSNotificationCenter::defaultCenter().removeObserver(token);

  // Only text fields are filled.
  auto notes = add<UITextView>(window, CGRectMake(20, 200, 300, 100));
  notes->setText(std::string("kept"));
  EXPECT_FALSE(std::make_shared<PlayBackInteractionMethods>()->performTypeTextOnUIView(notes, std::string("typed")));
  EXPECT_EQ(notes->text(), std::string("kept"));
}

TEST_F(ActionsTest, SwipesScrollEveryScrollingViewAndDragAcrossTheElement) {
  auto plainScroll = add<UIScrollView>(window, CGRectMake(0, 400, 390, 100));
  plainScroll->setContentSize({390, 2000});
  auto table = add<UITableView>(window, CGRectMake(0, 0, 390, 200));
  table->setContentOffset({0, 100});
  auto grid = add<UICollectionView>(window, CGRectMake(0, 200, 390, 200));
  grid->setContentOffset({50, 0});
  // A table subclass whose name also says "ScrollView" passes two of the tests: it
  // is asked to scroll twice, each time from the offset it has then.
  auto* cls = objc::Class::allocateClassPair(UITableView::classObject(), "ActionsTestRowsScrollView");
  ASSERT_NE(cls, nullptr);
  static std::vector<CGPoint> requests;
  cls->addMethod<void, CGPoint, bool>("setContentOffset:animated:", [](objc::Object& self, CGPoint offset, bool animated) {
    requests.push_back(offset);
    auto inherited = UIScrollView::classObject()->getInstanceMethod("setContentOffset:animated:")->implementation();
    (*inherited.as<void, CGPoint, bool>())(self, offset, animated);
  });
  auto rows = objc::makeInstanceOf<UITableView>(cls, CGRectMake(0, 500, 390, 100));
  window->addSubview(rows);
  rows->setContentOffset({0, 10});
  requests.clear();
  auto allSettled = [&] {
    return !table->isAnimatingScroll() && !grid->isAnimatingScroll() && !plainScroll->isAnimatingScroll() &&
           !rows->isAnimatingScroll();
  };

  EXPECT_TRUE(run({"swipeto", {}, {}, {}, {}}).empty());
  EXPECT_EQ(requests, (std::vector<CGPoint>{{0, 210}, {0, 210}}));
  ASSERT_TRUE(qvtest::runMainLoopUntil(allSettled));
  EXPECT_EQ(table->contentOffset(), CGPointMake(0, 300));
  EXPECT_EQ(grid->contentOffset(), CGPointMake(0, 200));
  EXPECT_EQ(plainScroll->contentOffset(), CGPointMake(0, 200));
  EXPECT_EQ(rows->contentOffset(), CGPointMake(0, 210));

  EXPECT_TRUE(run({"SwipeReset", {}, {}, {}, {}}).empty());
  ASSERT_TRUE(qvtest::runMainLoopUntil(allSettled));
  for (const auto& view : std::vector<std::shared_ptr<UIScrollView>>{table, grid, plainScroll, rows}) {
    EXPECT_EQ(view->contentOffset(), CGPointMake(0, 0));
  }

  // "swipeon": from one quarter line to the other through the middle, in the
  // element's own coordinates; an unknown direction stays at the origin.
  auto pad = add<TouchRecorder>(window, CGRectMake(40, 620, 300, 100));
  auto padId = cached(pad);
  EXPECT_TRUE(run({"swipeon", {}, {}, padId, std::string("Left")}).empty());
  EXPECT_EQ(pad->locationsInView(), (std::vector<CGPoint>{{225, 50}, {150, 50}, {75, 50}, {75, 50}}));
  pad->seen.clear();
  run({"swipeon", {}, {}, padId, std::string("sideways")});
  EXPECT_EQ(pad->locationsInView(), (std::vector<CGPoint>{{0, 0}, {0, 0}, {0, 0}, {0, 0}}));
  pad->seen.clear();
  run({"swipeon", {}, {}, std::string("NO-SUCH-ID"), std::string("left")});
  EXPECT_TRUE(pad->seen.empty());

  // An empty element ID drags across the key window's first subview, a scroll view
  // whose content moves up with the finger, by half its height.
  run({"swipeon", {}, {}, std::string(""), std::string("up")});
  EXPECT_EQ(plainScroll->contentOffset(), CGPointMake(0, 50));

  // A view that only carries a scroll view's name has no offset: the command raises.
  window->addSubview(objc::makeInstanceOf<UIView>(objc::Class::allocateClassPair(UIView::classObject(), "FakeScrollViewBox"),
                                                  CGRectMake(0, 760, 50, 50)));
  EXPECT_THROW(run({"swipeto", {}, {}, {}, {}}), objc::NSException);
}

}  // namespace
