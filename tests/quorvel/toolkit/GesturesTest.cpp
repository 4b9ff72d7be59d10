// Taps and drags made of synthetic touches, as the application sees them: which
// views get which phases where, the web-view tap rule, focus, and a comparison
// with the same gestures made by the device's touch screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/UIDeviceInput.h"
#include "dispatch/dispatch.h"
#include "line_client.h"
#include "main_loop.h"
#include "quorvel/toolkit/UIApplication+ToolkitAdditions.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "touch_recorder.h"
#include "uikit/uikit.h"

namespace {

using namespace UIView_ToolkitAdditions;

using TouchPad = qvtest::TouchRecorder;

const std::vector<UITouchPhase> kTap{UITouchPhaseBegan, UITouchPhaseEnded};

class GesturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(UIScreen::mainScreen()->bounds());
    background = std::make_shared<TouchPad>(window->bounds());
    window->addSubview(background);
    window->makeKeyAndVisible();
  }
  void TearDown() override { window->setHidden(true); }

  template <class T, class... A>
  std::shared_ptr<T> add(const std::shared_ptr<UIView>& parent, A&&... args) {
    auto view = std::make_shared<T>(std::forward<A>(args)...);
    parent->addSubview(view);
    return view;
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<TouchPad> background;
};

TEST_F(GesturesTest, TapsGoWhereTheWindowHitsAndOnlyTheRealTapFocuses) {
  // A zero-size view taps its origin.
  auto dot = add<UIView>(window, CGRectMake(200, 500, 0, 0));
  tap(dot);
  EXPECT_EQ(background->phases(), kTap);
  EXPECT_EQ(background->locationsInWindow(), (std::vector<CGPoint>{{200, 500}, {200, 500}}));

  // A scrolled scroll view aims at half its frame size in its bounds coordinates:
  // 300 points above its visible centre, outside it, on the background.
  auto scroll = add<UIScrollView>(window, CGRectMake(0, 400, 390, 200));
  scroll->setContentSize({390, 2000});
  auto content = add<TouchPad>(scroll, CGRectMake(0, 0, 390, 2000));
  scroll->setContentOffset({0, 300});
  background->seen.clear();
  tap(scroll);
  EXPECT_TRUE(content->seen.empty());
  EXPECT_EQ(background->locationsInWindow(), (std::vector<CGPoint>{{195, 200}, {195, 200}}));

  // A point outside the receiver is still delivered, to whatever lies there, and a
  // point over nothing at all (off the window) still sends both events.
  auto box = add<TouchPad>(window, CGRectMake(150, 300, 100, 50));
  background->seen.clear();
  FaketapAtPoint(box, {-100, -200});
  EXPECT_TRUE(box->seen.empty());
  EXPECT_EQ(background->locationsInWindow(), (std::vector<CGPoint>{{50, 100}, {50, 100}}));
  int deliveries = 0;
  auto hook = UIApplication::classObject()->getInstanceMethod("sendEvent:");
  auto original = hook->implementation();
  hook->setImplementation(objc::IMP::make<void, std::shared_ptr<UIEvent>>(
      std::function<void(objc::Object&, std::shared_ptr<UIEvent>)>([&](objc::Object& app, std::shared_ptr<UIEvent> e) {
        ++deliveries;
        (*original.as<void, std::shared_ptr<UIEvent>>())(app, e);
      })));
  background->seen.clear();
  tapAtPoint(box, {-1000, -1000});
  hook->setImplementation(original);
  EXPECT_EQ(deliveries, 2);
  EXPECT_TRUE(background->seen.empty());

  // A text field whose inside swallows touches: the tap's focus step makes it first
  // responder; the fake tap leaves it alone.
  auto field = add<UITextField>(window, CGRectMake(20, 700, 300, 40));
  auto cover = add<TouchPad>(field, field->bounds());
  FaketapAtPoint(field, {150, 20});
  EXPECT_EQ(cover->phases(), kTap);
  EXPECT_FALSE(field->isFirstResponder());
  tapAtPoint(field, {150, 20});
  EXPECT_TRUE(field->isFirstResponder());
  field->resignFirstResponder();
  // A tap that lands outside the receiver does not focus it.
  tapAtPoint(field, {150, -300});
  EXPECT_FALSE(field->isFirstResponder());
}

// Run-time classes that behave as the platform's web view and its browser view.
struct WebClasses {
  objc::Class* webView;
  objc::Class* browserView;
  objc::Class* internal;
  objc::Class* internalWithoutBrowser;
  static inline std::vector<CGPoint> browserTaps;
  static inline objc::id internals;  // what the web view's "_internal" answers
  static inline objc::id browser;    // what the internals' "browserView" answers

