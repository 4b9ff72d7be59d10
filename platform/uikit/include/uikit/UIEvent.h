// Events. The application reuses one touches event for every touch delivery: its
// touches are cleared and added again with the private operations below, and it
// carries the digitizer record (IOHIDEventRef) of the touches it holds.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "hid/IOHIDEvent.h"
#include "objc/runtime.h"

class UITouch;
class UIView;
class UIWindow;

enum UIEventType : long {
  UIEventTypeTouches = 0,
  UIEventTypeMotion = 1,
  UIEventTypeRemoteControl = 2,
  UIEventTypePresses = 3,
};

enum UIEventSubtype : long {
  UIEventSubtypeNone = 0,
};

class UIEvent : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIEvent)
 public:
  explicit UIEvent(UIEventType type = UIEventTypeTouches, UIEventSubtype subtype = UIEventSubtypeNone);
  ~UIEvent() override;

  UIEventType type() const;
  UIEventSubtype subtype() const;
  double timestamp() const;  // seconds of system uptime
  // The touches of the event in the order added (no duplicates).
  std::vector<std::shared_ptr<UITouch>> allTouches() const;
  std::vector<std::shared_ptr<UITouch>> touchesForView(const std::shared_ptr<UIView>& view) const;
  std::vector<std::shared_ptr<UITouch>> touchesForWindow(const std::shared_ptr<UIWindow>& window) const;

  // Private operations of the platform's event.
  void _setHIDEvent(IOHIDEventRef event);  // retains the new record, releases the old
  IOHIDEventRef _hidEvent() const;         // borrowed
  void _setGSEvent(const objc::id& record);
  objc::id _gsEvent() const;
  void _setTimestamp(double timestamp);
  void _clearTouches();
  void _addTouch(const std::shared_ptr<UITouch>& touch, bool forDelayedDelivery);

  std::string description() const override;

 private:
  mutable std::mutex mutex_;
  UIEventType type_;
  UIEventSubtype subtype_;
  double timestamp_ = 0;
  std::vector<std::shared_ptr<UITouch>> touches_;
  IOHIDEventRef hidEvent_ = nullptr;
  objc::id gsEvent_;
};
