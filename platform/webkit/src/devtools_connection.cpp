#include "webkit/DevToolsConnection.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "dispatch/dispatch.h"
#include "foundation/log.h"

namespace webkit {

namespace {

// An error to hand to a callback. The error object is made and its temporary ends
// here, before the callback hands the error to another thread: the temporary shares
// its message with the copy, and no thread should let go of that share after the
// error has moved on.
template <class Error, class... Args>
std::exception_ptr failure(Args&&... args) {
  return std::make_exception_ptr(Error(std::forward<Args>(args)...));
}

}  // namespace

// Registry ------------------------------------------------------------------------

std::uint64_t CallbackRegistry::create(const std::string& method, Clock::time_point deadline, Callback callback) {
  std::unique_lock lock(mutex_);
  if (!closedReason_.empty()) {
    std::string reason = closedReason_;
    lock.unlock();
    if (callback) callback(nullptr, failure<TargetClosedError>(method + ": " + reason));
    return 0;
  }
  const std::uint64_t id = ++lastId_;
  pending_.emplace(id, Entry{method, deadline, std::move(callback)});
  return id;
}

bool CallbackRegistry::take(std::uint64_t id, Entry& entry) {
  std::lock_guard lock(mutex_);
  auto it = pending_.find(id);
  if (it == pending_.end()) return false;
  entry = std::move(it->second);
  pending_.erase(it);
  return true;
}

bool CallbackRegistry::resolve(std::uint64_t id, const JSONValue& result) {
  Entry entry;
  if (!take(id, entry)) return false;
  if (entry.callback) entry.callback(&result, nullptr);
  return true;
}

bool CallbackRegistry::reject(std::uint64_t id, std::exception_ptr error) {
  Entry entry;
  if (!take(id, entry)) return false;
  if (entry.callback) entry.callback(nullptr, std::move(error));
  return true;
}

bool CallbackRegistry::rejectWithProtocolError(std::uint64_t id, long code, const std::string& message) {
  Entry entry;
  if (!take(id, entry)) return false;
  if (entry.callback) entry.callback(nullptr, failure<ProtocolError>(entry.method, code, message));
  return true;
}

void CallbackRegistry::rejectAll(const std::string& reason) {
  std::map<std::uint64_t, Entry> failed;
  {
    std::lock_guard lock(mutex_);
    closedReason_ = reason.empty() ? "closed" : reason;
    failed.swap(pending_);
  }
  for (auto& [id, entry] : failed) {
    if (entry.callback) entry.callback(nullptr, failure<TargetClosedError>(entry.method + ": " + reason));
  }
}

void CallbackRegistry::expire(Clock::time_point now) {
  std::vector<Entry> expired;
  {
    std::lock_guard lock(mutex_);
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.deadline <= now) {
        expired.push_back(std::move(it->second));
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& entry : expired) {
    if (entry.callback) {
      entry.callback(nullptr, failure<TimeoutError>(entry.method + ": no answer in time"));
    }
  }
}

std::size_t CallbackRegistry::pendingCount() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

// Connection ----------------------------------------------------------------------

std::shared_ptr<DevToolsConnection> DevToolsConnection::create(std::unique_ptr<PipeTransport> transport) {
  std::shared_ptr<DevToolsConnection> connection(new DevToolsConnection(std::move(transport)));
  std::weak_ptr<DevToolsConnection> weak = connection;
  connection->transport_->start(
      [weak](std::string message) {
        if (auto self = weak.lock()) self->dispatch(message);
      },
      [weak] {
        if (auto self = weak.lock()) self->didClose();
      });
  return connection;
}

DevToolsConnection::DevToolsConnection(std::unique_ptr<PipeTransport> transport) : transport_(std::move(transport)) {}

DevToolsConnection::~DevToolsConnection() {
  transport_->close();
  callbacks_->rejectAll("the connection was released");
}

std::uint64_t DevToolsConnection::send(const std::string& method, const JSONValue& params,
                                       const std::string& sessionId, std::chrono::milliseconds timeout,
                                       CallbackRegistry::Callback done) {
  const auto deadline = Clock::now() + timeout;
  const std::uint64_t id = callbacks_->create(method, deadline, std::move(done));
  if (id == 0) return 0;  // already closed: the callback has failed
  JSONValue message = {{"id", id}, {"method", method}, {"params", params.is_null() ? JSONValue::object() : params}};
  if (!sessionId.empty()) message["sessionId"] = sessionId;
  std::string text;
  try {
    text = message.dump();
  } catch (const std::exception& e) {
    callbacks_->reject(id, failure<ProtocolError>(method, -32600, e.what()));
    return 0;
  }
  if (!transport_->send(text, timeout)) {
    if (transport_->isClosed()) {
      callbacks_->reject(id, failure<TargetClosedError>(method + ": the pipe is closed"));
    } else {
      callbacks_->reject(id, failure<TimeoutError>(method + ": the browser takes nothing in"));
    }
    return 0;
  }
  return id;
}

JSONValue DevToolsConnection::call(const std::string& method, const JSONValue& params, const std::string& sessionId,
                                   std::chrono::milliseconds timeout) {
  // The outcome is handed over whole: the error moves to the waiting thread, so
  // that the thread that made it keeps no share of it.
  struct Outcome {
    std::mutex mutex;
    std::condition_variable arrived;
    bool done = false;
    JSONValue result;
    std::exception_ptr error;
  };
  auto outcome = std::make_shared<Outcome>();
  const std::uint64_t id = send(method, params, sessionId, timeout, [outcome](const JSONValue* result, std::exception_ptr error) {
    std::lock_guard lock(outcome->mutex);
    if (result) outcome->result = *result;
    outcome->error = std::move(error);
    outcome->done = true;
    outcome->arrived.notify_all();
  });
  std::unique_lock lock(outcome->mutex);
  if (id != 0 && !outcome->arrived.wait_for(lock, timeout, [&] { return outcome->done; })) {
    lock.unlock();
    callbacks_->reject(id, failure<TimeoutError>(method + ": no answer in time"));
    lock.lock();
    outcome->arrived.wait(lock, [&] { return outcome->done; });  // answered meanwhile, or just rejected
  }
  if (std::exception_ptr error = std::move(outcome->error)) {
    lock.unlock();
    std::rethrow_exception(error);
  }
  return std::move(outcome->result);
}

void DevToolsConnection::callAsync(const std::string& method, const JSONValue& params, const std::string& sessionId,
                                   std::chrono::milliseconds timeout, CallbackRegistry::Callback done) {
  if (send(method, params, sessionId, timeout, std::move(done)) == 0) return;
  // Nobody waits on this call: a timer fails it at its deadline.
  std::weak_ptr<CallbackRegistry> registry = callbacks_;
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count()),
                 dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), [registry] {
                   if (auto callbacks = registry.lock()) callbacks->expire(Clock::now());
                 });
}