  static const WebClasses& get() {
    static const WebClasses classes = [] {
      WebClasses c{};
      c.webView = objc::Class::allocateClassPair(UIView::classObject(), "UIWebView");
      c.webView->addMethod<std::any>("_internal", [](objc::Object&) { return std::any(internals); });
      c.browserView = objc::Class::allocateClassPair(UIView::classObject(), "UIWebBrowserView");
      c.browserView->addMethod<void, CGPoint>("tapInteractionWithLocation:",
                                              [](objc::Object&, CGPoint p) { browserTaps.push_back(p); });
      c.internal = objc::Class::allocateClassPair(objc::Object::classObject(), "GesturesTestWebViewInternal");
      c.internal->addMethod<std::any>("browserView", [](objc::Object&) { return std::any(browser); });
      c.internalWithoutBrowser = objc::Class::allocateClassPair(objc::Object::classObject(), "GesturesTestBareInternal");
      return c;
    }();
    return classes;
  }
};

TEST_F(GesturesTest, AWebViewWithABrowserViewTakesTheTapInsteadOfTouches) {
  const auto& classes = WebClasses::get();
  ASSERT_TRUE(classes.webView && classes.browserView && classes.internal && classes.internalWithoutBrowser);
  auto web = objc::makeInstanceOf<UIView>(classes.webView, CGRectMake(0, 100, 390, 400));
  background->addSubview(web);  // touches it gets go up to the background
  auto browser = objc::makeInstanceOf<UIView>(classes.browserView, web->bounds());
  web->addSubview(browser);
  WebClasses::browser = browser;
  WebClasses::internals = objc::makeInstanceOf<objc::Object>(classes.internal);

  tapAtPoint(web, {12.5, 40});
  tap(browser);
  EXPECT_EQ(WebClasses::browserTaps, (std::vector<CGPoint>{{12.5, 40}, {195, 200}}));
  EXPECT_TRUE(background->seen.empty());

  // No browser view, internals without one, no internals: touches after all.
  WebClasses::browserTaps.clear();
  WebClasses::browser = nullptr;
  tapAtPoint(web, {10, 10});
  WebClasses::internals = objc::makeInstanceOf<objc::Object>(classes.internalWithoutBrowser);
  tapAtPoint(web, {10, 10});
  WebClasses::internals = nullptr;
  tapAtPoint(web, {10, 10});
  EXPECT_TRUE(WebClasses::browserTaps.empty());
  EXPECT_EQ(background->seen.size(), 6u);
}

TEST_F(GesturesTest, DragsVisitTheirPointsWithRunLoopTurnsBetweenSteps) {
  auto pad = add<TouchPad>(window, CGRectMake(50, 100, 300, 300));
  // Main-queue work waiting when the drag starts runs during its first pause.
  dispatch_async(dispatch_get_main_queue(), [&] { pad->log.push_back("main queue"); });
  dragFromPointToPoint(pad, {0, 0}, {100, 0});
  EXPECT_EQ(pad->phases(), (std::vector<UITouchPhase>{UITouchPhaseBegan, UITouchPhaseMoved, UITouchPhaseMoved,
                                                          UITouchPhaseEnded}));
  EXPECT_EQ(pad->locationsInWindow(), (std::vector<CGPoint>{{50, 100}, {100, 100}, {150, 100}, {150, 100}}));
  EXPECT_EQ(pad->log, (std::vector<std::string>{"phase 0", "main queue", "phase 1", "phase 1", "phase 3"}));

  // Two fingers: one began event with both, a moved event with both per step, then
  // one ended event per finger.
  pad->seen.clear();
  dragPointsAlongPaths(pad, {{{10, 10}, {20, 20}, {30, 30}}, {{200, 10}, {190, 20}, {180, 30}}});
  ASSERT_EQ(pad->seen.size(), 5u);
  std::vector<std::pair<UITouchPhase, std::size_t>> calls;
  for (const auto& d : pad->seen) calls.emplace_back(d.phase, d.touches);
  EXPECT_EQ(calls, (std::vector<std::pair<UITouchPhase, std::size_t>>{
                       {UITouchPhaseBegan, 2}, {UITouchPhaseMoved, 2}, {UITouchPhaseMoved, 2},
                       {UITouchPhaseEnded, 1}, {UITouchPhaseEnded, 1}}));

  // Paths of different lengths, or an empty first path: nothing at all.
  pad->seen.clear();
  dragPointsAlongPaths(pad, {{{10, 10}, {20, 20}, {30, 30}}, {{200, 10}, {190, 20}}});
  dragPointsAlongPaths(pad, {{}, {}});
  dragPointsAlongPaths(pad, {});
  EXPECT_TRUE(pad->seen.empty());
  // A path of one point begins and ends its finger, so nothing is left tracking.
  dragFromPointToPoint(pad, {5, 5}, {100, 100}, 1);
  EXPECT_EQ(pad->phases(), kTap);

  // The drag focuses a receiver that its first finger began on, and waits while the
  // application's run-loop mode is not the default one.
  pad->focusable = true;
  auto modes = UIApplication_ToolkitAdditions::TK_runLoopModes(*UIApplication::sharedApplication());
  {
    std::lock_guard lock(modes->mutex);
    modes->modes.push_back(UITrackingRunLoopMode);
  }
  bool popped = false;
  auto timer = CFRunLoopTimerCreate(0.2, 0, [&] {
    std::lock_guard lock(modes->mutex);
    modes->modes.pop_back();
    popped = true;
  });
  CFRunLoopAddTimer(CFRunLoopGetMain(), timer, kCFRunLoopCommonModes);
  dragFromPointToPoint(pad, {10, 10}, {10, 200});
  EXPECT_TRUE(popped);
  EXPECT_TRUE(pad->isFirstResponder());
  CFRunLoopTimerInvalidate(timer);
}

