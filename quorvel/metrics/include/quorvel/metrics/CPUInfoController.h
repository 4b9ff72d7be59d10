// Per-processor load: the tick counters are sampled at creation and at every
// calculateCPUUsage, and each call reports the load of the interval since the
// previous sample.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/runloop.h"
#include "kernel/host_info.h"
#include "objc/runtime.h"
#include "quorvel/metrics/CPUInfo.h"
#include "quorvel/metrics/CPULoad.h"
#include "quorvel/metrics/CPULoadFilter.h"

class CPUInfoController : public objc::Object {
  QV_OBJC_DECLARE_CLASS(CPUInfoController)
 public:
  // Takes the first sample.
  CPUInfoController();

  // One load per processor, in processor order, for the interval since the
  // previous sample; the new sample then replaces the previous one. Without a
  // previous sample, or when the query fails, gives as many all-zero loads as
  // cpuInfo() reports active processors (none without cpuInfo).
  std::vector<std::shared_ptr<CPULoad>> calculateCPUUsage();

  host_t host() const { return host_; }
  processor_set_name_t processorSet() const { return processorSet_; }
  // Processors in the previous sample; absent when there is none.
  std::optional<std::size_t> priorProcessorCount() const;

  std::shared_ptr<CPUInfo> cpuInfo() const;
  void setCpuInfo(std::shared_ptr<CPUInfo> info);

  // Declared for callers; nothing here uses them.
  objc::weak_id delegate;
  std::vector<std::shared_ptr<CPULoad>> cpuLoadHistory;
  std::shared_ptr<CPULoadFilter> cpuLoadFilter;
  std::uint64_t cpuLoadHistorySize = 0;
  CFRunLoopTimerRef cpuLoadUpdateTimer;

 private:
  std::vector<std::shared_ptr<CPULoad>> fallbackLoads() const;

  mutable std::mutex mutex_;
  std::optional<std::vector<processor_cpu_load_info>> priorCpuTicks_;
  host_t host_ = MACH_PORT_NULL;
  processor_set_name_t processorSet_ = MACH_PORT_NULL;
  std::shared_ptr<CPUInfo> cpuInfo_;
};
