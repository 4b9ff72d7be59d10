#include "kernel/testing.h"

#include "internal.h"

namespace kernel::testing {

using detail::KernelState;
using detail::state;

void setProcRoot(const std::string& directory) {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  s.procRoot = directory.empty() ? std::string("/proc") : directory;
  s.lastTicks.clear();
}

void failQuery(Query query, kern_return_t code) {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  (query == Query::hostStatistics ? s.statisticsFailure : s.processorInfoFailure) = code;
}

void setProcessorTicks(std::optional<std::vector<processor_cpu_load_info>> ticks) {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  s.injectedTicks.clear();
  if (ticks) s.injectedTicks.push_back(std::move(*ticks));
}

void queueProcessorTicks(std::vector<processor_cpu_load_info> ticks) {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  s.injectedTicks.push_back(std::move(ticks));
}

void setVMStatistics(std::optional<vm_statistics64> statistics) {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  s.injectedStatistics = statistics;
}

std::size_t outstandingAllocations() {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  return s.allocations.size();
}

void reset() {
  KernelState& s = state();
  std::lock_guard lock(s.mutex);
  s.procRoot = "/proc";
  s.statisticsFailure = KERN_SUCCESS;
  s.processorInfoFailure = KERN_SUCCESS;
  s.injectedTicks.clear();
  s.injectedStatistics.reset();
  s.lastTicks.clear();
}

}  // namespace kernel::testing
