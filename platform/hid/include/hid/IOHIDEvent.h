// Digitizer event records: a parent event (for example a hand) with child events
// (fingers), each a set of numbered integer and floating-point fields. Records are
// reference counted: the creator owns one reference, IOHIDEventAppendEvent and
// every holder (a touch, an event) take their own, CFRelease drops one.
#pragma once

#include <cstdint>
#include <vector>

using CFTypeRef = const void*;
using CFAllocatorRef = const void*;
using CFIndex = long;
using Boolean = bool;
using AbsoluteTime = std::uint64_t;  // ticks of mach_absolute_time()
using IOOptionBits = std::uint32_t;
using IOHIDFloat = double;

extern const CFAllocatorRef kCFAllocatorDefault;

struct __IOHIDEvent;
using IOHIDEventRef = __IOHIDEvent*;

// Reference counting of the platform's counted records (IOHIDEventRef). CFRetain
// returns its argument; CFRelease frees the record when the last reference goes.
// Both ignore nullptr.
CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);

using IOHIDEventType = std::uint32_t;
enum : IOHIDEventType {
  kIOHIDEventTypeNULL = 0,
  kIOHIDEventTypeDigitizer = 11,
};

// Field numbers: the event type in the high 16 bits, the field index in the low.
using IOHIDEventField = std::uint32_t;
#define IOHIDEventFieldBase(type) ((type) << 16)
enum : IOHIDEventField {
  kIOHIDEventFieldDigitizerX = IOHIDEventFieldBase(kIOHIDEventTypeDigitizer),
  kIOHIDEventFieldDigitizerY,
  kIOHIDEventFieldDigitizerZ,
  kIOHIDEventFieldDigitizerButtonMask,
  kIOHIDEventFieldDigitizerType,  // transducer type
  kIOHIDEventFieldDigitizerIndex,
  kIOHIDEventFieldDigitizerIdentity,
  kIOHIDEventFieldDigitizerEventMask,
  kIOHIDEventFieldDigitizerRange,
  kIOHIDEventFieldDigitizerTouch,
  kIOHIDEventFieldDigitizerPressure,  // tip pressure
  kIOHIDEventFieldDigitizerAuxiliaryPressure,  // barrel pressure
  kIOHIDEventFieldDigitizerTwist,
  kIOHIDEventFieldDigitizerTiltX,
  kIOHIDEventFieldDigitizerTiltY,
  kIOHIDEventFieldDigitizerAltitude,
  kIOHIDEventFieldDigitizerAzimuth,
  kIOHIDEventFieldDigitizerQuality,
  kIOHIDEventFieldDigitizerDensity,
  kIOHIDEventFieldDigitizerIrregularity,
  kIOHIDEventFieldDigitizerMajorRadius,
  kIOHIDEventFieldDigitizerMinorRadius,
  kIOHIDEventFieldDigitizerCollection,
  kIOHIDEventFieldDigitizerCollectionChord,
  kIOHIDEventFieldDigitizerChildEventMask,
  kIOHIDEventFieldDigitizerIsDisplayIntegrated,  // 0x000B0019
};
static_assert(kIOHIDEventFieldDigitizerIsDisplayIntegrated == 0x000B0019);

enum : std::uint32_t {
  kIOHIDDigitizerTransducerTypeStylus = 0,
  kIOHIDDigitizerTransducerTypePuck = 1,
  kIOHIDDigitizerTransducerTypeFinger = 2,
  kIOHIDDigitizerTransducerTypeHand = 3,
};

enum : std::uint32_t {
  kIOHIDDigitizerEventRange = 1u << 0,
  kIOHIDDigitizerEventTouch = 1u << 1,
  kIOHIDDigitizerEventPosition = 1u << 2,
};

IOHIDEventRef IOHIDEventCreateDigitizerEvent(CFAllocatorRef allocator, AbsoluteTime timeStamp,
                                             std::uint32_t transducerType, std::uint32_t index,
                                             std::uint32_t identity, std::uint32_t eventMask,
                                             std::uint32_t buttonMask, IOHIDFloat x, IOHIDFloat y,
                                             IOHIDFloat z, IOHIDFloat tipPressure,
                                             IOHIDFloat barrelPressure, Boolean range, Boolean touch,
                                             IOOptionBits options);

IOHIDEventRef IOHIDEventCreateDigitizerFingerEventWithQuality(
    CFAllocatorRef allocator, AbsoluteTime timeStamp, std::uint32_t index, std::uint32_t identity,
    std::uint32_t eventMask, IOHIDFloat x, IOHIDFloat y, IOHIDFloat z, IOHIDFloat tipPressure,
    IOHIDFloat twist, IOHIDFloat minorRadius, IOHIDFloat majorRadius, IOHIDFloat quality,
    IOHIDFloat density, IOHIDFloat irregularity, Boolean range, Boolean touch, IOOptionBits options);

// Appends `child` to `parent`'s children, retaining it. Ignores nullptr arguments
// and an attempt to append an event to itself.
void IOHIDEventAppendEvent(IOHIDEventRef parent, IOHIDEventRef child);

// Field access. Integer fields read as floats and float fields read as integers
// (truncated); a field never set reads 0.
void IOHIDEventSetIntegerValue(IOHIDEventRef event, IOHIDEventField field, CFIndex value);
CFIndex IOHIDEventGetIntegerValue(IOHIDEventRef event, IOHIDEventField field);
void IOHIDEventSetFloatValue(IOHIDEventRef event, IOHIDEventField field, IOHIDFloat value);
IOHIDFloat IOHIDEventGetFloatValue(IOHIDEventRef event, IOHIDEventField field);

IOHIDEventType IOHIDEventGetType(IOHIDEventRef event);
AbsoluteTime IOHIDEventGetTimeStamp(IOHIDEventRef event);
IOOptionBits IOHIDEventGetEventFlags(IOHIDEventRef event);  // the creation options
CFAllocatorRef IOHIDEventGetAllocator(IOHIDEventRef event);
// The children in append order. The references are borrowed: they stay valid while
// the parent holds them.
std::vector<IOHIDEventRef> IOHIDEventGetChildren(IOHIDEventRef event);
// The parent an event was appended to (borrowed), or nullptr.
IOHIDEventRef IOHIDEventGetParent(IOHIDEventRef event);
