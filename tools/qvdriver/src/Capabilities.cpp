#include "qvdriver/Capabilities.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;

constexpr std::string_view kAppiumNewCommandTimeout = "appium:newCommandTimeout";
constexpr std::string_view kAppiumAutomationName = "appium:automationName";
constexpr std::string_view kAppiumDeviceName = "appium:deviceName";
// A day of silence is the longest a session may wait for its next command.
constexpr std::int64_t kMaxNewCommandTimeout = 86400;

bool isNewCommandTimeout(const std::string& name) {
  return name == kNewCommandTimeoutCapability || name == kAppiumNewCommandTimeout;
}

// Whole seconds from 0 to a day (a client may send them as 60.0).
std::int64_t seconds(const json& value, const std::string& name) {
  if (value.is_number()) {
    const double number = value.get<double>();
    if (number >= 0 && number <= static_cast<double>(kMaxNewCommandTimeout) && number == std::floor(number)) {
      return static_cast<std::int64_t>(number);
    }
  }
  invalid("capability \"" + name + "\" must be a whole number of seconds from 0 to " +
          std::to_string(kMaxNewCommandTimeout));
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Checks one capability set as W3C validation does; extension capabilities (names
// with a colon) are free except our own.
void validate(const json& set) {
  if (!set.is_object()) invalid("a capability set must be a JSON object");
  static const std::set<std::string> kStringCapabilities = {"browserName", "browserVersion", "platformName",
                                                            "pageLoadStrategy", "unhandledPromptBehavior"};
  static const std::set<std::string> kBooleanCapabilities = {"acceptInsecureCerts", "setWindowRect",
                                                             "strictFileInteractability", "webSocketUrl"};
  for (const auto& [name, value] : set.items()) {
    if (value.is_null()) continue;
    if (kStringCapabilities.contains(name)) {
      if (!value.is_string()) invalid("capability \"" + name + "\" must be a string");
    } else if (kBooleanCapabilities.contains(name)) {
      if (!value.is_boolean()) invalid("capability \"" + name + "\" must be a boolean");
    } else if (name == "timeouts") {
      Timeouts().update(value);
    } else if (name == "proxy") {
      if (!value.is_object()) invalid("capability \"proxy\" must be a JSON object");
    } else if (name == kHostCapability) {
      if (!value.is_string() || value.get<std::string>().empty()) {
        invalid(std::string("capability \"") + std::string(kHostCapability) + "\" must be a device address");
      }
    } else if (isNewCommandTimeout(name)) {
      seconds(value, name);
    } else if (name == kAppiumAutomationName || name == kAppiumDeviceName) {
      if (!value.is_string()) invalid("capability \"" + name + "\" must be a string");
    } else if (name.find(':') == std::string::npos) {
      invalid("unknown capability \"" + name + "\"");
    }
  }
}

json merge(const json& always, const json& first) {
  json merged = always;
  for (const auto& [name, value] : first.items()) {
    if (always.contains(name)) invalid("capability \"" + name + "\" is in both alwaysMatch and firstMatch");
    merged[name] = value;
  }
  return merged;
}

// Why this endpoint cannot serve the set, or "" when it can.
std::string mismatch(const json& set) {
  auto text = [&set](const char* name) -> std::string {
    auto it = set.find(name);
    return it != set.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  if (set.contains("platformName") && !set["platformName"].is_null() &&
      lowercase(text("platformName")) != kPlatformName) {
    return "platformName \"" + text("platformName") + "\" is not \"" + std::string(kPlatformName) + "\"";
  }
  const std::string browser = text("browserName");
  if (!browser.empty() && lowercase(browser) != kPlatformName) {
    return "browserName \"" + browser + "\": this endpoint drives an application, not a browser";
  }
  const std::string automation = text(kAppiumAutomationName.data());
  if (!automation.empty() && lowercase(automation) != lowercase(std::string(kAutomationName))) {
    return "appium:automationName \"" + automation + "\" is not \"" + std::string(kAutomationName) + "\"";
  }
  return {};
}

}  // namespace

MatchedCapabilities matchCapabilities(const json& body, const std::string& defaultHost) {
  json always = json::object();
  json firstMatch = json::array({json::object()});
  if (auto it = body.find("capabilities"); it != body.end()) {
    if (!it->is_object()) invalid("\"capabilities\" must be a JSON object");
    if (auto a = it->find("alwaysMatch"); a != it->end() && !a->is_null()) always = *a;
    if (auto f = it->find("firstMatch"); f != it->end() && !f->is_null()) {
      if (!f->is_array() || f->empty()) invalid("\"firstMatch\" must be a non-empty JSON list");
      firstMatch = *f;
    }
  } else if (auto legacy = body.find("desiredCapabilities"); legacy != body.end() && legacy->is_object()) {
    // Older clients send only these; their unknown names are not checked. The
    // names older Appium-style clients send without a prefix are read as prefixed.
    json set = json::object();
    for (const auto& [name, value] : legacy->items()) {
      if (name == "platformName" || name == "browserName" || name == "timeouts" || name == kHostCapability ||
          isNewCommandTimeout(name) || name == kAppiumAutomationName || name == kAppiumDeviceName) {
        set[name] = value;
      } else if (name == "newCommandTimeout" || name == "automationName" || name == "deviceName") {
        set["appium:" + name] = value;
      }
    }
    always = set;
  } else {
    invalid("the body has no \"capabilities\" object");
  }
  validate(always);
  std::string reasons;
  for (const auto& first : firstMatch) {
    validate(first);
    json merged = merge(always, first);
    std::string why = mismatch(merged);
    if (why.empty()) {
      MatchedCapabilities matched;
      matched.host = merged.contains(kHostCapability) && merged[kHostCapability].is_string()
                         ? merged[kHostCapability].get<std::string>()
                         : defaultHost;
      if (merged.contains("timeouts") && !merged["timeouts"].is_null()) matched.timeouts.update(merged["timeouts"]);
      // Our own spelling wins over the "appium:" one.
      for (std::string_view name : {kAppiumNewCommandTimeout, kNewCommandTimeoutCapability}) {
        auto it = merged.find(std::string(name));
        if (it != merged.end() && !it->is_null()) matched.newCommandTimeout = seconds(*it, std::string(name));
      }
      if (auto it = merged.find(std::string(kAppiumDeviceName)); it != merged.end() && it->is_string()) {
        matched.deviceName = it->get<std::string>();
      }
      return matched;
    }
    reasons += (reasons.empty() ? "" : "; ") + why;
  }
  throw DriverError(ErrorCode::sessionNotCreated, "no capability set can be served: " + reasons);
}

json sessionCapabilities(const MatchedCapabilities& matched) {
  return {
      {"platformName", kPlatformName},
      {"browserName", ""},
      {"browserVersion", ""},
      {std::string(kHostCapability), matched.host},
      {"acceptInsecureCerts", false},
      {"pageLoadStrategy", "normal"},
      {"setWindowRect", false},
      {"strictFileInteractability", false},
      {"unhandledPromptBehavior", "dismiss and notify"},
      {"timeouts", matched.timeouts.toJson()},
      {std::string(kNewCommandTimeoutCapability), matched.newCommandTimeout},
      {std::string(kAppiumNewCommandTimeout), matched.newCommandTimeout},
      {std::string(kAppiumAutomationName), kAutomationName},
      {std::string(kAppiumDeviceName), matched.deviceName.empty() ? matched.host : matched.deviceName},
  };
}

}  // namespace qvdriver
