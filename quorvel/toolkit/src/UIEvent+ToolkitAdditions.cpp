#include "quorvel/toolkit/UIEvent+ToolkitAdditions.h"

#include "PlatformVersion.h"
#include "quorvel/toolkit/IOHIDEvent+Toolkit.h"
#include "uikit/UIEvent.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(TKGSEventProxy, objc::Object)

TKGSEventProxy::TKGSEventProxy() { record.isa = classObject(); }

namespace UIEvent_ToolkitAdditions {

void tk_setEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches) {
  if (toolkit_internal::isOperatingSystemAtLeast(8)) {
    tk_setIOHIDEventWithTouches(event, touches);
  } else {
    tk_setGSEventWithTouches(event, touches);
  }
}

void tk_setIOHIDEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches) {
  IOHIDEventRef record = tk_IOHIDEventWithTouches(touches);
  event->_setHIDEvent(record);
  CFRelease(record);
}

void tk_setGSEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches) {
  const std::shared_ptr<UITouch> touch = touches.empty() ? nullptr : touches.front();
  if (!touch) {
    // Nothing to describe: an earlier touch's record must not pose as this one.
    event->_setGSEvent(nullptr);
    return;
  }
  auto proxy = std::make_shared<TKGSEventProxy>();
  TKGSEventRecord& r = proxy->record;
  const CGPoint location = touch->locationInView(touch->window());
  const auto x = static_cast<float>(location.x);
  const auto y = static_cast<float>(location.y);
  r.flags = touch->phase() == UITouchPhaseEnded ? 0x01010180u : 0x03010180u;
  r.type = 3001;
  r.x1 = r.x2 = r.x3 = x;
  r.y1 = r.y2 = r.y3 = y;
  r.sizeX = r.sizeY = 1.0f;
  event->_setGSEvent(proxy);
  event->_setTimestamp(touch->timestamp());
}

}  // namespace UIEvent_ToolkitAdditions
