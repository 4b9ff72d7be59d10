// Capability processing of New Session: the W3C "alwaysMatch" / "firstMatch"
// merge, checks of the standard capabilities, and the first merged set this
// endpoint can serve.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "qvdriver/Session.h"

namespace qvdriver {

inline constexpr std::string_view kPlatformName = "quorvel";
inline constexpr std::string_view kHostCapability = "quorvel:host";
// Seconds without commands after which a session ends by itself (0: never); the
// "appium:" spelling of the name is read too.
inline constexpr std::string_view kNewCommandTimeoutCapability = "quorvel:newCommandTimeout";
inline constexpr std::int64_t kDefaultNewCommandTimeout = 60;
// What "appium:automationName" must be, when a client names it.
inline constexpr std::string_view kAutomationName = "Quorvel";

struct MatchedCapabilities {
  std::string host;
  Timeouts timeouts;
  std::int64_t newCommandTimeout = kDefaultNewCommandTimeout;  // seconds, 0: never
  std::string deviceName;                                     // "appium:deviceName", if given
};

// From a New Session body. Throws invalid argument for malformed capabilities and
// session not created when no merged set asks for what this endpoint is (platform
// "quorvel", no browser). Without "capabilities", the legacy "desiredCapabilities"
// object is read as the only set.
MatchedCapabilities matchCapabilities(const nlohmann::json& body, const std::string& defaultHost);

// The capabilities a new session reports.
nlohmann::json sessionCapabilities(const MatchedCapabilities& matched);

}  // namespace qvdriver
