#include <gtest/gtest.h>

#include "hid/IOHIDEvent.h"
#include "hid/mach_time.h"

namespace {

TEST(HIDEvent, HandEventRecordsEveryField) {
  AbsoluteTime now = mach_absolute_time();
  IOHIDEventRef hand = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, now, kIOHIDDigitizerTransducerTypeHand, 0, 0,
                                                      kIOHIDDigitizerEventTouch, 0, 0, 0, 0, 0, 0, false, true, 0);
  ASSERT_NE(hand, nullptr);
  IOHIDEventSetIntegerValue(hand, kIOHIDEventFieldDigitizerIsDisplayIntegrated, 1);
  EXPECT_EQ(IOHIDEventGetType(hand), kIOHIDEventTypeDigitizer);
  EXPECT_EQ(IOHIDEventGetTimeStamp(hand), now);
  EXPECT_EQ(IOHIDEventGetAllocator(hand), kCFAllocatorDefault);
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, kIOHIDEventFieldDigitizerType), 3);
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, kIOHIDEventFieldDigitizerEventMask), 2);
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, kIOHIDEventFieldDigitizerRange), 0);
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, kIOHIDEventFieldDigitizerTouch), 1);
  EXPECT_EQ(IOHIDEventGetIntegerValue(hand, 0x000B0019), 1);
  EXPECT_TRUE(IOHIDEventGetChildren(hand).empty());
  CFRelease(hand);
}

TEST(HIDEvent, FingerChildrenKeepTheirFieldsAndOrder) {
  IOHIDEventRef hand = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, 42, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, false, true, 0);
  for (std::uint32_t i = 1; i <= 2; ++i) {
    IOHIDEventRef finger = IOHIDEventCreateDigitizerFingerEventWithQuality(
        kCFAllocatorDefault, 42, i, 2, i == 1 ? 4u : 3u, 10.5 * i, 20.25 * i, 0, 0, 0, 5.0, 5.0, 1.0, 1.0, 1.0,
        i == 1, i == 1, 0);
    IOHIDEventAppendEvent(hand, finger);
    EXPECT_EQ(CFGetRetainCount(finger), 2);  // the creator's and the parent's
    CFRelease(finger);
  }
  auto children = IOHIDEventGetChildren(hand);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[0], kIOHIDEventFieldDigitizerIndex), 1);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[1], kIOHIDEventFieldDigitizerIndex), 2);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[0], kIOHIDEventFieldDigitizerIdentity), 2);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[0], kIOHIDEventFieldDigitizerEventMask), 4);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[1], kIOHIDEventFieldDigitizerEventMask), 3);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[1], kIOHIDEventFieldDigitizerX), 21.0);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[1], kIOHIDEventFieldDigitizerY), 40.5);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[0], kIOHIDEventFieldDigitizerMajorRadius), 5.0);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[0], kIOHIDEventFieldDigitizerMinorRadius), 5.0);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[0], kIOHIDEventFieldDigitizerQuality), 1.0);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[0], kIOHIDEventFieldDigitizerDensity), 1.0);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[0], kIOHIDEventFieldDigitizerIrregularity), 1.0);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[0], kIOHIDEventFieldDigitizerRange), 1);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[1], kIOHIDEventFieldDigitizerTouch), 0);
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[1], kIOHIDEventFieldDigitizerType), kIOHIDDigitizerTransducerTypeFinger);
  EXPECT_EQ(IOHIDEventGetParent(children[0]), hand);
  // Integer and float views of a field convert.
  EXPECT_EQ(IOHIDEventGetIntegerValue(children[1], kIOHIDEventFieldDigitizerX), 21);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(children[1], kIOHIDEventFieldDigitizerIndex), 2.0);
  CFRelease(hand);
}

TEST(HIDEvent, ChildOutlivesParentWhenRetained) {
  IOHIDEventRef hand = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, 1, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, false, true, 0);
  IOHIDEventRef finger = IOHIDEventCreateDigitizerFingerEventWithQuality(kCFAllocatorDefault, 1, 1, 2, 3, 1, 2, 0, 0, 0,
                                                                         5, 5, 1, 1, 1, true, true, 0);
  IOHIDEventAppendEvent(hand, finger);
  IOHIDEventAppendEvent(hand, hand);     // ignored
  IOHIDEventAppendEvent(nullptr, finger);  // ignored
  EXPECT_EQ(IOHIDEventGetChildren(hand).size(), 1u);
  CFRelease(hand);
  EXPECT_EQ(CFGetRetainCount(finger), 1);
  EXPECT_EQ(IOHIDEventGetParent(finger), nullptr);
  EXPECT_DOUBLE_EQ(IOHIDEventGetFloatValue(finger, kIOHIDEventFieldDigitizerY), 2.0);
  EXPECT_EQ(CFRetain(finger), finger);
  EXPECT_EQ(CFGetRetainCount(finger), 2);
  CFRelease(finger);
  CFRelease(finger);
  CFRelease(nullptr);
  EXPECT_EQ(IOHIDEventGetIntegerValue(nullptr, kIOHIDEventFieldDigitizerIndex), 0);
}

TEST(HIDEvent, AbsoluteTimeIsMonotonicNanoseconds) {
  mach_timebase_info_data_t info{};
  ASSERT_EQ(mach_timebase_info(&info), 0);
  EXPECT_EQ(info.numer, 1u);
  EXPECT_EQ(info.denom, 1u);
  std::uint64_t a = mach_absolute_time();
  std::uint64_t b = mach_absolute_time();
  EXPECT_LE(a, b);
  EXPECT_GT(a, 0u);
}

}  // namespace
