// The process-assertion service: an assertion, while held, asks the system to keep
// a process running (not suspended) for a reason. Flag and reason values are the
// service's; this platform keeps the record of held assertions, and nothing here
// suspends processes. QUORVEL_ASSERTION_FAIL=1 makes every acquire fail, as a
// device that refuses the assertion would.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"

class BKSProcessAssertion : public objc::Object {
  QV_OBJC_DECLARE_CLASS(BKSProcessAssertion)
 public:
  BKSProcessAssertion(int pid, unsigned flags, unsigned reason, std::optional<std::string> name);
  // [[BKSProcessAssertion alloc] initWithPID:flags:reason:name:]
  static std::shared_ptr<BKSProcessAssertion> initWithPID(int pid, unsigned flags, unsigned reason,
                                                          std::optional<std::string> name);
  // Releases the assertion if still held.
  ~BKSProcessAssertion() override;

  // Takes the assertion; true when held afterwards. Fails when the service
  // refuses, when the process does not exist, or after invalidate.
  bool acquire();
  // Releases the assertion for good.
  void invalidate();
  bool valid() const;  // held and not invalidated

  int pid() const { return pid_; }
  unsigned flags() const { return flags_; }
  unsigned reason() const { return reason_; }
  const std::optional<std::string>& name() const { return name_; }

  // The names of the assertions held in this process ("(null)" for an unnamed one).
  static std::vector<std::string> heldAssertionNames();

 private:
  const int pid_;
  const unsigned flags_;
  const unsigned reason_;
  const std::optional<std::string> name_;
  mutable std::mutex mutex_;
  bool held_ = false;
  bool invalidated_ = false;
};
