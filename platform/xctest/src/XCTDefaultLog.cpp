#include "xctest/XCTDefaultLog.h"

#include <vector>

#include "dispatch/dispatch.h"
#include "foundation/log.h"

QV_OBJC_DEFINE_CLASS(XCTLog, objc::Object)

void XCTLog::write(XCTLogLevel level, const std::string& message) {
  std::vector<std::shared_ptr<Observer>> observers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [token, observer] : observers_) observers.push_back(observer);
  }
  NSLog("%@", message);
  for (const auto& observer : observers) (*observer)(level, message);
}

int XCTLog::addObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  int token = nextToken_++;
  observers_.emplace(token, std::make_shared<Observer>(std::move(observer)));
  return token;
}

void XCTLog::removeObserver(int token) {
  std::lock_guard lock(mutex_);
  observers_.erase(token);
}

std::shared_ptr<XCTLog> XCTDefaultLog() {
  static dispatch_once_t once;
  static std::shared_ptr<XCTLog>* log = nullptr;
  dispatch_once(&once, [] { log = new std::shared_ptr<XCTLog>(std::make_shared<XCTLog>()); });
  return *log;
}
