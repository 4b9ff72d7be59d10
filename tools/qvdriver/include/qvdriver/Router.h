// The route table. A route is a plain value: HTTP method, path pattern (":name"
// segments capture), handler, and whether it runs on a session. The router strips
// the "/wd/hub" prefix, finds the session for every route that needs one and runs
// that session's commands one at a time, wraps results as {"value": ...} and
// turns every failure into the WebDriver error reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "qvctl/Connection.h"
#include "qvdriver/Sessions.h"

namespace qvdriver {

struct DriverOptions {
  // The device of sessions that do not name one in "quorvel:host".
  std::string defaultDevice = "127.0.0.1";
  std::uint16_t agentPort = qvctl::kPlayBackPort;
  // How long a new session waits for the agent to accept the connection (the
  // playback server listens again about a second after its previous client left).
  std::chrono::milliseconds connectTimeout{5000};
  // How long one playback request may take before the session is given up.
  std::chrono::milliseconds commandTimeout{60000};
  // Further host names clients reach the endpoint by (a Grid node on another
  // machine), accepted in Host besides the listen address and its loopback names.
  std::vector<std::string> allowedHosts;
  // How often sessions are checked for having gone without commands too long.
  std::chrono::milliseconds idleCheckInterval{250};
};

// What every handler can reach.
struct Driver {
  DriverOptions options;
  Sessions sessions;
};

struct CommandContext {
  Driver& driver;
  std::map<std::string, std::string> params;
  nlohmann::json body;               // the request's JSON object ({} without a body)
  std::shared_ptr<Session> session;  // set for routes that need a session

  // The ":elementId" of the path, checked against the session's latest find.
  std::string element() const;
  // A string member of the body; invalid argument when it is missing or not a string.
  std::string stringParameter(const std::string& name) const;
};

using Handler = std::function<nlohmann::json(CommandContext&)>;

struct Route {
  std::string method;
  std::string pattern;
  Handler handler;
  bool needsSession = true;
};

struct Reply {
  int status = 200;
  nlohmann::json body;
};

class Router {
 public:
  explicit Router(Driver& driver) : driver_(driver) {}

  void add(std::vector<Route> routes);
  // Every command group's routes; what matches none is an unknown command (or an
  // unknown method, when only the method is wrong).
  void addAllRoutes();

  Reply dispatch(const std::string& method, const std::string& path, const std::string& body) const;

 private:
  Reply run(const Route& route, CommandContext& context) const;

  Driver& driver_;
  std::vector<Route> routes_;
  // Each route's pattern split into its segments, once.
  std::vector<std::vector<std::string>> patterns_;
};

// The command groups, one file each.
std::vector<Route> sessionCommands();
std::vector<Route> findCommands();
std::vector<Route> elementCommands();
std::vector<Route> screenCommands();
std::vector<Route> actionCommands();
std::vector<Route> scriptCommands();
std::vector<Route> unsupportedCommands();

// {"element-6066-…": id}
nlohmann::json elementReference(const std::string& id);

}  // namespace qvdriver
