// The platform log. Each call writes one line to standard error with the time,
// process name, process id and thread id; QUORVEL_LOG=off silences the output.
// Observers (tests, diagnostics) see every message even when output is off.
#pragma once

#include <functional>
#include <string>

#include "foundation/format.h"

namespace foundation {

void logMessage(const std::string& message);

using LogObserver = std::function<void(const std::string& message)>;
// Returns a token for removeLogObserver.
int addLogObserver(LogObserver observer);
void removeLogObserver(int token);

}  // namespace foundation

template <class... Args>
void NSLog(std::string_view format, const Args&... args) {
  foundation::logMessage(NSStringWithFormat(format, args...));
}
