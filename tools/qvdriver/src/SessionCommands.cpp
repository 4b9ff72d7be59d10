// Status, New Session, Delete Session and the session's timeouts.
#include <random>

#include "qvdriver/Capabilities.h"
#include "qvdriver/Errors.h"
#include "qvdriver/Router.h"

namespace qvdriver {

namespace {

std::string newSessionId() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static const char* kHex = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 32; ++i) id += kHex[random() % 16];
  return id;
}

nlohmann::json status(CommandContext& context) {
  const auto running = context.driver.sessions.count();
  return {{"ready", true},
          {"message", "qvdriver ready; " + std::to_string(running) + " session(s) running"},
          {"build", {{"version", "1.0"}}}};
}

nlohmann::json newSession(CommandContext& context) {
  const DriverOptions& options = context.driver.options;
  MatchedCapabilities matched = matchCapabilities(context.body, options.defaultDevice);
  Sessions& sessions = context.driver.sessions;
  sessions.reserve(matched.host);
  try {
    qvctl::Connection connection(matched.host, options.agentPort, options.connectTimeout, options.connectTimeout);
    auto session = std::make_shared<Session>(newSessionId(), matched.host, std::move(connection), matched.timeouts,
                                             options.commandTimeout, std::chrono::seconds(matched.newCommandTimeout));
    // A request with no command word gets "[]" from an agent: it proves one is
    // there (and takes the greeting a first client receives).
    session->play(qvctl::Request{});
    sessions.add(session);
    return {{"sessionId", session->id()}, {"capabilities", sessionCapabilities(matched)}};
  } catch (const std::exception& e) {
    sessions.release(matched.host);
    throw DriverError(ErrorCode::sessionNotCreated, "cannot start a session on the device at " + matched.host + ":" +
                                                        std::to_string(options.agentPort) + ": " + e.what());
  }
}

nlohmann::json deleteSession(CommandContext& context) {
  context.driver.sessions.remove(context.session->id());
  return nullptr;
}

nlohmann::json getTimeouts(CommandContext& context) { return context.session->timeouts().toJson(); }

nlohmann::json setTimeouts(CommandContext& context) {
  context.session->timeouts().update(context.body);
  return nullptr;
}

}  // namespace

std::vector<Route> sessionCommands() {
  return {
      {"GET", "/status", status, false},
      {"POST", "/session", newSession, false},
      {"DELETE", "/session/:sessionId", deleteSession},
      {"GET", "/session/:sessionId/timeouts", getTimeouts},
      {"POST", "/session/:sessionId/timeouts", setTimeouts},
  };
}

}  // namespace qvdriver
