#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "objc/runtime.h"

struct NSNotification {
  std::string name;
  objc::id object;
  std::map<std::string, std::any> userInfo;
};

// The default notification centre: observers are called synchronously on the
// posting thread, in the order they were added. An observer removed while a post
// is under way (say by an earlier observer of that post) is not called any more;
// an observer of one sender hears nothing once that sender is gone.
class NSNotificationCenter {
 public:
  using Observer = std::function<void(const NSNotification&)>;
  static NSNotificationCenter& defaultCenter();

  // name absent: every notification; object null: from any sender. Returns a token.
  int addObserverForName(std::optional<std::string> name, const objc::id& object, Observer block);
  void removeObserver(int token);
  void postNotificationName(const std::string& name, const objc::id& object,
                            std::map<std::string, std::any> userInfo = {});

 private:
  struct Entry {
    int token;
    std::optional<std::string> name;
    objc::weak_id object;
    bool anyObject;
    std::shared_ptr<Observer> block;
    std::shared_ptr<std::atomic<bool>> active;  // cleared on removal
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
  int nextToken_ = 1;
};
