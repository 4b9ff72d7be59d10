// Memory statistics of the device: total physical memory and one measurement of
// how it is used.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "objc/runtime.h"
#include "quorvel/metrics/RAMUsage.h"

class RAMInfoController : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RAMInfoController)
 public:
  // Size of a page as the statistics count them; not asked of the system.
  static constexpr std::uint64_t kPageSize = 4096;

  // The device's physical memory in bytes.
  std::uint64_t getRAMTotal() const;
  // A new measurement, or nullptr when the kernel query fails.
  std::shared_ptr<RAMUsage> getRAMUsage() const;

  // Declared for callers; nothing here uses them.
  objc::weak_id delegate;
  std::vector<std::shared_ptr<RAMUsage>> ramUsageHistory;
};
