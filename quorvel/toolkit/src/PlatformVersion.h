// The platform-version test of the toolkit's version switches.
#pragma once

#include "foundation/process_info.h"

namespace toolkit_internal {

// YES when process-information objects answer "isOperatingSystemAtLeastVersion:" and
// a fresh one answers YES for major.0.0; NO when the selector is not there.
inline bool isOperatingSystemAtLeast(long major) {
  if (!NSProcessInfo::classObject()->instancesRespondToSelector("isOperatingSystemAtLeastVersion:")) return false;
  return std::make_shared<NSProcessInfo>()->isOperatingSystemAtLeastVersion({major, 0, 0});
}

}  // namespace toolkit_internal
