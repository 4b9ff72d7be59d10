#include "hid/IOHIDEvent.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <variant>

// The allocator argument is recorded but memory always comes from the C++ heap.
static const char kDefaultAllocatorTag = 0;
const CFAllocatorRef kCFAllocatorDefault = &kDefaultAllocatorTag;

struct __IOHIDEvent {
  std::atomic<CFIndex> retainCount{1};
  CFAllocatorRef allocator = nullptr;
  IOHIDEventType type = kIOHIDEventTypeNULL;
  AbsoluteTime timeStamp = 0;
  IOOptionBits options = 0;

  mutable std::mutex mutex;
  std::map<IOHIDEventField, std::variant<CFIndex, IOHIDFloat>> fields;
  std::vector<IOHIDEventRef> children;  // each holds one reference
  IOHIDEventRef parent = nullptr;       // not retained; cleared when the parent goes

  ~__IOHIDEvent() {
    std::vector<IOHIDEventRef> owned;
    {
      std::lock_guard lock(mutex);
      owned.swap(children);
    }
    for (IOHIDEventRef child : owned) {
      {
        std::lock_guard lock(child->mutex);
        if (child->parent == this) child->parent = nullptr;
      }
      CFRelease(child);
    }
  }
};

CFTypeRef CFRetain(CFTypeRef object) {
  if (object) {
    auto* event = const_cast<__IOHIDEvent*>(static_cast<const __IOHIDEvent*>(object));
    event->retainCount.fetch_add(1, std::memory_order_relaxed);
  }
  return object;
}

