#include "foundation/log.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>

namespace foundation {
namespace {

struct LogState {
  std::mutex mutex;
  std::map<int, std::shared_ptr<LogObserver>> observers;
  int nextToken = 1;
};

LogState& state() {
  static LogState* s = new LogState;  // used until the very end of the process
  return *s;
}

bool outputEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("QUORVEL_LOG");
    return !(v && (std::strcmp(v, "off") == 0 || std::strcmp(v, "0") == 0));
  }();
  return enabled;
}

const std::string& processName() {
  // Never destroyed: other threads may still log while the process exits.
  static const auto& name = *new std::string([] {
    std::ifstream in("/proc/self/comm");
    std::string n;
    std::getline(in, n);
    return n.empty() ? std::string("process") : n;
  }());
  return name;
}

}  // namespace

void logMessage(const std::string& message) {
  std::vector<std::shared_ptr<LogObserver>> observers;
  {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& [token, observer] : s.observers) observers.push_back(observer);
  }
  for (auto& observer : observers) (*observer)(message);
  if (!outputEnabled()) return;

  timeval tv;
  ::gettimeofday(&tv, nullptr);
  tm local;
  ::localtime_r(&tv.tv_sec, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char prefix[160];
  std::snprintf(prefix, sizeof prefix, "%s.%03ld %s[%d:%ld] ", stamp, static_cast<long>(tv.tv_usec / 1000),
                processName().c_str(), static_cast<int>(::getpid()), static_cast<long>(::syscall(SYS_gettid)));
  std::string line = prefix + message + "\n";
  // One write per line, so that lines of concurrent threads never interleave.
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

int addLogObserver(LogObserver observer) {
  LogState& s = state();
  std::lock_guard lock(s.mutex);
  int token = s.nextToken++;
  s.observers.emplace(token, std::make_shared<LogObserver>(std::move(observer)));
  return token;
}

void removeLogObserver(int token) {
  LogState& s = state();
  std::lock_guard lock(s.mutex);
  s.observers.erase(token);
}

}  // namespace foundation
