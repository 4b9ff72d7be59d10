#include "hid/mach_time.h"

#include <ctime>

std::uint64_t mach_absolute_time() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

int mach_timebase_info(mach_timebase_info_data_t* info) {
  if (!info) return 4;  // KERN_INVALID_ARGUMENT
  info->numer = 1;
  info->denom = 1;
  return 0;
}
