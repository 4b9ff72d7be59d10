// One memory measurement of the whole device.
#pragma once

#include <cstdint>

#include "objc/runtime.h"

class RAMUsage : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RAMUsage)
 public:
  std::uint64_t usedRam = 0;      // active + inactive + wired, bytes
  std::uint64_t activeRam = 0;    // bytes
  std::uint64_t inactiveRam = 0;  // bytes
  std::uint64_t wiredRam = 0;     // bytes
  std::uint64_t freeRam = 0;      // physical memory - usedRam, bytes
  std::uint64_t pageIns = 0;      // a count
  std::uint64_t pageOuts = 0;     // a count
  std::uint64_t pageFaults = 0;   // a count
};
