// Descriptive record of the device's memory. Nothing fills it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "objc/runtime.h"

class RAMInfo : public objc::Object {
  QV_OBJC_DECLARE_CLASS(RAMInfo)
 public:
  std::uint64_t totalRam = 0;
  std::optional<std::string> ramType;
};
