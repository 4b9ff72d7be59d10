// Hooks for tests: read the statistics from another directory laid out like /proc,
// make a query fail, or have it report given values (counters near the 32-bit
// limit, for wrap-around). Every hook holds for the whole process until reset.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "kernel/host_info.h"

namespace kernel::testing {

enum class Query { hostStatistics, processorInfo };

// Reads "meminfo", "vmstat" and "stat" from `directory` instead of /proc.
void setProcRoot(const std::string& directory);
// Makes `query` return `code` (KERN_SUCCESS: answer normally again).
void failQuery(Query query, kern_return_t code);
// host_processor_info reports these records (absent: read the machine's).
void setProcessorTicks(std::optional<std::vector<processor_cpu_load_info>> ticks);
// Adds a later sample: each query takes the oldest queued sample, and the last
// one stays for every query after it.
void queueProcessorTicks(std::vector<processor_cpu_load_info> ticks);
// host_statistics64 reports these statistics (absent: read the machine's).
void setVMStatistics(std::optional<vm_statistics64> statistics);
// Regions handed out by host_processor_info and not yet released.
std::size_t outstandingAllocations();
// Back to the machine's own statistics, with no failures.
void reset();

}  // namespace kernel::testing
