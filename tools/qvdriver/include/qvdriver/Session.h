// One WebDriver session: the playback connection to one agent, the session's
// timeouts, and which element IDs the latest find returned (the agent forgets the
// others at every find and would just answer empty for them).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "qvctl/Connection.h"
#include "qvctl/Request.h"

namespace qvdriver {

// The key of a web element reference in requests and replies.
inline constexpr std::string_view kElementKey = "element-6066-11e4-a52e-4f735466cecf";

struct Timeouts {
  std::int64_t implicit = 0;
  std::int64_t pageLoad = 300000;
  std::optional<std::int64_t> script = 30000;  // null is allowed: no limit

  nlohmann::json toJson() const;
  // Applies the members of a timeouts object; throws invalid argument for a value
  // that is not a whole number of milliseconds in range. Unknown members are ignored.
  void update(const nlohmann::json& object);
};

class Session {
 public:
  // `idleTimeout` 0: the session never ends for want of commands.
  Session(std::string id, std::string host, qvctl::Connection connection, Timeouts timeouts,
          std::chrono::milliseconds commandTimeout, std::chrono::seconds idleTimeout = std::chrono::seconds(0));

  const std::string& id() const { return id_; }
  const std::string& host() const { return host_; }
  Timeouts& timeouts() { return timeouts_; }

  // Commands of one session run one at a time, under this mutex.
  std::mutex& commandMutex() { return commandMutex_; }

  // A command of this session starts or ends (the router brackets each one).
  void commandStarted();
  void commandEnded();
  // True when no command runs and the last one ended longer than the idle timeout
  // before `now`.
  bool idleAt(std::chrono::steady_clock::time_point now) const;

  // One playback request and its reply, a JSON array. An "exceptionmsg" reply is an
  // unknown error. A connection that fails, closes or stays silent past the command
  // time-out ends the session (a late reply would be taken for the next one's).
  nlohmann::json play(const qvctl::Request& request);

  // A find request, repeated while it finds nothing until the implicit wait runs out.
  // Its IDs become the session's current elements; every earlier one is stale.
  std::vector<std::string> find(const qvctl::Request& request);
  // After a command that made the agent forget every element (the AI export).
  void forgetElements();
  // Throws stale element reference for an ID an earlier find returned, no such
  // element for one never returned.
  void requireCurrent(const std::string& elementId) const;

  // Where W3C pointer actions left the finger, for the next Perform Actions: its
  // place in window coordinates and, while it is still down, the path it drew
  // ([x, y, ms] points), played when it is lifted or released.
  struct Pointer {
    double x = 0, y = 0;
    bool down = false;
    std::vector<std::array<double, 3>> path;
  };
  Pointer& pointer() { return pointer_; }

  // Marks the session ended: a command waiting for elements stops, the next
  // request fails. Safe from any thread.
  void end() { ended_ = true; }
  bool ended() const { return ended_; }
  // Ended because the agent's connection was lost (the session must be dropped).
  bool lost() const { return lost_; }

  // How many earlier element IDs are remembered as stale; older ones count as
  // never returned.
  static constexpr std::size_t kStaleHistory = 100000;

 private:
  std::vector<std::string> findOnce(const qvctl::Request& request);
  void setCurrent(std::vector<std::string> ids);

  const std::string id_;
  const std::string host_;
  qvctl::Connection connection_;
  Timeouts timeouts_;
  const std::chrono::milliseconds commandTimeout_;
  const std::chrono::seconds idleTimeout_;
  std::atomic<int> running_{0};
  std::atomic<std::chrono::steady_clock::rep> lastActive_;
  std::mutex commandMutex_;
  std::atomic<bool> ended_{false};
  std::atomic<bool> lost_{false};
  Pointer pointer_;
  std::unordered_set<std::string> current_;
  std::unordered_set<std::string> earlier_;
  std::deque<std::string> earlierOrder_;
};

}  // namespace qvdriver
