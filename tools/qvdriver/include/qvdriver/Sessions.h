// The running sessions, at most one per device (agent address).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvdriver/Session.h"

namespace qvdriver {

class Sessions {
 public:
  // Claims the device for a session being created; throws session not created when
  // a session already runs on it or is being created for it.
  void reserve(const std::string& host);
  // Gives up a claim whose session could not be created.
  void release(const std::string& host);
  // Adds the session created on a claimed device.
  void add(const std::shared_ptr<Session>& session);

  // nullptr for an unknown ID.
  std::shared_ptr<Session> get(const std::string& id) const;
  // Takes the session out (its device is free again) and marks it ended; nullptr
  // for an unknown ID or a session already removed.
  std::shared_ptr<Session> remove(const std::string& id);
  // Takes out (and ends) every session idle at `now`, freeing their devices.
  std::vector<std::shared_ptr<Session>> removeIdle(std::chrono::steady_clock::time_point now);
  // Takes every session out (on shutdown).
  std::vector<std::shared_ptr<Session>> removeAll();
  std::size_t count() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<Session>> byId_;
  std::set<std::string> busyHosts_;
};

}  // namespace qvdriver
