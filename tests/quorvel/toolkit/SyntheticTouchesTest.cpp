// Synthetic touches and the platform records they carry, on the three ranges of
// platform versions (before 8.0, 8.x, 9.0 and later).
#include <gtest/gtest.h>

#include <cstring>

#include "foundation/process_info.h"
#include "quorvel/toolkit/IOHIDEvent+Toolkit.h"
#include "quorvel/toolkit/UIEvent+ToolkitAdditions.h"
#include "quorvel/toolkit/UITouch+ToolkitAdditions.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "uikit/uikit.h"

namespace {

using namespace UITouch_ToolkitAdditions;

template <class T>
T at(const TKGSEventProxy& proxy, std::size_t offset) {
  T value;
  std::memcpy(&value, proxy.bytes() + offset, sizeof value);
  return value;
}

class SyntheticTouchesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
    panel = std::make_shared<UIView>(CGRectMake(10, 100, 300, 200));
    button = std::make_shared<UIButton>(CGRectMake(20, 30, 100, 40));
    panel->addSubview(button);
    window->addSubview(panel);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    NSProcessInfo::setOperatingSystemVersion({16, 0, 0});
    window->setHidden(true);
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIView> panel;
  std::shared_ptr<UIButton> button;
};

TEST_F(SyntheticTouchesTest, ATouchLooksLikeAFingersAndOnlyNineAndLaterGiveItItsOwnRecord) {
  for (long major : {7L, 8L, 9L}) {
    SCOPED_TRACE(major);
    NSProcessInfo::setOperatingSystemVersion({major, 4, 0});
    double before = NSProcessInfo::processInfo()->systemUptime();
    // (30.25, 50.5) in the panel is inside the button, at (40.25, 150.5) in the window.
    auto touch = initAtPointInView({30.25, 50.5}, panel);
    EXPECT_EQ(touch->window(), window);
    EXPECT_EQ(touch->locationInView(nullptr), CGPointMake(40.25, 150.5));
    EXPECT_EQ(touch->previousLocationInView(nullptr), CGPointMake(40.25, 150.5));
    EXPECT_EQ(touch->view(), button);
    EXPECT_EQ(touch->gestureView(), button);
    EXPECT_GE(touch->timestamp(), before);

    IOHIDEventRef own = touch->_hidEvent();
    EXPECT_EQ(own != nullptr, major >= 9);
    if (own) {
      ASSERT_EQ(IOHIDEventGetChildren(own).size(), 1u);
      EXPECT_EQ(IOHIDEventGetFloatValue(IOHIDEventGetChildren(own)[0], kIOHIDEventFieldDigitizerX), 40.25);
    }

    // A location change keeps the previous one and refreshes the timestamp first.
    double began = touch->timestamp();
    setLocationInWindow(touch, {60, 160});
    EXPECT_EQ(touch->previousLocationInView(nullptr), CGPointMake(40.25, 150.5));
    EXPECT_GE(touch->timestamp(), began);
    setPhaseAndUpdateTimestamp(touch, UITouchPhaseMoved);
    EXPECT_EQ(touch->phase(), UITouchPhaseMoved);
    // The record made at creation is not rebuilt by later changes.
    EXPECT_EQ(touch->_hidEvent(), own);
  }

  // A point over nothing: a touch without view; a view in no window: no window.
  auto outside = initAtPointInWindow({-100, -200}, window);
  EXPECT_EQ(outside->view(), nullptr);
  EXPECT_EQ(outside->gestureView(), nullptr);
  EXPECT_EQ(initAtPointInView({5, 5}, std::make_shared<UIView>(CGRectMake(0, 0, 10, 10)))->window(), nullptr);
  // initInView aims at half the frame size, in the view's own coordinates.
  EXPECT_EQ(initInView(button)->locationInView(nullptr), CGPointMake(10 + 20 + 50, 100 + 30 + 20));
}

