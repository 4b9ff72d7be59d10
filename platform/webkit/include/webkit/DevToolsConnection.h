// The browser's debugging protocol over a PipeTransport: numbered calls answered by
// replies with the same id, and events. One dispatch point sorts what arrives: a
// reply completes its pending call, a message with a session id goes to that
// session's listeners, anything else to the browser-level listeners.
//
// Every call has a deadline, which bounds its write into the pipe too. When the pipe
// closes, every pending call fails at once, so no caller waits for an answer that
// cannot come.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "foundation/json.h"
#include "webkit/PipeTransport.h"

namespace webkit {

// The errors a call can end with; callers tell them apart by type.
class DevToolsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The browser answered the call with an error.
class ProtocolError : public DevToolsError {
 public:
  ProtocolError(const std::string& method, long code, const std::string& message)
      : DevToolsError(method + ": " + message + " (" + std::to_string(code) + ")"), code_(code), message_(message) {}
  long code() const { return code_; }
  const std::string& protocolMessage() const { return message_; }

 private:
  long code_;
  std::string message_;
};
// The pipe (or the page the call was meant for) is gone.
class TargetClosedError : public DevToolsError {
 public:
  using DevToolsError::DevToolsError;
};
// No answer before the call's deadline.
class TimeoutError : public DevToolsError {
 public:
  using DevToolsError::DevToolsError;
};

// The calls waiting for their replies, each with its deadline.
class CallbackRegistry : public std::enable_shared_from_this<CallbackRegistry> {
 public:
  using Clock = std::chrono::steady_clock;
  // Gets the result, or the error (then `result` is null).
  using Callback = std::function<void(const JSONValue* result, std::exception_ptr error)>;

  // Registers a call and returns its id. The call fails with TimeoutError if no
  // answer came by `deadline`.
  std::uint64_t create(const std::string& method, Clock::time_point deadline, Callback callback);
  // Completes a call; false when it is no longer pending (answered or expired).
  bool resolve(std::uint64_t id, const JSONValue& result);
  bool reject(std::uint64_t id, std::exception_ptr error);
  // Fails a call with the browser's error answer (a ProtocolError naming its method).
  bool rejectWithProtocolError(std::uint64_t id, long code, const std::string& message);
  // Fails every pending call with TargetClosedError(reason); later calls fail at once.
  void rejectAll(const std::string& reason);
  // Fails the calls whose deadline has passed.
  void expire(Clock::time_point now);
  std::size_t pendingCount() const;

 private:
  struct Entry {
    std::string method;
    Clock::time_point deadline;
    Callback callback;
  };
  bool take(std::uint64_t id, Entry& entry);

  mutable std::mutex mutex_;
  std::uint64_t lastId_ = 0;
  std::map<std::uint64_t, Entry> pending_;
  std::string closedReason_;  // not empty once rejectAll ran
};

class DevToolsConnection : public std::enable_shared_from_this<DevToolsConnection> {
 public:
  using Clock = CallbackRegistry::Clock;
  using EventListener = std::function<void(const std::string& method, const JSONValue& params)>;
  static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

  // Starts reading the transport.
  static std::shared_ptr<DevToolsConnection> create(std::unique_ptr<PipeTransport> transport);
  ~DevToolsConnection();

  // Sends a call and waits for its result. Throws ProtocolError, TargetClosedError
  // or TimeoutError. An empty `sessionId` addresses the browser itself.
  JSONValue call(const std::string& method, const JSONValue& params = JSONValue::object(),
                 const std::string& sessionId = {}, std::chrono::milliseconds timeout = kDefaultTimeout);
  // Sends a call without waiting; `done` (may be empty) runs once with its outcome,
  // on the reading thread or on a background queue.
  void callAsync(const std::string& method, const JSONValue& params, const std::string& sessionId,
                 std::chrono::milliseconds timeout, CallbackRegistry::Callback done);

  // Listeners for the events of one session ("" for the browser's own). They run on
  // the reading thread and must not wait for replies.
  int addEventListener(const std::string& sessionId, EventListener listener);
  void removeEventListener(int token);
  // Runs once when the pipe closes (at once when it already has).
  void onClose(std::function<void()> handler);

  // When a message of the session ("" for the browser's own), a reply or an event,
  // last arrived; the clock's epoch when none has.
  Clock::time_point lastHeardFrom(const std::string& sessionId) const;

  bool isClosed() const { return transport_->isClosed(); }
  void close() { transport_->close(); }
  const std::shared_ptr<CallbackRegistry>& callbacks() const { return callbacks_; }

 private:
  explicit DevToolsConnection(std::unique_ptr<PipeTransport> transport);
  void dispatch(const std::string& message);
  void didClose();
  std::uint64_t send(const std::string& method, const JSONValue& params, const std::string& sessionId,
                     std::chrono::milliseconds timeout, CallbackRegistry::Callback done);

  std::unique_ptr<PipeTransport> transport_;
  std::shared_ptr<CallbackRegistry> callbacks_ = std::make_shared<CallbackRegistry>();
  std::mutex listenersMutex_;
  int lastToken_ = 0;
  std::multimap<std::string, std::pair<int, std::shared_ptr<EventListener>>> listeners_;
  std::vector<std::function<void()>> closeHandlers_;
  bool closed_ = false;  // guarded by listenersMutex_
  mutable std::mutex heardMutex_;
  std::map<std::string, Clock::time_point> lastHeard_;
};

}  // namespace webkit
