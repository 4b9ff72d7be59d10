// State shared by the kernel's sources: configuration set by the test hooks, the
// last counters seen for each processor and the regions handed out to callers.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kernel/host_info.h"

namespace kernel::detail {

inline constexpr host_t kHostPort = 0x0B03;
inline constexpr vm_map_t kTaskPort = 0x0203;
inline constexpr processor_set_name_t kDefaultProcessorSet = 0x0C03;

struct KernelState {
  std::mutex mutex;
  std::string procRoot = "/proc";
  kern_return_t statisticsFailure = KERN_SUCCESS;
  kern_return_t processorInfoFailure = KERN_SUCCESS;
  // Injected samples, oldest first; empty when the machine's are read.
  std::deque<std::vector<processor_cpu_load_info>> injectedTicks;
  std::optional<vm_statistics64> injectedStatistics;
  // Last counters read for each processor index; an offline processor keeps them.
  std::vector<processor_cpu_load_info> lastTicks;
  std::map<vm_address_t, vm_size_t> allocations;
};

// Lives until the very end of the process.
KernelState& state();

// Readers of the /proc files under `root`; false when a file cannot be read or
// lacks what the statistics need.
bool readVMStatistics(const std::string& root, vm_statistics64& out);
bool readProcessorTicks(const std::string& root, std::vector<processor_cpu_load_info>& lastTicks);

}  // namespace kernel::detail
