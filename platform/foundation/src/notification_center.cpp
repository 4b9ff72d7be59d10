#include "foundation/notification_center.h"

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter* center = new NSNotificationCenter;
  return *center;
}

int NSNotificationCenter::addObserverForName(std::optional<std::string> name, const objc::id& object, Observer block) {
  std::lock_guard lock(mutex_);
  int token = nextToken_++;
  entries_.push_back({token, std::move(name), object, object == nullptr, std::make_shared<Observer>(std::move(block)),
                      std::make_shared<std::atomic<bool>>(true)});
  return token;
}

void NSNotificationCenter::removeObserver(int token) {
  std::vector<Entry> removed;  // their blocks are released outside the lock
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->token == token) {
      *it->active = false;
      removed.push_back(std::move(*it));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

void NSNotificationCenter::postNotificationName(const std::string& name, const objc::id& object,
                                                std::map<std::string, std::any> userInfo) {
  NSNotification note{name, object, std::move(userInfo)};
  std::vector<std::pair<std::shared_ptr<Observer>, std::shared_ptr<std::atomic<bool>>>> matching;
  // Senders looked at are released outside the lock: a last reference going away
  // runs a destructor, which may remove observers.
  std::vector<objc::id> senders;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.name && *e.name != name) continue;
      if (!e.anyObject) {
        objc::id observed = e.object.lock();
        if (!observed) continue;  // a sender that is gone matches nothing
        bool same = observed == object;
        senders.push_back(std::move(observed));
        if (!same) continue;
      }
      matching.emplace_back(e.block, e.active);
    }
  }
  for (auto& [block, active] : matching) {
    if (*active) (*block)(note);
  }
}