void CFRelease(CFTypeRef object) {
  if (!object) return;
  auto* event = const_cast<__IOHIDEvent*>(static_cast<const __IOHIDEvent*>(object));
  if (event->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete event;
}

CFIndex CFGetRetainCount(CFTypeRef object) {
  if (!object) return 0;
  return static_cast<const __IOHIDEvent*>(object)->retainCount.load(std::memory_order_acquire);
}

namespace {

IOHIDEventRef makeDigitizer(CFAllocatorRef allocator, AbsoluteTime timeStamp, IOOptionBits options) {
  auto* event = new __IOHIDEvent;
  event->allocator = allocator;
  event->type = kIOHIDEventTypeDigitizer;
  event->timeStamp = timeStamp;
  event->options = options;
  return event;
}

void setInt(IOHIDEventRef e, IOHIDEventField f, CFIndex v) { e->fields[f] = v; }
void setFloat(IOHIDEventRef e, IOHIDEventField f, IOHIDFloat v) { e->fields[f] = v; }

}  // namespace

IOHIDEventRef IOHIDEventCreateDigitizerEvent(CFAllocatorRef allocator, AbsoluteTime timeStamp,
                                             std::uint32_t transducerType, std::uint32_t index,
                                             std::uint32_t identity, std::uint32_t eventMask,
                                             std::uint32_t buttonMask, IOHIDFloat x, IOHIDFloat y,
                                             IOHIDFloat z, IOHIDFloat tipPressure,
                                             IOHIDFloat barrelPressure, Boolean range, Boolean touch,
                                             IOOptionBits options) {
  IOHIDEventRef e = makeDigitizer(allocator, timeStamp, options);
  setInt(e, kIOHIDEventFieldDigitizerType, transducerType);
  setInt(e, kIOHIDEventFieldDigitizerIndex, index);
  setInt(e, kIOHIDEventFieldDigitizerIdentity, identity);
  setInt(e, kIOHIDEventFieldDigitizerEventMask, eventMask);
  setInt(e, kIOHIDEventFieldDigitizerButtonMask, buttonMask);
  setFloat(e, kIOHIDEventFieldDigitizerX, x);
  setFloat(e, kIOHIDEventFieldDigitizerY, y);
  setFloat(e, kIOHIDEventFieldDigitizerZ, z);
  setFloat(e, kIOHIDEventFieldDigitizerPressure, tipPressure);
  setFloat(e, kIOHIDEventFieldDigitizerAuxiliaryPressure, barrelPressure);
  setInt(e, kIOHIDEventFieldDigitizerRange, range ? 1 : 0);
  setInt(e, kIOHIDEventFieldDigitizerTouch, touch ? 1 : 0);
  return e;
}

IOHIDEventRef IOHIDEventCreateDigitizerFingerEventWithQuality(
    CFAllocatorRef allocator, AbsoluteTime timeStamp, std::uint32_t index, std::uint32_t identity,
    std::uint32_t eventMask, IOHIDFloat x, IOHIDFloat y, IOHIDFloat z, IOHIDFloat tipPressure,
    IOHIDFloat twist, IOHIDFloat minorRadius, IOHIDFloat majorRadius, IOHIDFloat quality,
    IOHIDFloat density, IOHIDFloat irregularity, Boolean range, Boolean touch, IOOptionBits options) {
  // A finger is a digitizer record without buttons or barrel, plus its contact shape.
  IOHIDEventRef e = IOHIDEventCreateDigitizerEvent(allocator, timeStamp, kIOHIDDigitizerTransducerTypeFinger, index,
                                                   identity, eventMask, 0, x, y, z, tipPressure, 0, range, touch,
                                                   options);
  setFloat(e, kIOHIDEventFieldDigitizerTwist, twist);
  setFloat(e, kIOHIDEventFieldDigitizerMinorRadius, minorRadius);
  setFloat(e, kIOHIDEventFieldDigitizerMajorRadius, majorRadius);
  setFloat(e, kIOHIDEventFieldDigitizerQuality, quality);
  setFloat(e, kIOHIDEventFieldDigitizerDensity, density);
  setFloat(e, kIOHIDEventFieldDigitizerIrregularity, irregularity);
  return e;
}

void IOHIDEventAppendEvent(IOHIDEventRef parent, IOHIDEventRef child) {
  if (!parent || !child || parent == child) return;
  CFRetain(child);
  {
    std::lock_guard lock(child->mutex);
    child->parent = parent;
  }
  std::lock_guard lock(parent->mutex);
  parent->children.push_back(child);
}

void IOHIDEventSetIntegerValue(IOHIDEventRef event, IOHIDEventField field, CFIndex value) {
  if (!event) return;
  std::lock_guard lock(event->mutex);
  event->fields[field] = value;
}

namespace {

// A field read as `T`, converted from the other kind when it was set as that; 0
// when the field was never set.
template <class T>
T fieldValue(IOHIDEventRef event, IOHIDEventField field) {
  if (!event) return 0;
  std::lock_guard lock(event->mutex);
  auto it = event->fields.find(field);
  if (it == event->fields.end()) return 0;
  return std::visit([](auto value) { return static_cast<T>(value); }, it->second);
}

}  // namespace

CFIndex IOHIDEventGetIntegerValue(IOHIDEventRef event, IOHIDEventField field) {
  return fieldValue<CFIndex>(event, field);
}

void IOHIDEventSetFloatValue(IOHIDEventRef event, IOHIDEventField field, IOHIDFloat value) {
  if (!event) return;
  std::lock_guard lock(event->mutex);
  event->fields[field] = value;
}

IOHIDFloat IOHIDEventGetFloatValue(IOHIDEventRef event, IOHIDEventField field) {
  return fieldValue<IOHIDFloat>(event, field);
}

IOHIDEventType IOHIDEventGetType(IOHIDEventRef event) { return event ? event->type : kIOHIDEventTypeNULL; }
AbsoluteTime IOHIDEventGetTimeStamp(IOHIDEventRef event) { return event ? event->timeStamp : 0; }
IOOptionBits IOHIDEventGetEventFlags(IOHIDEventRef event) { return event ? event->options : 0; }
CFAllocatorRef IOHIDEventGetAllocator(IOHIDEventRef event) { return event ? event->allocator : nullptr; }

std::vector<IOHIDEventRef> IOHIDEventGetChildren(IOHIDEventRef event) {
  if (!event) return {};
  std::lock_guard lock(event->mutex);
  return event->children;
}

IOHIDEventRef IOHIDEventGetParent(IOHIDEventRef event) {
  if (!event) return nullptr;
  std::lock_guard lock(event->mutex);
  return event->parent;
}
