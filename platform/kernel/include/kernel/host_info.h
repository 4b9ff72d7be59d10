// Host statistics: the 64-bit virtual-memory counters of the whole machine and the
// per-processor tick counters.
#pragma once

#include <cstdint>

#include "kernel/mach.h"

using host_flavor_t = integer_t;
using host_info64_t = integer_t*;
using processor_flavor_t = int;
using processor_info_array_t = integer_t*;

// host_statistics64 flavour: the 64-bit virtual-memory statistics.
inline constexpr host_flavor_t HOST_VM_INFO64 = 4;

// Page counts are in pages of 4096 bytes; event counts are counts since boot.
struct vm_statistics64 {
  natural_t free_count;      // pages free
  natural_t active_count;    // pages in active use
  natural_t inactive_count;  // pages not recently used, reclaimable
  natural_t wire_count;      // pages that can be neither reclaimed nor paged out
  std::uint64_t zero_fill_count;
  std::uint64_t reactivations;
  std::uint64_t pageins;
  std::uint64_t pageouts;
  std::uint64_t faults;
  std::uint64_t cow_faults;
  std::uint64_t lookups;
  std::uint64_t hits;
  std::uint64_t purges;
  natural_t purgeable_count;
  natural_t speculative_count;
  std::uint64_t decompressions;
  std::uint64_t compressions;
  std::uint64_t swapins;
  std::uint64_t swapouts;
  natural_t compressor_page_count;
  natural_t throttled_count;
  natural_t external_page_count;
  natural_t internal_page_count;
  std::uint64_t total_uncompressed_pages_in_compressor;
};
using vm_statistics64_data_t = vm_statistics64;

// The record's size in 32-bit words.
inline constexpr mach_msg_type_number_t HOST_VM_INFO64_COUNT =
    static_cast<mach_msg_type_number_t>(sizeof(vm_statistics64) / sizeof(integer_t));
static_assert(HOST_VM_INFO64_COUNT == 38);

// Fills `info` (room for *count words) with the statistics of `flavor` and sets
// *count to the words written. KERN_INVALID_HOST for a port that is not the host,
// KERN_INVALID_ARGUMENT for an unknown flavour, KERN_FAILURE when *count is too
// small or the statistics cannot be read.
kern_return_t host_statistics64(host_t host, host_flavor_t flavor, host_info64_t info,
                                mach_msg_type_number_t* count);

// host_processor_info flavour: per-processor load (tick counters).
inline constexpr processor_flavor_t PROCESSOR_CPU_LOAD_INFO = 2;

// Tick counters, indexed by state in this order. Each counter is 32 bits wide and
// wraps around.
inline constexpr int CPU_STATE_USER = 0;
inline constexpr int CPU_STATE_SYSTEM = 1;
inline constexpr int CPU_STATE_IDLE = 2;
inline constexpr int CPU_STATE_NICE = 3;
inline constexpr int CPU_STATE_MAX = 4;

struct processor_cpu_load_info {
  natural_t cpu_ticks[CPU_STATE_MAX];
};
using processor_cpu_load_info_t = processor_cpu_load_info*;
inline constexpr mach_msg_type_number_t PROCESSOR_CPU_LOAD_INFO_COUNT = CPU_STATE_MAX;

// Reports the processor count and hands out a new array of one record per
// processor (*infoCount words in all, to be released with vm_deallocate of
// *infoCount * sizeof(integer_t) bytes). KERN_INVALID_HOST for a port that is not
// the host, KERN_INVALID_ARGUMENT for an unknown flavour or a missing output,
// KERN_FAILURE when the counters cannot be read.
kern_return_t host_processor_info(host_t host, processor_flavor_t flavor, natural_t* processorCount,
                                  processor_info_array_t* info, mach_msg_type_number_t* infoCount);
