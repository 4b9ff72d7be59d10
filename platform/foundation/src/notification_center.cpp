#include "foundation/notification_center.h"

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter* center = new NSNotificationCenter;
  return *center;
}

int NSNotificationCenter::addObserverForName(std::optional<std::string> name, const objc::id& object, Observer block) {
  std::lock_guard lock(mutex_);
  int token = nextToken_++;
  entries_.push_back({token, std::move(name), object, object == nullptr, std::make_shared<Observer>(std::move(block))});
  return token;
}

void NSNotificationCenter::removeObserver(int token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NSNotificationCenter::postNotificationName(const std::string& name, const objc::id& object,
                                                std::map<std::string, std::any> userInfo) {
  NSNotification note{name, object, std::move(userInfo)};
  std::vector<std::shared_ptr<Observer>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.name && *e.name != name) continue;
      if (!e.anyObject && e.object.lock() != object) continue;
      matching.push_back(e.block);
    }
  }
  for (auto& block : matching) (*block)(note);
}
