#include "qvdriver/Router.h"

#include <optional>
#include <sstream>

#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

constexpr std::string_view kHubPrefix = "/wd/hub";

std::vector<std::string> segments(const std::string& path) {
  std::vector<std::string> out;
  std::string piece;
  std::istringstream in(path);
  while (std::getline(in, piece, '/')) {
    if (!piece.empty()) out.push_back(piece);
  }
  return out;
}

std::optional<std::map<std::string, std::string>> match(const std::vector<std::string>& wanted,
                                                        const std::vector<std::string>& path) {
  if (wanted.size() != path.size()) return std::nullopt;
  std::map<std::string, std::string> params;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i].starts_with(':')) {
      params[wanted[i].substr(1)] = path[i];
    } else if (wanted[i] != path[i]) {
      return std::nullopt;
    }
  }
  return params;
}

std::string withoutHubPrefix(const std::string& path) {
  if (path == kHubPrefix) return "/";
  if (path.starts_with(kHubPrefix) && path[kHubPrefix.size()] == '/') return path.substr(kHubPrefix.size());
  return path;
}

nlohmann::json parseBody(const std::string& method, const std::string& body) {
  bool blank = body.find_first_not_of(" \t\r\n") == std::string::npos;
  if (method != "POST" || blank) return nlohmann::json::object();
  auto parsed = nlohmann::json::parse(body);  // a parse error is an invalid argument
  if (!parsed.is_object()) throw DriverError(ErrorCode::invalidArgument, "the body must be a JSON object");
  return parsed;
}

Reply failureReply(std::exception_ptr error) {
  Failure failure = failureOf(error);
  return {errorKind(failure.code).status, errorBody(failure)};
}

}  // namespace

std::string CommandContext::element() const {
  auto it = params.find("elementId");
  if (it == params.end()) throw DriverError(ErrorCode::unknownError, "the route has no element");
  session->requireCurrent(it->second);
  return it->second;
}

std::string CommandContext::stringParameter(const std::string& name) const {
  auto it = body.find(name);
  if (it == body.end() || !it->is_string()) {
    throw DriverError(ErrorCode::invalidArgument, "\"" + name + "\" must be a string");
  }
  return it->get<std::string>();
}

nlohmann::json elementReference(const std::string& id) { return {{std::string(kElementKey), id}}; }

void Router::add(std::vector<Route> routes) {
  for (auto& route : routes) {
    patterns_.push_back(segments(route.pattern));
    routes_.push_back(std::move(route));
  }
}

void Router::addAllRoutes() {
  add(sessionCommands());
  add(findCommands());
  add(elementCommands());
  add(screenCommands());
  add(actionCommands());
  add(scriptCommands());
  add(unsupportedCommands());
}

Reply Router::dispatch(const std::string& method, const std::string& rawPath, const std::string& body) const {
  const auto path = segments(withoutHubPrefix(rawPath));
  bool otherMethod = false;
  for (std::size_t i = 0; i < routes_.size(); ++i) {
    const Route& route = routes_[i];
    auto params = match(patterns_[i], path);
    if (!params) continue;
    if (route.method != method) {
      otherMethod = true;
      continue;
    }
    CommandContext context{driver_, std::move(*params), nlohmann::json::object(), nullptr};
    try {
      context.body = parseBody(method, body);
    } catch (...) {
      return failureReply(std::current_exception());
    }
    return run(route, context);
  }
  if (otherMethod) {
    return failureReply(std::make_exception_ptr(
        DriverError(ErrorCode::unknownMethod, method + " is not a method of " + rawPath)));
  }
  return failureReply(std::make_exception_ptr(
      DriverError(ErrorCode::unknownCommand, "unknown command: " + method + " " + rawPath)));
}

Reply Router::run(const Route& route, CommandContext& context) const {
  if (!route.needsSession) {
    try {
      return {200, {{"value", route.handler(context)}}};
    } catch (...) {
      return failureReply(std::current_exception());
    }
  }
  const std::string& id = context.params["sessionId"];
  context.session = driver_.sessions.get(id);
  if (!context.session) {
    return failureReply(std::make_exception_ptr(
        DriverError(ErrorCode::invalidSessionId, "no session \"" + id + "\" is running")));
  }
  // The session counts as busy from here: it cannot end for idleness while a
  // command waits for its turn or runs.
  struct Busy {
    Session& session;
    explicit Busy(Session& s) : session(s) { session.commandStarted(); }
    ~Busy() { session.commandEnded(); }
  } busy(*context.session);
  std::lock_guard commands(context.session->commandMutex());
  try {
    if (context.session->ended()) throw DriverError(ErrorCode::invalidSessionId, "the session has ended");
    return {200, {{"value", route.handler(context)}}};
  } catch (...) {
    // A session whose agent went away is over: the device is free for a new one.
    if (context.session->lost()) driver_.sessions.remove(id);
    return failureReply(std::current_exception());
  }
}

}  // namespace qvdriver
