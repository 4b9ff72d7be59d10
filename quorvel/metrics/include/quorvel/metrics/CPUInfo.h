// Descriptive record of the device's processors. Nothing in the agent fills it; a
// caller may, to size the fallback of CPUInfoController::calculateCPUUsage.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "objc/runtime.h"

class CPUInfo : public objc::Object {
  QV_OBJC_DECLARE_CLASS(CPUInfo)
 public:
  std::optional<std::string> cpuName;
  std::optional<std::string> coprocessor;
  std::uint64_t activeCPUCount = 0;
  std::uint64_t physicalCPUCount = 0;
  std::uint64_t physicalCPUMaxCount = 0;
  std::uint64_t logicalCPUCount = 0;
  std::uint64_t logicalCPUMaxCount = 0;
  std::uint64_t cpuFrequency = 0;
  std::uint64_t l1DCache = 0;
  std::uint64_t l1ICache = 0;
  std::uint64_t l2Cache = 0;
  std::optional<std::string> cpuType;
  std::optional<std::string> cpuSubtype;
  std::optional<std::string> endianess;
};
