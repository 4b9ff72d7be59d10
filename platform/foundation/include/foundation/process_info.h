#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "objc/runtime.h"

struct NSOperatingSystemVersion {
  long majorVersion = 0;
  long minorVersion = 0;
  long patchVersion = 0;
};

// Process information. The operating-system version is the device's, configurable
// for tests (default 16.0; QUORVEL_OS_VERSION="major.minor.patch" overrides).
// isOperatingSystemAtLeastVersion: lives in the method table, so it can be probed
// with respondsToSelector and messaged with objc::msgSend.
class NSProcessInfo : public objc::Object {
  QV_OBJC_DECLARE_CLASS(NSProcessInfo)
 public:
  static std::shared_ptr<NSProcessInfo> processInfo();

  double systemUptime() const;  // seconds since boot, monotonic
  std::uint64_t physicalMemory() const;
  int processIdentifier() const;
  std::string processName() const;
  std::vector<std::string> arguments() const;
  std::map<std::string, std::string> environment() const;
  std::size_t activeProcessorCount() const;

  NSOperatingSystemVersion operatingSystemVersion() const;
  bool isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version);  // sends the message
  static void setOperatingSystemVersion(NSOperatingSystemVersion version);  // for tests and devices
};
