#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "touch_helpers.h"

namespace {

// A view that records the touch phases it receives.
class RecordingView : public UIView {
 public:
  using UIView::UIView;
  std::vector<std::string> log;
  void touchesBegan(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { log.push_back("began" + n(t)); }
  void touchesMoved(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { log.push_back("moved" + n(t)); }
  void touchesEnded(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { log.push_back("ended" + n(t)); }
  void touchesCancelled(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override {
    log.push_back("cancelled" + n(t));
  }

 private:
  static std::string n(const UITouchSet& t) { return t.size() == 1 ? "" : ":" + std::to_string(t.size()); }
};

TEST(TouchDelivery, PrivateSettersShapeTheTouch) {
  auto window = uikittest::makeKeyWindow();
  auto view = std::make_shared<UIView>(CGRectMake(100, 200, 50, 50));
  window->addSubview(view);
  auto touch = std::make_shared<UITouch>();
  EXPECT_TRUE(touch->respondsToSelector("setGestureView:"));
  touch->setWindow(window);
  touch->setTapCount(2);
  touch->_setLocationInWindow({110, 220}, true);
  touch->setView(view);
  touch->setPhase(UITouchPhaseMoved);
  touch->_setIsFirstTouchForView(true);
  touch->setIsTap(true);
  touch->setTimestamp(12.5);
  touch->setGestureView(view);
  EXPECT_EQ(touch->window(), window);
  EXPECT_EQ(touch->tapCount(), 2u);
  EXPECT_EQ(touch->view(), view);
  EXPECT_EQ(touch->gestureView(), view);
  EXPECT_EQ(touch->phase(), UITouchPhaseMoved);
  EXPECT_TRUE(touch->_isFirstTouchForView());
  EXPECT_TRUE(touch->isTap());
  EXPECT_EQ(touch->timestamp(), 12.5);
  EXPECT_EQ(touch->locationInView(nullptr), (CGPoint{110, 220}));
  EXPECT_EQ(touch->locationInView(view), (CGPoint{10, 20}));
  EXPECT_EQ(touch->previousLocationInView(view), (CGPoint{10, 20}));
  touch->_setLocationInWindow({130, 240}, false);
  EXPECT_EQ(touch->previousLocationInView(nullptr), (CGPoint{110, 220}));
  EXPECT_EQ(touch->locationInView(view), (CGPoint{30, 40}));

  IOHIDEventRef record = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, 1, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, false, true, 0);
  touch->_setHidEvent(record);
  EXPECT_EQ(CFGetRetainCount(record), 2);
  CFRelease(record);  // the touch keeps its own reference
  EXPECT_EQ(touch->_hidEvent(), record);
  EXPECT_EQ(IOHIDEventGetIntegerValue(touch->_hidEvent(), kIOHIDEventFieldDigitizerType), 3);
}

TEST(TouchDelivery, SharedEventHoldsTheAddedTouchesAndRecords) {
  auto app = UIApplication::sharedApplication();
  auto event = app->_touchesEvent();
  EXPECT_EQ(event, app->_touchesEvent());
  EXPECT_EQ(event->type(), UIEventTypeTouches);
  auto a = std::make_shared<UITouch>(), b = std::make_shared<UITouch>();
  event->_clearTouches();
  event->_addTouch(a, false);
  event->_addTouch(b, false);
  event->_addTouch(a, false);
  EXPECT_EQ(event->allTouches(), (std::vector<std::shared_ptr<UITouch>>{a, b}));
  event->_clearTouches();
  EXPECT_TRUE(event->allTouches().empty());

  IOHIDEventRef first = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, 1, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, false, true, 0);
  IOHIDEventRef second = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, 2, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, false, true, 0);
  event->_setHIDEvent(first);
  event->_setHIDEvent(second);  // releases the first
  EXPECT_EQ(CFGetRetainCount(first), 1);
  EXPECT_EQ(event->_hidEvent(), second);
  CFRelease(first);
  CFRelease(second);
  event->_setHIDEvent(nullptr);

  auto record = std::make_shared<objc::Object>();
  event->_setGSEvent(record);
  event->_setTimestamp(99.0);
  EXPECT_EQ(event->_gsEvent(), record);
  EXPECT_EQ(event->timestamp(), 99.0);
  event->_setGSEvent(nullptr);
}

TEST(TouchDelivery, PhasesReachTheTouchedViewThenWalkTheResponderChain) {
  auto window = uikittest::makeKeyWindow();
  auto parent = std::make_shared<RecordingView>(CGRectMake(0, 0, 200, 200));
  auto child = std::make_shared<UIView>(CGRectMake(10, 10, 50, 50));  // forwards to its superview
  window->addSubview(parent);
  parent->addSubview(child);
  uikittest::Finger finger(window, {20, 20});
  EXPECT_EQ(finger.touch()->view(), child);
  finger.moveTo({25, 25});
  finger.touch()->setPhase(UITouchPhaseStationary);
  auto app = UIApplication::sharedApplication();
  app->sendEvent(app->_touchesEvent());  // stationary touches are not delivered
  finger.lift();
  EXPECT_EQ(parent->log, (std::vector<std::string>{"began", "moved", "ended"}));
}

TEST(TouchDelivery, TwoFingersOnOneViewArriveTogether) {
  auto window = uikittest::makeKeyWindow();
  auto view = std::make_shared<RecordingView>(CGRectMake(0, 0, 200, 200));
  window->addSubview(view);
  auto app = UIApplication::sharedApplication();
  auto event = app->_touchesEvent();
  std::vector<std::shared_ptr<UITouch>> touches;
  for (CGPoint p : {CGPoint{10, 10}, CGPoint{50, 50}}) {
    auto t = std::make_shared<UITouch>();
    t->setWindow(window);
    t->_setLocationInWindow(p, true);
    t->setView(window->hitTest(p, nullptr));
    t->setPhase(UITouchPhaseBegan);
    touches.push_back(t);
  }
  event->_clearTouches();
  for (const auto& t : touches) event->_addTouch(t, false);
  app->sendEvent(event);
  for (const auto& t : touches) {
    t->setPhase(UITouchPhaseEnded);
    event->_clearTouches();
    event->_addTouch(t, false);
    app->sendEvent(event);
  }
  EXPECT_EQ(view->log, (std::vector<std::string>{"began:2", "ended", "ended"}));
}

TEST(TouchDelivery, AnExchangedSendEventSeesEveryEventFirst) {
  auto window = uikittest::makeKeyWindow();
  auto button = std::make_shared<UIButton>(CGRectMake(50, 50, 100, 40));
  window->addSubview(button);
  std::vector<std::string> order;
  button->addAction([&](auto, auto) { order.push_back("action"); }, UIControlEventTouchUpInside);

  objc::Class* cls = UIApplication::classObject();
  ASSERT_TRUE((cls->addMethod<void, std::shared_ptr<UIEvent>>(
      "test_captureSendEvent:", [&](objc::Object& self, std::shared_ptr<UIEvent> event) {
        order.push_back("hook:" + std::to_string(event->allTouches().front()->phase()));
        // After the exchange this name runs the platform's own dispatch.
        objc::msgSend<void, std::shared_ptr<UIEvent>>(self, "test_captureSendEvent:", event);
      })));
  objc::method_exchangeImplementations(cls->getInstanceMethod("sendEvent:"), cls->getInstanceMethod("test_captureSendEvent:"));
  uikittest::tap(window, {100, 70});
  objc::method_exchangeImplementations(cls->getInstanceMethod("sendEvent:"), cls->getInstanceMethod("test_captureSendEvent:"));
  EXPECT_EQ(order, (std::vector<std::string>{"hook:0", "hook:3", "action"}));

  order.clear();
  uikittest::tap(window, {100, 70});  // restored: no hook
  EXPECT_EQ(order, (std::vector<std::string>{"action"}));
}

TEST(TouchDelivery, TapRecognizerFiresWithinTenPointsAndCancelsTheViewsTouch) {
  auto window = uikittest::makeKeyWindow();
  auto view = std::make_shared<RecordingView>(CGRectMake(0, 0, 300, 300));
  window->addSubview(view);
  int taps = 0;
  auto tapRecognizer = std::make_shared<UITapGestureRecognizer>([&](const auto& r) {
    EXPECT_EQ(r->state(), UIGestureRecognizerStateRecognized);
    ++taps;
  });
  view->addGestureRecognizer(tapRecognizer);
  EXPECT_EQ(tapRecognizer->view(), view);
  EXPECT_EQ(view->gestureRecognizers().size(), 1u);

  uikittest::Finger near(window, {100, 100});
  near.moveTo({106, 106});  // 8.5 points away
  near.lift();
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(view->log, (std::vector<std::string>{"began", "moved", "cancelled"}));
  EXPECT_EQ(tapRecognizer->state(), UIGestureRecognizerStatePossible);  // ready again

  view->log.clear();
  uikittest::drag(window, {100, 100}, {100, 150});
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(view->log.back(), "ended");

  tapRecognizer->setCancelsTouchesInView(false);
  view->log.clear();
  uikittest::tap(window, {50, 50});
  EXPECT_EQ(taps, 2);
  EXPECT_EQ(view->log, (std::vector<std::string>{"began", "ended"}));

  view->removeGestureRecognizer(tapRecognizer);
  EXPECT_EQ(tapRecognizer->view(), nullptr);
  uikittest::tap(window, {50, 50});
  EXPECT_EQ(taps, 2);
}

TEST(TouchDelivery, DoubleTapNeedsTwoQuickTaps) {
  auto window = uikittest::makeKeyWindow();
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 300, 300));
  window->addSubview(view);
  int fired = 0;
  auto doubleTap = std::make_shared<UITapGestureRecognizer>([&](const auto&) { ++fired; });
  doubleTap->setNumberOfTapsRequired(2);
  view->addGestureRecognizer(doubleTap);
  uikittest::tap(window, {10, 10});
  EXPECT_EQ(fired, 0);
  uikittest::tap(window, {12, 12});
  EXPECT_EQ(fired, 1);
}

