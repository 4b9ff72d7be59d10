// Absolute time: a monotonic tick counter in nanoseconds (the time base is 1/1).
#pragma once

#include <cstdint>

struct mach_timebase_info_data_t {
  std::uint32_t numer;
  std::uint32_t denom;
};

std::uint64_t mach_absolute_time();
int mach_timebase_info(mach_timebase_info_data_t* info);  // 0 on success