int DevToolsConnection::addEventListener(const std::string& sessionId, EventListener listener) {
  std::lock_guard lock(listenersMutex_);
  const int token = ++lastToken_;
  listeners_.emplace(sessionId, std::make_pair(token, std::make_shared<EventListener>(std::move(listener))));
  return token;
}

void DevToolsConnection::removeEventListener(int token) {
  std::lock_guard lock(listenersMutex_);
  for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
    if (it->second.first == token) {
      listeners_.erase(it);
      return;
    }
  }
}

void DevToolsConnection::onClose(std::function<void()> handler) {
  {
    std::lock_guard lock(listenersMutex_);
    if (!closed_) {
      closeHandlers_.push_back(std::move(handler));
      return;
    }
  }
  handler();
}

void DevToolsConnection::dispatch(const std::string& message) {
  auto parsed = JSONValue::parse(message, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    NSLog("DevTools: a message that is not a JSON object was ignored");
    return;
  }
  {
    std::lock_guard lock(heardMutex_);
    lastHeard_[parsed.value("sessionId", std::string())] = Clock::now();
  }
  if (auto id = parsed.find("id"); id != parsed.end() && id->is_number_unsigned()) {
    const auto callId = id->get<std::uint64_t>();
    if (auto error = parsed.find("error"); error != parsed.end() && error->is_object()) {
      callbacks_->rejectWithProtocolError(callId, error->value("code", 0L),
                                          error->value("message", std::string("error")));
    } else {
      auto result = parsed.find("result");
      callbacks_->resolve(callId, result != parsed.end() ? *result : JSONValue::object());
    }
    return;
  }
  const std::string method = parsed.value("method", std::string());
  const std::string sessionId = parsed.value("sessionId", std::string());
  const JSONValue params = parsed.contains("params") ? parsed["params"] : JSONValue::object();
  std::vector<std::shared_ptr<EventListener>> matching;
  {
    std::lock_guard lock(listenersMutex_);
    auto [begin, end] = listeners_.equal_range(sessionId);
    for (auto it = begin; it != end; ++it) matching.push_back(it->second.second);
  }
  for (const auto& listener : matching) (*listener)(method, params);
}

DevToolsConnection::Clock::time_point DevToolsConnection::lastHeardFrom(const std::string& sessionId) const {
  std::lock_guard lock(heardMutex_);
  auto it = lastHeard_.find(sessionId);
  return it == lastHeard_.end() ? Clock::time_point{} : it->second;
}

void DevToolsConnection::didClose() {
  callbacks_->rejectAll("the browser closed the pipe");
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(listenersMutex_);
    closed_ = true;
    handlers.swap(closeHandlers_);
  }
  for (auto& handler : handlers) handler();
}

}  // namespace webkit
