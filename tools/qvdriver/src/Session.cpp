#include "qvdriver/Session.h"

#include <limits>
#include <thread>

#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

// The largest whole number a JSON client can send exactly.
constexpr std::int64_t kMaxSafeInteger = (std::int64_t{1} << 53) - 1;

std::int64_t milliseconds(const nlohmann::json& value, const char* name) {
  if (value.is_number_unsigned() || value.is_number_integer()) {
    if (value.is_number_integer() && value.get<std::int64_t>() < 0) {
      throw DriverError(ErrorCode::invalidArgument, std::string("timeout \"") + name + "\" is negative");
    }
    auto ms = value.get<std::uint64_t>();
    if (ms <= static_cast<std::uint64_t>(kMaxSafeInteger)) return static_cast<std::int64_t>(ms);
  } else if (value.is_number_float()) {
    double ms = value.get<double>();
    if (ms >= 0 && ms <= static_cast<double>(kMaxSafeInteger) && ms == static_cast<double>(static_cast<std::int64_t>(ms))) {
      return static_cast<std::int64_t>(ms);
    }
  }
  throw DriverError(ErrorCode::invalidArgument,
                    std::string("timeout \"") + name + "\" must be a whole number of milliseconds from 0 to 2^53-1");
}

std::string exceptionMessage(const nlohmann::json& reply) {
  if (!reply.is_array() || reply.size() != 1 || !reply[0].is_object()) return {};
  auto it = reply[0].find("exceptionmsg");
  if (it == reply[0].end()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

bool isExceptionReply(const nlohmann::json& reply) {
  return reply.is_array() && reply.size() == 1 && reply[0].is_object() && reply[0].contains("exceptionmsg");
}

}  // namespace

nlohmann::json Timeouts::toJson() const {
  return {{"implicit", implicit}, {"pageLoad", pageLoad}, {"script", script ? nlohmann::json(*script) : nlohmann::json()}};
}

void Timeouts::update(const nlohmann::json& object) {
  if (!object.is_object()) throw DriverError(ErrorCode::invalidArgument, "timeouts must be a JSON object");
  // Everything is checked before anything changes.
  Timeouts next = *this;
  for (const auto& [key, value] : object.items()) {
    if (key == "implicit") {
      next.implicit = milliseconds(value, "implicit");
    } else if (key == "pageLoad") {
      next.pageLoad = milliseconds(value, "pageLoad");
    } else if (key == "script") {
      next.script = value.is_null() ? std::nullopt : std::optional<std::int64_t>(milliseconds(value, "script"));
    }
  }
  *this = next;
}

Session::Session(std::string id, std::string host, qvctl::Connection connection, Timeouts timeouts,
                 std::chrono::milliseconds commandTimeout, std::chrono::seconds idleTimeout)
    : id_(std::move(id)),
      host_(std::move(host)),
      connection_(std::move(connection)),
      timeouts_(timeouts),
      commandTimeout_(commandTimeout),
      idleTimeout_(idleTimeout),
      lastActive_(std::chrono::steady_clock::now().time_since_epoch().count()) {}

void Session::commandStarted() {
  ++running_;
  lastActive_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

void Session::commandEnded() {
  lastActive_ = std::chrono::steady_clock::now().time_since_epoch().count();
  --running_;
}

bool Session::idleAt(std::chrono::steady_clock::time_point now) const {
  if (idleTimeout_.count() == 0 || running_ > 0) return false;
  const std::chrono::steady_clock::time_point last{std::chrono::steady_clock::duration(lastActive_.load())};
  return now - last >= idleTimeout_;
}

nlohmann::json Session::play(const qvctl::Request& request) {
  if (ended_) throw DriverError(ErrorCode::invalidSessionId, "the session has ended");
  std::string payload;
  const auto deadline = qvctl::Clock::now() + commandTimeout_;
  try {
    payload = qvctl::playRequest(connection_, qvctl::buildRequest(request), deadline);
  } catch (const qvctl::Error& e) {
    lost_ = true;
    ended_ = true;
    const std::string what = e.what();
    if (qvctl::Clock::now() >= deadline) {
      throw DriverError(ErrorCode::timeout, "the agent at " + host_ + " did not answer within " +
                                                std::to_string(commandTimeout_.count()) + " ms; the session has ended");
    }
    throw DriverError(ErrorCode::invalidSessionId,
                      "the connection to the agent at " + host_ + " was lost (" + what + "); the session has ended");
  }
  auto reply = nlohmann::json::parse(payload, nullptr, false);
  if (reply.is_discarded() || !reply.is_array()) {
    throw DriverError(ErrorCode::unknownError, "the agent's reply is not a JSON list: " + payload.substr(0, 200));
  }
  if (isExceptionReply(reply)) {
    throw DriverError(ErrorCode::unknownError, "the agent answered with an exception: " + exceptionMessage(reply));
  }
  return reply;
}

std::vector<std::string> Session::findOnce(const qvctl::Request& request) {
  auto reply = play(request);
  std::vector<std::string> ids;
  for (const auto& entry : reply) {
    auto it = entry.find("elementID");
    if (it != entry.end() && it->is_string()) ids.push_back(it->get<std::string>());
  }
  setCurrent(ids);
  return ids;
}

std::vector<std::string> Session::find(const qvctl::Request& request) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts_.implicit);
  for (;;) {
    auto ids = findOnce(request);
    const auto now = std::chrono::steady_clock::now();
    if (!ids.empty() || now >= deadline) return ids;
    // Each try is a full find on the application's main thread: a short pause
    // between tries leaves the application time to change.
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(100), deadline - now));
    if (ended_) throw DriverError(ErrorCode::invalidSessionId, "the session has ended");
  }
}

void Session::forgetElements() { setCurrent({}); }

void Session::setCurrent(std::vector<std::string> ids) {
  for (const auto& id : current_) {
    if (earlier_.insert(id).second) earlierOrder_.push_back(id);
  }
  while (earlierOrder_.size() > kStaleHistory) {
    earlier_.erase(earlierOrder_.front());
    earlierOrder_.pop_front();
  }
  current_ = std::unordered_set<std::string>(ids.begin(), ids.end());
}

void Session::requireCurrent(const std::string& elementId) const {
  if (current_.contains(elementId)) return;
  if (earlier_.contains(elementId)) {
    throw DriverError(ErrorCode::staleElementReference,
                      "element " + elementId + " was found before the last find; find it again");
  }
  throw DriverError(ErrorCode::noSuchElement, "no element " + elementId + " was found in this session");
}

}  // namespace qvdriver
