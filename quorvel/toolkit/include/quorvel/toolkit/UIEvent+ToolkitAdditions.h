// The event extension of the toolkit: the platform record that a touches event
// carries for synthetic touches, chosen by the platform version. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "objc/runtime.h"
#include "quorvel/toolkit/UITouch+ToolkitAdditions.h"

class UIEvent;

// The record that the event path of platforms before 8.0 reads, byte for byte: an
// object whose first 8 bytes are its class pointer, followed by these fields.
struct TKGSEventRecord {
  const void* isa = nullptr;
  std::uint32_t flags = 0;     // 0x01010180 once the touch ended, else 0x03010180
  std::uint32_t type = 0;      // 3001
  std::uint32_t ignored1 = 0;
  float x1 = 0, y1 = 0;
  float x2 = 0, y2 = 0;
  std::uint32_t ignored2[10] = {};
  std::uint32_t ignored3[7] = {};
  float sizeX = 0, sizeY = 0;  // 1.0 each
  float x3 = 0, y3 = 0;
  std::uint32_t ignored4[3] = {};
};
static_assert(std::is_standard_layout_v<TKGSEventRecord>);
static_assert(sizeof(void*) == 8, "the legacy record's class pointer takes 8 bytes");
static_assert(offsetof(TKGSEventRecord, flags) == 8);
static_assert(offsetof(TKGSEventRecord, type) == 12);
static_assert(offsetof(TKGSEventRecord, ignored1) == 16);
static_assert(offsetof(TKGSEventRecord, x1) == 20);
static_assert(offsetof(TKGSEventRecord, y1) == 24);
static_assert(offsetof(TKGSEventRecord, x2) == 28);
static_assert(offsetof(TKGSEventRecord, y2) == 32);
static_assert(offsetof(TKGSEventRecord, ignored2) == 36);
static_assert(offsetof(TKGSEventRecord, ignored3) == 76);
static_assert(offsetof(TKGSEventRecord, sizeX) == 104);
static_assert(offsetof(TKGSEventRecord, sizeY) == 108);
static_assert(offsetof(TKGSEventRecord, x3) == 112);
static_assert(offsetof(TKGSEventRecord, y3) == 116);
static_assert(offsetof(TKGSEventRecord, ignored4) == 120);
static_assert(offsetof(TKGSEventRecord, ignored4) + sizeof(TKGSEventRecord::ignored4) == 132);

// The legacy event object: a plain object carrying the record above, whose class
// pointer is this class.
class TKGSEventProxy : public objc::Object {
  QV_OBJC_DECLARE_CLASS(TKGSEventProxy)
 public:
  TKGSEventProxy();
  TKGSEventRecord record;
  // The record as the legacy path reads it (132 bytes).
  const std::byte* bytes() const { return reinterpret_cast<const std::byte*>(&record); }
  static constexpr std::size_t kRecordLength = 132;
};

namespace UIEvent_ToolkitAdditions {

// Platform 8.0 or later: tk_setIOHIDEventWithTouches; before: tk_setGSEventWithTouches.
void tk_setEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches);
// Attaches the digitizer record of the touches (the event's _setHIDEvent:).
void tk_setIOHIDEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches);
// Attaches a legacy record of the first touch (its location in its window narrowed
// to floats) and takes that touch's timestamp as the event's. Without any touch the
// event is left without a legacy record.
void tk_setGSEventWithTouches(const std::shared_ptr<UIEvent>& event, const TKTouchList& touches);

}  // namespace UIEvent_ToolkitAdditions
