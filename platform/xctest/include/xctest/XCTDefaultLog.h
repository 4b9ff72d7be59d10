// The test machinery's log: messages at the default or the error level, written
// to the platform log (NSLog) as they are. Observers see each message with its
// level.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/format.h"
#include "objc/runtime.h"

enum class XCTLogLevel { defaultLevel, error };

class XCTLog : public objc::Object {
  QV_OBJC_DECLARE_CLASS(XCTLog)
 public:
  template <class... Args>
  void log(std::string_view format, const Args&... args) {
    write(XCTLogLevel::defaultLevel, NSStringWithFormat(format, args...));
  }
  template <class... Args>
  void error(std::string_view format, const Args&... args) {
    write(XCTLogLevel::error, NSStringWithFormat(format, args...));
  }
  void write(XCTLogLevel level, const std::string& message);

  using Observer = std::function<void(XCTLogLevel level, const std::string& message)>;
  // Returns a token for removeObserver.
  int addObserver(Observer observer);
  void removeObserver(int token);

 private:
  std::mutex mutex_;
  std::map<int, std::shared_ptr<Observer>> observers_;
  int nextToken_ = 1;
};

// The default log of the test machinery.
std::shared_ptr<XCTLog> XCTDefaultLog();
