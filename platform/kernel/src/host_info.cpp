#include "kernel/host_info.h"

#include <cstdlib>
#include <cstring>

#include "internal.h"

using namespace kernel::detail;

kern_return_t host_statistics64(host_t host, host_flavor_t flavor, host_info64_t info,
                                mach_msg_type_number_t* count) {
  if (host != kHostPort) return KERN_INVALID_HOST;
  if (flavor != HOST_VM_INFO64 || !info || !count) return KERN_INVALID_ARGUMENT;
  if (*count < HOST_VM_INFO64_COUNT) return KERN_FAILURE;

  vm_statistics64 statistics{};
  {
    KernelState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.statisticsFailure != KERN_SUCCESS) return s.statisticsFailure;
    if (s.injectedStatistics) {
      statistics = *s.injectedStatistics;
    } else if (!readVMStatistics(s.procRoot, statistics)) {
      return KERN_FAILURE;
    }
  }
  std::memcpy(info, &statistics, sizeof statistics);
  *count = HOST_VM_INFO64_COUNT;
  return KERN_SUCCESS;
}

kern_return_t host_processor_info(host_t host, processor_flavor_t flavor, natural_t* processorCount,
                                  processor_info_array_t* info, mach_msg_type_number_t* infoCount) {
  if (host != kHostPort) return KERN_INVALID_HOST;
  if (flavor != PROCESSOR_CPU_LOAD_INFO || !processorCount || !info || !infoCount) return KERN_INVALID_ARGUMENT;

  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  if (s.processorInfoFailure != KERN_SUCCESS) return s.processorInfoFailure;
  std::vector<processor_cpu_load_info> records;
  if (!s.injectedTicks.empty()) {
    records = s.injectedTicks.front();
    if (s.injectedTicks.size() > 1) s.injectedTicks.pop_front();
  } else if (readProcessorTicks(s.procRoot, s.lastTicks)) {
    records = s.lastTicks;
  }
  if (records.empty()) return KERN_FAILURE;

  const vm_size_t bytes = records.size() * sizeof(processor_cpu_load_info);
  void* region = std::malloc(bytes);
  if (!region) return KERN_RESOURCE_SHORTAGE;
  std::memcpy(region, records.data(), bytes);
  s.allocations.emplace(reinterpret_cast<vm_address_t>(region), bytes);

  *processorCount = static_cast<natural_t>(records.size());
  *info = static_cast<processor_info_array_t>(region);
  *infoCount = static_cast<mach_msg_type_number_t>(records.size() * PROCESSOR_CPU_LOAD_INFO_COUNT);
  return KERN_SUCCESS;
}