// Every control event of a control, in the order they fire.
void watch(const std::shared_ptr<UIControl>& control, std::vector<std::string>& log) {
  const std::pair<UIControlEvents, const char*> names[] = {
      {UIControlEventTouchDown, "down"},          {UIControlEventTouchDownRepeat, "repeat"},
      {UIControlEventTouchDragInside, "drag in"}, {UIControlEventTouchDragOutside, "drag out"},
      {UIControlEventTouchDragEnter, "enter"},    {UIControlEventTouchDragExit, "exit"},
      {UIControlEventTouchUpInside, "up in"},     {UIControlEventTouchUpOutside, "up out"},
      {UIControlEventTouchCancel, "cancel"},      {UIControlEventValueChanged, "value"},
      {UIControlEventEditingDidBegin, "editing"}};
  for (auto [event, name] : names) {
    control->addAction([&log, name = std::string(name)](auto, auto) { log.push_back(name); }, event);
  }
}

TEST_F(GesturesTest, TheApplicationCannotTellSyntheticTouchesFromTheTouchScreens) {
  auto button = add<UIButton>(window, CGRectMake(20, 100, 200, 50));
  auto toggle = add<UISwitch>(window, CGRectMake(20, 200, 0, 0));
  auto field = add<UITextField>(window, CGRectMake(20, 300, 300, 40));
  int recognised = 0;
  auto area = add<UIView>(window, CGRectMake(20, 400, 300, 100));
  area->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([&](const auto& r) {
    recognised += r->state() == UIGestureRecognizerStateEnded;
  }));
  std::vector<std::string> log;
  watch(button, log);
  watch(toggle, log);
  watch(field, log);

  // The same gestures each way: taps on every control, a drag that leaves the button.
  const CGPoint buttonMiddle{120, 125}, outside{120, 260};
  auto byToolkit = [&] {
    tap(button);
    tap(toggle);
    tap(field);
    field->resignFirstResponder();
    tap(area);
    dragFromPointToPoint(button, {100, 25}, {100, 160});
  };
  ASSERT_TRUE(UIDeviceInput::startOnPort(0));
  auto byTouchScreen = [&] {
    qvtest::LineClient screen(UIDeviceInput::port());
    auto middle = [](const std::shared_ptr<UIView>& v) {
      CGRect f = v->frame();
      return std::to_string(CGRectGetMidX(f)) + " " + std::to_string(CGRectGetMidY(f));
    };
    std::vector<std::string> answers;
    for (const auto& view : std::vector<std::shared_ptr<UIView>>{button, toggle, field}) {
      answers.push_back(qvtest::whileMainLoopRuns([&] { return screen.ask("tap " + middle(view)); }));
    }
    field->resignFirstResponder();
    answers.push_back(qvtest::whileMainLoopRuns([&] { return screen.ask("tap " + middle(area)); }));
    answers.push_back(qvtest::whileMainLoopRuns([&] {
      return screen.ask("swipe " + std::to_string(buttonMiddle.x) + " " + std::to_string(buttonMiddle.y) + " " +
                        std::to_string(outside.x) + " " + std::to_string(outside.y) + " 2");
    }));
    return answers;
  };

  auto answers = byTouchScreen();
  UIDeviceInput::stop();
  for (const auto& answer : answers) EXPECT_EQ(answer.rfind("ok", 0), 0u) << answer;
  auto fromScreen = log;
  int recognisedFromScreen = recognised;
  bool onFromScreen = toggle->isOn();
  log.clear();
  recognised = 0;
  toggle->setOn(false);
  byToolkit();

  EXPECT_EQ(log, fromScreen);
  EXPECT_EQ(recognised, recognisedFromScreen);
  EXPECT_EQ(recognised, 1);
  EXPECT_EQ(toggle->isOn(), onFromScreen);
  EXPECT_TRUE(onFromScreen);
  // What both sent, so that equal logs mean something (actions of one delivery run in
  // the order they were added).
  EXPECT_EQ(fromScreen, (std::vector<std::string>{"down", "up in", "down", "value", "up in", "down", "editing", "up in",
                                                  "down", "drag out", "exit", "drag out", "up out"}))
      << testing::PrintToString(fromScreen);
}

}  // namespace