TEST_F(SyntheticTouchesTest, TheDigitizerRecordHasAFingerPerListedTouchByPhase) {
  auto moved = initAtPointInWindow({40, 150}, window);
  setLocationInWindow(moved, {45.5, 155});
  setPhaseAndUpdateTimestamp(moved, UITouchPhaseMoved);
  auto ended = initAtPointInWindow({200, 400}, window);
  setPhaseAndUpdateTimestamp(ended, UITouchPhaseEnded);
  auto still = initAtPointInWindow({300, 500}, window);
  setPhaseAndUpdateTimestamp(still, UITouchPhaseStationary);

  // The moved touch is listed twice: both of its fingers carry its first index.
  IOHIDEventRef hand = tk_IOHIDEventWithTouches({moved, ended, moved, still});
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, kIOHIDEventFieldDigitizerType), kIOHIDDigitizerTransducerTypeHand);
  EXPECT_EQ(CFGetRetainCount(hand), 1);  // the caller's reference only

  struct Expected {
    CFIndex index, mask, rangeAndTouch;
    CGPoint location;
  };
  const Expected expected[] = {{1, 4, 1, {45.5, 155}}, {2, 3, 0, {200, 400}}, {1, 4, 1, {45.5, 155}},
                               {4, 3, 1, {300, 500}}};
  auto fingers = IOHIDEventGetChildren(hand);
  ASSERT_EQ(fingers.size(), 4u);
  for (std::size_t i = 0; i < fingers.size(); ++i) {
    SCOPED_TRACE(i);
    IOHIDEventRef f = fingers[i];
    EXPECT_EQ(IOHIDEventGetTimeStamp(f), IOHIDEventGetTimeStamp(hand));
    EXPECT_EQ(IOHIDEventGetIntegerValue(f, kIOHIDEventFieldDigitizerIndex), expected[i].index);
    EXPECT_EQ(IOHIDEventGetIntegerValue(f, kIOHIDEventFieldDigitizerEventMask), expected[i].mask);
    EXPECT_EQ(IOHIDEventGetIntegerValue(f, kIOHIDEventFieldDigitizerRange), expected[i].rangeAndTouch);
    EXPECT_EQ(IOHIDEventGetIntegerValue(f, kIOHIDEventFieldDigitizerTouch), expected[i].rangeAndTouch);
    EXPECT_EQ(IOHIDEventGetFloatValue(f, kIOHIDEventFieldDigitizerX), expected[i].location.x);
    EXPECT_EQ(IOHIDEventGetFloatValue(f, kIOHIDEventFieldDigitizerY), expected[i].location.y);
  }
  CFRelease(hand);

  IOHIDEventRef empty = tk_IOHIDEventWithTouches({});
  EXPECT_TRUE(IOHIDEventGetChildren(empty).empty());
  CFRelease(empty);
}

TEST_F(SyntheticTouchesTest, TheSharedEventCarriesTheRecordOfItsPlatformAndOnlyTheLastTouches) {
  auto event = UIApplication::sharedApplication()->_touchesEvent();
  auto first = initAtPointInWindow({100.3, 200.7}, window);
  auto second = initAtPointInWindow({10, 20}, window);

  // 8.x: a digitizer record on the event, none on the touch.
  NSProcessInfo::setOperatingSystemVersion({8, 0, 0});
  auto touch = initAtPointInWindow({30, 40}, window);
  EXPECT_EQ(touch->_hidEvent(), nullptr);
  EXPECT_EQ(UIView_ToolkitAdditions::eventWithTouches(panel, {first, second}), event);
  EXPECT_EQ(event->allTouches(), (std::vector<std::shared_ptr<UITouch>>{first, second}));
  ASSERT_NE(event->_hidEvent(), nullptr);
  EXPECT_EQ(IOHIDEventGetChildren(event->_hidEvent()).size(), 2u);
  // A second preparation leaves only its own touches.
  UIView_ToolkitAdditions::eventWithTouch(panel, touch);
  EXPECT_EQ(event->allTouches(), (std::vector<std::shared_ptr<UITouch>>{touch}));
  EXPECT_EQ(IOHIDEventGetChildren(event->_hidEvent()).size(), 1u);
  UIView_ToolkitAdditions::eventWithTouch(panel, nullptr);
  EXPECT_TRUE(event->allTouches().empty());
  EXPECT_TRUE(IOHIDEventGetChildren(event->_hidEvent()).empty());

  // Before 8.0: the legacy record of the first touch alone, byte for byte.
  NSProcessInfo::setOperatingSystemVersion({7, 1, 2});
  IOHIDEventRef kept = event->_hidEvent();
  UIView_ToolkitAdditions::eventWithTouches(panel, {first, second});
  EXPECT_EQ(event->_hidEvent(), kept);
  EXPECT_EQ(event->timestamp(), first->timestamp());
  auto proxy = objc::cast<TKGSEventProxy>(event->_gsEvent());
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->className(), "TKGSEventProxy");
  EXPECT_EQ(at<const void*>(*proxy, 0), static_cast<const void*>(TKGSEventProxy::classObject()));
  EXPECT_EQ(at<std::uint32_t>(*proxy, 8), 0x03010180u);
  EXPECT_EQ(at<std::uint32_t>(*proxy, 12), 3001u);
  for (std::size_t offset : {20, 28, 112}) EXPECT_EQ(at<float>(*proxy, offset), 100.3f) << offset;
  for (std::size_t offset : {24, 32, 116}) EXPECT_EQ(at<float>(*proxy, offset), 200.7f) << offset;
  EXPECT_EQ(at<float>(*proxy, 104), 1.0f);
  EXPECT_EQ(at<float>(*proxy, 108), 1.0f);
  for (auto [from, to] : {std::pair<std::size_t, std::size_t>{16, 20}, {36, 104}, {120, 132}}) {
    for (std::size_t i = from; i < to; ++i) EXPECT_EQ(proxy->bytes()[i], std::byte{0}) << i;
  }
  setPhaseAndUpdateTimestamp(first, UITouchPhaseEnded);
  UIView_ToolkitAdditions::eventWithTouch(panel, first);
  EXPECT_EQ(at<std::uint32_t>(*objc::cast<TKGSEventProxy>(event->_gsEvent()), 8), 0x01010180u);
  // With no touch there is nothing to describe: no stale record of the last one.
  UIView_ToolkitAdditions::eventWithTouch(panel, nullptr);
  EXPECT_EQ(event->_gsEvent(), nullptr);
  EXPECT_TRUE(event->allTouches().empty());
}

}  // namespace
