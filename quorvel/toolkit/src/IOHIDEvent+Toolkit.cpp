#include "quorvel/toolkit/IOHIDEvent+Toolkit.h"

#include <algorithm>

#include "hid/mach_time.h"
#include "uikit/UIWindow.h"

IOHIDEventRef tk_IOHIDEventWithTouches(const TKTouchList& touches) {
  const AbsoluteTime timeStamp = mach_absolute_time();
  IOHIDEventRef hand = IOHIDEventCreateDigitizerEvent(kCFAllocatorDefault, timeStamp, kIOHIDDigitizerTransducerTypeHand,
                                                      0, 0, kIOHIDDigitizerEventTouch, 0, 0, 0, 0, 0, 0, false, true, 0);
  IOHIDEventSetIntegerValue(hand, kIOHIDEventFieldDigitizerIsDisplayIntegrated, 1);
  for (const auto& touch : touches) {
    if (!touch) continue;
    const UITouchPhase phase = touch->phase();
    const std::uint32_t eventMask = phase == UITouchPhaseMoved ? kIOHIDDigitizerEventPosition
                                                               : (kIOHIDDigitizerEventRange | kIOHIDDigitizerEventTouch);
    const bool rangeAndTouch = phase != UITouchPhaseEnded;
    const CGPoint location = touch->locationInView(touch->window());
    // A touch listed twice keeps the index of its first place.
    const auto first = std::find(touches.begin(), touches.end(), touch);
    const auto index = static_cast<std::uint32_t>(first - touches.begin()) + 1;
    IOHIDEventRef finger = IOHIDEventCreateDigitizerFingerEventWithQuality(
        kCFAllocatorDefault, timeStamp, index, 2, eventMask, location.x, location.y, 0, 0, 0, 5.0, 5.0, 1.0, 1.0, 1.0,
        rangeAndTouch, rangeAndTouch, 0);
    IOHIDEventSetIntegerValue(finger, kIOHIDEventFieldDigitizerIsDisplayIntegrated, 1);
    IOHIDEventAppendEvent(hand, finger);
    CFRelease(finger);
  }
  return hand;
}
