#include "qvdriver/Sessions.h"

#include "qvdriver/Errors.h"

namespace qvdriver {

void Sessions::reserve(const std::string& host) {
  std::lock_guard lock(mutex_);
  if (!busyHosts_.insert(host).second) {
    throw DriverError(ErrorCode::sessionNotCreated,
                      "a session is already running on the device at " + host + "; delete it first");
  }
}

void Sessions::release(const std::string& host) {
  std::lock_guard lock(mutex_);
  busyHosts_.erase(host);
}

void Sessions::add(const std::shared_ptr<Session>& session) {
  std::lock_guard lock(mutex_);
  byId_[session->id()] = session;
}

std::shared_ptr<Session> Sessions::get(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto it = byId_.find(id);
  return it == byId_.end() ? nullptr : it->second;
}

std::shared_ptr<Session> Sessions::remove(const std::string& id) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex_);
    auto it = byId_.find(id);
    if (it == byId_.end()) return nullptr;
    session = std::move(it->second);
    byId_.erase(it);
    busyHosts_.erase(session->host());
  }
  session->end();
  return session;
}

std::vector<std::shared_ptr<Session>> Sessions::removeIdle(std::chrono::steady_clock::time_point now) {
  std::vector<std::shared_ptr<Session>> idle;
  {
    std::lock_guard lock(mutex_);
    for (auto it = byId_.begin(); it != byId_.end();) {
      if (it->second->idleAt(now)) {
        busyHosts_.erase(it->second->host());
        idle.push_back(std::move(it->second));
        it = byId_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& session : idle) session->end();
  return idle;
}

std::vector<std::shared_ptr<Session>> Sessions::removeAll() {
  std::vector<std::shared_ptr<Session>> all;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, session] : byId_) all.push_back(std::move(session));
    byId_.clear();
    busyHosts_.clear();
  }
  for (auto& session : all) session->end();
  return all;
}

std::size_t Sessions::count() const {
  std::lock_guard lock(mutex_);
  return byId_.size();
}

}  // namespace qvdriver