TEST(TouchDelivery, AControlKeepsItsTapFromAnAncestorsRecognizer) {
  auto window = uikittest::makeKeyWindow();
  auto container = std::make_shared<UIView>(CGRectMake(0, 0, 300, 300));
  window->addSubview(container);
  int containerTaps = 0, buttonTaps = 0;
  container->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([&](const auto&) { ++containerTaps; }));
  auto button = std::make_shared<UIButton>(CGRectMake(10, 10, 100, 40));
  container->addSubview(button);
  button->addAction([&](auto, auto) { ++buttonTaps; }, UIControlEventTouchUpInside);
  uikittest::tap(window, {50, 30});
  EXPECT_EQ(buttonTaps, 1);
  EXPECT_EQ(containerTaps, 0);
  uikittest::tap(window, {200, 200});
  EXPECT_EQ(containerTaps, 1);
}

TEST(TouchDelivery, ATouchOverNoViewIsDeliveredToNobody) {
  auto window = uikittest::makeKeyWindow();
  auto view = std::make_shared<RecordingView>(CGRectMake(0, 0, 10, 10));
  window->addSubview(view);
  uikittest::Finger finger(window, {-100, -200});
  EXPECT_EQ(finger.touch()->view(), nullptr);
  finger.lift();
  EXPECT_TRUE(view->log.empty());
}

}  // namespace
