#include "xctest/BKSProcessAssertion.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

QV_OBJC_DEFINE_CLASS(BKSProcessAssertion, objc::Object)

namespace {

// The service's record of the assertions held in this process.
struct AssertionService {
  std::mutex mutex;
  std::vector<std::pair<const BKSProcessAssertion*, std::string>> held;
};

AssertionService& service() {
  static AssertionService* s = new AssertionService;
  return *s;
}

bool serviceRefuses() {
  const char* value = std::getenv("QUORVEL_ASSERTION_FAIL");
  return value && std::strcmp(value, "1") == 0;
}

bool processExists(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

BKSProcessAssertion::BKSProcessAssertion(int pid, unsigned flags, unsigned reason, std::optional<std::string> name)
    : pid_(pid), flags_(flags), reason_(reason), name_(std::move(name)) {}

std::shared_ptr<BKSProcessAssertion> BKSProcessAssertion::initWithPID(int pid, unsigned flags, unsigned reason,
                                                                      std::optional<std::string> name) {
  return std::make_shared<BKSProcessAssertion>(pid, flags, reason, std::move(name));
}

BKSProcessAssertion::~BKSProcessAssertion() { invalidate(); }

bool BKSProcessAssertion::acquire() {
  std::lock_guard lock(mutex_);
  if (held_) return true;
  if (invalidated_ || serviceRefuses() || !processExists(pid_)) return false;
  AssertionService& s = service();
  std::lock_guard serviceLock(s.mutex);
  s.held.emplace_back(this, name_.value_or("(null)"));
  held_ = true;
  return true;
}

void BKSProcessAssertion::invalidate() {
  std::lock_guard lock(mutex_);
  invalidated_ = true;
  if (!held_) return;
  held_ = false;
  AssertionService& s = service();
  std::lock_guard serviceLock(s.mutex);
  s.held.erase(std::remove_if(s.held.begin(), s.held.end(), [this](const auto& entry) { return entry.first == this; }),
               s.held.end());
}

bool BKSProcessAssertion::valid() const {
  std::lock_guard lock(mutex_);
  return held_;
}

std::vector<std::string> BKSProcessAssertion::heldAssertionNames() {
  AssertionService& s = service();
  std::lock_guard lock(s.mutex);
  std::vector<std::string> names;
  for (const auto& entry : s.held) names.push_back(entry.second);
  return names;
}
